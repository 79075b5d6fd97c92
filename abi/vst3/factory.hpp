#pragma once

// The module's class factory and its descriptive records.

#include "abi/vst3/base.hpp"

namespace velkaphon::rack::vst3 {

inline constexpr const char* kVstAudioEffectClass = "Audio Module Class";
inline constexpr const char* kVstComponentControllerClass = "Component Controller Class";

struct PFactoryInfo {
    enum FactoryFlags : int32 {
        kNoFlags = 0,
        kClassesDiscardable = 1 << 0,
        kLicenseCheck = 1 << 1,
        kComponentNonDiscardable = 1 << 3,
        kUnicode = 1 << 4,
    };

    char8 vendor[64];
    char8 url[256];
    char8 email[128];
    int32 flags;
};

struct PClassInfo {
    enum ClassCardinality : int32 { kManyInstances = 0x7FFFFFFF };

    TUID cid;
    int32 cardinality;
    char8 category[32];
    char8 name[64];
};

struct PClassInfo2 {
    TUID cid;
    int32 cardinality;
    char8 category[32];
    char8 name[64];
    uint32 classFlags;
    char8 subCategories[128];
    char8 vendor[64];
    char8 version[64];
    char8 sdkVersion[64];
};

struct PClassInfoW {
    TUID cid;
    int32 cardinality;
    char8 category[32];
    char16 name[64];
    uint32 classFlags;
    char8 subCategories[128];
    char16 vendor[64];
    char16 version[64];
    char16 sdkVersion[64];
};

class IPluginFactory : public FUnknown {
public:
    static constexpr Uid iid = makeUid(0x7A4D811C, 0x52114A1F, 0xAED9D2EE, 0x0B43BF9F);

    virtual tresult VELKAPHON_VST3_CALL getFactoryInfo(PFactoryInfo* info) = 0;
    virtual int32 VELKAPHON_VST3_CALL countClasses() = 0;
    virtual tresult VELKAPHON_VST3_CALL getClassInfo(int32 index, PClassInfo* info) = 0;
    virtual tresult VELKAPHON_VST3_CALL createInstance(FIDString cid, FIDString iid,
                                                       void** object) = 0;
};

class IPluginFactory2 : public IPluginFactory {
public:
    static constexpr Uid iid = makeUid(0x0007B650, 0xF24B4C0B, 0xA464EDB9, 0xF00B2ABB);

    virtual tresult VELKAPHON_VST3_CALL getClassInfo2(int32 index, PClassInfo2* info) = 0;
};

class IPluginFactory3 : public IPluginFactory2 {
public:
    static constexpr Uid iid = makeUid(0x4555A2AB, 0xC1234E57, 0x9B122910, 0x36878931);

    virtual tresult VELKAPHON_VST3_CALL getClassInfoUnicode(int32 index, PClassInfoW* info) = 0;
    virtual tresult VELKAPHON_VST3_CALL setHostContext(FUnknown* context) = 0;
};

// What a module's "InitDll", "ExitDll" and "GetPluginFactory" exports are.
using InitModuleFunction = bool(VELKAPHON_VST3_CALL*)();
using ExitModuleFunction = bool(VELKAPHON_VST3_CALL*)();
using GetFactoryFunction = IPluginFactory*(VELKAPHON_VST3_CALL*)();
// What a Linux module's "ModuleEntry" export is; it is given the module's own library handle.
// Its partner "ModuleExit" is an ExitModuleFunction.
using ModuleEntryFunction = bool (*)(void* libraryHandle);

static_assert(sizeof(PFactoryInfo) == 452);
static_assert(offsetof(PFactoryInfo, flags) == 448);
static_assert(sizeof(PClassInfo) == 116);
static_assert(offsetof(PClassInfo, category) == 20);
static_assert(offsetof(PClassInfo, name) == 52);
static_assert(sizeof(PClassInfo2) == 440);
static_assert(offsetof(PClassInfo2, classFlags) == 116);
static_assert(offsetof(PClassInfo2, subCategories) == 120);
static_assert(offsetof(PClassInfo2, sdkVersion) == 376);
static_assert(sizeof(PClassInfoW) == 696);
static_assert(offsetof(PClassInfoW, classFlags) == 180);
static_assert(offsetof(PClassInfoW, vendor) == 312);
static_assert(offsetof(PClassInfoW, sdkVersion) == 568);

} // namespace velkaphon::rack::vst3
