#pragma once

// Registers a WebView2 runtime in the prefix's registry and runs a Windows program until a fake
// runtime records its call.

#include "view/webview2_runtime.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <windows.h>

namespace velkaphon::rack::testing {

inline std::filesystem::path fromBuild(const char* path) {
    return std::filesystem::path(std::string(path));
}

inline std::wstring wide(std::u16string_view text) {
    return {text.begin(), text.end()};
}

inline constexpr DWORD kPollMilliseconds = 50;
// Far beyond a program start on a loaded machine; only a program that never calls ends here.
inline constexpr int kMostPolls = 2400;

// A Windows program of the prefix, waited for.
inline DWORD runAndWait(std::wstring commandLine) {
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
    explicit RegisteredRuntime(const std::filesystem::path& folder) {
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
inline void runUntilFileAppears(const std::filesystem::path& program, const std::wstring& arguments,
                                const std::filesystem::path& localAppData,
                                const std::filesystem::path& expected) {
    SetEnvironmentVariableW(L"LOCALAPPDATA", localAppData.c_str());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::wstring commandLine = L"\"" + program.wstring() + L"\" " + arguments;
    ASSERT_TRUE(CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                               nullptr, program.parent_path().c_str(), &startup, &process));
    for (int poll = 0; poll < kMostPolls && !std::filesystem::exists(expected); ++poll) {
        if (WaitForSingleObject(process.hProcess, kPollMilliseconds) == WAIT_OBJECT_0) {
            break;
        }
    }
    TerminateProcess(process.hProcess, 0);
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

} // namespace velkaphon::rack::testing
