#pragma once

// For the small objects a host hands to plug-ins and keeps itself: they answer FUnknown and
// their own interface, and their reference operations return 1 and do nothing, since they live
// exactly as long as their owner.

#include "abi/vst3/base.hpp"

namespace velkaphon::rack::vst3 {

template <class Interface>
class UncountedObject : public Interface {
public:
    tresult VELKAPHON_VST3_CALL queryInterface(const TUID iid, void** object) override {
        if (object == nullptr) {
            return kInvalidArgument;
        }
        if (sameUid(iid, FUnknown::iid) || sameUid(iid, Interface::iid)) {
            *object = static_cast<Interface*>(this);
            return kResultOk;
        }
        *object = nullptr;
        return kNoInterface;
    }

    uint32 VELKAPHON_VST3_CALL addRef() override { return 1; }
    uint32 VELKAPHON_VST3_CALL release() override { return 1; }

protected:
    UncountedObject() = default;
    ~UncountedObject() = default;
};

} // namespace velkaphon::rack::vst3
