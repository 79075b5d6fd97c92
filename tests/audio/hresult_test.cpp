#include "audio/hresult.hpp"

#include <gtest/gtest.h>

namespace velkaphon::rack {
namespace {

TEST(FormatHresult, EightLowerCaseDigitsAfterThePrefix) {
    EXPECT_EQ(formatHresult(0x80004005u), "HRESULT 0x80004005");
    EXPECT_EQ(formatHresult(0x88890008u), "HRESULT 0x88890008");
    EXPECT_EQ(formatHresult(0x8007000Eu), "HRESULT 0x8007000e");
    EXPECT_EQ(formatHresult(0u), "HRESULT 0x00000000");
    EXPECT_EQ(formatHresult(0xFFFFFFFFu), "HRESULT 0xffffffff");
    EXPECT_EQ(formatHresult(static_cast<std::uint32_t>(kAudclntBufferSizeNotAligned)),
              "HRESULT 0x88890019");
}

TEST(Win32Hresult, KeepsTheLowSixteenBitsUnderTheWin32Facility) {
    EXPECT_EQ(hresultFromWin32(1460), kHresultTimeout);
    EXPECT_EQ(hresultFromWin32(1223), kHresultCancelled);
    EXPECT_EQ(hresultFromWin32(0x12345678u), hresultFromBits(0x80075678u));
    EXPECT_TRUE(hresultFailed(kAudclntDeviceInUse));
    EXPECT_FALSE(hresultFailed(kHresultFalse));
}

} // namespace
} // namespace velkaphon::rack
