// The module's exports and its class factory. Build variants of this one source give the
// load-time failures the host must survive.

#include "abi/vst3/factory.hpp"
#include "abi/vst3/text.hpp"
#include "tests/plugins/vst3_test_plugin/plugin_log.hpp"
#include "tests/plugins/vst3_test_plugin/test_plugin_object.hpp"
#include "tests/plugins/vst3_test_plugin/test_view.hpp"
#include "tests/plugins/vst3_test_plugin/vst3_test_plugin_probe.hpp"

#include <atomic>
#include <new>
#include <stdexcept>
#include <string>

#ifdef _WIN32
#define VELKAPHON_TEST_EXPORT extern "C" __declspec(dllexport)
#else
#define VELKAPHON_TEST_EXPORT extern "C" __attribute__((visibility("default")))
#endif

#ifndef VELKAPHON_TEST_VST3_VARIANT
#define VELKAPHON_TEST_VST3_VARIANT 0
#endif

// The Linux-only variants find their own exports.
#if VELKAPHON_TEST_VST3_VARIANT == 8 || VELKAPHON_TEST_VST3_VARIANT == 9
#include <dlfcn.h>
#endif

namespace velkaphon::rack::testing {

using namespace vst3;

bool failsAt(Vst3TestStep step);

namespace {

enum class Variant {
    Normal = 0,
    InitFails = 1,
    NoClasses = 2,
    TooManyClasses = 3,
    ControllersOnly = 4,
    NoInitDll = 5,
    NoFactory = 6,
    ThrowingClassInfo = 7,
    // Linux modules: set up in "ModuleEntry" (without "InitDll" or "ExitDll"), or refuse there.
    ModuleEntry = 8,
    ModuleEntryRefuses = 9,
};

constexpr Variant kVariant = static_cast<Variant>(VELKAPHON_TEST_VST3_VARIANT);
constexpr bool kSetUpInModuleEntry =
    kVariant == Variant::ModuleEntry || kVariant == Variant::ModuleEntryRefuses;

// Set by "ModuleEntry": such a module has no classes before it, as one that builds its tables
// there.
std::atomic<bool> moduleEntered{false};

// Index 0 is the controller class, index 1 a class whose information is refused, and the audio
// classes follow.
constexpr int32 kFirstAudioIndex = 2;

std::atomic<IComponentHandler*> lastHandler{nullptr};
std::atomic<TestView*> lastView{nullptr};
std::atomic<TestPluginObject*> lastController{nullptr};

struct ClassEntry {
    bool exists = false;
    bool refused = false;
    bool controller = false;
    uint32 audioClass = 0;
};

int32 classCount() {
    if (kSetUpInModuleEntry && !moduleEntered.load()) {
        return 0;
    }
    switch (kVariant) {
    case Variant::NoClasses:
        return 0;
    case Variant::TooManyClasses:
        return 4097;
    case Variant::ControllersOnly:
        return 1;
    default:
        return kFirstAudioIndex + static_cast<int32>(kVst3TestClassCount);
    }
}

ClassEntry classAt(int32 index) {
    ClassEntry entry;
    if (index < 0 || index >= classCount()) {
        return entry;
    }
    entry.exists = true;
    if (index == 0 || kVariant == Variant::ControllersOnly) {
        entry.controller = true;
    } else if (index == 1) {
        entry.refused = true;
    } else {
        entry.audioClass = static_cast<uint32>((index - kFirstAudioIndex) %
                                               static_cast<int32>(kVst3TestClassCount));
    }
    return entry;
}

Uid classIdOf(const ClassEntry& entry) {
    return vst3TestClassId(entry.controller ? kVst3TestControllerIndex : entry.audioClass);
}

const char* classNameOf(const ClassEntry& entry) {
    return entry.controller ? "Test Controller" : testBehaviour(entry.audioClass)->name;
}

const char* categoryOf(const ClassEntry& entry) {
    return entry.controller ? kVstComponentControllerClass : kVstAudioEffectClass;
}

class TestFactory final : public IPluginFactory3 {
public:
    tresult VELKAPHON_VST3_CALL queryInterface(const TUID iid, void** object) override {
        if (object == nullptr) {
            return kInvalidArgument;
        }
        if (sameUid(iid, FUnknown::iid) || sameUid(iid, IPluginFactory::iid) ||
            sameUid(iid, IPluginFactory2::iid) || sameUid(iid, IPluginFactory3::iid)) {
            addRef();
            *object = static_cast<IPluginFactory3*>(this);
            return kResultOk;
        }
        *object = nullptr;
        return kNoInterface;
    }

