#include "tests/support/image_imports_win.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <string>
#include <windows.h>

namespace {

using velkaphon::rack::testing::importedLibraries;
using velkaphon::rack::testing::systemLibraries;

// Nothing of the compiler's runtime may have to lie beside the program.
TEST(ProgramImports, OnlySystemLibrariesAreNamed) {
    const std::string path = VELKAPHON_RACK_PROGRAM;
    const std::wstring program(path.begin(), path.end());
    const std::set<std::string> imports = importedLibraries(program.c_str());
    ASSERT_FALSE(imports.empty());
    for (const std::string& name : imports) {
        EXPECT_TRUE(systemLibraries().count(name) == 1) << name;
    }
    EXPECT_EQ(imports.count("kernel32.dll"), 1u);
}

} // namespace
