// The editor logic against the window stand-in, which exists only on Linux.
#ifndef _WIN32

#include "hosting/editor_window_stand_in.hpp"
#include "tests/hosting/vst_module_test_support.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

namespace velkaphon::rack {
namespace {

using namespace testing;
using ::testing::ElementsAre;

class VstEditor : public ::testing::Test {
protected:
    void SetUp() override {
        parent = createStandInWindow("VelkaphonVstEditor", 10, 10);
        clearStandInWindowCalls();
    }

    HeldVstPlugin plugin;
    NativeWindowHandle parent = nullptr;
};

TEST_F(VstEditor, OpensTheViewInAChildWindowAndSizesTheEditorWindowToIt) {
    auto module = preparedVstModule(vstConfiguration(Vst3TestClass::Gain));
    Vst3CallLog log;
    std::string error;
    ASSERT_TRUE(module->openEditor(parent, error)) << error;
    EXPECT_THAT(standInWindowCalls(), ElementsAre("create child 320x200", "size editor 320x200"));
    EXPECT_EQ(standInWindow(parent).clientWidth, 320);
    EXPECT_EQ(standInWindow(parent).clientHeight, 200);
    EXPECT_THAT(log.lines(), ElementsAre("view created", "view frame set", "view attached",
                                         "view size 320x200"));
}

TEST_F(VstEditor, ASecondOpenClosesTheFirstAndCloseIsHarmlessTwice) {
    auto module = preparedVstModule(vstConfiguration(Vst3TestClass::Gain));
    std::string error;
    ASSERT_TRUE(module->openEditor(parent, error));
    const int objects = plugin.probe().liveObjects.load();
    Vst3CallLog log;
    clearStandInWindowCalls();
    ASSERT_TRUE(module->openEditor(parent, error));
    EXPECT_THAT(log.lines(),
                ElementsAre("view removed", "view frame cleared", "view destroyed", "view created",
                            "view frame set", "view attached", "view size 320x200"));
    EXPECT_THAT(standInWindowCalls(),
                ElementsAre("destroy child", "create child 320x200", "size editor 320x200"));
    EXPECT_EQ(plugin.probe().liveObjects.load(), objects);
    module->closeEditor();
    module->closeEditor();
    EXPECT_EQ(plugin.probe().liveObjects.load(), objects - 1);
}

TEST_F(VstEditor, AnEditorWindowOfAnotherClassIsNotResized) {
    NativeWindowHandle other = createStandInWindow("VelkaphonRackView", 10, 10);
    auto module = preparedVstModule(vstConfiguration(Vst3TestClass::Gain));
    std::string error;
    ASSERT_TRUE(module->openEditor(other, error));
    EXPECT_EQ(standInWindow(other).clientWidth, 10);
}

TEST_F(VstEditor, RefusalsAreReportedAndLeaveNoViewOrWindow) {
    auto module = preparedVstModule(vstConfiguration(Vst3TestClass::Gain));
    const int objects = plugin.probe().liveObjects.load();
    std::string error;
    plugin.probe().viewRefusesHwnd = true;
    EXPECT_FALSE(module->openEditor(parent, error));
    EXPECT_EQ(error, "Invalid native plugin editor.");
    plugin.probe().viewRefusesHwnd = false;
    plugin.probe().viewSize = {10, 10, 10, 200};
    EXPECT_FALSE(module->openEditor(parent, error));
    EXPECT_EQ(error, "Invalid native plugin editor.");
    plugin.probe().viewSize = {0, 0, 320, 200};

    failNextStandInChildWindow();
    EXPECT_FALSE(module->openEditor(parent, error));
    EXPECT_EQ(error, "Could not attach plugin editor.");
    plugin.probe().viewRefusesAttach = true;
    clearStandInWindowCalls();
    EXPECT_FALSE(module->openEditor(parent, error));
    EXPECT_EQ(error, "Could not attach plugin editor.");
    EXPECT_THAT(standInWindowCalls(), ElementsAre("create child 320x200", "destroy child"));
    EXPECT_EQ(plugin.probe().liveObjects.load(), objects);
}

TEST_F(VstEditor, AnEditorWindowThatIsGoneTakesNoView) {
    auto module = preparedVstModule(vstConfiguration(Vst3TestClass::Gain));
    destroyStandInWindow(parent);
    std::string error;
    EXPECT_FALSE(module->openEditor(parent, error));
    EXPECT_EQ(error, "Could not attach plugin editor.");
    EXPECT_EQ(standInWindow(parent).clientWidth, 10);
}

TEST_F(VstEditor, AResizeFromTheViewSizesChildAndEditorOnTheEditorThreadOnly) {
    auto module = preparedVstModule(vstConfiguration(Vst3TestClass::Gain));
    std::string error;
    ASSERT_TRUE(module->openEditor(parent, error));
    clearStandInWindowCalls();
    EXPECT_EQ(plugin.probe().resizeView(400, 300), vst3::kResultOk);
    EXPECT_THAT(standInWindowCalls(), ElementsAre("size child 400x300", "size editor 400x300"));
    EXPECT_EQ(standInWindow(parent).clientWidth, 400);

    vst3::tresult fromElsewhere = vst3::kResultOk;
    std::thread other([&] { fromElsewhere = plugin.probe().resizeView(500, 300); });
    other.join();
    EXPECT_EQ(fromElsewhere, vst3::kInvalidArgument);
    EXPECT_EQ(plugin.probe().resizeView(0, 100), vst3::kInvalidArgument);
    EXPECT_EQ(plugin.probe().resizeView(9000, 100), vst3::kInvalidArgument);
    EXPECT_EQ(plugin.probe().resizeView(8192, 8192), vst3::kResultOk);
    EXPECT_EQ(standInWindow(parent).clientWidth, 8192);
}

TEST_F(VstEditor, AResizeAskedForFromInsideOnSizeIsRefused) {
    auto module = preparedVstModule(vstConfiguration(Vst3TestClass::Gain));
    std::string error;
    ASSERT_TRUE(module->openEditor(parent, error));
    plugin.probe().resizeFromOnSize = true;
    EXPECT_EQ(plugin.probe().resizeView(400, 300), vst3::kResultOk);
    EXPECT_EQ(plugin.probe().nestedResizeResult, vst3::kResultFalse);
}

TEST_F(VstEditor, TheEditorGoesWithTheModule) {
    Vst3CallLog log;
    {
        auto module = preparedVstModule(vstConfiguration(Vst3TestClass::Gain));
        std::string error;
        ASSERT_TRUE(module->openEditor(parent, error));
    }
    EXPECT_EQ(log.count("view removed"), 1);
    EXPECT_EQ(log.count("view destroyed"), 1);
    EXPECT_EQ(plugin.probe().liveObjects.load(), 0);
}

} // namespace
} // namespace velkaphon::rack

#endif
