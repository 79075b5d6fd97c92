#pragma once

#include "engine/module.hpp"

#include <nlohmann/json.hpp>

#include <memory>

namespace velkaphon::rack {

// [control] A module running the configured VST3 audio class ("path", "classId",
// "componentState", "controllerState", "precision", "parameters"). Raises one sentence when it
// cannot be made.
std::unique_ptr<Module> createVstModule(const nlohmann::json& configuration);

} // namespace velkaphon::rack
