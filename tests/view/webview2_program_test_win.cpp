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

constexpr DWORD kPollMilliseconds = 50;
// Far beyond a program start on a loaded machine; only a program that never calls ends here.
constexpr int kMostPolls = 2400;

fs::path fromBuild(const char* path) {
    return fs::path(std::string(path));
}

std::wstring wide(std::u16string_view text) {
    return {text.begin(), text.end()};
}

// A Windows program of the prefix, waited for.
DWORD runAndWait(std::wstring commandLine) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                        nullptr, nullptr, &startup, &process)) {
        return GetLastError();
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

// The per-user Evergreen registration, written as the runtime's updater writes it.
class RegisteredRuntime {
public:
    explicit RegisteredRuntime(const fs::path& folder) {
        const std::wstring state = L"HKCU\\" + wide(kWebView2ClientStateKey);
        const std::wstring clients = L"HKCU\\" + wide(kWebView2ClientsKey);
        EXPECT_EQ(runAndWait(L"reg.exe add \"" + state + L"\" /v EBWebView /t REG_SZ /d \"" +
                             folder.wstring() + L"\" /f /reg:32"),
                  0u);
        EXPECT_EQ(runAndWait(L"reg.exe add \"" + clients + L"\" /v pv /t REG_SZ /d \"" +
                             folder.filename().wstring() + L"\" /f /reg:32"),
                  0u);
    }
    ~RegisteredRuntime() {
        runAndWait(L"reg.exe delete \"HKCU\\" + wide(kWebView2ClientStateKey) + L"\" /f /reg:32");
        runAndWait(L"reg.exe delete \"HKCU\\" + wide(kWebView2ClientsKey) + L"\" /f /reg:32");
    }
    RegisteredRuntime(const RegisteredRuntime&) = delete;
    RegisteredRuntime& operator=(const RegisteredRuntime&) = delete;
};

// Starts the program with its own per-user folder, waits until the file appears (or the program
// ends), then stops it: with no real runtime it would show a message box no one closes.
void runProgramUntil(const fs::path& program, const fs::path& localAppData,
                     const fs::path& expected) {
    SetEnvironmentVariableW(L"LOCALAPPDATA", localAppData.c_str());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::wstring commandLine = L"\"" + program.wstring() + L"\"";
    ASSERT_TRUE(CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                               nullptr, program.parent_path().c_str(), &startup, &process));
    for (int poll = 0; poll < kMostPolls && !fs::exists(expected); ++poll) {
        if (WaitForSingleObject(process.hProcess, kPollMilliseconds) == WAIT_OBJECT_0) {
            break;
        }
    }
    TerminateProcess(process.hProcess, 0);
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

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
    runProgramUntil(layout.program, layout.localAppData, layout.runtimeCall);
    EXPECT_EQ(contents(layout.runtimeCall),
              "CreateWebViewEnvironmentWithOptionsInternal|1|0|" + layout.userData + "|null|set");
}

TEST(WebView2Program, ALoaderBesideTheProgramWins) {
    const Layout layout = layOut("loader");
    fs::copy_file(fromBuild(VELKAPHON_FAKE_WEBVIEW2),
                  layout.program.parent_path() / "WebView2Loader.dll");
    const fs::path loaderCall = layout.program.parent_path() / "call.txt";
    const RegisteredRuntime registration(layout.runtimeFolder);
    runProgramUntil(layout.program, layout.localAppData, loaderCall);
    EXPECT_EQ(contents(loaderCall),
              "CreateCoreWebView2EnvironmentWithOptions|null|" + layout.userData + "|null|set");
    EXPECT_FALSE(fs::exists(layout.runtimeCall));
}

} // namespace
} // namespace velkaphon::rack
