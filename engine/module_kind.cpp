#include "engine/module_kind.hpp"

#include <utility>

namespace velkaphon::rack {

namespace {

constexpr std::pair<std::string_view, ModuleKind> kTypeNames[] = {
    {"input", ModuleKind::Input},
    {"output", ModuleKind::Output},
    {"summing", ModuleKind::Summing},
    {"digital-summing", ModuleKind::Summing},
    {"distributor", ModuleKind::Distributor},
    {"breakout", ModuleKind::Breakout},
    {"matrix", ModuleKind::Matrix},
    {"fader-bank", ModuleKind::FaderBank},
    {"faders", ModuleKind::FaderBank},
    {"player", ModuleKind::Player},
    {"recorder", ModuleKind::Recorder},
    {"vst3", ModuleKind::Vst3},
    {"clap", ModuleKind::Clap},
};

} // namespace

ModuleKind moduleKindOf(std::string_view type) {
    for (const auto& [name, kind] : kTypeNames) {
        if (type == name) {
            return kind;
        }
    }
    return ModuleKind::Unknown;
}

bool isMediaKind(ModuleKind kind) {
    return kind == ModuleKind::Player || kind == ModuleKind::Recorder;
}

bool isHostedKind(ModuleKind kind) {
    return kind == ModuleKind::Vst3 || kind == ModuleKind::Clap;
}

} // namespace velkaphon::rack
