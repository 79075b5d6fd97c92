#include "hosting/plugin_files.hpp"

#include "abi/vst3/factory.hpp"
#include "abi/vst3/text.hpp"
#include "hosting/clap_module.hpp"
#include "hosting/clap_scan.hpp"
#include "hosting/clap_utf8.hpp"
#include "hosting/plugin_failure.hpp"
#include "hosting/vst3_class_id.hpp"
#include "hosting/vst3_library.hpp"
#include "hosting/vst_module.hpp"

#include <cstring>
#include <stdexcept>
#include <string>

namespace velkaphon::rack {

namespace {

std::string lowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

bool isAudioModuleClass(const vst3::PClassInfo& info) {
    return std::strncmp(info.category, vst3::kVstAudioEffectClass, sizeof(info.category)) == 0;
}

void listAudioClasses(vst3::IPluginFactory& factory, std::string_view utf8Path,
                      nlohmann::json& entries) {
    for (vst3::int32 index = 0; index < factory.countClasses(); ++index) {
        vst3::PClassInfo info{};
        if (factory.getClassInfo(index, &info) != vst3::kResultOk || !isAudioModuleClass(info)) {
            continue;
        }
        // The field is taken as UTF-8, but nothing makes a plug-in keep to that.
        entries.push_back({{"name", replaceInvalidUtf8(vst3::textOf(info.name, sizeof(info.name)))},
                           {"classId", vstClassIdText(vst3::uidFrom(info.cid))},
                           {"format", "VST3"},
                           {"path", std::string(utf8Path)}});
    }
}

} // namespace

nlohmann::json describePluginFile(std::string_view utf8Path) {
    const std::filesystem::path path = utf8ToWidePath(utf8Path);
    const std::u8string wide = path.extension().u8string();
    const std::string extension = lowerAscii(std::string(wide.begin(), wide.end()));
    if (extension == ".vst3") {
        return scanVstModule(utf8Path);
    }
    if (extension == ".clap") {
        return scanClapLibrary(utf8Path);
    }
    throw std::runtime_error("Choose a Windows x64 VST3 or CLAP plugin. VST2/AU/AAX are not "
                             "supported in this release.");
}

nlohmann::json scanVstModule(std::string_view utf8Path) {
    const std::shared_ptr<LoadedModule> library =
        acquireVstLibrary(utf8ToWidePath(utf8Path).u16string());
    nlohmann::json entries = nlohmann::json::array();
    runTranslatingFailure([&] { listAudioClasses(*library->factory, utf8Path, entries); },
                          "The VST3 factory failed.");
    return entries;
}

std::unique_ptr<Module> createHostedModule(const NodeDefinition& node) {
    if (node.type == "vst3") {
        return createVstModule(node.configuration);
    }
    if (node.type == "clap") {
        return createClapModule(node.configuration);
    }
    return nullptr;
}

} // namespace velkaphon::rack
