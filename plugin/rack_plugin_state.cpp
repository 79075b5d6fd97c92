#include "plugin/rack_plugin_state.hpp"

#include "engine/json_number.hpp"
#include "engine/untrusted_json.hpp"

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace velkaphon::rack {

namespace {

using nlohmann::json;

std::array<std::uint8_t, 4> littleEndian(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

std::uint32_t fromLittleEndian(const std::array<std::uint8_t, 4>& bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// The whole count or nothing: a short read is a refusal.
bool readExactly(vst3::IBStream& stream, void* buffer, std::int32_t count) {
    std::int32_t read = 0;
    return stream.read(buffer, count, &read) == vst3::kResultOk && read == count;
}

bool writeExactly(vst3::IBStream& stream, void* buffer, std::int32_t count) {
    std::int32_t written = 0;
    return stream.write(buffer, count, &written) == vst3::kResultOk && written == count;
}

} // namespace

vst3::tresult writeRackPluginState(vst3::IBStream& stream, const RackPluginState& state) {
    const json object = {
        {"bypass", state.bypass}, {"project", state.project}, {"schema", kRackStateSchema}};
    std::string text = object.dump();
    if (text.size() > static_cast<std::size_t>(kRackStateLimit)) {
        return vst3::kResultFalse;
    }
    const auto length = static_cast<std::int32_t>(text.size());
    std::array<std::uint8_t, 4> header = littleEndian(static_cast<std::uint32_t>(length));
    if (!writeExactly(stream, header.data(), 4) || !writeExactly(stream, text.data(), length)) {
        return vst3::kResultFalse;
    }
    return vst3::kResultOk;
}

std::optional<RackPluginState> readRackPluginState(vst3::IBStream& stream) {
    std::array<std::uint8_t, 4> header{};
    if (!readExactly(stream, header.data(), 4)) {
        return std::nullopt;
    }
    const auto length = static_cast<std::int32_t>(fromLittleEndian(header));
    if (length < 1 || length > kRackStateLimit) {
        return std::nullopt;
    }
    std::vector<char> text(static_cast<std::size_t>(length), '\0');
    if (!readExactly(stream, text.data(), length)) {
        return std::nullopt;
    }
    const json object =
        readUntrustedJson(std::string_view(text.data(), text.size()), JsonExtent::WholeText,
                          "Rack state is nested too deeply.");
    if (!object.is_object()) {
        return std::nullopt;
    }
    // A missing schema reads as 0, which is not ours.
    const auto schema = object.find("schema");
    if (schema == object.end() ||
        jsonInteger(*schema, kRackStateSchema, kRackStateSchema) != kRackStateSchema) {
        return std::nullopt;
    }
    const auto bypass = object.find("bypass");
    const auto project = object.find("project");
    if (bypass == object.end() || !bypass->is_boolean() || project == object.end()) {
        return std::nullopt;
    }
    return RackPluginState{*project, bypass->get<bool>()};
}

} // namespace velkaphon::rack
