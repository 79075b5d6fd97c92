#include "engine/file_system_failure.hpp"

#include <stdexcept>

namespace velkaphon::rack {

namespace {

#ifdef _WIN32
// ERROR_FILENAME_EXCED_RANGE, which not every runtime maps to the portable condition.
constexpr int kWindowsNameTooLong = 206;
#endif

} // namespace

bool isNameTooLong(const std::error_code& error) {
#ifdef _WIN32
    if (error.category() == std::system_category() && error.value() == kWindowsNameTooLong) {
        return true;
    }
#endif
    return error == std::errc::filename_too_long;
}

std::string fileSystemFailure(std::string_view context, const std::error_code& error) {
    if (isNameTooLong(error)) {
        return kNameTooLongMessage;
    }
    // Some systems end their reason with a full stop or a line break of their own.
    std::string reason = error.message();
    reason.erase(reason.find_last_not_of(" .\r\n") + 1);
    return std::string(context) + ": " + reason + ".";
}

void throwFileSystemFailure(std::string_view context, const std::error_code& error) {
    throw std::runtime_error(fileSystemFailure(context, error));
}

} // namespace velkaphon::rack
