#include "plugin/rack_view.hpp"

#include "abi/vst3/counted_object.hpp"
#include "plugin/rack_processor.hpp"
#include "view/native_rack_view.hpp"

#include <algorithm>
#include <cstring>

namespace velkaphon::rack {

namespace {

constexpr vst3::int32 kMinimumWidth = 640;
constexpr vst3::int32 kMinimumHeight = 480;
constexpr vst3::int32 kMaximumWidth = 4096;
constexpr vst3::int32 kMaximumHeight = 2160;

bool isSupportedPlatform(vst3::FIDString type) {
    return type != nullptr && std::strcmp(type, vst3::kPlatformTypeHWND) == 0;
}

// [control] Every operation, on the host's UI thread.
class RackView final : public vst3::CountedObject<vst3::IPlugView> {
public:
    explicit RackView(RackProcessor& processor) : processor_(processor) { processor_.addRef(); }
    RackView(const RackView&) = delete;
    RackView& operator=(const RackView&) = delete;

    vst3::tresult VELKAPHON_VST3_CALL isPlatformTypeSupported(vst3::FIDString type) override {
        return isSupportedPlatform(type) ? vst3::kResultTrue : vst3::kResultFalse;
    }

    vst3::tresult VELKAPHON_VST3_CALL attached(void* parent, vst3::FIDString type) override {
        if (parent == nullptr || viewHandle_ != nullptr || !isSupportedPlatform(type)) {
            return vst3::kResultFalse;
        }
        try {
            NativeViewHandle view = createNativeRackView(parent, &processor_.application());
            if (view == nullptr) {
                return vst3::kResultFalse;
            }
            viewHandle_ = view;
            parent_ = parent;
            resizeNativeRackView(view, static_cast<std::uint32_t>(rect_.getWidth()),
                                 static_cast<std::uint32_t>(rect_.getHeight()));
            return vst3::kResultOk;
        } catch (...) {
            // Detached again, so the host may retry.
            destroyNativeRackView(std::exchange(viewHandle_, nullptr));
            parent_ = nullptr;
            return vst3::kResultFalse;
        }
    }

    vst3::tresult VELKAPHON_VST3_CALL removed() override {
        destroyNativeRackView(std::exchange(viewHandle_, nullptr));
        parent_ = nullptr;
        return vst3::kResultOk;
    }

    vst3::tresult VELKAPHON_VST3_CALL onWheel(float /*distance*/) override {
        return vst3::kResultFalse;
    }
    vst3::tresult VELKAPHON_VST3_CALL onKeyDown(vst3::char16, vst3::int16, vst3::int16) override {
        return vst3::kResultFalse;
    }
    vst3::tresult VELKAPHON_VST3_CALL onKeyUp(vst3::char16, vst3::int16, vst3::int16) override {
        return vst3::kResultFalse;
    }

    vst3::tresult VELKAPHON_VST3_CALL getSize(vst3::ViewRect* size) override {
        if (size == nullptr) {
            return vst3::kInvalidArgument;
        }
        *size = rect_;
        return vst3::kResultOk;
    }

    vst3::tresult VELKAPHON_VST3_CALL onSize(vst3::ViewRect* newSize) override {
        if (newSize == nullptr || newSize->getWidth() < kMinimumWidth ||
            newSize->getHeight() < kMinimumHeight) {
            return vst3::kResultFalse;
        }
        rect_ = *newSize;
        try {
            resizeNativeRackView(viewHandle_, static_cast<std::uint32_t>(rect_.getWidth()),
                                 static_cast<std::uint32_t>(rect_.getHeight()));
            processor_.reportLatencyChange();
        } catch (...) {
            return vst3::kResultFalse;
        }
        return vst3::kResultOk;
    }

    vst3::tresult VELKAPHON_VST3_CALL onFocus(vst3::TBool /*state*/) override {
        return vst3::kResultFalse;
    }

    vst3::tresult VELKAPHON_VST3_CALL setFrame(vst3::IPlugFrame* frame) override {
        frame_ = frame;
        return vst3::kResultOk;
    }

    vst3::tresult VELKAPHON_VST3_CALL canResize() override { return vst3::kResultTrue; }

    vst3::tresult VELKAPHON_VST3_CALL checkSizeConstraint(vst3::ViewRect* rect) override {
        if (rect == nullptr) {
            return vst3::kInvalidArgument;
        }
        rect->right = rect->left + std::clamp(rect->getWidth(), kMinimumWidth, kMaximumWidth);
        rect->bottom = rect->top + std::clamp(rect->getHeight(), kMinimumHeight, kMaximumHeight);
        return vst3::kResultOk;
    }

private:
    ~RackView() override {
        destroyNativeRackView(std::exchange(viewHandle_, nullptr));
        processor_.release();
    }

    vst3::ViewRect rect_{0, 0, kRackViewWidth, kRackViewHeight};
    void* parent_ = nullptr;
    // Not owned: the host keeps the frame alive while it is set.
    vst3::IPlugFrame* frame_ = nullptr;
    RackProcessor& processor_;
    NativeViewHandle viewHandle_ = nullptr;
};

} // namespace

vst3::IPlugView* createRackView(RackProcessor& processor) {
    return new RackView(processor);
}

} // namespace velkaphon::rack
