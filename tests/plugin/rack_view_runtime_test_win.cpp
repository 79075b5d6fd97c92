#include "abi/vst3/view.hpp"
#include "tests/plugin/rack_plugin_host.hpp"
#include "tests/support/webview2_registration_win.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>
#include <windows.h>

namespace velkaphon::rack {
namespace {

namespace fs = std::filesystem;
using testing::fromBuild;
using testing::RackInstance;
using testing::rackPluginModule;
using testing::RegisteredRuntime;
using testing::runUntilFileAppears;

constexpr const wchar_t* kOpenEditorHere = L"VELKAPHON_OPEN_EDITOR_HERE";

// Run only as the child of the test below: the editor's message box would wait for a person.
TEST(RackViewRuntime, OpenEditorHere) {
    if (GetEnvironmentVariableW(kOpenEditorHere, nullptr, 0) == 0) {
        GTEST_SKIP() << "run by RackViewRuntime.TheEditorCallsTheRegisteredRuntime";
    }
    RackInstance rack(*rackPluginModule()->factory);
    auto view = vst3::InterfacePtr<vst3::IPlugView>::adopt(rack.controller->createView("editor"));
    ASSERT_TRUE(view);
    // Message-only: a prefix without a display has no other windows.
    const HWND window = CreateWindowExW(0, L"STATIC", L"host", 0, 0, 0, 1280, 820, HWND_MESSAGE,
                                        nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(view->attached(window, "HWND"), vst3::kResultOk);
}

TEST(RackViewRuntime, TheEditorCallsTheRegisteredRuntime) {
    const fs::path root = fs::current_path() / "webview2-editor";
    fs::remove_all(root);
    const fs::path runtimeFolder = root / "runtime" / "121.0.2277.83";
    const fs::path runtimeLibrary = runtimeFolder / "EBWebView" / "x64";
    fs::create_directories(runtimeLibrary);
    fs::create_directories(root / "appdata");
    fs::copy_file(fromBuild(VELKAPHON_FAKE_WEBVIEW2),
                  runtimeLibrary / "EmbeddedBrowserWebView.dll");
    const RegisteredRuntime registration(runtimeFolder);

    std::vector<wchar_t> self(MAX_PATH * 4);
    self.resize(GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
    SetEnvironmentVariableW(kOpenEditorHere, L"1");
    runUntilFileAppears(fs::path(std::wstring(self.begin(), self.end())),
                        L"--gtest_filter=RackViewRuntime.OpenEditorHere", root / "appdata",
                        runtimeLibrary / "call.txt");
    SetEnvironmentVariableW(kOpenEditorHere, nullptr);

    std::ifstream recorded(runtimeLibrary / "call.txt", std::ios::binary);
    std::stringstream text;
    text << recorded.rdbuf();
    const std::u8string userData = (root / "appdata" / "VELKAPHON RACK" / "webview").u8string();
    EXPECT_EQ(text.str(), "CreateWebViewEnvironmentWithOptionsInternal|1|0|" +
                              std::string(userData.begin(), userData.end()) + "|null|set");
}

} // namespace
} // namespace velkaphon::rack
