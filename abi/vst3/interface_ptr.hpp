#pragma once

// An owned reference to a plug-in's interface: released when it goes.

#include "abi/vst3/base.hpp"

#include <utility>

namespace velkaphon::rack::vst3 {

template <class Interface>
class InterfacePtr {
public:
    InterfacePtr() = default;

    // Takes over a reference the caller already holds (as createInstance and queryInterface
    // hand them out).
    static InterfacePtr adopt(Interface* object) {
        InterfacePtr owned;
        owned.object_ = object;
        return owned;
    }

    InterfacePtr(InterfacePtr&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}

    InterfacePtr& operator=(InterfacePtr&& other) noexcept {
        if (this != &other) {
            reset();
            object_ = std::exchange(other.object_, nullptr);
        }
        return *this;
    }

    InterfacePtr(const InterfacePtr&) = delete;
    InterfacePtr& operator=(const InterfacePtr&) = delete;

    ~InterfacePtr() { reset(); }

    void reset() {
        if (Interface* object = std::exchange(object_, nullptr)) {
            object->release();
        }
    }

    Interface* get() const { return object_; }
    Interface* operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

private:
    Interface* object_ = nullptr;
};

// The object's Interface, or none when it has none or answers without one.
template <class Interface>
InterfacePtr<Interface> queryInterfacePtr(FUnknown* object) {
    if (object == nullptr) {
        return {};
    }
    void* found = nullptr;
    if (object->queryInterface(tuidOf(Interface::iid), &found) != kResultOk || found == nullptr) {
        return {};
    }
    return InterfacePtr<Interface>::adopt(static_cast<Interface*>(found));
}

} // namespace velkaphon::rack::vst3
