#include "engine/media_module.hpp"

#include "engine/module_kind.hpp"
#include "engine/player_module.hpp"
#include "engine/recorder_module.hpp"

namespace velkaphon::rack {

std::unique_ptr<Module> createMediaModule(const NodeDefinition& node) {
    const ModuleKind kind = moduleKindOf(node.type);
    if (kind == ModuleKind::Player) {
        return std::make_unique<PlayerModule>(node.configuration);
    }
    if (kind == ModuleKind::Recorder) {
        return std::make_unique<RecorderModule>(node.configuration);
    }
    return nullptr;
}

void stopMediaModule(Module& module) {
    if (auto* player = dynamic_cast<PlayerModule*>(&module)) {
        player->stop();
    } else if (auto* recorder = dynamic_cast<RecorderModule*>(&module)) {
        recorder->stop();
    }
}

void continueMediaModule(Module& next, const Module& previous) {
    auto* player = dynamic_cast<PlayerModule*>(&next);
    const auto* before = dynamic_cast<const PlayerModule*>(&previous);
    if (player != nullptr && before != nullptr) {
        player->continueFrom(*before);
    }
}

} // namespace velkaphon::rack
