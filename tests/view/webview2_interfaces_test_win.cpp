#include "abi/webview2/webview2.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace velkaphon::rack::webview2 {
namespace {

std::string text(const IID& iid) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                  iid.Data1, iid.Data2, iid.Data3, iid.Data4[0], iid.Data4[1], iid.Data4[2],
                  iid.Data4[3], iid.Data4[4], iid.Data4[5], iid.Data4[6], iid.Data4[7]);
    return buffer;
}

// The registry form of every IID the view asks for or answers to, and the bytes COM compares.
TEST(WebView2Interfaces, IidsHaveTheirPublishedValues) {
    EXPECT_EQ(text(kIidCoreWebView2), "76ECEACB-0462-4D94-AC83-423A6793775E");
    EXPECT_EQ(text(kIidCoreWebView2_2), "9E8F0CF8-E670-4B5E-B2BC-73E061E3184C");
    EXPECT_EQ(text(kIidCoreWebView2_3), "A0D6DF20-3B92-416D-AA0C-437A9C727857");
    EXPECT_EQ(text(kIidCoreWebView2Environment), "B96D755E-0319-4E92-A296-23436F46A1FC");
    EXPECT_EQ(text(kIidCoreWebView2Controller), "4D00C0D1-9434-4EB6-8078-8697A560334F");
    EXPECT_EQ(text(kIidCoreWebView2Settings), "E562E4F0-D7FA-43AC-8D71-C05150499F00");
    EXPECT_EQ(text(kIidCoreWebView2WebMessageReceivedEventArgs),
              "0F99A40C-E962-4207-9E92-E3D542EFF849");
    EXPECT_EQ(text(kIidEnvironmentCompletedHandler), "4E8A3389-C9D8-4BD2-B6B5-124FEE6CC14D");
    EXPECT_EQ(text(kIidControllerCompletedHandler), "6C4819F3-C9B7-4260-8127-C9F5BDE7F68C");
    EXPECT_EQ(text(kIidWebMessageReceivedEventHandler), "57213F19-00E6-49FA-8E07-898EA01ECBD2");

    const auto* bytes = reinterpret_cast<const unsigned char*>(&kIidCoreWebView2_3);
    const unsigned char expected[16] = {0x20, 0xDF, 0xD6, 0xA0, 0x92, 0x3B, 0x6D, 0x41,
                                        0xAA, 0x0C, 0x43, 0x7A, 0x9C, 0x72, 0x78, 0x57};
    EXPECT_EQ(std::string(bytes, bytes + 16), std::string(expected, expected + 16));
}

} // namespace
} // namespace velkaphon::rack::webview2
