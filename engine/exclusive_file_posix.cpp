#include "engine/exclusive_file.hpp"

#include <sys/stat.h>

#include <fcntl.h>
#include <unistd.h>

namespace velkaphon::rack {

std::FILE* createExclusiveFile(const std::filesystem::path& path) {
    const int descriptor = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (descriptor < 0) {
        return nullptr;
    }
    std::FILE* stream = ::fdopen(descriptor, "r+b");
    if (stream == nullptr) {
        ::close(descriptor);
    }
    return stream;
}

bool truncateFile(std::FILE* stream, std::uint64_t size) {
    const bool flushed = std::fflush(stream) == 0;
    return ::ftruncate(::fileno(stream), static_cast<off_t>(size)) == 0 && flushed;
}

bool seekToEnd(std::FILE* stream) {
    return ::fseeko(stream, 0, SEEK_END) == 0;
}

std::int64_t fileSizeOf(std::FILE* stream) {
    struct stat status {};
    if (::fstat(::fileno(stream), &status) != 0) {
        return -1;
    }
    return static_cast<std::int64_t>(status.st_size);
}

} // namespace velkaphon::rack
