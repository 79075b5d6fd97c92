#include "tests/engine/wav_test_files.hpp"

#include <fstream>
#include <iterator>
#include <windows.h>

namespace velkaphon::rack::testing {

namespace {

std::wstring wide(const std::string& text) {
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(),
                        length);
    return result;
}

std::string readText(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

} // namespace

// Wine runs sox as a Unix program: it sees Unix paths, and drive Z: is the Unix root.
std::string soxPath(const std::filesystem::path& path) {
    const auto utf8 = std::filesystem::absolute(path).u8string();
    std::string text(utf8.begin(), utf8.end());
    if (text.size() >= 2 && (text[0] == 'Z' || text[0] == 'z') && text[1] == ':') {
        text.erase(0, 2);
    }
    for (char& c : text) {
        if (c == '\\') {
            c = '/';
        }
    }
    return text;
}

// Wine starts a Unix program without a process handle to wait on, so a shell runs sox and then
// leaves its exit code in a marker file, moved into place whole, which this side waits for.
int runSox(const std::vector<std::string>& arguments, std::string* output) {
    static int runs = 0;
    const auto stem =
        std::filesystem::current_path() /
        ("sox-run-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(runs++));
    const auto capture = std::filesystem::path(stem).concat(".out");
    const auto marker = std::filesystem::path(stem).concat(".code");
    std::string script = "sox";
    for (const auto& argument : arguments) {
        script += " " + shellQuoted(argument);
    }
    script += " >" + shellQuoted(soxPath(capture)) + " 2>/dev/null; echo $? >" +
              shellQuoted(soxPath(marker) + ".tmp") + " && mv " +
              shellQuoted(soxPath(marker) + ".tmp") + " " + shellQuoted(soxPath(marker));
    std::wstring command = L"sh -c \"" + wide(script) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(L"Z:\\bin\\sh", command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process)) {
        return -1;
    }
    for (int waited = 0; !std::filesystem::exists(marker); waited += 5) {
        if (waited > 60000) {
            return -1;
        }
        Sleep(5);
    }
    const int code = std::stoi(readText(marker));
    if (output != nullptr) {
        *output = readText(capture);
    }
    std::error_code ignored;
    std::filesystem::remove(marker, ignored);
    std::filesystem::remove(capture, ignored);
    return code;
}

} // namespace velkaphon::rack::testing
