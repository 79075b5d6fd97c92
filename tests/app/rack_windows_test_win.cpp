// The rack's Windows side under Wine: the control window and a run on Wine's own Core Audio.
#include "app/rack_application.hpp"
#include "tests/app/rack_test_modules.hpp"

#include <gtest/gtest.h>

#include <windows.h>

namespace velkaphon::rack {
namespace {

using nlohmann::json;
using testing::chain;
using testing::FakeModuleLog;
using testing::fakeModules;
using testing::request;

// Runs this thread's messages for a while, as the program's message loop would.
void pumpMessages(DWORD milliseconds) {
    const DWORD end = GetTickCount() + milliseconds;
    while (static_cast<LONG>(end - GetTickCount()) > 0) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&message);
        }
        Sleep(5);
    }
}

bool classRegistered(const std::wstring& name) {
    WNDCLASSEXW info{};
    info.cbSize = sizeof(info);
    HMODULE instance = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&classRegistered), &instance);
    return GetClassInfoExW(instance, name.c_str(), &info) != 0;
}

TEST(RackControlWindowOnWindows, AMessageOnlyWindowTicksEveryFiftyMilliseconds) {
    FakeModuleLog log;
    std::wstring className;
    {
        RackApplication rack(true, platformAudioSystem(), fakeModules(log));
        className = rack.controlClassName();
        EXPECT_TRUE(classRegistered(className));
        EXPECT_NE(FindWindowExW(HWND_MESSAGE, nullptr, className.c_str(), nullptr), nullptr);

        rack.handleCommand(request("graph", chain({{"fx", "plugin"}})));
        pumpMessages(500);
        // Ten ticks in 500 ms, with room for a slow machine.
        EXPECT_GE(log["fx"].idleCalls.load(), 4);
        EXPECT_LE(log["fx"].idleCalls.load(), 12);
    }
    EXPECT_EQ(FindWindowExW(HWND_MESSAGE, nullptr, className.c_str(), nullptr), nullptr);
    EXPECT_FALSE(classRegistered(className));
}

TEST(RackControlWindowOnWindows, AFailingIdleCallUnderTheTimerBecomesTheError) {
    FakeModuleLog log;
    RackApplication rack(true, platformAudioSystem(), fakeModules(log));
    json graph = chain({{"fx", "plugin"}});
    graph["nodes"][1]["configuration"]["idleThrows"] = "other";
    rack.handleCommand(request("graph", graph));
    pumpMessages(200);
    EXPECT_EQ(rack.status()["error"], "A plugin control callback failed.");
}

TEST(RackOnWasapi, DevicesStartPlayStatusAndStop) {
    RackApplication rack(false);
    const json devices = rack.handleCommand(request("devices"));
    std::string outputId;
    for (const json& device : devices) {
        if (!device["outputs"].empty()) {
            outputId = device["outputs"][0]["id"].get<std::string>();
        }
    }
    ASSERT_FALSE(outputId.empty()) << devices.dump();

    json status = rack.handleCommand(request("start", {{"outputId", outputId}}));
    ASSERT_EQ(status["running"], true) << status.dump();
    EXPECT_EQ(status["device"]["running"], true);
    pumpMessages(300);
    status = rack.handleCommand(request("play"));
    EXPECT_EQ(status["playing"], true);
    EXPECT_GT(status["callbacks"].get<std::uint64_t>(), 0u);
    EXPECT_EQ(status["error"], "");

    status = rack.handleCommand(request("stop"));
    EXPECT_EQ(status["running"], false);
    EXPECT_EQ(status["device"]["running"], false);
}

} // namespace
} // namespace velkaphon::rack
