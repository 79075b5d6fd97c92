#include "abi/vst3/view.hpp"
#include "tests/plugin/rack_plugin_host.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace velkaphon::rack {
namespace {

using testing::RackInstance;
using testing::rackPluginModule;

vst3::InterfacePtr<vst3::IPlugView> editorOf(RackInstance& rack) {
    return vst3::InterfacePtr<vst3::IPlugView>::adopt(rack.controller->createView("editor"));
}

bool sameRect(const vst3::ViewRect& a, const vst3::ViewRect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST(RackView, OnlyTheEditorNameMakesAView) {
    RackInstance rack(*rackPluginModule()->factory);
    EXPECT_EQ(rack.controller->createView("Editor"), nullptr);
    EXPECT_EQ(rack.controller->createView(nullptr), nullptr);
    auto view = editorOf(rack);
    ASSERT_TRUE(view);
    vst3::ViewRect size{};
    ASSERT_EQ(view->getSize(&size), vst3::kResultOk);
    EXPECT_TRUE(sameRect(size, {0, 0, 1280, 820}));
    EXPECT_EQ(view->isPlatformTypeSupported("HWND"), vst3::kResultTrue);
    EXPECT_EQ(view->isPlatformTypeSupported("X11EmbedWindowID"), vst3::kResultFalse);
    EXPECT_EQ(view->isPlatformTypeSupported(nullptr), vst3::kResultFalse);
    EXPECT_EQ(view->canResize(), vst3::kResultTrue);
    EXPECT_EQ(view->onFocus(true), vst3::kResultFalse);
}

TEST(RackView, AttachRefusesANullParentOrAForeignType) {
    RackInstance rack(*rackPluginModule()->factory);
    auto view = editorOf(rack);
    int parent = 0;
    EXPECT_EQ(view->attached(nullptr, "HWND"), vst3::kResultFalse);
    EXPECT_EQ(view->attached(&parent, "NSView"), vst3::kResultFalse);
    EXPECT_EQ(view->attached(&parent, nullptr), vst3::kResultFalse);
    EXPECT_EQ(view->removed(), vst3::kResultOk);
}

TEST(RackView, SizesAreBoundedAndAResizeWithSteadyLatencyTellsTheHostNothing) {
    RackInstance rack(*rackPluginModule()->factory);
    auto view = editorOf(rack);
    vst3::ViewRect tooNarrow{0, 0, 639, 800};
    EXPECT_EQ(view->onSize(&tooNarrow), vst3::kResultFalse);
    vst3::ViewRect size{};
    view->getSize(&size);
    EXPECT_TRUE(sameRect(size, {0, 0, 1280, 820}));
    vst3::ViewRect smallest{0, 0, 640, 480};
    EXPECT_EQ(view->onSize(&smallest), vst3::kResultOk);
    view->getSize(&size);
    EXPECT_TRUE(sameRect(size, smallest));
    EXPECT_EQ(view->onSize(nullptr), vst3::kResultFalse);
    EXPECT_TRUE(rack.handler.restarts.empty());

    vst3::ViewRect large{10, 10, 5000, 3000};
    EXPECT_EQ(view->checkSizeConstraint(&large), vst3::kResultOk);
    EXPECT_TRUE(sameRect(large, {10, 10, 4106, 2170}));
    vst3::ViewRect tiny{0, 0, 100, 100};
    EXPECT_EQ(view->checkSizeConstraint(&tiny), vst3::kResultOk);
    EXPECT_TRUE(sameRect(tiny, {0, 0, 640, 480}));
    EXPECT_EQ(view->checkSizeConstraint(nullptr), vst3::kInvalidArgument);
}

#ifndef _WIN32
// Here the rack view is the loopback page server; the parent window is not looked at.
TEST(RackView, AttachOnceRemoveAndAttachAgain) {
    const std::filesystem::path storage =
        std::filesystem::temp_directory_path() / "velkaphon-plugin-view-test";
    std::filesystem::create_directories(storage);
    setenv("LOCALAPPDATA", storage.c_str(), 1);
    RackInstance rack(*rackPluginModule()->factory);
    auto view = editorOf(rack);
    int parent = 0;
    ASSERT_EQ(view->attached(&parent, "HWND"), vst3::kResultOk);
    EXPECT_EQ(view->attached(&parent, "HWND"), vst3::kResultFalse);
    vst3::ViewRect size{0, 0, 900, 700};
    EXPECT_EQ(view->onSize(&size), vst3::kResultOk);
    EXPECT_EQ(view->removed(), vst3::kResultOk);
    EXPECT_EQ(view->attached(&parent, "HWND"), vst3::kResultOk);
    // A second view of the same rack has its own.
    auto second = editorOf(rack);
    EXPECT_EQ(second->attached(&parent, "HWND"), vst3::kResultOk);
    EXPECT_EQ(second->removed(), vst3::kResultOk);
    EXPECT_EQ(view->removed(), vst3::kResultOk);
    unsetenv("LOCALAPPDATA");
    std::filesystem::remove_all(storage);
}
#endif

} // namespace
} // namespace velkaphon::rack
