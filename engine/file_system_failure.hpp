#pragma once

// What the user reads when the file system refuses a path. The library's own texts repeat the
// whole path, which may run to thousands of characters; these say what failed and why instead.

#include <string>
#include <string_view>
#include <system_error>

namespace velkaphon::rack {

inline constexpr const char* kNameTooLongMessage = "The file name is too long.";

// [any] The system refused the path, or one of its names, for its length.
bool isNameTooLong(const std::error_code& error);

// [any] "The file name is too long." for a path refused for its length, else the context and the
// system's reason as one sentence: "<context>: <reason>.".
std::string fileSystemFailure(std::string_view context, const std::error_code& error);

// [any] Throws std::runtime_error with fileSystemFailure's sentence.
[[noreturn]] void throwFileSystemFailure(std::string_view context, const std::error_code& error);

} // namespace velkaphon::rack
