#include "insim/socket_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace tmx::insim {
namespace {

std::vector<std::uint8_t> pattern(std::int32_t count, std::uint8_t seed) {
    std::vector<std::uint8_t> out(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<std::uint8_t>(seed + i * 13);
    return out;
}

std::vector<std::uint8_t> contents(const cl_SocketBuffer& buffer) {
    return {buffer.data(), buffer.data() + buffer.length()};
}

cl_SocketBuffer filled(std::int32_t count, std::uint8_t seed) {
    cl_SocketBuffer buffer;
    const auto bytes = pattern(count, seed);
    buffer.assignBytes(bytes.data(), count);
    return buffer;
}

TEST(SocketBuffer, StartsEmptyWithZeroedStorage) {
    cl_SocketBuffer buffer;
    EXPECT_EQ(buffer.length(), 0);
    EXPECT_EQ(buffer.status(), 0);
    EXPECT_EQ(buffer.capacity(), 16384);
    EXPECT_EQ(buffer.freeRoom(), 16383);
    ASSERT_NE(buffer.data(), nullptr);
    EXPECT_TRUE(std::all_of(buffer.data(), buffer.data() + buffer.capacity(), [](std::uint8_t b) { return b == 0; }));
}

TEST(SocketBuffer, AppendStopsBelowTheCapacity) {
    cl_SocketBuffer buffer = filled(8000, 1);
    const cl_SocketBuffer fits = filled(8383, 2);
    buffer.append(fits);
    EXPECT_EQ(buffer.status(), 0);
    ASSERT_EQ(buffer.length(), 16383);
    EXPECT_EQ(buffer.data()[7999], pattern(8000, 1)[7999]);
    EXPECT_EQ(buffer.data()[8000], pattern(8383, 2)[0]);
    EXPECT_EQ(buffer.freeRoom(), 0);

    const cl_SocketBuffer one = filled(1, 3);
    const auto before = contents(buffer);
    buffer.append(one);  // would reach 16384
    EXPECT_EQ(buffer.status(), -1);
    EXPECT_EQ(contents(buffer), before);

    const std::uint8_t byte = 7;
    buffer.appendBytes(&byte, 1);
    EXPECT_EQ(buffer.status(), -1);
    EXPECT_EQ(buffer.length(), 16383);
}

TEST(SocketBuffer, AppendOfItselfIsRefused) {
    cl_SocketBuffer buffer = filled(10, 4);
    buffer.append(buffer);
    EXPECT_EQ(buffer.status(), -1);
    EXPECT_EQ(contents(buffer), pattern(10, 4));
}

TEST(SocketBuffer, AppendBytesAddsBehindTheContents) {
    cl_SocketBuffer buffer = filled(5, 9);
    const auto more = pattern(6, 50);
    buffer.appendBytes(more.data(), 6);
    EXPECT_EQ(buffer.status(), 0);
    auto expected = pattern(5, 9);
    expected.insert(expected.end(), more.begin(), more.end());
    EXPECT_EQ(contents(buffer), expected);

    buffer.appendBytes(nullptr, 3);
    EXPECT_EQ(buffer.status(), -1);
    buffer.appendBytes(more.data(), -1);
    EXPECT_EQ(buffer.status(), -1);
    EXPECT_EQ(contents(buffer), expected);
}

TEST(SocketBuffer, CopyAndAssignCopyLengthAndBytes) {
    const cl_SocketBuffer source = filled(300, 11);
    cl_SocketBuffer copy(source);
    EXPECT_EQ(copy.status(), 0);
    EXPECT_NE(copy.data(), source.data());
    EXPECT_EQ(contents(copy), pattern(300, 11));

    cl_SocketBuffer target = filled(900, 12);
    target.appendBytes(nullptr, 1);  // leaves status -1
    target = source;
    EXPECT_EQ(target.status(), 0);
    EXPECT_EQ(contents(target), pattern(300, 11));

    cl_SocketBuffer& alias = target;
    target = alias;
    EXPECT_EQ(target.status(), -1);
    EXPECT_EQ(contents(target), pattern(300, 11));
}

TEST(SocketBuffer, AssignBytesChecksTheRange) {
    cl_SocketBuffer buffer = filled(4, 1);
    const auto full = pattern(16385, 5);
    buffer.assignBytes(full.data(), 16384);
    EXPECT_EQ(buffer.status(), 0);
    EXPECT_EQ(buffer.length(), 16384);

    buffer.assignBytes(full.data(), 16385);
    EXPECT_EQ(buffer.status(), -1);
    EXPECT_EQ(buffer.length(), 16384);
    buffer.assignBytes(full.data(), -1);
    EXPECT_EQ(buffer.status(), -1);
    buffer.assignBytes(nullptr, 2);
    EXPECT_EQ(buffer.status(), -1);
    buffer.assignBytes(nullptr, 0);
    EXPECT_EQ(buffer.status(), 0);
    EXPECT_EQ(buffer.length(), 0);
}

TEST(SocketBuffer, ConsumeFrontMovesTheRestToTheStart) {
    cl_SocketBuffer buffer = filled(20, 3);
    buffer.consumeFront(8);
    const auto all = pattern(20, 3);
    EXPECT_EQ(contents(buffer), std::vector<std::uint8_t>(all.begin() + 8, all.end()));
    buffer.consumeFront(0);
    EXPECT_EQ(buffer.length(), 12);
    buffer.consumeFront(-1);
    EXPECT_EQ(buffer.status(), -1);
    EXPECT_EQ(buffer.length(), 12);
    buffer.consumeFront(50);
    EXPECT_EQ(buffer.status(), 0);
    EXPECT_EQ(buffer.length(), 0);
}

TEST(SocketBuffer, TailCommitFollowsTheAppendRule) {
    cl_SocketBuffer buffer = filled(16000, 1);
    ASSERT_EQ(buffer.tail(), buffer.data() + 16000);
    buffer.tail()[0] = 0xab;
    buffer.commitTail(buffer.freeRoom() + 1);  // would reach the capacity
    EXPECT_EQ(buffer.status(), -1);
    EXPECT_EQ(buffer.length(), 16000);
    buffer.commitTail(1);
    EXPECT_EQ(buffer.status(), 0);
    EXPECT_EQ(buffer.length(), 16001);
    EXPECT_EQ(buffer.data()[16000], 0xab);
    buffer.commitTail(-1);
    EXPECT_EQ(buffer.status(), -1);
}

TEST(SocketBuffer, ClearEmptiesAndResetsStatus) {
    cl_SocketBuffer buffer = filled(40, 2);
    buffer.appendBytes(nullptr, 1);
    ASSERT_EQ(buffer.status(), -1);
    buffer.clear();
    EXPECT_EQ(buffer.length(), 0);
    EXPECT_EQ(buffer.status(), 0);
    EXPECT_EQ(buffer.freeRoom(), 16383);
}

}  // namespace
}  // namespace tmx::insim
