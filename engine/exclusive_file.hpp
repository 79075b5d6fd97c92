#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>

namespace velkaphon::rack {

// Creates a new file for reading and writing, failing when anything exists at the path, and
// wraps it in a binary stream opened for update. While it is open other processes may read it
// but not write it (Windows; elsewhere the open takes no sharing flags). Null on failure.
std::FILE* createExclusiveFile(const std::filesystem::path& path);

// Flushes the stream and cuts its file to size bytes; false when either fails.
bool truncateFile(std::FILE* stream, std::uint64_t size);

// Moves the stream to the end of its file, past 2 GiB as well; false when it cannot.
bool seekToEnd(std::FILE* stream);

// The size of the stream's file as the file system sees it (after a flush); -1 when unknown.
std::int64_t fileSizeOf(std::FILE* stream);

} // namespace velkaphon::rack
