// TCP sockets on POSIX (BSD sockets).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/socket.h"

namespace tmx::platform {

namespace {

std::atomic<int> startupCount{0};

#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;
#else
constexpr int kSendFlags = 0;  // SO_NOSIGPIPE is set on the socket instead
#endif

int fd(NativeSocket handle) { return static_cast<int>(handle); }

thread_local int lastConnectError = 0;

bool connectFailed(int error) {
    lastConnectError = error;
    return false;
}

int newStreamSocket() {
#ifdef SOCK_CLOEXEC
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
#else
    const int s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s >= 0) {
        ::fcntl(s, F_SETFD, FD_CLOEXEC);
    }
#endif
#ifdef SO_NOSIGPIPE
    if (s >= 0) {
        const int one = 1;
        ::setsockopt(s, SOL_SOCKET, SO_NOSIGPIPE, &one, sizeof one);
    }
#endif
    return s;
}

bool setBlocking(int s, bool blocking) {
    const int flags = ::fcntl(s, F_GETFL, 0);
    if (flags < 0) {
        return false;
    }
    const int wanted = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
    return wanted == flags || ::fcntl(s, F_SETFL, wanted) == 0;
}

// poll() on one descriptor; a negative time-out waits without limit. Signals
// do not shorten the wait: it resumes with the time that is left.
// Returns poll's result (0 time-out, 1 an event, -1 failure).
int pollOne(int s, short events, int timeoutMs, short& revents) {
    using Steady = std::chrono::steady_clock;
    const auto deadline = Steady::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    int waitMs = timeoutMs;
    for (;;) {
        pollfd entry{};
        entry.fd = s;
        entry.events = events;
        const int rc = ::poll(&entry, 1, waitMs);
        if (rc >= 0) {
            revents = entry.revents;
            return rc;
        }
        if (errno != EINTR) {
            return -1;
        }
        if (timeoutMs >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - Steady::now());
            waitMs = left.count() > 0 ? static_cast<int>(left.count()) : 0;
        }
    }
}

}  // namespace

bool socketsStartup() {
    ++startupCount;
    return true;
}

void socketsCleanup() {
    int count = startupCount.load();
    while (count > 0 && !startupCount.compare_exchange_weak(count, count - 1)) {
    }
}

bool resolveIPv4(const char* host, std::uint32_t& addressNetworkOrder) {
    if (host == nullptr || host[0] == '\0') {
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host, nullptr, &hints, &found) == 0) {
        for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
            if (entry->ai_family == AF_INET && entry->ai_addr != nullptr &&
                entry->ai_addrlen >= sizeof(sockaddr_in)) {
                sockaddr_in address{};
                std::memcpy(&address, entry->ai_addr, sizeof address);
                addressNetworkOrder = address.sin_addr.s_addr;
                ::freeaddrinfo(found);
                return true;
            }
        }
        ::freeaddrinfo(found);
    }
    in_addr parsed{};
    if (::inet_aton(host, &parsed) != 0) {
        addressNetworkOrder = parsed.s_addr;
        return true;
    }
    return false;
}

bool TcpSocket::open() {
    close();
    const int s = newStreamSocket();
    if (s < 0) {
        return false;
    }
    handle_ = s;
    return true;
}

