#pragma once

// The door of plug-in hosting: what a plug-in file offers, and the hosted modules of a patch.

#include "engine/graph_definition.hpp"
#include "engine/module.hpp"

#include <nlohmann/json.hpp>

#include <memory>
#include <string_view>

namespace velkaphon::rack {

// [control] The plug-in entries of a ".vst3" or ".clap" path (the extension in any letter
// case); any other path raises "Choose a Windows x64 VST3 or CLAP plugin. VST2/AU/AAX are not
// supported in this release.".
nlohmann::json describePluginFile(std::string_view utf8Path);

// [control] One entry {"name", "classId", "format": "VST3", "path"} per audio class of the
// module, in factory order. Holds the module only for the scan.
nlohmann::json scanVstModule(std::string_view utf8Path);

// [control] The module for a node of type "vst3" or "clap" (exactly so), or an empty pointer
// for any other type. Construction errors pass through.
std::unique_ptr<Module> createHostedModule(const NodeDefinition& node);

} // namespace velkaphon::rack
