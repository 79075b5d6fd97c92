#include "tests/support/image_imports_win.hpp"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using velkaphon::rack::testing::importedLibraries;
using velkaphon::rack::testing::systemLibraries;

// The host loads the module alone: nothing of the compiler's runtime may have to lie beside it.
TEST(RackPluginImports, OnlySystemLibrariesAreNamed) {
    const std::filesystem::path module = std::filesystem::path(VELKAPHON_RACK_PLUGIN_BUNDLE) /
                                         "Contents" / "x86_64-win" / "VelkaphonRackPlugin.vst3";
    const std::set<std::string> imports = importedLibraries(module.wstring().c_str());
    ASSERT_FALSE(imports.empty());
    for (const std::string& name : imports) {
        EXPECT_EQ(systemLibraries().count(name), 1u) << name;
    }
    EXPECT_EQ(imports.count("kernel32.dll"), 1u);
}

} // namespace
