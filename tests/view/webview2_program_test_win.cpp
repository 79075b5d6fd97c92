#include "tests/support/webview2_registration_win.hpp"
#include "view/webview2_runtime.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <windows.h>

namespace velkaphon::rack {
namespace {

namespace fs = std::filesystem;
using testing::fromBuild;
using testing::RegisteredRuntime;
using testing::runUntilFileAppears;

std::string contents(const fs::path& file) {
    std::ifstream stream(file, std::ios::binary);
    std::stringstream text;
    text << stream.rdbuf();
    return text.str();
}

struct Layout {
    fs::path program;
    fs::path localAppData;
    fs::path runtimeFolder;
    fs::path runtimeCall;
    std::string userData;
};

// A copy of the program in a folder of its own, and the fake runtime in a folder outside ASCII.
Layout layOut(const std::string& name) {
    const fs::path root = fs::current_path() / "webview2-program" / name;
    fs::remove_all(root);
    Layout layout;
    layout.program = root / "program" / "VelkaphonRack.exe";
    layout.localAppData = root / "appdata";
    layout.runtimeFolder = root / fs::path(u"J\u00fcrgen \u97f3\u697d") / "121.0.2277.83";
    const fs::path runtimeLibrary = layout.runtimeFolder / "EBWebView" / "x64";
    fs::create_directories(layout.program.parent_path());
    fs::create_directories(layout.localAppData);
    fs::create_directories(runtimeLibrary);
    fs::copy_file(fromBuild(VELKAPHON_RACK_PROGRAM), layout.program);
    fs::copy_file(fromBuild(VELKAPHON_FAKE_WEBVIEW2),
                  runtimeLibrary / "EmbeddedBrowserWebView.dll");
    layout.runtimeCall = runtimeLibrary / "call.txt";
    const std::u8string userData = (layout.localAppData / "VELKAPHON RACK" / "webview").u8string();
    layout.userData.assign(userData.begin(), userData.end());
    return layout;
}

TEST(WebView2Program, CallsTheRegisteredRuntimeItself) {
    const Layout layout = layOut("runtime");
    const RegisteredRuntime registration(layout.runtimeFolder);
    runUntilFileAppears(layout.program, L"", layout.localAppData, layout.runtimeCall);
    EXPECT_EQ(contents(layout.runtimeCall),
              "CreateWebViewEnvironmentWithOptionsInternal|1|0|" + layout.userData + "|null|set");
}

TEST(WebView2Program, ALoaderBesideTheProgramWins) {
    const Layout layout = layOut("loader");
    fs::copy_file(fromBuild(VELKAPHON_FAKE_WEBVIEW2),
                  layout.program.parent_path() / "WebView2Loader.dll");
    const fs::path loaderCall = layout.program.parent_path() / "call.txt";
    const RegisteredRuntime registration(layout.runtimeFolder);
    runUntilFileAppears(layout.program, L"", layout.localAppData, loaderCall);
    EXPECT_EQ(contents(loaderCall),
              "CreateCoreWebView2EnvironmentWithOptions|null|" + layout.userData + "|null|set");
    EXPECT_FALSE(fs::exists(layout.runtimeCall));
}

} // namespace
} // namespace velkaphon::rack
