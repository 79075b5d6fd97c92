#pragma once

#include "abi/vst3/view.hpp"

#include <atomic>

namespace velkaphon::rack::testing {

// The editor view of the test plug-in: it logs what the host does with it and, when the probe
// says so, asks its frame for a new size.
class TestView final : public vst3::IPlugView {
public:
    TestView();
    ~TestView();

    vst3::tresult VELKAPHON_VST3_CALL queryInterface(const vst3::TUID iid, void** object) override;
    vst3::uint32 VELKAPHON_VST3_CALL addRef() override;
    vst3::uint32 VELKAPHON_VST3_CALL release() override;

    vst3::tresult VELKAPHON_VST3_CALL isPlatformTypeSupported(vst3::FIDString type) override;
    vst3::tresult VELKAPHON_VST3_CALL attached(void* parent, vst3::FIDString type) override;
    vst3::tresult VELKAPHON_VST3_CALL removed() override;
    vst3::tresult VELKAPHON_VST3_CALL onWheel(float distance) override;
    vst3::tresult VELKAPHON_VST3_CALL onKeyDown(vst3::char16 key, vst3::int16 keyCode,
                                                vst3::int16 modifiers) override;
    vst3::tresult VELKAPHON_VST3_CALL onKeyUp(vst3::char16 key, vst3::int16 keyCode,
                                              vst3::int16 modifiers) override;
    vst3::tresult VELKAPHON_VST3_CALL getSize(vst3::ViewRect* size) override;
    vst3::tresult VELKAPHON_VST3_CALL onSize(vst3::ViewRect* newSize) override;
    vst3::tresult VELKAPHON_VST3_CALL onFocus(vst3::TBool state) override;
    vst3::tresult VELKAPHON_VST3_CALL setFrame(vst3::IPlugFrame* frame) override;
    vst3::tresult VELKAPHON_VST3_CALL canResize() override;
    vst3::tresult VELKAPHON_VST3_CALL checkSizeConstraint(vst3::ViewRect* rect) override;

    // Asks the frame for a new size, as an editor does when the user drags it.
    vst3::tresult requestSize(vst3::int32 width, vst3::int32 height);

private:
    std::atomic<vst3::uint32> references_{1};
    vst3::IPlugFrame* frame_ = nullptr;
    vst3::ViewRect size_{};
};

} // namespace velkaphon::rack::testing
