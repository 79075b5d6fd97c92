#pragma once

// What the host offers every plug-in as its context.

#include "abi/vst3/base.hpp"

namespace velkaphon::rack::vst3 {

class IHostApplication : public FUnknown {
public:
    static constexpr Uid iid = makeUid(0x58E595CC, 0xDB2D4969, 0x8B6AAF8C, 0x36A664E5);

    virtual tresult VELKAPHON_VST3_CALL getName(String128 name) = 0;
    // Makes host objects for the plug-in; so far IMessage and IAttributeList.
    virtual tresult VELKAPHON_VST3_CALL createInstance(TUID cid, TUID iid, void** object) = 0;
};

class IPlugInterfaceSupport : public FUnknown {
public:
    static constexpr Uid iid = makeUid(0x4FB58B9E, 0x9EAA4E0F, 0xAB361C1C, 0xCCB56FEA);

    // kResultTrue when the host speaks the interface, else kResultFalse.
    virtual tresult VELKAPHON_VST3_CALL isPlugInterfaceSupported(const TUID iid) = 0;
};

} // namespace velkaphon::rack::vst3
