// The parts of the OS layer that need no operating-system header.
#include <cstdio>
#include <utility>

#include "platform/files.h"
#include "platform/platform_internal.h"
#include "platform/socket.h"

namespace tmx::platform {

namespace detail {

namespace {

char foldCase(char c, bool ignoreCase) {
    if (ignoreCase && c >= 'A' && c <= 'Z') {
        return static_cast<char>(c - 'A' + 'a');
    }
    return c;
}

}  // namespace

bool wildcardMatchWith(const std::string& pattern, const std::string& name, bool ignoreCase) {
    // Greedy scan that remembers the last '*' and retries from there on a
    // mismatch: linear in practice, never recursive, never past either end.
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t starP = std::string::npos;
    std::size_t starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == '?' ||
                    foldCase(pattern[p], ignoreCase) == foldCase(name[n], ignoreCase))) {
            ++p;
            ++n;
        } else if (starP != std::string::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

bool endsWithSeparator(const std::string& dir) {
    if (dir.empty()) {
        return false;
    }
    const char last = dir.back();
    return last == kPathSeparator || last == '/';
}

}  // namespace detail

std::string languageDirectory() {
    std::string dir = "languages";
    dir += kPathSeparator;
    return dir;
}

std::string joinPath(const std::string& dir, const std::string& name) {
    if (dir.empty()) {
        return name;
    }
    std::string path = dir;
    if (!detail::endsWithSeparator(dir)) {
        path += kPathSeparator;
    }
    path += name;
    return path;
}

File::File(File&& other) noexcept : handle_(std::exchange(other.handle_, -1)) {}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = std::exchange(other.handle_, -1);
    }
    return *this;
}

int readConsoleChar() {
    const int c = std::getchar();
    return c == EOF ? -1 : c;
}

TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = other.release();
    }
    return *this;
}

bool TcpSocket::sendAll(const void* data, int length) {
    if (length < 0 || (length > 0 && data == nullptr)) {
        return false;
    }
    const auto* bytes = static_cast<const unsigned char*>(data);
    int done = 0;
    while (done < length) {
        const int sent = send(bytes + done, length - done);
        if (sent <= 0) {
            return false;
        }
        done += sent;
    }
    return true;
}

void TcpListener::close() {
    socket_.close();
    port_ = 0;
}

}  // namespace tmx::platform
