#include "tests/plugins/vst3_test_plugin/test_view.hpp"

#include "tests/plugins/vst3_test_plugin/plugin_log.hpp"
#include "tests/plugins/vst3_test_plugin/vst3_test_plugin_probe.hpp"

#include <cstring>
#include <string>

namespace velkaphon::rack::testing {

Vst3TestProbe& testProbe();

using namespace vst3;

namespace {

std::string sizeText(const ViewRect& rect) {
    return std::to_string(rect.getWidth()) + "x" + std::to_string(rect.getHeight());
}

} // namespace

TestView::TestView() : size_(testProbe().viewSize) {
    testProbe().liveObjects.fetch_add(1);
    writePluginLog("view created");
}

TestView::~TestView() {
    writePluginLog("view destroyed");
    testProbe().liveObjects.fetch_sub(1);
}

tresult TestView::queryInterface(const TUID iid, void** object) {
    if (object == nullptr) {
        return kInvalidArgument;
    }
    if (sameUid(iid, FUnknown::iid) || sameUid(iid, IPlugView::iid)) {
        addRef();
        *object = static_cast<IPlugView*>(this);
        return kResultOk;
    }
    *object = nullptr;
    return kNoInterface;
}

uint32 TestView::addRef() {
    return references_.fetch_add(1) + 1;
}

uint32 TestView::release() {
    const uint32 left = references_.fetch_sub(1) - 1;
    if (left == 0) {
        delete this;
    }
    return left;
}

tresult TestView::isPlatformTypeSupported(FIDString type) {
    const bool hwnd = type != nullptr && std::strcmp(type, kPlatformTypeHWND) == 0;
    return hwnd && !testProbe().viewRefusesHwnd ? kResultOk : kResultFalse;
}

tresult TestView::attached(void* parent, FIDString type) {
    if (parent == nullptr || isPlatformTypeSupported(type) != kResultOk ||
        testProbe().viewRefusesAttach) {
        return kResultFalse;
    }
    writePluginLog("view attached");
    return kResultOk;
}

tresult TestView::removed() {
    writePluginLog("view removed");
    return kResultOk;
}

tresult TestView::onWheel(float) {
    return kResultFalse;
}

tresult TestView::onKeyDown(char16, int16, int16) {
    return kResultFalse;
}

tresult TestView::onKeyUp(char16, int16, int16) {
    return kResultFalse;
}

tresult TestView::getSize(ViewRect* size) {
    if (size == nullptr) {
        return kInvalidArgument;
    }
    *size = size_;
    return kResultOk;
}

tresult TestView::onSize(ViewRect* newSize) {
    if (newSize == nullptr) {
        return kInvalidArgument;
    }
    size_ = *newSize;
    writePluginLog("view size " + sizeText(size_));
    Vst3TestProbe& probe = testProbe();
    if (probe.resizeFromOnSize) {
        probe.resizeFromOnSize = false;
        probe.nestedResizeResult = requestSize(size_.getWidth() + 10, size_.getHeight() + 10);
    }
    return kResultOk;
}

tresult TestView::onFocus(TBool) {
    return kResultOk;
}

tresult TestView::setFrame(IPlugFrame* frame) {
    frame_ = frame;
    writePluginLog(frame != nullptr ? "view frame set" : "view frame cleared");
    return kResultOk;
}

tresult TestView::canResize() {
    return kResultOk;
}

tresult TestView::checkSizeConstraint(ViewRect*) {
    return kResultOk;
}

tresult TestView::requestSize(int32 width, int32 height) {
    if (frame_ == nullptr) {
        return kResultFalse;
    }
    ViewRect rect{0, 0, width, height};
    return frame_->resizeView(this, &rect);
}

} // namespace velkaphon::rack::testing
