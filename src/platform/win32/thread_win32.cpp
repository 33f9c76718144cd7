// Threads on Windows: _beginthreadex with the default stack, so the C runtime
// is set up for the new thread.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <process.h>

#include <cstdint>
#include <exception>
#include <new>
#include <utility>

#include "platform/thread.h"

namespace tmx::platform {

struct Thread::Impl {
    HANDLE handle = nullptr;
    unsigned id = 0;
};

namespace {

unsigned __stdcall threadEntry(void* argument) {
    // The body is owned by the new thread from here on.
    std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
    try {
        (*body)();
    } catch (...) {
        // An exception may not cross into the operating system's frames; end
        // the program as an escaping exception on any thread does.
        std::terminate();
    }
    return 0;
}

}  // namespace

Thread::Thread() : impl_(std::make_unique<Impl>()) {}

Thread::~Thread() {
    if (impl_) {
        join();
    }
}

Thread::Thread(Thread&& other) noexcept : impl_(std::move(other.impl_)) {}

Thread& Thread::operator=(Thread&& other) noexcept {
    if (this != &other) {
        if (impl_) {
            join();
        }
        impl_ = std::move(other.impl_);
    }
    return *this;
}

bool Thread::start(std::function<void()> body) {
    if (!body) {
        return false;
    }
    if (!impl_) {
        impl_ = std::make_unique<Impl>();  // this object was moved from
    }
    if (impl_->handle != nullptr) {
        return false;  // one thread per object; join the running one first
    }
    auto* argument = new (std::nothrow) std::function<void()>(std::move(body));
    if (argument == nullptr) {
        return false;
    }
    unsigned id = 0;
    const std::uintptr_t handle = ::_beginthreadex(nullptr, 0, threadEntry, argument, 0, &id);
    if (handle == 0) {
        delete argument;
        return false;
    }
    impl_->handle = reinterpret_cast<HANDLE>(handle);
    impl_->id = id;
    return true;
}

void Thread::join() {
    if (!impl_ || impl_->handle == nullptr) {
        return;
    }
    // A thread cannot wait for itself; it then just lets go of the handle.
    if (impl_->id != ::GetCurrentThreadId()) {
        ::WaitForSingleObject(impl_->handle, INFINITE);
    }
    ::CloseHandle(impl_->handle);
    impl_->handle = nullptr;
    impl_->id = 0;
}

bool Thread::joinable() const { return impl_ && impl_->handle != nullptr; }

}  // namespace tmx::platform
