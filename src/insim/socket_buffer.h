// The fixed 16384-byte buffer the InSim link is built from.
#pragma once

#include <cstdint>
#include <memory>

namespace tmx::insim {

class cl_SocketBuffer {
public:
    static constexpr std::int32_t kCapacity = 16384;

    cl_SocketBuffer();
    cl_SocketBuffer(const cl_SocketBuffer& other);
    cl_SocketBuffer& operator=(const cl_SocketBuffer& other);
    virtual ~cl_SocketBuffer();

    // Appends another buffer; refused (status -1) when it is this buffer or the
    // two lengths together reach the capacity.
    void append(const cl_SocketBuffer& other);
    // Appends raw bytes with the same rule.
    void appendBytes(const std::uint8_t* bytes, std::int32_t count);
    // Replaces the contents by count bytes (status -1 if count is out of range).
    void assignBytes(const std::uint8_t* bytes, std::int32_t count);
    // Drops the first count bytes and moves the rest to the start.
    void consumeFront(std::int32_t count);
    void clear();

    // Lets a receiver write straight behind the bytes in use: tail() points
    // at the first free byte (freeRoom() bytes may be written there), and
    // commitTail(count) then takes count of them into use, with the append
    // rule (refused, status -1, when the new length would reach the capacity).
    std::uint8_t* tail() { return storage_ ? storage_.get() + length_ : nullptr; }
    void commitTail(std::int32_t count);

    std::uint8_t* data() { return storage_.get(); }
    const std::uint8_t* data() const { return storage_.get(); }
    std::int32_t length() const { return length_; }
    std::int32_t status() const { return status_; }
    std::int32_t capacity() const { return capacity_; }
    // Room left for received bytes while keeping one byte spare, so that a
    // full buffer is never mistaken for room.
    std::int32_t freeRoom() const { return capacity_ - length_ - 1; }

private:
    std::unique_ptr<std::uint8_t[]> storage_;
    std::int32_t length_ = 0;
    std::int32_t status_ = 0;
    std::int32_t capacity_ = kCapacity;
};

}  // namespace tmx::insim
