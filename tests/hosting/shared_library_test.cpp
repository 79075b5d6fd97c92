#include "hosting/shared_library.hpp"

#include <gtest/gtest.h>

namespace velkaphon::rack {
namespace {

// Absolute paths, as the caches give them: searching the library's own folder needs one.
#ifdef _WIN32
constexpr const char* kSystemLibrary = "C:\\windows\\system32\\kernel32.dll";
constexpr const char* kSystemExport = "GetTickCount";
#else
constexpr const char* kSystemLibrary = "/lib/x86_64-linux-gnu/libm.so.6";
constexpr const char* kSystemExport = "cos";
#endif

TEST(SharedLibrary, LoadsASystemLibraryAndFindsItsExports) {
    std::uint32_t error = 99;
    SharedLibraryHandle library = loadSharedLibrary(kSystemLibrary, error);
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(error, 0u);
    EXPECT_NE(findLibraryExport(library, kSystemExport), nullptr);
    EXPECT_EQ(findLibraryExport(library, "velkaphonNoSuchExport"), nullptr);
    freeSharedLibrary(library);
}

TEST(SharedLibrary, AMissingFileGivesNoHandleAndASystemError) {
    std::uint32_t error = 0;
    const auto missing = std::filesystem::temp_directory_path() / "velkaphon-no-such-library.bin";
    EXPECT_EQ(loadSharedLibrary(missing, error), nullptr);
    EXPECT_NE(error, 0u);
}

} // namespace
} // namespace velkaphon::rack
