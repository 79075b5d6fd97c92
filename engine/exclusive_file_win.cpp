#include "engine/exclusive_file.hpp"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace velkaphon::rack {

std::FILE* createExclusiveFile(const std::filesystem::path& path) {
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY);
    if (descriptor < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    // From here the descriptor owns the handle, and the stream the descriptor.
    std::FILE* stream = _fdopen(descriptor, "r+b");
    if (stream == nullptr) {
        _close(descriptor);
    }
    return stream;
}

bool truncateFile(std::FILE* stream, std::uint64_t size) {
    const bool flushed = std::fflush(stream) == 0;
    return _chsize_s(_fileno(stream), static_cast<__int64>(size)) == 0 && flushed;
}

bool seekToEnd(std::FILE* stream) {
    return _fseeki64(stream, 0, SEEK_END) == 0;
}

std::int64_t fileSizeOf(std::FILE* stream) {
    return static_cast<std::int64_t>(_filelengthi64(_fileno(stream)));
}

} // namespace velkaphon::rack
