#include "hosting/vst3_module_file.hpp"

#include <algorithm>

namespace velkaphon::rack {

namespace {

char16_t foldCase(char16_t unit) {
    return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - u'a' + u'A') : unit;
}

} // namespace

const char* const kVstModuleEntryExport = "ModuleEntry";
const char* const kVstModuleExitExport = "ModuleExit";

std::filesystem::path vstBundleModuleFile(const std::filesystem::path& bundle) {
    const std::filesystem::path folder = bundle / "Contents" / "x86_64-linux";
    if (bundle.filename().empty()) {
        return folder / "";
    }
    return folder / (bundle.stem().string() + ".so");
}

int compareVstModulePaths(std::u16string_view left, std::u16string_view right) {
    const auto [l, r] =
        std::mismatch(left.begin(), left.end(), right.begin(), right.end(),
                      [](char16_t a, char16_t b) { return foldCase(a) == foldCase(b); });
    if (l == left.end()) {
        return r == right.end() ? 0 : -1;
    }
    if (r == right.end()) {
        return 1;
    }
    return foldCase(*l) < foldCase(*r) ? -1 : 1;
}

} // namespace velkaphon::rack
