// Thread start with the default stack, and joining.
#pragma once

#include <functional>
#include <memory>

namespace tmx::platform {

class Thread {
public:
    Thread();
    ~Thread();  // joins if still joinable
    Thread(Thread&&) noexcept;
    Thread& operator=(Thread&&) noexcept;
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Starts body on a new thread; false if the thread could not be started.
    bool start(std::function<void()> body);
    void join();
    bool joinable() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tmx::platform
