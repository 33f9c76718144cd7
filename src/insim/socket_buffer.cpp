#include "insim/socket_buffer.h"

#include <cstring>
#include <new>

namespace tmx::insim {

namespace {

// Zero-filled storage, or null when no memory is left (reported through the
// status, never thrown).
std::unique_ptr<std::uint8_t[]> allocateStorage() {
    return std::unique_ptr<std::uint8_t[]>(new (std::nothrow) std::uint8_t[cl_SocketBuffer::kCapacity]());
}

}  // namespace

cl_SocketBuffer::cl_SocketBuffer() : storage_(allocateStorage()) {
    status_ = storage_ ? 0 : -1;
}

cl_SocketBuffer::cl_SocketBuffer(const cl_SocketBuffer& other) : storage_(allocateStorage()) {
    if (!storage_) {
        status_ = -1;
        return;
    }
    if (other.storage_ && other.length_ > 0) {
        std::memcpy(storage_.get(), other.storage_.get(), static_cast<std::size_t>(other.length_));
        length_ = other.length_;
    }
    status_ = 0;
}

cl_SocketBuffer& cl_SocketBuffer::operator=(const cl_SocketBuffer& other) {
    status_ = -1;
    if (&other == this || !storage_ || !other.storage_) return *this;
    if (other.length_ > 0) {
        std::memcpy(storage_.get(), other.storage_.get(), static_cast<std::size_t>(other.length_));
    }
    length_ = other.length_;
    status_ = 0;
    return *this;
}

cl_SocketBuffer::~cl_SocketBuffer() = default;

void cl_SocketBuffer::append(const cl_SocketBuffer& other) {
    if (&other == this || !other.storage_) {
        status_ = -1;
        return;
    }
    appendBytes(other.storage_.get(), other.length_);
}

void cl_SocketBuffer::appendBytes(const std::uint8_t* bytes, std::int32_t count) {
    status_ = -1;
    if (!storage_ || count < 0 || (count > 0 && !bytes)) return;
    // Written as a subtraction so that no sum can overflow.
    if (count >= capacity_ - length_) return;
    if (count > 0) {
        // memmove: the source may lie inside this buffer's own free space.
        std::memmove(storage_.get() + length_, bytes, static_cast<std::size_t>(count));
    }
    length_ += count;
    status_ = 0;
}

void cl_SocketBuffer::assignBytes(const std::uint8_t* bytes, std::int32_t count) {
    status_ = -1;
    if (!storage_ || count < 0 || count > capacity_ || (count > 0 && !bytes)) return;
    if (count > 0) std::memmove(storage_.get(), bytes, static_cast<std::size_t>(count));
    length_ = count;
    status_ = 0;
}

void cl_SocketBuffer::consumeFront(std::int32_t count) {
    if (count < 0) {
        status_ = -1;
        return;
    }
    if (count >= length_) {
        length_ = 0;
    } else if (count > 0) {
        std::memmove(storage_.get(), storage_.get() + count, static_cast<std::size_t>(length_ - count));
        length_ -= count;
    }
    status_ = 0;
}

void cl_SocketBuffer::clear() {
    length_ = 0;
    status_ = 0;
}

void cl_SocketBuffer::commitTail(std::int32_t count) {
    status_ = -1;
    if (!storage_ || count < 0 || count >= capacity_ - length_) return;
    length_ += count;
    status_ = 0;
}

}  // namespace tmx::insim
