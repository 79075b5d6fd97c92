#pragma once

// The processing component, its buses, and the messaging between component and controller.

#include "abi/vst3/base.hpp"

namespace velkaphon::rack::vst3 {

using MediaType = int32;
using BusDirection = int32;
using BusType = int32;
using IoMode = int32;

enum MediaTypes : MediaType { kAudio = 0, kEvent = 1 };
enum BusDirections : BusDirection { kInput = 0, kOutput = 1 };
enum BusTypes : BusType { kMain = 0, kAux = 1 };
enum IoModes : IoMode { kSimple = 0, kAdvanced = 1, kOfflineProcessing = 2 };

struct BusInfo {
    enum BusFlags : uint32 { kDefaultActive = 1 << 0, kIsControlVoltage = 1 << 1 };

    MediaType mediaType;
    BusDirection direction;
    int32 channelCount;
    String128 name;
    BusType busType;
    uint32 flags;
};

struct RoutingInfo {
    MediaType mediaType;
    int32 busIndex;
    int32 channel;
};

class IComponent : public IPluginBase {
public:
    static constexpr Uid iid = makeUid(0xE831FF31, 0xF2D54301, 0x928EBBEE, 0x25697802);

    virtual tresult VELKAPHON_VST3_CALL getControllerClassId(TUID classId) = 0;
    virtual tresult VELKAPHON_VST3_CALL setIoMode(IoMode mode) = 0;
    virtual int32 VELKAPHON_VST3_CALL getBusCount(MediaType type, BusDirection direction) = 0;
    virtual tresult VELKAPHON_VST3_CALL getBusInfo(MediaType type, BusDirection direction,
                                                   int32 index, BusInfo& bus) = 0;
    virtual tresult VELKAPHON_VST3_CALL getRoutingInfo(RoutingInfo& inInfo,
                                                       RoutingInfo& outInfo) = 0;
    virtual tresult VELKAPHON_VST3_CALL activateBus(MediaType type, BusDirection direction,
                                                    int32 index, TBool state) = 0;
    virtual tresult VELKAPHON_VST3_CALL setActive(TBool state) = 0;
    virtual tresult VELKAPHON_VST3_CALL setState(IBStream* state) = 0;
    virtual tresult VELKAPHON_VST3_CALL getState(IBStream* state) = 0;
};

// Attribute keys are NUL-terminated ASCII.
using AttrID = const char*;

class IAttributeList : public FUnknown {
public:
    static constexpr Uid iid = makeUid(0x1E5F0AEB, 0xCC7F4533, 0xA2544011, 0x38AD5EE4);

    virtual tresult VELKAPHON_VST3_CALL setInt(AttrID id, int64 value) = 0;
    virtual tresult VELKAPHON_VST3_CALL getInt(AttrID id, int64& value) = 0;
    virtual tresult VELKAPHON_VST3_CALL setFloat(AttrID id, double value) = 0;
    virtual tresult VELKAPHON_VST3_CALL getFloat(AttrID id, double& value) = 0;
    virtual tresult VELKAPHON_VST3_CALL setString(AttrID id, const TChar* string) = 0;
    // sizeInBytes is the size of the whole buffer, terminating NUL included.
    virtual tresult VELKAPHON_VST3_CALL getString(AttrID id, TChar* string, uint32 sizeInBytes) = 0;
    virtual tresult VELKAPHON_VST3_CALL setBinary(AttrID id, const void* data,
                                                  uint32 sizeInBytes) = 0;
    virtual tresult VELKAPHON_VST3_CALL getBinary(AttrID id, const void*& data,
                                                  uint32& sizeInBytes) = 0;
};

class IMessage : public FUnknown {
public:
    static constexpr Uid iid = makeUid(0x936F033B, 0xC6C047DB, 0xBB0882F8, 0x13C1E613);

    virtual FIDString VELKAPHON_VST3_CALL getMessageID() = 0;
    virtual void VELKAPHON_VST3_CALL setMessageID(FIDString id) = 0;
    virtual IAttributeList* VELKAPHON_VST3_CALL getAttributes() = 0;
};

class IConnectionPoint : public FUnknown {
public:
    static constexpr Uid iid = makeUid(0x70A4156F, 0x6E6E4026, 0x989148BF, 0xAA60D8D1);

    virtual tresult VELKAPHON_VST3_CALL connect(IConnectionPoint* other) = 0;
    virtual tresult VELKAPHON_VST3_CALL disconnect(IConnectionPoint* other) = 0;
    virtual tresult VELKAPHON_VST3_CALL notify(IMessage* message) = 0;
};

static_assert(sizeof(BusInfo) == 276);
static_assert(offsetof(BusInfo, channelCount) == 8);
static_assert(offsetof(BusInfo, name) == 12);
static_assert(offsetof(BusInfo, busType) == 268);
static_assert(offsetof(BusInfo, flags) == 272);
static_assert(sizeof(RoutingInfo) == 12);

} // namespace velkaphon::rack::vst3
