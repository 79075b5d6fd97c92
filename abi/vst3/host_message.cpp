#include "abi/vst3/host_message.hpp"

#include "abi/vst3/counted_object.hpp"

#include <cstring>
#include <map>
#include <new>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace velkaphon::rack::vst3 {

namespace {

class HostAttributeList final : public CountedObject<IAttributeList> {
public:
    tresult VELKAPHON_VST3_CALL setInt(AttrID id, int64 value) override { return store(id, value); }

    tresult VELKAPHON_VST3_CALL getInt(AttrID id, int64& value) override {
        return fetch(id, value);
    }

    tresult VELKAPHON_VST3_CALL setFloat(AttrID id, double value) override {
        return store(id, value);
    }

    tresult VELKAPHON_VST3_CALL getFloat(AttrID id, double& value) override {
        return fetch(id, value);
    }

    tresult VELKAPHON_VST3_CALL setString(AttrID id, const TChar* string) override {
        if (string == nullptr) {
            return kInvalidArgument;
        }
        return store(id, std::u16string(string));
    }

    tresult VELKAPHON_VST3_CALL getString(AttrID id, TChar* string, uint32 sizeInBytes) override {
        const std::size_t units = sizeInBytes / sizeof(TChar);
        if (string == nullptr || units == 0) {
            return kInvalidArgument;
        }
        std::u16string value;
        const tresult result = fetch(id, value);
        if (result != kResultOk) {
            return result;
        }
        const std::size_t length = std::min(value.size(), units - 1);
        std::memcpy(string, value.data(), length * sizeof(TChar));
        string[length] = u'\0';
        return kResultOk;
    }

    tresult VELKAPHON_VST3_CALL setBinary(AttrID id, const void* data,
                                          uint32 sizeInBytes) override {
        if (data == nullptr && sizeInBytes > 0) {
            return kInvalidArgument;
        }
        const auto* bytes = static_cast<const uint8*>(data);
        return store(id, std::vector<uint8>(bytes, bytes + sizeInBytes));
    }

    tresult VELKAPHON_VST3_CALL getBinary(AttrID id, const void*& data,
                                          uint32& sizeInBytes) override {
        const auto* value = find<std::vector<uint8>>(id);
        if (value == nullptr) {
            return kResultFalse;
        }
        data = value->data();
        sizeInBytes = static_cast<uint32>(value->size());
        return kResultOk;
    }

private:
    using Value = std::variant<int64, double, std::u16string, std::vector<uint8>>;

    template <class T>
    tresult store(AttrID id, T&& value) noexcept {
        if (id == nullptr) {
            return kInvalidArgument;
        }
        try {
            values_[id] = Value(std::forward<T>(value));
            return kResultOk;
        } catch (const std::bad_alloc&) {
            return kOutOfMemory;
        }
    }

    template <class T>
    const T* find(AttrID id) const {
        if (id == nullptr) {
            return nullptr;
        }
        const auto found = values_.find(id);
        return found == values_.end() ? nullptr : std::get_if<T>(&found->second);
    }

    template <class T>
    tresult fetch(AttrID id, T& value) const {
        const T* found = find<T>(id);
        if (found == nullptr) {
            return kResultFalse;
        }
        value = *found;
        return kResultOk;
    }

    std::map<std::string, Value, std::less<>> values_;
};

class HostMessage final : public CountedObject<IMessage> {
public:
    ~HostMessage() override {
        if (attributes_ != nullptr) {
            attributes_->release();
        }
    }

    FIDString VELKAPHON_VST3_CALL getMessageID() override { return id_ ? id_->c_str() : nullptr; }

    void VELKAPHON_VST3_CALL setMessageID(FIDString id) override {
        try {
            id_ = id == nullptr ? std::nullopt : std::optional<std::string>(id);
        } catch (const std::bad_alloc&) {
            id_.reset();
        }
    }

    // Made on first use; the message keeps its own reference.
    IAttributeList* VELKAPHON_VST3_CALL getAttributes() override {
        if (attributes_ == nullptr) {
            attributes_ = createHostAttributeList();
        }
        return attributes_;
    }

private:
    std::optional<std::string> id_;
    IAttributeList* attributes_ = nullptr;
};

} // namespace

IAttributeList* createHostAttributeList() noexcept {
    return new (std::nothrow) HostAttributeList();
}

IMessage* createHostMessage() noexcept {
    return new (std::nothrow) HostMessage();
}

} // namespace velkaphon::rack::vst3
