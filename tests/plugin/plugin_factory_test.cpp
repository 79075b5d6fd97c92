#include "abi/vst3/text.hpp"
#include "hosting/shared_library.hpp"
#include "plugin/plugin_factory.hpp"
#include "tests/plugin/rack_plugin_host.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

namespace velkaphon::rack {
namespace {

using testing::rackPluginModule;

TEST(RackPluginFactory, FactoryInfoNamesTheMakerInUnicodeMode) {
    vst3::PFactoryInfo info{};
    ASSERT_EQ(rackPluginModule()->factory->getFactoryInfo(&info), vst3::kResultOk);
    EXPECT_STREQ(info.vendor, "VELKAPHON");
    EXPECT_EQ(info.flags, 16);
    EXPECT_TRUE(
        std::all_of(info.vendor + 10, std::end(info.vendor), [](char c) { return c == 0; }));
}

TEST(RackPluginFactory, OneAudioEffectClassWithItsExactRecord) {
    vst3::IPluginFactory* factory = rackPluginModule()->factory;
    ASSERT_EQ(factory->countClasses(), 1);
    auto factory2 = vst3::queryInterfacePtr<vst3::IPluginFactory2>(factory);
    ASSERT_TRUE(factory2);
    vst3::PClassInfo2 info{};
    ASSERT_EQ(factory2->getClassInfo2(0, &info), vst3::kResultOk);
#ifdef _WIN32
    const std::uint8_t expected[16] = {0x4B, 0x4C, 0x45, 0x56, 0x50, 0x41, 0x4F, 0x48,
                                       0x4E, 0x52, 0x41, 0x43, 0x4B, 0x00, 0x01, 0x01};
#else
    const std::uint8_t expected[16] = {0x56, 0x45, 0x4C, 0x4B, 0x41, 0x50, 0x48, 0x4F,
                                       0x4E, 0x52, 0x41, 0x43, 0x4B, 0x00, 0x01, 0x01};
#endif
    EXPECT_EQ(std::memcmp(info.cid, expected, 16), 0);
    EXPECT_EQ(info.cardinality, 0x7FFFFFFF);
    EXPECT_STREQ(info.category, "Audio Module Class");
    EXPECT_STREQ(info.name, "VELKAPHON RACK");
    EXPECT_EQ(info.classFlags, 0u);
    EXPECT_STREQ(info.subCategories, "Fx|Tools");
    EXPECT_TRUE(
        std::all_of(std::begin(info.vendor), std::end(info.vendor), [](char c) { return c == 0; }));
    EXPECT_STREQ(info.version, "0.1.0-beta.3");
    EXPECT_STREQ(info.sdkVersion, "VST 3.8.1");
    EXPECT_EQ(factory2->getClassInfo2(1, &info), vst3::kInvalidArgument);

    vst3::PClassInfo plain{};
    ASSERT_EQ(factory->getClassInfo(0, &plain), vst3::kResultOk);
    EXPECT_EQ(std::memcmp(plain.cid, expected, 16), 0);
    EXPECT_STREQ(plain.name, "VELKAPHON RACK");

    auto factory3 = vst3::queryInterfacePtr<vst3::IPluginFactory3>(factory);
    ASSERT_TRUE(factory3);
    vst3::PClassInfoW wide{};
    ASSERT_EQ(factory3->getClassInfoUnicode(0, &wide), vst3::kResultOk);
    EXPECT_EQ(vst3::utf8FromField(wide.name, 64), "VELKAPHON RACK");
    EXPECT_EQ(vst3::utf8FromField(wide.version, 64), "0.1.0-beta.3");
    EXPECT_STREQ(wide.subCategories, "Fx|Tools");
}

TEST(RackPluginFactory, SecondCallReturnsTheSameFactoryWithOneMoreReference) {
    std::shared_ptr<LoadedModule> module = rackPluginModule();
    auto getFactory = reinterpret_cast<vst3::GetFactoryFunction>(
        findLibraryExport(module->library, "GetPluginFactory"));
    ASSERT_NE(getFactory, nullptr);
    const vst3::uint32 before = module->factory->addRef();
    module->factory->release();
    vst3::IPluginFactory* again = getFactory();
    EXPECT_EQ(again, module->factory);
    EXPECT_EQ(module->factory->addRef(), before + 1);
    module->factory->release();
    again->release();
}

TEST(RackPluginFactory, ExportsTheEntryNamesOfItsPlatform) {
    SharedLibraryHandle library = rackPluginModule()->library;
    EXPECT_NE(findLibraryExport(library, "GetPluginFactory"), nullptr);
#ifdef _WIN32
    EXPECT_NE(findLibraryExport(library, "InitDll"), nullptr);
    EXPECT_NE(findLibraryExport(library, "ExitDll"), nullptr);
#else
    EXPECT_NE(findLibraryExport(library, "ModuleEntry"), nullptr);
    EXPECT_NE(findLibraryExport(library, "ModuleExit"), nullptr);
    EXPECT_EQ(findLibraryExport(library, "InitDll"), nullptr);
    // The module's own copy of the rack stays inside it.
    EXPECT_EQ(findLibraryExport(library, "_ZN8velkaphon4rack15RackApplication4stopEv"), nullptr);
#endif
}

TEST(RackPluginFactory, OneObjectAnswersComponentProcessorAndController) {
    vst3::IPluginFactory* factory = rackPluginModule()->factory;
    void* object = nullptr;
    ASSERT_EQ(factory->createInstance(vst3::tuidOf(kRackProcessorClassId),
                                      vst3::tuidOf(vst3::IComponent::iid), &object),
              vst3::kResultOk);
    auto component =
        vst3::InterfacePtr<vst3::IComponent>::adopt(static_cast<vst3::IComponent*>(object));
    const auto identity = [](vst3::FUnknown* face) {
        return vst3::queryInterfacePtr<vst3::FUnknown>(face).get();
    };
    auto processor = vst3::queryInterfacePtr<vst3::IAudioProcessor>(component.get());
    auto controller = vst3::queryInterfacePtr<vst3::IEditController>(component.get());
    ASSERT_TRUE(processor);
    ASSERT_TRUE(controller);
    EXPECT_EQ(identity(processor.get()), identity(component.get()));
    EXPECT_EQ(identity(controller.get()), identity(component.get()));
    EXPECT_TRUE(vst3::queryInterfacePtr<vst3::IProcessContextRequirements>(component.get()));
}

TEST(RackPluginFactory, UnknownClassIsRefusedWithNoObject) {
    void* object = reinterpret_cast<void*>(1);
    const vst3::Uid other = vst3::makeUid(1, 2, 3, 4);
    EXPECT_EQ(rackPluginModule()->factory->createInstance(
                  vst3::tuidOf(other), vst3::tuidOf(vst3::IComponent::iid), &object),
              vst3::kInvalidArgument);
    EXPECT_EQ(object, nullptr);
}

TEST(RackPluginFactory, PageLiesInTheBundleResources) {
    const std::filesystem::path page = std::filesystem::path(VELKAPHON_RACK_PLUGIN_BUNDLE) /
                                       "Contents" / "Resources" / "ui" / "index.html";
    EXPECT_TRUE(std::filesystem::is_regular_file(page));
}

// The library linked in: its factory pointer must go with the factory.
TEST(RackPluginFactory, ReleasedFactoryIsMadeAfreshByTheNextCall) {
    vst3::IPluginFactory* first = rackPluginFactory();
    EXPECT_EQ(first->release(), 0u);
    vst3::IPluginFactory* second = rackPluginFactory();
    EXPECT_EQ(second->addRef(), 2u);
    EXPECT_EQ(second->release(), 1u);
    EXPECT_EQ(second->countClasses(), 1);
    EXPECT_EQ(second->release(), 0u);
}

} // namespace
} // namespace velkaphon::rack
