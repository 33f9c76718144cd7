// Fixed-capacity, NUL-terminated byte strings.
//
// Every text field of the system has a fixed size (a packet field, a record
// field, a configuration value). FixedString<N> holds at most N-1 characters
// and a terminator; every assignment cuts, so no write can overrun the field.
#pragma once

#include <array>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace tmx {

template <std::size_t N>
class FixedString {
    static_assert(N >= 1, "a fixed string needs room for its terminator");

public:
    static constexpr std::size_t kCapacity = N;       // bytes, terminator included
    static constexpr std::size_t kMaxLength = N - 1;  // characters

    FixedString() { buf_.fill('\0'); }
    FixedString(const char* text) { assign(text); }  // NOLINT: implicit by design
    FixedString(std::string_view text) { assign(text); }  // NOLINT

    // Copies at most kMaxLength characters (and no further than the first NUL).
    void assign(std::string_view text) { assign(text, kMaxLength); }
    void assign(const char* text) { assign(text ? std::string_view(text) : std::string_view()); }

    // Copies at most maxChars characters (never more than kMaxLength).
    void assign(std::string_view text, std::size_t maxChars) {
        buf_.fill('\0');
        std::size_t n = text.size();
        const void* nul = n ? std::memchr(text.data(), '\0', n) : nullptr;
        if (nul) n = static_cast<std::size_t>(static_cast<const char*>(nul) - text.data());
        if (n > maxChars) n = maxChars;
        if (n > kMaxLength) n = kMaxLength;
        if (n) std::memcpy(buf_.data(), text.data(), n);
    }

    // Reads a NUL-padded field of fieldLen bytes that may lack a terminator.
    void assignField(const void* field, std::size_t fieldLen) {
        const char* p = static_cast<const char*>(field);
        std::size_t n = 0;
        while (n < fieldLen && p[n] != '\0') ++n;
        assign(std::string_view(p, n));
    }

    // Writes the text into a field of fieldLen bytes, NUL-padded; the text is cut
    // so that the last byte of the field stays 0 when terminate is true.
    void copyToField(void* field, std::size_t fieldLen, bool terminate = true) const {
        char* out = static_cast<char*>(field);
        std::memset(out, 0, fieldLen);
        std::size_t n = size();
        std::size_t room = terminate ? (fieldLen ? fieldLen - 1 : 0) : fieldLen;
        if (n > room) n = room;
        if (n) std::memcpy(out, buf_.data(), n);
    }

    void clear() { buf_.fill('\0'); }
    void truncate(std::size_t len) {
        if (len < kMaxLength) std::memset(buf_.data() + len, 0, N - len);
    }

    const char* c_str() const { return buf_.data(); }
    std::size_t size() const { return std::strlen(buf_.data()); }
    bool empty() const { return buf_[0] == '\0'; }
    std::string_view view() const { return std::string_view(buf_.data(), size()); }
    std::string str() const { return std::string(view()); }

    bool operator==(std::string_view other) const { return view() == other; }
    bool operator!=(std::string_view other) const { return view() != other; }
    template <std::size_t M>
    bool operator==(const FixedString<M>& other) const { return view() == other.view(); }
    template <std::size_t M>
    bool operator!=(const FixedString<M>& other) const { return view() != other.view(); }

private:
    std::array<char, N> buf_;
};

}  // namespace tmx
