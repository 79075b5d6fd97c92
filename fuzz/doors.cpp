#include "fuzz/doors.hpp"

#include "abi/utf16_text.hpp"
#include "app/rack_application.hpp"
#include "engine/builtin.hpp"
#include "engine/graph_definition.hpp"
#include "engine/media_module.hpp"
#include "engine/untrusted_json.hpp"
#include "engine/utf8_text.hpp"
#include "engine/wav_file.hpp"
#include "fuzz/http_door.hpp"
#include "hosting/vst3_memory_stream.hpp"
#include "plugin/rack_plugin_state.hpp"
#include "view/page_bridge.hpp"

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace velkaphon::rack {
namespace {

using nlohmann::json;

constexpr const char* kTooDeep = "Nested too deeply.";

// A property every input must keep; breaking it is a finding, like a crash.
void require(bool holds) {
    if (!holds) {
        std::abort();
    }
}

// Refusals are the door working; only crashes, hangs and leaks are findings.
template <class Enter>
void refusalsAllowed(Enter enter) {
    try {
        enter();
    } catch (const std::exception&) {
    }
}

// A rack in plug-in mode: it runs patches without opening audio devices.
RackApplication& pluginRack() {
    static RackApplication rack(true);
    return rack;
}

class NoEditors final : public EditorWindowHost {
public:
    NativeWindowHandle replaceEditorWindow() override { return nullptr; }
    void destroyEditorWindow() override {}
};

void graphDefinition(std::string_view bytes) {
    refusalsAllowed([&] {
        const json written = writeGraphDefinition(
            readGraphDefinition(readUntrustedJson(bytes, JsonExtent::WholeText, kTooDeep)));
        require(writeGraphDefinition(readGraphDefinition(written)) == written);
    });
}

void projectDocument(std::string_view bytes) {
    refusalsAllowed([&] {
        pluginRack().restoreProject(readUntrustedJson(bytes, JsonExtent::FirstValue, kTooDeep));
    });
}

void pluginState(std::string_view bytes) {
    refusalsAllowed([&] {
        MemoryStream stream(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
        if (const auto state = readRackPluginState(stream)) {
            pluginRack().restoreProject(state->project);
        }
    });
}

void pageMessage(std::string_view bytes) {
    static NoEditors editors;
    static PageBridge bridge(
        pluginRack(), "https://rack.velkaphon.invalid/",
        [](BrowseKind, const std::string&) {
            return BrowseResult{"", true};
        },
        editors);
    refusalsAllowed([&] { bridge.answer("https://rack.velkaphon.invalid/", bytes); });
}

// The first byte picks the module type, the rest is its configuration.
void moduleConfiguration(std::string_view bytes) {
    constexpr std::array<const char*, 10> kTypes = {
        "input",  "output",     "summing", "digital-summing", "distributor",
        "matrix", "fader-bank", "faders",  "breakout",        "player"};
    if (bytes.empty()) {
        return;
    }
    refusalsAllowed([&] {
        NodeDefinition node;
        node.id = "node";
        node.type = kTypes[static_cast<unsigned char>(bytes[0]) % kTypes.size()];
        node.configuration = readUntrustedJson(bytes.substr(1), JsonExtent::WholeText, kTooDeep);
        if (node.type == "player") {
            createMediaModule(node);
        } else {
            createBuiltin(node);
        }
    });
}

void wavFile(std::string_view bytes) {
    static const std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("velkaphon-fuzz-" + std::to_string(reinterpret_cast<std::uintptr_t>(&path)) + ".wav");
    {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    refusalsAllowed([&] { readWavFile(path, std::uint64_t{1} << 20); });
    std::filesystem::remove(path);
}

void text(std::string_view bytes) {
    const bool valid = isValidUtf8(bytes);
    if (valid) {
        const auto wide = utf16FromUtf8(bytes);
        require(wide && utf8FromUtf16(*wide) == bytes);
    }
    require(isValidUtf8(replaceInvalidUtf8(bytes)));
    require(valid == (replaceInvalidUtf8(bytes) == bytes));
    pathFromUtf8(bytes);
    std::u16string units(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i) {
        units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                         static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
    }
    require(isValidUtf8(utf8FromUtf16(units)));
}

constexpr FuzzDoor kDoors[] = {
    {"graph", graphDefinition},
    {"project", projectDocument},
    {"plugin-state", pluginState},
    {"page-message", pageMessage},
    {"configuration", moduleConfiguration},
    {"wav", wavFile},
    {"text", text},
#ifndef _WIN32
    {"http",
     [](std::string_view bytes) {
         loopbackRequest(bytes);
     }},
#endif
};

} // namespace

std::span<const FuzzDoor> fuzzDoors() {
    return kDoors;
}

const FuzzDoor* findFuzzDoor(std::string_view name) {
    for (const FuzzDoor& door : kDoors) {
        if (name == door.name) {
            return &door;
        }
    }
    return nullptr;
}

} // namespace velkaphon::rack