    uint32 VELKAPHON_VST3_CALL addRef() override { return references_.fetch_add(1) + 1; }

    uint32 VELKAPHON_VST3_CALL release() override {
        const uint32 left = references_.fetch_sub(1) - 1;
        if (left == 0) {
            writePluginLog("factory released");
        }
        return left;
    }

    tresult VELKAPHON_VST3_CALL getFactoryInfo(PFactoryInfo* info) override {
        if (info == nullptr) {
            return kInvalidArgument;
        }
        copyText(info->vendor, "VELKAPHON Tests");
        copyText(info->url, "https://velkaphon.example/tests");
        copyText(info->email, "tests@velkaphon.example");
        info->flags = PFactoryInfo::kUnicode;
        return kResultOk;
    }

    int32 VELKAPHON_VST3_CALL countClasses() override { return classCount(); }

    tresult VELKAPHON_VST3_CALL getClassInfo(int32 index, PClassInfo* info) override {
        if (kVariant == Variant::ThrowingClassInfo) {
            throw std::runtime_error("The test factory failed on purpose.");
        }
        const ClassEntry entry = classAt(index);
        if (info == nullptr || !entry.exists) {
            return kInvalidArgument;
        }
        if (entry.refused) {
            return kResultFalse;
        }
        const Uid cid = classIdOf(entry);
        std::copy(cid.begin(), cid.end(), info->cid);
        info->cardinality = PClassInfo::kManyInstances;
        copyText(info->category, categoryOf(entry));
        copyText(info->name, classNameOf(entry));
        return kResultOk;
    }

    tresult VELKAPHON_VST3_CALL getClassInfo2(int32 index, PClassInfo2* info) override {
        PClassInfo basic{};
        const tresult result = info == nullptr ? kInvalidArgument : getClassInfo(index, &basic);
        if (result != kResultOk) {
            return result;
        }
        std::copy(std::begin(basic.cid), std::end(basic.cid), info->cid);
        info->cardinality = basic.cardinality;
        std::copy(std::begin(basic.category), std::end(basic.category), info->category);
        std::copy(std::begin(basic.name), std::end(basic.name), info->name);
        info->classFlags = 0;
        copyText(info->subCategories, "Fx");
        copyText(info->vendor, "VELKAPHON Tests");
        copyText(info->version, "1.0.0");
        copyText(info->sdkVersion, "VST 3.8.1");
        return kResultOk;
    }

    tresult VELKAPHON_VST3_CALL getClassInfoUnicode(int32 index, PClassInfoW* info) override {
        PClassInfo2 narrow{};
        const tresult result = info == nullptr ? kInvalidArgument : getClassInfo2(index, &narrow);
        if (result != kResultOk) {
            return result;
        }
        std::copy(std::begin(narrow.cid), std::end(narrow.cid), info->cid);
        info->cardinality = narrow.cardinality;
        std::copy(std::begin(narrow.category), std::end(narrow.category), info->category);
        copyText(info->name, textOf(narrow.name, sizeof(narrow.name)));
        info->classFlags = 0;
        std::copy(std::begin(narrow.subCategories), std::end(narrow.subCategories),
                  info->subCategories);
        copyText(info->vendor, textOf(narrow.vendor, sizeof(narrow.vendor)));
        copyText(info->version, textOf(narrow.version, sizeof(narrow.version)));
        copyText(info->sdkVersion, textOf(narrow.sdkVersion, sizeof(narrow.sdkVersion)));
        return kResultOk;
    }

    tresult VELKAPHON_VST3_CALL setHostContext(FUnknown*) override { return kResultOk; }