bool TcpSocket::connect(std::uint32_t addressNetworkOrder, std::uint16_t port) {
    if (!isOpen()) {
        return connectFailed(EBADF);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = addressNetworkOrder;
    if (::connect(fd(handle_), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        return true;
    }
    if (errno != EINTR && errno != EINPROGRESS) {
        return connectFailed(errno);
    }
    // Interrupted: the connection goes on in the background; wait for its outcome.
    short revents = 0;
    if (pollOne(fd(handle_), POLLOUT, -1, revents) <= 0) {
        return connectFailed(errno);
    }
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(fd(handle_), SOL_SOCKET, SO_ERROR, &error, &size) != 0) return connectFailed(errno);
    return error == 0 || connectFailed(error);
}

std::string lastConnectFailure() {
    switch (lastConnectError) {
        case ECONNREFUSED: return "connection refused";
        case ETIMEDOUT: return "timed out";
        case EHOSTUNREACH: return "host unreachable";
        case ENETUNREACH: return "network unreachable";
        case EADDRNOTAVAIL: return "address not available";
        case EACCES:
        case EPERM: return "not permitted";
        default: return "system error " + std::to_string(lastConnectError);
    }
}

int TcpSocket::send(const void* data, int length) {
    if (!isOpen() || length < 0 || (length > 0 && data == nullptr)) {
        return -1;
    }
    if (length == 0) {
        return 0;
    }
    for (;;) {
        const ssize_t sent = ::send(fd(handle_), data, static_cast<std::size_t>(length), kSendFlags);
        if (sent >= 0) {
            return static_cast<int>(sent);
        }
        if (errno != EINTR) {
            return -1;
        }
    }
}

int TcpSocket::receive(void* buffer, int capacity) {
    if (!isOpen() || buffer == nullptr || capacity <= 0) {
        return -1;
    }
    for (;;) {
        const ssize_t got = ::recv(fd(handle_), buffer, static_cast<std::size_t>(capacity), 0);
        if (got >= 0) {
            return static_cast<int>(got);
        }
        if (errno != EINTR) {
            return -1;
        }
    }
}

TcpSocket::Wait TcpSocket::waitReadable(int timeoutMs) {
    if (!isOpen()) {
        return Wait::Error;
    }
    short revents = 0;
    const int rc = pollOne(fd(handle_), POLLIN | POLLPRI, timeoutMs, revents);
    if (rc < 0) {
        return Wait::Error;
    }
    if (rc == 0) {
        return Wait::Timeout;
    }
    // Data, an orderly close and a reset all count as readable: the receive
    // that follows tells them apart (bytes, 0 or -1). Urgent data alone is the
    // exception condition, the same as the exception set of select().
    if ((revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
        return Wait::Readable;
    }
    if ((revents & POLLPRI) != 0) {
        return Wait::Exception;
    }
    return Wait::Error;  // POLLNVAL: not a valid descriptor
}

bool TcpSocket::setNoDelay(bool on) {
    if (!isOpen()) {
        return false;
    }
    const int value = on ? 1 : 0;
    return ::setsockopt(fd(handle_), IPPROTO_TCP, TCP_NODELAY, &value, sizeof value) == 0;
}

void TcpSocket::shutdown() {
    if (isOpen()) {
        ::shutdown(fd(handle_), SHUT_RDWR);
    }
}

void TcpSocket::close() {
    if (isOpen()) {
        // The descriptor is gone even when close reports EINTR; never retry.
        ::close(fd(handle_));
        handle_ = kInvalidSocket;
    }
}

bool TcpListener::listen(std::uint16_t port) {
    close();
    if (!socket_.open()) {
        return false;
    }
    const int s = fd(socket_.handle());
    const int one = 1;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sockaddr_in bound{};
    socklen_t boundSize = sizeof bound;
    // Non-blocking, so a client that gives up between the wait and accept()
    // cannot block accept().
    if (::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(s, SOMAXCONN) != 0 || !setBlocking(s, false) ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&bound), &boundSize) != 0) {
        close();
        return false;
    }
    port_ = ntohs(bound.sin_port);
    return true;
}

TcpSocket TcpListener::accept(int timeoutMs) {
    if (!isOpen()) {
        return TcpSocket();
    }
    const int s = fd(socket_.handle());
    short revents = 0;
    if (pollOne(s, POLLIN, timeoutMs, revents) <= 0 || (revents & POLLIN) == 0) {
        return TcpSocket();
    }
    int client = -1;
    do {
        client = ::accept(s, nullptr, nullptr);
    } while (client < 0 && errno == EINTR);
    if (client < 0) {
        return TcpSocket();
    }
    TcpSocket accepted(client);
    // Accepted sockets are plain blocking sockets whatever the listener is.
    if (!setBlocking(client, true) || ::fcntl(client, F_SETFD, FD_CLOEXEC) != 0) {
        return TcpSocket();
    }
#ifdef SO_NOSIGPIPE
    const int noSigPipe = 1;
    ::setsockopt(client, SOL_SOCKET, SO_NOSIGPIPE, &noSigPipe, sizeof noSigPipe);
#endif
    return accepted;
}

}  // namespace tmx::platform
