#pragma once

#include <filesystem>

namespace velkaphon::rack {

// Where the page files are for a module at the given path: Contents/Resources/ui of the bundle
// when the module lies in "x86_64-win" (compared exactly), else the "ui" folder beside it.
std::filesystem::path uiFolderForModule(const std::filesystem::path& modulePath);

} // namespace velkaphon::rack
