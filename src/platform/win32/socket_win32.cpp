// TCP sockets on Windows (Winsock 2).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

#include <atomic>
#include <cstring>

#include "platform/socket.h"

namespace tmx::platform {

namespace {

std::atomic<int> startupCount{0};

SOCKET sock(NativeSocket handle) { return static_cast<SOCKET>(handle); }

NativeSocket native(SOCKET s) {
    return s == INVALID_SOCKET ? kInvalidSocket : static_cast<NativeSocket>(s);
}

bool setBlocking(SOCKET s, bool blocking) {
    u_long nonBlocking = blocking ? 0 : 1;
    return ::ioctlsocket(s, FIONBIO, &nonBlocking) == 0;
}

// select() on one socket for readability and exceptions; a negative time-out
// waits without limit. Returns select's result (0 time-out, >0 an event, <0 failure).
int selectOne(SOCKET s, int timeoutMs, bool& readable, bool& exception) {
    for (;;) {
        fd_set readSet;
        fd_set exceptSet;
        FD_ZERO(&readSet);
        FD_ZERO(&exceptSet);
        FD_SET(s, &readSet);
        FD_SET(s, &exceptSet);
        timeval limit{};
        limit.tv_sec = timeoutMs / 1000;
        limit.tv_usec = (timeoutMs % 1000) * 1000;
        const int rc = ::select(0, &readSet, nullptr, &exceptSet, timeoutMs < 0 ? nullptr : &limit);
        if (rc == SOCKET_ERROR) {
            if (::WSAGetLastError() == WSAEINTR) {
                continue;
            }
            return -1;
        }
        readable = FD_ISSET(s, &readSet) != 0;
        exception = FD_ISSET(s, &exceptSet) != 0;
        return rc;
    }
}

}  // namespace

bool socketsStartup() {
    // Winsock counts start-ups itself; every successful WSAStartup needs its
    // own WSACleanup.
    WSADATA data{};
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        return false;
    }
    if (LOBYTE(data.wVersion) != 2 || HIBYTE(data.wVersion) != 2) {
        ::WSACleanup();
        return false;
    }
    ++startupCount;
    return true;
}

void socketsCleanup() {
    int count = startupCount.load();
    while (count > 0) {
        if (startupCount.compare_exchange_weak(count, count - 1)) {
            ::WSACleanup();
            return;
        }
    }
}

bool resolveIPv4(const char* host, std::uint32_t& addressNetworkOrder) {
    if (host == nullptr || host[0] == '\0') {
        return false;
    }
    const hostent* entry = ::gethostbyname(host);
    if (entry != nullptr && entry->h_addrtype == AF_INET &&
        entry->h_length == static_cast<short>(sizeof(std::uint32_t)) &&
        entry->h_addr_list != nullptr && entry->h_addr_list[0] != nullptr) {
        std::uint32_t address = 0;
        std::memcpy(&address, entry->h_addr_list[0], sizeof address);
        addressNetworkOrder = address;
        return true;
    }
    const unsigned long parsed = ::inet_addr(host);
    // INADDR_NONE doubles as the failure value; only the broadcast text means it.
    if (parsed == INADDR_NONE && std::strcmp(host, "255.255.255.255") != 0) {
        return false;
    }
    addressNetworkOrder = static_cast<std::uint32_t>(parsed);
    return true;
}

bool TcpSocket::open() {
    close();
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        return false;
    }
    handle_ = native(s);
    return true;
}

namespace {
thread_local int lastConnectError = 0;
}