    tresult VELKAPHON_VST3_CALL createInstance(FIDString cid, FIDString iid,
                                               void** object) override {
        if (object == nullptr) {
            return kInvalidArgument;
        }
        *object = nullptr;
        if (cid == nullptr || iid == nullptr) {
            return kInvalidArgument;
        }
        TestPluginObject* created = nullptr;
        const auto separate = static_cast<uint32>(Vst3TestClass::SeparateController);
        const bool controller = sameUid(cid, vst3TestClassId(kVst3TestControllerIndex));
        if (failsAt(controller ? Vst3TestStep::CreateController : Vst3TestStep::CreateComponent)) {
            return kResultFalse;
        }
        if (controller) {
            created = new (std::nothrow)
                TestPluginObject(TestPluginObject::Role::Controller, *testBehaviour(separate));
        } else {
            for (uint32 i = 0; i < kVst3TestClassCount && created == nullptr; ++i) {
                if (sameUid(cid, vst3TestClassId(i))) {
                    created = new (std::nothrow)
                        TestPluginObject(TestPluginObject::Role::Component, *testBehaviour(i));
                }
            }
        }
        if (created == nullptr) {
            return kResultFalse;
        }
        const tresult result = created->queryInterface(iid, object);
        created->release();
        return result;
    }

private:
    std::atomic<uint32> references_{0};
};

TestFactory factory;

// Runs when the module is unloaded, last of all.
struct UnloadLog {
    ~UnloadLog() { writePluginLog("unloaded"); }
} unloadLog;

tresult performEditOnLastHandler(uint32 id, double value) {
    IComponentHandler* handler = lastHandler.load();
    return handler != nullptr ? handler->performEdit(id, value) : kResultFalse;
}

tresult resizeLastView(int32 width, int32 height) {
    TestView* view = lastView.load();
    return view != nullptr ? view->requestSize(width, height) : kResultFalse;
}

void setZoomOfLastController(double zoom) {
    if (TestPluginObject* controller = lastController.load()) {
        controller->setViewZoom(zoom);
    }
}

tresult restartOnLastHandler(int32 flags) {
    IComponentHandler* handler = lastHandler.load();
    return handler != nullptr ? handler->restartComponent(flags) : kResultFalse;
}

} // namespace

Vst3TestProbe& testProbe() {
    static Vst3TestProbe probe{};
    probe.performEdit = performEditOnLastHandler;
    probe.restartComponent = restartOnLastHandler;
    probe.resizeView = resizeLastView;
    probe.setViewZoom = setZoomOfLastController;
    return probe;
}

void rememberHandler(IComponentHandler* handler) {
    lastHandler.store(handler);
}

void rememberView(TestView* view) {
    lastView.store(view);
}

void rememberController(TestPluginObject* controller) {
    lastController.store(controller);
}

// Only while it is still the most recent one.
void forgetController(TestPluginObject* controller) {
    lastController.compare_exchange_strong(controller, nullptr);
}

} // namespace velkaphon::rack::testing

using velkaphon::rack::testing::testProbe;
using velkaphon::rack::testing::writePluginLog;

#if VELKAPHON_TEST_VST3_VARIANT == 8 || VELKAPHON_TEST_VST3_VARIANT == 9
// Sets up only when given its own library handle.
VELKAPHON_TEST_EXPORT bool ModuleEntry(void* libraryHandle) {
    writePluginLog("ModuleEntry");
    if (VELKAPHON_TEST_VST3_VARIANT == 9 ||
        dlsym(libraryHandle, "ModuleEntry") != reinterpret_cast<void*>(&ModuleEntry)) {
        return false;
    }
    velkaphon::rack::testing::moduleEntered.store(true);
    return true;
}

VELKAPHON_TEST_EXPORT bool ModuleExit() {
    writePluginLog("ModuleExit");
    return true;
}
#else
#if VELKAPHON_TEST_VST3_VARIANT != 5
VELKAPHON_TEST_EXPORT bool VELKAPHON_VST3_CALL InitDll() {
    testProbe().initDllCalls.fetch_add(1);
    writePluginLog("InitDll");
    return VELKAPHON_TEST_VST3_VARIANT != 1;
}
#endif

VELKAPHON_TEST_EXPORT bool VELKAPHON_VST3_CALL ExitDll() {
    testProbe().exitDllCalls.fetch_add(1);
    writePluginLog("ExitDll");
    return true;
}
#endif

VELKAPHON_TEST_EXPORT velkaphon::rack::vst3::IPluginFactory* VELKAPHON_VST3_CALL
GetPluginFactory() {
    writePluginLog("GetPluginFactory");
    if (VELKAPHON_TEST_VST3_VARIANT == 6) {
        return nullptr;
    }
    velkaphon::rack::testing::factory.addRef();
    return &velkaphon::rack::testing::factory;
}

VELKAPHON_TEST_EXPORT velkaphon::rack::testing::Vst3TestProbe* velkaphonVst3TestProbe() {
    return &testProbe();
}
