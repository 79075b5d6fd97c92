#include "app/durable_file.hpp"

#include <vector>
#include <windows.h>

namespace velkaphon::rack {

namespace {

constexpr DWORD kEnvironmentBufferUnits = 32'768;

// Write-through covers the move, not the file's own bytes: those are flushed first, or a power
// cut can leave an empty file under the target's name.
bool flushFile(const std::filesystem::path& path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    const bool flushed = FlushFileBuffers(file) != 0;
    CloseHandle(file);
    return flushed;
}

} // namespace

bool replaceFileDurably(const std::filesystem::path& source, const std::filesystem::path& target) {
    if (flushFile(source) && MoveFileExW(source.c_str(), target.c_str(),
                                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0) {
        return true;
    }
    DeleteFileW(source.c_str());
    return false;
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
