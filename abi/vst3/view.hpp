#pragma once

// The plug-in's editor view and the host frame it lives in.

#include "abi/vst3/base.hpp"

namespace velkaphon::rack::vst3 {

inline constexpr FIDString kPlatformTypeHWND = "HWND";

struct ViewRect {
    int32 left = 0;
    int32 top = 0;
    int32 right = 0;
    int32 bottom = 0;

    int32 getWidth() const { return right - left; }
    int32 getHeight() const { return bottom - top; }
};

class IPlugFrame;

class IPlugView : public FUnknown {
public:
    static constexpr Uid iid = makeUid(0x5BC32507, 0xD06049EA, 0xA6151B52, 0x2B755B29);

    virtual tresult VELKAPHON_VST3_CALL isPlatformTypeSupported(FIDString type) = 0;
    virtual tresult VELKAPHON_VST3_CALL attached(void* parent, FIDString type) = 0;
    virtual tresult VELKAPHON_VST3_CALL removed() = 0;
    virtual tresult VELKAPHON_VST3_CALL onWheel(float distance) = 0;
    virtual tresult VELKAPHON_VST3_CALL onKeyDown(char16 key, int16 keyCode, int16 modifiers) = 0;
    virtual tresult VELKAPHON_VST3_CALL onKeyUp(char16 key, int16 keyCode, int16 modifiers) = 0;
    virtual tresult VELKAPHON_VST3_CALL getSize(ViewRect* size) = 0;
    virtual tresult VELKAPHON_VST3_CALL onSize(ViewRect* newSize) = 0;
    virtual tresult VELKAPHON_VST3_CALL onFocus(TBool state) = 0;
    virtual tresult VELKAPHON_VST3_CALL setFrame(IPlugFrame* frame) = 0;
    virtual tresult VELKAPHON_VST3_CALL canResize() = 0;
    virtual tresult VELKAPHON_VST3_CALL checkSizeConstraint(ViewRect* rect) = 0;
};

class IPlugFrame : public FUnknown {
public:
    static constexpr Uid iid = makeUid(0x367FAF01, 0xAFA94693, 0x8D4DA2A0, 0xED0882A3);

    virtual tresult VELKAPHON_VST3_CALL resizeView(IPlugView* view, ViewRect* newSize) = 0;
};

static_assert(sizeof(ViewRect) == 16);
static_assert(offsetof(ViewRect, bottom) == 12);

} // namespace velkaphon::rack::vst3
