#include "hosting/clap_streams.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace velkaphon::rack {
namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;

std::int64_t writeThrough(const ClapOutputStream& output, const void* bytes, std::uint64_t size) {
    const clap_ostream* stream = output.stream();
    return stream->write(stream, bytes, size);
}

TEST(ClapOutputStream, AppendsAndReturnsTheByteCount) {
    ClapOutputStream output;
    const std::uint8_t bytes[] = {1, 2, 3, 4, 5};
    EXPECT_EQ(writeThrough(output, bytes, 3), 3);
    EXPECT_EQ(writeThrough(output, bytes + 3, 2), 2);
    EXPECT_EQ(writeThrough(output, bytes, 0), 0);
    EXPECT_EQ(output.bytes(), (std::vector<std::uint8_t>{1, 2, 3, 4, 5}));
}

TEST(ClapOutputStream, ASecondWriteOfTenMebibytesPassesTheCapAndAddsNothing) {
    ClapOutputStream output;
    const std::vector<std::uint8_t> chunk(10 * kMiB, 7);
    EXPECT_EQ(writeThrough(output, chunk.data(), chunk.size()), 10 * kMiB);
    EXPECT_EQ(writeThrough(output, chunk.data(), chunk.size()), -1);
    EXPECT_EQ(output.bytes().size(), 10 * kMiB);
}

TEST(ClapOutputStream, SixteenMebibytesFitAndOneByteMoreDoesNot) {
    ClapOutputStream output;
    const std::vector<std::uint8_t> chunk(8 * kMiB, 1);
    EXPECT_EQ(writeThrough(output, chunk.data(), chunk.size()), 8 * kMiB);
    EXPECT_EQ(writeThrough(output, chunk.data(), chunk.size()), 8 * kMiB);
    EXPECT_EQ(output.bytes().size(), ClapOutputStream::kMaxBytes);
    EXPECT_EQ(writeThrough(output, chunk.data(), 1), -1);
    EXPECT_EQ(writeThrough(output, chunk.data(), 0), 0);
}

TEST(ClapOutputStream, AHugeRequestDoesNotWrapTheCapCheck) {
    ClapOutputStream output;
    const std::uint8_t byte = 0;
    EXPECT_EQ(writeThrough(output, &byte, 1), 1);
    EXPECT_EQ(writeThrough(output, &byte, UINT64_MAX), -1);
    EXPECT_EQ(writeThrough(output, nullptr, 4), -1);
    EXPECT_EQ(output.bytes().size(), 1u);
}

TEST(ClapInputStream, ReadsTheSmallerOfRequestAndRestThenZero) {
    const std::vector<std::uint8_t> bytes = {10, 20, 30, 40, 50};
    ClapInputStream input(bytes);
    const clap_istream* stream = input.stream();
    std::uint8_t buffer[8] = {};
    EXPECT_EQ(stream->read(stream, buffer, 2), 2);
    EXPECT_EQ(buffer[0], 10);
    EXPECT_EQ(buffer[1], 20);
    EXPECT_EQ(stream->read(stream, buffer, 8), 3);
    EXPECT_EQ(buffer[0], 30);
    EXPECT_EQ(buffer[2], 50);
    EXPECT_EQ(stream->read(stream, buffer, 8), 0);
}

TEST(ClapInputStream, AnEmptyStateReadsAsTheEnd) {
    const std::vector<std::uint8_t> bytes;
    ClapInputStream input(bytes);
    std::uint8_t buffer[1] = {};
    EXPECT_EQ(input.read(buffer, 1), 0);
}

} // namespace
} // namespace velkaphon::rack