bool TcpSocket::connect(std::uint32_t addressNetworkOrder, std::uint16_t port) {
    if (!isOpen()) {
        lastConnectError = WSAENOTSOCK;
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = ::htons(port);
    address.sin_addr.s_addr = addressNetworkOrder;
    if (::connect(sock(handle_), reinterpret_cast<const sockaddr*>(&address), static_cast<int>(sizeof address)) ==
        0) {
        return true;
    }
    lastConnectError = ::WSAGetLastError();
    return false;
}

std::string lastConnectFailure() {
    switch (lastConnectError) {
        case WSAECONNREFUSED: return "connection refused";
        case WSAETIMEDOUT: return "timed out";
        case WSAEHOSTUNREACH: return "host unreachable";
        case WSAENETUNREACH: return "network unreachable";
        case WSAEADDRNOTAVAIL: return "address not available";
        case WSAEACCES: return "not permitted";
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
    const int sent = ::send(sock(handle_), static_cast<const char*>(data), length, 0);
    return sent == SOCKET_ERROR ? -1 : sent;
}

int TcpSocket::receive(void* buffer, int capacity) {
    if (!isOpen() || buffer == nullptr || capacity <= 0) {
        return -1;
    }
    for (;;) {
        const int got = ::recv(sock(handle_), static_cast<char*>(buffer), capacity, 0);
        if (got != SOCKET_ERROR) {
            return got;
        }
        if (::WSAGetLastError() != WSAEINTR) {
            return -1;
        }
    }
}

TcpSocket::Wait TcpSocket::waitReadable(int timeoutMs) {
    if (!isOpen()) {
        return Wait::Error;
    }
    bool readable = false;
    bool exception = false;
    const int rc = selectOne(sock(handle_), timeoutMs, readable, exception);
    if (rc < 0) {
        return Wait::Error;
    }
    if (rc == 0) {
        return Wait::Timeout;
    }
    if (readable) {
        return Wait::Readable;
    }
    return exception ? Wait::Exception : Wait::Error;
}

bool TcpSocket::setNoDelay(bool on) {
    if (!isOpen()) {
        return false;
    }
    const BOOL value = on ? TRUE : FALSE;
    return ::setsockopt(sock(handle_), IPPROTO_TCP, TCP_NODELAY,
                        reinterpret_cast<const char*>(&value), static_cast<int>(sizeof value)) == 0;
}

void TcpSocket::shutdown() {
    if (isOpen()) {
        ::shutdown(sock(handle_), SD_BOTH);
    }
}

void TcpSocket::close() {
    if (isOpen()) {
        ::closesocket(sock(handle_));
        handle_ = kInvalidSocket;
    }
}

bool TcpListener::listen(std::uint16_t port) {
    close();
    if (!socket_.open()) {
        return false;
    }
    const SOCKET s = sock(socket_.handle());
    // On Windows SO_REUSEADDR would let another program take the port over;
    // exclusive use is the safe choice for a listener.
    const BOOL exclusive = TRUE;
    ::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
                 static_cast<int>(sizeof exclusive));

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = ::htons(port);
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    sockaddr_in bound{};
    int boundSize = static_cast<int>(sizeof bound);
    // Non-blocking, so a client that gives up between the wait and accept()
    // cannot block accept().
    if (::bind(s, reinterpret_cast<const sockaddr*>(&address), static_cast<int>(sizeof address)) != 0 ||
        ::listen(s, SOMAXCONN) != 0 || !setBlocking(s, false) ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&bound), &boundSize) != 0) {
        close();
        return false;
    }
    port_ = ::ntohs(bound.sin_port);
    return true;
}

TcpSocket TcpListener::accept(int timeoutMs) {
    if (!isOpen()) {
        return TcpSocket();
    }
    const SOCKET s = sock(socket_.handle());
    bool readable = false;
    bool exception = false;
    if (selectOne(s, timeoutMs, readable, exception) <= 0 || !readable) {
        return TcpSocket();
    }
    const SOCKET client = ::accept(s, nullptr, nullptr);
    if (client == INVALID_SOCKET) {
        return TcpSocket();
    }
    TcpSocket accepted(native(client));
    // Accepted sockets inherit the listener's non-blocking mode on Windows.
    if (!setBlocking(client, true)) {
        return TcpSocket();
    }
    return accepted;
}

}  // namespace tmx::platform
