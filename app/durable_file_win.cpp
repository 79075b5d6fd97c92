#include "app/durable_file.hpp"

#include <vector>
#include <windows.h>

namespace velkaphon::rack {

namespace {

constexpr DWORD kEnvironmentBufferUnits = 32'768;

} // namespace

bool replaceFileDurably(const std::filesystem::path& source, const std::filesystem::path& target) {
    return MoveFileExW(source.c_str(), target.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

std::optional<std::filesystem::path> localApplicationDataFolder() {
    std::vector<wchar_t> buffer(kEnvironmentBufferUnits, L'\0');
    GetEnvironmentVariableW(L"LOCALAPPDATA", buffer.data(), kEnvironmentBufferUnits);
    // Absent, empty or longer than the buffer all leave the first unit zero.
    if (buffer[0] == L'\0') {
        return std::nullopt;
    }
    return std::filesystem::path(buffer.data());
}

} // namespace velkaphon::rack
