#include "plugin/plugin_factory.hpp"

#include "abi/vst3/counted_object.hpp"
#include "abi/vst3/text.hpp"
#include "app/rack_application.hpp"
#include "plugin/rack_processor.hpp"

#include <new>

namespace velkaphon::rack {

namespace {

constexpr const char* kVendor = "VELKAPHON";
constexpr const char* kVendorUrl = "https://www.velkaphon.example";
constexpr const char* kVendorEmail = "support@velkaphon.example";
constexpr const char* kSubCategories = "Fx|Tools";
constexpr const char* kSdkVersion = "VST 3.8.1";

const vst3::PFactoryInfo& factoryInfo() {
    static const vst3::PFactoryInfo info = [] {
        vst3::PFactoryInfo filled{};
        vst3::copyText(filled.vendor, kVendor);
        vst3::copyText(filled.url, kVendorUrl);
        vst3::copyText(filled.email, kVendorEmail);
        filled.flags = vst3::PFactoryInfo::kUnicode;
        return filled;
    }();
    return info;
}

// Filled once per process, whatever happens to the factories.
const vst3::PClassInfo2& classInfo() {
    static const vst3::PClassInfo2 info = [] {
        vst3::PClassInfo2 filled{};
        std::copy(kRackProcessorClassId.begin(), kRackProcessorClassId.end(), filled.cid);
        filled.cardinality = vst3::PClassInfo::kManyInstances;
        vst3::copyText(filled.category, vst3::kVstAudioEffectClass);
        vst3::copyText(filled.name, kProductTitle);
        filled.classFlags = 0;
        vst3::copyText(filled.subCategories, kSubCategories);
        vst3::copyText(filled.vendor, "");
        vst3::copyText(filled.version, kProductVersion);
        vst3::copyText(filled.sdkVersion, kSdkVersion);
        return filled;
    }();
    return info;
}

class RackPluginFactory;

// No lock: the host makes its first call before it creates instances.
RackPluginFactory* currentFactory = nullptr;

class RackPluginFactory final
    : public vst3::CountedObject<vst3::IPluginFactory3, vst3::IPluginFactory,
                                 vst3::IPluginFactory2> {
public:
    ~RackPluginFactory() override {
        if (currentFactory == this) {
            currentFactory = nullptr;
        }
    }

    vst3::tresult VELKAPHON_VST3_CALL getFactoryInfo(vst3::PFactoryInfo* info) override {
        if (info == nullptr) {
            return vst3::kInvalidArgument;
        }
        *info = factoryInfo();
        return vst3::kResultOk;
    }

    vst3::int32 VELKAPHON_VST3_CALL countClasses() override { return 1; }

    vst3::tresult VELKAPHON_VST3_CALL getClassInfo(vst3::int32 index,
                                                   vst3::PClassInfo* info) override {
        if (info == nullptr || index != 0) {
            return vst3::kInvalidArgument;
        }
        const vst3::PClassInfo2& full = classInfo();
        std::copy(std::begin(full.cid), std::end(full.cid), info->cid);
        info->cardinality = full.cardinality;
        std::copy(std::begin(full.category), std::end(full.category), info->category);
        std::copy(std::begin(full.name), std::end(full.name), info->name);
        return vst3::kResultOk;
    }

    vst3::tresult VELKAPHON_VST3_CALL getClassInfo2(vst3::int32 index,
                                                    vst3::PClassInfo2* info) override {
        if (info == nullptr || index != 0) {
            return vst3::kInvalidArgument;
        }
        *info = classInfo();
        return vst3::kResultOk;
    }

    vst3::tresult VELKAPHON_VST3_CALL getClassInfoUnicode(vst3::int32 index,
                                                          vst3::PClassInfoW* info) override {
        if (info == nullptr || index != 0) {
            return vst3::kInvalidArgument;
        }
        const vst3::PClassInfo2& full = classInfo();
        *info = {};
        std::copy(std::begin(full.cid), std::end(full.cid), info->cid);
        info->cardinality = full.cardinality;
        std::copy(std::begin(full.category), std::end(full.category), info->category);
        vst3::copyText(info->name, kProductTitle);
        info->classFlags = full.classFlags;
        std::copy(std::begin(full.subCategories), std::end(full.subCategories),
                  info->subCategories);
        vst3::copyText(info->vendor, "");
        vst3::copyText(info->version, kProductVersion);
        vst3::copyText(info->sdkVersion, kSdkVersion);
        return vst3::kResultOk;
    }

    vst3::tresult VELKAPHON_VST3_CALL setHostContext(vst3::FUnknown* /*context*/) override {
        return vst3::kNotImplemented;
    }

    // Nothing escapes into the host: a failing constructor becomes a result code.
    vst3::tresult VELKAPHON_VST3_CALL createInstance(vst3::FIDString cid, vst3::FIDString iid,
                                                     void** object) override {
        if (object == nullptr) {
            return vst3::kInvalidArgument;
        }
        *object = nullptr;
        if (iid == nullptr || !vst3::sameUid(cid, kRackProcessorClassId)) {
            return vst3::kInvalidArgument;
        }
        try {
            vst3::FUnknown* instance = createRackProcessor(nullptr);
            if (instance == nullptr) {
                return vst3::kOutOfMemory;
            }
            const vst3::tresult result = instance->queryInterface(iid, object);
            instance->release();
            return result;
        } catch (const std::bad_alloc&) {
            return vst3::kOutOfMemory;
        } catch (...) {
            return vst3::kInternalError;
        }
    }
};

} // namespace

vst3::IPluginFactory* rackPluginFactory() {
    if (currentFactory != nullptr) {
        currentFactory->addRef();
        return currentFactory;
    }
    classInfo();
    currentFactory = new RackPluginFactory();
    return currentFactory;
}

vst3::FUnknown* createRackProcessor(void* /*context*/) {
    auto* processor = new (std::nothrow) RackProcessor();
    if (processor == nullptr) {
        return nullptr;
    }
    return static_cast<vst3::IComponent*>(processor);
}

} // namespace velkaphon::rack
