#pragma once

#include "engine/module.hpp"

#include <nlohmann/json.hpp>

#include <memory>

namespace velkaphon::rack {

// [control] A module running the configured CLAP plug-in ("path", "pluginId", "state",
// "parameters"). Raises one sentence when it cannot be made.
std::unique_ptr<Module> createClapModule(const nlohmann::json& configuration);

} // namespace velkaphon::rack
