// TCP sockets for the InSim link (client side) and for the simulated server and
// tests (loopback listener). Only IPv4 is used: InSim 4 servers speak IPv4.
#pragma once

#include <cstdint>
#include <string>

namespace tmx::platform {

// Starts / stops the platform socket layer (Winsock 2.2 on Windows, nothing on
// POSIX). Calls are counted, so every successful start needs one stop.
bool socketsStartup();
void socketsCleanup();

// Resolves a host: by name lookup first; if that finds nothing, reads it as a
// dotted IPv4 address. The address is returned in network byte order.
bool resolveIPv4(const char* host, std::uint32_t& addressNetworkOrder);

// Why the last failed TcpSocket::connect of this thread failed, in plain
// words ("connection refused", "timed out", "host unreachable", ...).
std::string lastConnectFailure();

// Native handle type wide enough for both platforms.
using NativeSocket = std::intptr_t;
constexpr NativeSocket kInvalidSocket = -1;

class TcpSocket {
public:
    enum class Wait { Timeout, Readable, Exception, Error };

    TcpSocket() = default;
    explicit TcpSocket(NativeSocket handle) : handle_(handle) {}
    ~TcpSocket() { close(); }
    TcpSocket(TcpSocket&& other) noexcept : handle_(other.release()) {}
    TcpSocket& operator=(TcpSocket&& other) noexcept;
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;

    // Creates an IPv4 stream socket (closing any open one first).
    bool open();
    // Connects to address (network byte order) and port (host order). Blocking.
    bool connect(std::uint32_t addressNetworkOrder, std::uint16_t port);
    // Sends in one call; returns the bytes that went out, or -1 on error.
    // Never raises SIGPIPE.
    int send(const void* data, int length);
    // Sends everything, looping over short writes; false on error.
    bool sendAll(const void* data, int length);
    // One receive call: >0 bytes received, 0 the peer closed, -1 an error.
    int receive(void* buffer, int capacity);
    // Waits up to timeoutMs for the socket to become readable or to signal an
    // exception (out-of-band / error condition).
    Wait waitReadable(int timeoutMs);
    // Disables Nagle's algorithm.
    bool setNoDelay(bool on);
    // Shuts down both directions without closing the handle (wakes a blocked peer).
    void shutdown();
    void close();

    bool isOpen() const { return handle_ != kInvalidSocket; }
    NativeSocket handle() const { return handle_; }
    NativeSocket release() {
        NativeSocket h = handle_;
        handle_ = kInvalidSocket;
        return h;
    }

private:
    NativeSocket handle_ = kInvalidSocket;
};

// A listening TCP socket bound to a loopback address, for the simulated LFS
// server and for tests. Never binds anything but 127.0.0.0/8.
class TcpListener {
public:
    TcpListener() = default;
    ~TcpListener() { close(); }
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;

    // Listens on 127.0.0.1:port; port 0 picks a free port (see port()).
    bool listen(std::uint16_t port);
    std::uint16_t port() const { return port_; }
    // Waits up to timeoutMs for a client; returns a closed socket on time-out.
    TcpSocket accept(int timeoutMs);
    void close();
    bool isOpen() const { return socket_.isOpen(); }

private:
    TcpSocket socket_;
    std::uint16_t port_ = 0;
};

}  // namespace tmx::platform
