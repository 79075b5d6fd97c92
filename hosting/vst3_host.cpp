#include "hosting/vst3_host.hpp"

#include "abi/vst3/text.hpp"
#include "hosting/editor_window.hpp"

#include <algorithm>
#include <cmath>

namespace velkaphon::rack {

using namespace vst3;

namespace {

constexpr int64 kMaximumEditorSide = 8192;

bool isEditorSide(int64 length) {
    return length >= 1 && length <= kMaximumEditorSide;
}

} // namespace

std::optional<double> takeControllerValue(VstHostImpl::Host& host, std::size_t index) noexcept {
    if (!host.parameterSlots[index].pendingForController.exchange(false,
                                                                  std::memory_order_acq_rel)) {
        return std::nullopt;
    }
    return host.parameterValues.current(index);
}

void indexVstParameters(VstHostImpl::Host& host) {
    std::vector<std::uint32_t> ids;
    ids.reserve(host.parameters.size());
    for (const HostedParameter& parameter : host.parameters) {
        ids.push_back(parameter.id);
    }
    host.parameterIndex.build(ids);
    host.outputChanges.index(host.parameterIndex);
}

std::optional<std::size_t> vstParameterIndex(const VstHostImpl::Host& host,
                                             std::uint32_t id) noexcept {
    const std::optional<std::size_t> index = host.parameterIndex.find(id);
    if (!index || *index >= host.parameterSlots.size() || *index >= host.parameterValues.size() ||
        *index >= host.parameterFlags.size()) {
        return std::nullopt;
    }
    return index;
}

bool queueParameterEdit(VstHostImpl::Host& host, std::uint32_t id, double value,
                        bool fromController) noexcept {
    if (!std::isfinite(value)) {
        return false;
    }
    const std::optional<std::size_t> index = vstParameterIndex(host, id);
    if (!index || (host.parameterFlags[*index] & ParameterInfo::kIsReadOnly) != 0) {
        return false;
    }
    host.parameterValues.edit(*index, std::clamp(value, 0.0, 1.0));
    if (!fromController) {
        host.parameterSlots[*index].pendingForController.store(true, std::memory_order_release);
    }
    return true;
}

namespace VstHostImpl {

tresult Host::queryInterface(const TUID iid, void** object) {
    if (object == nullptr) {
        return kInvalidArgument;
    }
    if (sameUid(iid, IComponentHandler::iid)) {
        *object = static_cast<IComponentHandler*>(this);
        return kResultOk;
    }
    if (sameUid(iid, IPlugFrame::iid)) {
        *object = static_cast<IPlugFrame*>(this);
        return kResultOk;
    }
    return HostApplication::queryInterface(iid, object);
}

tresult Host::getName(String128 name) {
    if (name == nullptr) {
        return kInvalidArgument;
    }
    copyText(name, 128, "VELKAPHON RACK");
    return kResultOk;
}

tresult Host::beginEdit(ParamID) {
    return kResultOk;
}

tresult Host::performEdit(ParamID id, ParamValue valueNormalized) {
    return queueParameterEdit(*this, id, valueNormalized, true) ? kResultOk : kInvalidArgument;
}

tresult Host::endEdit(ParamID) {
    return kResultOk;
}

tresult Host::restartComponent(int32 flags) {
    restartFlags.fetch_or(static_cast<std::uint32_t>(flags));
    if ((flags & kParamValuesChanged) != 0) {
        parameterValuesChanged.store(true);
    }
    return kResultOk;
}

tresult Host::resizeView(IPlugView* plugView, ViewRect* newSize) {
    if (newSize == nullptr || plugView == nullptr || plugView != view.get() ||
        std::this_thread::get_id() != editorThread) {
        return kInvalidArgument;
    }
    if (resizing) {
        return kResultFalse;
    }
    // In 64 bits, so that no rectangle can overflow.
    const int64 width = int64{newSize->right} - newSize->left;
    const int64 height = int64{newSize->bottom} - newSize->top;
    if (!isEditorSide(width) || !isEditorSide(height)) {
        return kInvalidArgument;
    }
    resizing = true;
    if (childWindow != nullptr) {
        resizeVstEditorChild(childWindow, static_cast<int32>(width), static_cast<int32>(height));
    }
    tresult result = kResultFalse;
    try {
        result = plugView->onSize(newSize);
    } catch (...) {
        // Nothing may be thrown back into the plug-in.
        result = kResultFalse;
    }
    resizing = false;
    return result;
}

} // namespace VstHostImpl

} // namespace velkaphon::rack
