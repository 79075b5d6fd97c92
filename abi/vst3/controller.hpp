#pragma once

// The edit controller, its parameters, and the host's handler for edits and restarts.

#include "abi/vst3/base.hpp"
#include "abi/vst3/processor.hpp"
#include "abi/vst3/view.hpp"

namespace velkaphon::rack::vst3 {

using UnitID = int32;

struct ParameterInfo {
    enum ParameterFlags : int32 {
        kNoFlags = 0,
        kCanAutomate = 1 << 0,
        kIsReadOnly = 1 << 1,
        kIsWrapAround = 1 << 2,
        kIsList = 1 << 3,
        kIsHidden = 1 << 4,
        kIsProgramChange = 1 << 15,
        kIsBypass = 1 << 16,
    };

    ParamID id;
    String128 title;
    String128 shortTitle;
    String128 units;
    int32 stepCount;
    ParamValue defaultNormalizedValue;
    UnitID unitId;
    int32 flags;
};

inline constexpr UnitID kRootUnitId = 0;

enum RestartFlags : int32 {
    kReloadComponent = 1 << 0,
    kIoChanged = 1 << 1,
    kParamValuesChanged = 1 << 2,
    kLatencyChanged = 1 << 3,
    kParamTitlesChanged = 1 << 4,
    kMidiCCAssignmentChanged = 1 << 5,
    kNoteExpressionChanged = 1 << 6,
    kIoTitlesChanged = 1 << 7,
    kPrefetchableSupportChanged = 1 << 8,
    kRoutingInfoChanged = 1 << 9,
    kKeyswitchChanged = 1 << 10,
    kParamIDMappingChanged = 1 << 11,
};

class IComponentHandler : public FUnknown {
public:
    static constexpr Uid iid = makeUid(0x93A0BEA3, 0x0BD045DB, 0x8E890B0C, 0xC1E46AC6);

    virtual tresult VELKAPHON_VST3_CALL beginEdit(ParamID id) = 0;
    virtual tresult VELKAPHON_VST3_CALL performEdit(ParamID id, ParamValue valueNormalized) = 0;
    virtual tresult VELKAPHON_VST3_CALL endEdit(ParamID id) = 0;
    virtual tresult VELKAPHON_VST3_CALL restartComponent(int32 flags) = 0;
};

class IEditController : public IPluginBase {
public:
    static constexpr Uid iid = makeUid(0xDCD7BBE3, 0x7742448D, 0xA874AACC, 0x979C759E);

    virtual tresult VELKAPHON_VST3_CALL setComponentState(IBStream* state) = 0;
    virtual tresult VELKAPHON_VST3_CALL setState(IBStream* state) = 0;
    virtual tresult VELKAPHON_VST3_CALL getState(IBStream* state) = 0;
    virtual int32 VELKAPHON_VST3_CALL getParameterCount() = 0;
    virtual tresult VELKAPHON_VST3_CALL getParameterInfo(int32 index, ParameterInfo& info) = 0;
    virtual tresult VELKAPHON_VST3_CALL getParamStringByValue(ParamID id,
                                                              ParamValue valueNormalized,
                                                              String128 string) = 0;
    virtual tresult VELKAPHON_VST3_CALL getParamValueByString(ParamID id, TChar* string,
                                                              ParamValue& valueNormalized) = 0;
    virtual ParamValue VELKAPHON_VST3_CALL normalizedParamToPlain(ParamID id,
                                                                  ParamValue valueNormalized) = 0;
    virtual ParamValue VELKAPHON_VST3_CALL plainParamToNormalized(ParamID id,
                                                                  ParamValue plainValue) = 0;
    virtual ParamValue VELKAPHON_VST3_CALL getParamNormalized(ParamID id) = 0;
    virtual tresult VELKAPHON_VST3_CALL setParamNormalized(ParamID id, ParamValue value) = 0;
    virtual tresult VELKAPHON_VST3_CALL setComponentHandler(IComponentHandler* handler) = 0;
    virtual IPlugView* VELKAPHON_VST3_CALL createView(FIDString name) = 0;
};

static_assert(sizeof(ParameterInfo) == 792);
static_assert(offsetof(ParameterInfo, title) == 4);
static_assert(offsetof(ParameterInfo, shortTitle) == 260);
static_assert(offsetof(ParameterInfo, units) == 516);
static_assert(offsetof(ParameterInfo, stepCount) == 772);
static_assert(offsetof(ParameterInfo, defaultNormalizedValue) == 776);
static_assert(offsetof(ParameterInfo, unitId) == 784);
static_assert(offsetof(ParameterInfo, flags) == 788);

} // namespace velkaphon::rack::vst3
