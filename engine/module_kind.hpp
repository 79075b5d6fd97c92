#pragma once

// What a node's module type name stands for. Every check of a node's kind asks here, so that an
// alias ("faders", "digital-summing") is the same kind as the name it stands for.

#include <cstdint>
#include <string_view>

namespace velkaphon::rack {

enum class ModuleKind : std::uint32_t {
    Unknown,
    Input,
    Output,
    Summing,
    Distributor,
    Breakout,
    Matrix,
    FaderBank,
    Player,
    Recorder,
    Vst3,
    Clap,
};

// [any] The kind of a module type name, aliases included; Unknown for any other name.
ModuleKind moduleKindOf(std::string_view type);

// [any] Players and recorders, which take run-time changes from the control queue only.
bool isMediaKind(ModuleKind kind);

// [any] Hosted VST3 and CLAP plug-ins.
bool isHostedKind(ModuleKind kind);

} // namespace velkaphon::rack
