#include "hosting/vst3_memory_stream.hpp"

#include <gtest/gtest.h>

#include <limits>

namespace velkaphon::rack {
namespace {

using namespace vst3;

constexpr int64 kLimit = static_cast<int64>(MemoryStream::kCapacityLimit);

TEST(Vst3MemoryStream, ReadsWhatItHoldsThenReportsTheEnd) {
    MemoryStream stream({1, 2, 3});
    std::uint8_t buffer[4] = {};
    int32 read = -1;
    EXPECT_EQ(stream.read(buffer, 2, &read), kResultOk);
    EXPECT_EQ(read, 2);
    EXPECT_EQ(stream.read(buffer + 2, 2, &read), kResultOk);
    EXPECT_EQ(read, 1);
    EXPECT_EQ(buffer[2], 3);
    EXPECT_EQ(stream.read(buffer, 2, &read), kResultFalse);
    EXPECT_EQ(read, 0);
    EXPECT_EQ(stream.read(buffer, 0, &read), kResultOk);
    EXPECT_EQ(read, 0);
}

TEST(Vst3MemoryStream, MalformedReadsAreRefusedWithTheCountCleared) {
    MemoryStream stream({1, 2, 3});
    int32 read = 99;
    std::uint8_t buffer[1];
    EXPECT_EQ(stream.read(buffer, -1, &read), kInvalidArgument);
    EXPECT_EQ(read, 0);
    read = 99;
    EXPECT_EQ(stream.read(nullptr, 1, &read), kInvalidArgument);
    EXPECT_EQ(read, 0);
    EXPECT_EQ(stream.read(nullptr, 0, nullptr), kResultOk);
    EXPECT_EQ(stream.position(), 0u);
}

TEST(Vst3MemoryStream, NullCountAndResultPointersAreNeverWritten) {
    MemoryStream stream;
    std::uint8_t bytes[3] = {7, 8, 9};
    EXPECT_EQ(stream.write(bytes, 3, nullptr), kResultOk);
    EXPECT_EQ(stream.seek(1, IBStream::kIBSeekSet, nullptr), kResultOk);
    std::uint8_t back[2] = {};
    EXPECT_EQ(stream.read(back, 2, nullptr), kResultOk);
    EXPECT_EQ(back[0], 8);
    EXPECT_EQ(back[1], 9);
    EXPECT_EQ(stream.write(nullptr, 1, nullptr), kInvalidArgument);
    EXPECT_EQ(stream.read(nullptr, 1, nullptr), kInvalidArgument);
    EXPECT_EQ(stream.tell(nullptr), kInvalidArgument);
}

TEST(Vst3MemoryStream, ASeekPastTheEndLeavesZerosInTheGap) {
    MemoryStream stream;
    std::uint8_t first[2] = {0xAA, 0xBB};
    std::uint8_t last = 0xCC;
    int32 written = 0;
    ASSERT_EQ(stream.write(first, 2, &written), kResultOk);
    int64 position = 0;
    ASSERT_EQ(stream.seek(3, IBStream::kIBSeekEnd, &position), kResultOk);
    EXPECT_EQ(position, 5);
    ASSERT_EQ(stream.write(&last, 1, &written), kResultOk);
    EXPECT_EQ(written, 1);
    EXPECT_EQ(stream.bytes(), (std::vector<std::uint8_t>{0xAA, 0xBB, 0, 0, 0, 0xCC}));
    EXPECT_FALSE(stream.failed());
    ASSERT_EQ(stream.tell(&position), kResultOk);
    EXPECT_EQ(position, 6);
}

TEST(Vst3MemoryStream, TheSixteenMebibyteLimitHoldsForSeeksAndWrites) {
    MemoryStream stream;
    int64 position = -1;
    ASSERT_EQ(stream.seek(kLimit, IBStream::kIBSeekSet, &position), kResultOk);
    EXPECT_EQ(position, kLimit);
    std::uint8_t byte = 1;
    int32 written = 99;
    EXPECT_EQ(stream.write(&byte, 1, &written), kInvalidArgument);
    EXPECT_EQ(written, 0);
    EXPECT_TRUE(stream.failed());
    EXPECT_TRUE(stream.bytes().empty());

    EXPECT_EQ(stream.seek(kLimit + 1, IBStream::kIBSeekSet, &position), kInvalidArgument);
    EXPECT_EQ(stream.seek(1, IBStream::kIBSeekCur, &position), kInvalidArgument);
    EXPECT_EQ(stream.seek(-1, IBStream::kIBSeekSet, &position), kInvalidArgument);
    // No offset may overflow on its way to the check.
    EXPECT_EQ(stream.seek(std::numeric_limits<int64>::max(), IBStream::kIBSeekCur, &position),
              kInvalidArgument);
    EXPECT_EQ(stream.seek(std::numeric_limits<int64>::min(), IBStream::kIBSeekCur, &position),
              kInvalidArgument);
    EXPECT_EQ(stream.seek(0, 3, &position), kInvalidArgument);
    ASSERT_EQ(stream.tell(&position), kResultOk);
    EXPECT_EQ(position, kLimit);
}

TEST(Vst3MemoryStream, AWriteThatWouldCrossTheLimitFailsWholeAndMarksTheStream) {
    MemoryStream stream;
    ASSERT_EQ(stream.seek(kLimit - 2, IBStream::kIBSeekSet, nullptr), kResultOk);
    std::uint8_t bytes[3] = {1, 2, 3};
    EXPECT_EQ(stream.write(bytes, 3, nullptr), kInvalidArgument);
    EXPECT_TRUE(stream.bytes().empty());
    EXPECT_TRUE(stream.failed());

    MemoryStream exact;
    ASSERT_EQ(exact.seek(kLimit - 2, IBStream::kIBSeekSet, nullptr), kResultOk);
    EXPECT_EQ(exact.write(bytes, 2, nullptr), kResultOk);
    EXPECT_EQ(exact.bytes().size(), MemoryStream::kCapacityLimit);
    EXPECT_EQ(exact.bytes().back(), 2);
    EXPECT_FALSE(exact.failed());
}

TEST(Vst3MemoryStream, NegativeWriteSizesFailTheStream) {
    MemoryStream stream;
    std::uint8_t byte = 0;
    int32 written = 5;
    EXPECT_EQ(stream.write(&byte, -1, &written), kInvalidArgument);
    EXPECT_EQ(written, 0);
    EXPECT_TRUE(stream.failed());
}

TEST(Vst3MemoryStream, AnswersOnlyItsOwnInterfaceAndIsNotCounted) {
    MemoryStream stream;
    void* object = nullptr;
    EXPECT_EQ(stream.queryInterface(tuidOf(IBStream::iid), &object), kResultOk);
    EXPECT_EQ(object, static_cast<IBStream*>(&stream));
    EXPECT_EQ(stream.queryInterface(tuidOf(FUnknown::iid), &object), kResultOk);
    EXPECT_EQ(stream.queryInterface(tuidOf(IPluginBase::iid), &object), kNoInterface);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(stream.queryInterface(tuidOf(IBStream::iid), nullptr), kInvalidArgument);
    EXPECT_EQ(stream.addRef(), 1u);
    EXPECT_EQ(stream.release(), 1u);
}

} // namespace
} // namespace velkaphon::rack
