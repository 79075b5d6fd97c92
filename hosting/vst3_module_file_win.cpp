#include "hosting/vst3_module_file.hpp"

#include <windows.h>

namespace velkaphon::rack {

const char* const kVstModuleEntryExport = nullptr;
const char* const kVstModuleExitExport = nullptr;

std::filesystem::path vstBundleModuleFile(const std::filesystem::path& bundle) {
    return bundle / "Contents" / "x86_64-win" / bundle.filename();
}

int compareVstModulePaths(std::u16string_view left, std::u16string_view right) {
    const int order = CompareStringOrdinal(
        reinterpret_cast<const wchar_t*>(left.data()), static_cast<int>(left.size()),
        reinterpret_cast<const wchar_t*>(right.data()), static_cast<int>(right.size()), TRUE);
    return order - CSTR_EQUAL;
}

} // namespace velkaphon::rack
