#include "tests/plugin/rack_plugin_host.hpp"

#include "plugin/plugin_factory.hpp"
#include "tests/hosting/vst_module_test_support.hpp"

#include <gtest/gtest.h>

#include <filesystem>

namespace velkaphon::rack::testing {

std::shared_ptr<LoadedModule> rackPluginModule() {
    // Kept loaded to the end, as hosts do: the rack's process-wide objects live inside it.
    static auto* module = new std::shared_ptr<LoadedModule>(
        acquireVstLibrary(std::filesystem::path(VELKAPHON_RACK_PLUGIN_BUNDLE).u16string()));
    return *module;
}

RackInstance::RackInstance(vst3::IPluginFactory& factory) {
    void* object = nullptr;
    EXPECT_EQ(factory.createInstance(vst3::tuidOf(kRackProcessorClassId),
                                     vst3::tuidOf(vst3::IComponent::iid), &object),
              vst3::kResultOk);
    component = vst3::InterfacePtr<vst3::IComponent>::adopt(static_cast<vst3::IComponent*>(object));
    processor = vst3::queryInterfacePtr<vst3::IAudioProcessor>(component.get());
    controller = vst3::queryInterfacePtr<vst3::IEditController>(component.get());
    EXPECT_EQ(component->initialize(nullptr), vst3::kResultOk);
    EXPECT_EQ(controller->setComponentHandler(&handler), vst3::kResultOk);
}

RackInstance::~RackInstance() {
    controller->setComponentHandler(nullptr);
    component->setActive(false);
    component->terminate();
}

void RackInstance::start(std::int32_t sampleSize, std::int32_t maxBlock, double sampleRate) {
    vst3::ProcessSetup setup{vst3::kRealtime, sampleSize, maxBlock, sampleRate};
    ASSERT_EQ(processor->setupProcessing(setup), vst3::kResultOk);
    ASSERT_EQ(component->setActive(true), vst3::kResultOk);
    ASSERT_EQ(processor->setProcessing(true), vst3::kResultOk);
}

void RackInstance::finish() {
    EXPECT_EQ(processor->setProcessing(false), vst3::kResultOk);
    EXPECT_EQ(component->setActive(false), vst3::kResultOk);
}

std::vector<std::uint8_t> RackInstance::state() {
    MemoryStream stream;
    EXPECT_EQ(component->getState(&stream), vst3::kResultOk);
    return stream.bytes();
}

vst3::tresult RackInstance::restore(const std::vector<std::uint8_t>& bytes) {
    MemoryStream stream(bytes);
    return component->setState(&stream);
}

std::vector<std::uint8_t> blobOf(const std::string& text) {
    const auto length = static_cast<std::uint32_t>(text.size());
    std::vector<std::uint8_t> blob(4 + text.size());
    for (int i = 0; i < 4; ++i) {
        blob[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(length >> (8 * i));
    }
    std::copy(text.begin(), text.end(), blob.begin() + 4);
    return blob;
}

std::string textOf(const std::vector<std::uint8_t>& blob) {
    return blob.size() < 4 ? std::string() : std::string(blob.begin() + 4, blob.end());
}

nlohmann::json projectThrough(const nlohmann::json& project, Vst3TestClass audioClass) {
    nlohmann::json changed = project;
    changed["graph"] = {
        {"schema", 1},
        {"nodes",
         {{{"id", "input"}, {"type", "input"}, {"configuration", {{"channels", 2}}}},
          {{"id", "fx"}, {"type", "vst3"}, {"configuration", vstConfiguration(audioClass)}},
          {{"id", "output"}, {"type", "output"}, {"configuration", {{"channels", 2}}}}}},
        {"cables",
         {{{"from", "input"}, {"output", "out"}, {"to", "fx"}, {"input", "0"}},
          {{"from", "fx"}, {"output", "0"}, {"to", "output"}, {"input", "in"}}}}};
    return changed;
}

} // namespace velkaphon::rack::testing
