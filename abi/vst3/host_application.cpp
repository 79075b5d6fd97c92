#include "abi/vst3/host_application.hpp"

#include "abi/vst3/component.hpp"
#include "abi/vst3/controller.hpp"
#include "abi/vst3/host_message.hpp"
#include "abi/vst3/processor.hpp"
#include "abi/vst3/view.hpp"

namespace velkaphon::rack::vst3 {

tresult PlugInterfaceSupport::isPlugInterfaceSupported(const TUID iid) {
    // The plug-in interfaces the rack calls.
    for (const Uid& supported : {IComponent::iid, IAudioProcessor::iid, IEditController::iid,
                                 IConnectionPoint::iid, IPlugView::iid}) {
        if (sameUid(iid, supported)) {
            return kResultTrue;
        }
    }
    return kResultFalse;
}

tresult HostApplication::queryInterface(const TUID iid, void** object) {
    if (object == nullptr) {
        return kInvalidArgument;
    }
    if (sameUid(iid, FUnknown::iid) || sameUid(iid, IHostApplication::iid)) {
        addRef();
        *object = static_cast<IHostApplication*>(this);
        return kResultOk;
    }
    if (sameUid(iid, IPlugInterfaceSupport::iid)) {
        *object = static_cast<IPlugInterfaceSupport*>(&support_);
        return kResultOk;
    }
    *object = nullptr;
    return kNoInterface;
}

tresult HostApplication::createInstance(TUID cid, TUID iid, void** object) {
    if (object == nullptr) {
        return kInvalidArgument;
    }
    *object = nullptr;
    if (sameUid(cid, IMessage::iid) && sameUid(iid, IMessage::iid)) {
        *object = createHostMessage();
    } else if (sameUid(cid, IAttributeList::iid) && sameUid(iid, IAttributeList::iid)) {
        *object = createHostAttributeList();
    } else {
        return kResultFalse;
    }
    return *object != nullptr ? kResultOk : kOutOfMemory;
}

} // namespace velkaphon::rack::vst3
