#pragma once

// For the objects we create and hand out, whose life the other side shares: they answer
// FUnknown and their own interfaces, start with one reference (their creator's) and delete
// themselves at the last release. Adding needs no ordering; the last release must see every
// other holder's writes before the object goes, hence acquire-release there.

#include "abi/vst3/base.hpp"

#include <atomic>

namespace velkaphon::rack::vst3 {

// Interface is what queryInterface hands out; Also lists the interfaces it derives from that
// it answers too.
template <class Interface, class... Also>
class CountedObject : public Interface {
public:
    // [any]
    tresult VELKAPHON_VST3_CALL queryInterface(const TUID iid, void** object) override {
        if (object == nullptr) {
            return kInvalidArgument;
        }
        if (sameUid(iid, FUnknown::iid) || sameUid(iid, Interface::iid) ||
            (sameUid(iid, Also::iid) || ...)) {
            addRef();
            *object = static_cast<Interface*>(this);
            return kResultOk;
        }
        *object = nullptr;
        return kNoInterface;
    }

    // [any]
    uint32 VELKAPHON_VST3_CALL addRef() override {
        return references_.fetch_add(1, std::memory_order_relaxed) + 1;
    }

    // [any] The last release runs the destructor on the calling thread.
    uint32 VELKAPHON_VST3_CALL release() override {
        const uint32 left = references_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) {
            delete this;
        }
        return left;
    }

protected:
    CountedObject() = default;
    virtual ~CountedObject() = default;

private:
    std::atomic<uint32> references_{1};
};

} // namespace velkaphon::rack::vst3
