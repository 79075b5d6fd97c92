#include "app/plugin_restarts.hpp"

#include "app/rack_messages.hpp"

#include <utility>

namespace velkaphon::rack {

namespace {

constexpr std::chrono::seconds kRestartSpacing{1};

} // namespace

PluginRestarts::PluginRestarts(Clock clock)
    : clock_(clock ? std::move(clock) : Clock(&std::chrono::steady_clock::now)) {}

std::vector<std::string> PluginRestarts::due(const ModuleMap& modules) {
    std::vector<std::string> ids;
    const auto now = clock_();
    for (const auto& [id, module] : modules) {
        const auto* hosted = dynamic_cast<const HostedModule*>(module);
        if (hosted == nullptr || !hosted->restartRequested() || hosted->processFault() ||
            held_.contains(module)) {
            continue;
        }
        const auto last = restartedAt_.find(id);
        if (last != restartedAt_.end() && now - last->second < kRestartSpacing) {
            held_[module] = kRestartRequested;
        } else {
            ids.push_back(id);
        }
    }
    return ids;
}

void PluginRestarts::restarted(const std::vector<std::string>& ids) {
    const auto now = clock_();
    for (const std::string& id : ids) {
        restartedAt_[id] = now;
    }
}

void PluginRestarts::failed(const std::vector<std::string>& ids, const ModuleMap& modules,
                            const std::string& text) {
    for (const std::string& id : ids) {
        held_[modules.at(id)] = text;
    }
}

std::optional<std::string> PluginRestarts::heldReason(const Module& module) const {
    const auto found = held_.find(&module);
    return found == held_.end() ? std::nullopt : std::optional<std::string>(found->second);
}

} // namespace velkaphon::rack
