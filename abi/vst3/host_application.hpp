#pragma once

// Our base for a host context: answers IHostApplication, makes messages and attribute lists,
// and owns the object that tells plug-ins which of their interfaces the host speaks.
// Naming the host and counting references is left to the class that derives from it.

#include "abi/vst3/host.hpp"
#include "abi/vst3/uncounted_object.hpp"

namespace velkaphon::rack::vst3 {

// Lives as long as the host context that owns it.
class PlugInterfaceSupport final : public UncountedObject<IPlugInterfaceSupport> {
public:
    tresult VELKAPHON_VST3_CALL isPlugInterfaceSupported(const TUID iid) override;
};

class HostApplication : public IHostApplication {
public:
    // IHostApplication, FUnknown and IPlugInterfaceSupport; null and kNoInterface otherwise.
    tresult VELKAPHON_VST3_CALL queryInterface(const TUID iid, void** object) override;

    // An IMessage or IAttributeList, asked for by the same identifier as class and interface.
    tresult VELKAPHON_VST3_CALL createInstance(TUID cid, TUID iid, void** object) override;

protected:
    HostApplication() = default;
    ~HostApplication() = default;

private:
    PlugInterfaceSupport support_;
};

} // namespace velkaphon::rack::vst3
