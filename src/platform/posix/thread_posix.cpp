// Threads on POSIX, on top of std::thread.
#include <system_error>
#include <thread>
#include <utility>

#include "platform/thread.h"

namespace tmx::platform {

struct Thread::Impl {
    std::thread thread;
};

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
    if (impl_->thread.joinable()) {
        return false;  // one thread per object; join the running one first
    }
    try {
        impl_->thread = std::thread(std::move(body));
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void Thread::join() {
    if (!impl_ || !impl_->thread.joinable()) {
        return;
    }
    if (impl_->thread.get_id() == std::this_thread::get_id()) {
        // A thread cannot wait for itself; let it run out on its own.
        impl_->thread.detach();
        return;
    }
    impl_->thread.join();
}

bool Thread::joinable() const { return impl_ && impl_->thread.joinable(); }

}  // namespace tmx::platform
