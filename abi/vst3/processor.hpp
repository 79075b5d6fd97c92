#pragma once

// The audio processor and the records that one block passes through it: buffers, parameter
// changes, events and the transport context.

#include "abi/vst3/base.hpp"
#include "abi/vst3/component.hpp"

namespace velkaphon::rack::vst3 {

using ParamID = uint32;
using ParamValue = double;
using SampleRate = double;
using TSamples = int64;
using TQuarterNotes = double;
using Sample32 = float;
using Sample64 = double;
using SpeakerArrangement = uint64;

namespace SpeakerArr {
inline constexpr SpeakerArrangement kEmpty = 0;
inline constexpr SpeakerArrangement kMono = 1 << 19;
inline constexpr SpeakerArrangement kStereo = (1 << 0) | (1 << 1);
} // namespace SpeakerArr

enum ProcessModes : int32 { kRealtime = 0, kPrefetch = 1, kOffline = 2 };
enum SymbolicSampleSizes : int32 { kSample32 = 0, kSample64 = 1 };

inline constexpr uint32 kNoTail = 0;
inline constexpr uint32 kInfiniteTail = 0xFFFFFFFF;

struct ProcessSetup {
    int32 processMode;
    int32 symbolicSampleSize;
    int32 maxSamplesPerBlock;
    SampleRate sampleRate;
};

struct AudioBusBuffers {
    int32 numChannels = 0;
    // Bit c set: channel c holds only zeros.
    uint64 silenceFlags = 0;
    union {
        Sample32** channelBuffers32 = nullptr;
        Sample64** channelBuffers64;
    };
};

struct Chord {
    uint8 keyNote;
    uint8 rootNote;
    int16 chordMask;
};

struct FrameRate {
    uint32 framesPerSecond;
    uint32 flags;
};

struct ProcessContext {
    enum StatesAndFlags : uint32 {
        kPlaying = 1 << 1,
        kCycleActive = 1 << 2,
        kRecording = 1 << 3,
        kSystemTimeValid = 1 << 8,
        kProjectTimeMusicValid = 1 << 9,
        kTempoValid = 1 << 10,
        kBarPositionValid = 1 << 11,
        kCycleValid = 1 << 12,
        kTimeSigValid = 1 << 13,
        kSmpteValid = 1 << 14,
        kClockValid = 1 << 15,
        kContTimeValid = 1 << 17,
        kChordValid = 1 << 18,
    };

    uint32 state;
    double sampleRate;
    TSamples projectTimeSamples;
    int64 systemTime;
    TSamples continousTimeSamples;
    TQuarterNotes projectTimeMusic;
    TQuarterNotes barPositionMusic;
    TQuarterNotes cycleStartMusic;
    TQuarterNotes cycleEndMusic;
    double tempo;
    int32 timeSigNumerator;
    int32 timeSigDenominator;
    Chord chord;
    int32 smpteOffsetSubframes;
    FrameRate frameRate;
    int32 samplesToNextClock;
};

struct NoteOnEvent {
    int16 channel;
    int16 pitch;
    float tuning;
    float velocity;
    int32 length;
    int32 noteId;
};

struct NoteOffEvent {
    int16 channel;
    int16 pitch;
    float velocity;
    int32 noteId;
    float tuning;
};

struct DataEvent {
    enum DataTypes : uint32 { kMidiSysEx = 0 };

    uint32 size;
    uint32 type;
    const uint8* bytes;
};

// The 48-byte record every event list holds; the kinds we do not speak keep their room.
struct Event {
    enum EventFlags : uint16 { kIsLive = 1 << 0 };
    enum EventTypes : uint16 {
        kNoteOnEvent = 0,
        kNoteOffEvent = 1,
        kDataEvent = 2,
        kPolyPressureEvent = 3,
        kNoteExpressionValueEvent = 4,
        kNoteExpressionTextEvent = 5,
        kChordEvent = 6,
        kScaleEvent = 7,
        kLegacyMIDICCOutEvent = 65535,
    };

    int32 busIndex;
    int32 sampleOffset;
    TQuarterNotes ppqPosition;
    uint16 flags;
    uint16 type;
    union {
        NoteOnEvent noteOn;
        NoteOffEvent noteOff;
        DataEvent data;
        alignas(8) uint8 payload[24];
    };
};

class IParamValueQueue : public FUnknown {
public:
    static constexpr Uid iid = makeUid(0x01263A18, 0xED074F6F, 0x98C9D356, 0x4686F9BA);

    virtual ParamID VELKAPHON_VST3_CALL getParameterId() = 0;
    virtual int32 VELKAPHON_VST3_CALL getPointCount() = 0;
    virtual tresult VELKAPHON_VST3_CALL getPoint(int32 index, int32& sampleOffset,
                                                 ParamValue& value) = 0;
    virtual tresult VELKAPHON_VST3_CALL addPoint(int32 sampleOffset, ParamValue value,
                                                 int32& index) = 0;
};

class IParameterChanges : public FUnknown {
public:
    static constexpr Uid iid = makeUid(0xA4779663, 0x0BB64A56, 0xB44384A8, 0x466FEB9D);

    virtual int32 VELKAPHON_VST3_CALL getParameterCount() = 0;
    virtual IParamValueQueue* VELKAPHON_VST3_CALL getParameterData(int32 index) = 0;
    virtual IParamValueQueue* VELKAPHON_VST3_CALL addParameterData(const ParamID& id,
                                                                   int32& index) = 0;
};

class IEventList : public FUnknown {
public:
    static constexpr Uid iid = makeUid(0x3A2C4214, 0x346349FE, 0xB2C4F397, 0xB9695A44);

    virtual int32 VELKAPHON_VST3_CALL getEventCount() = 0;
    virtual tresult VELKAPHON_VST3_CALL getEvent(int32 index, Event& event) = 0;
    virtual tresult VELKAPHON_VST3_CALL addEvent(Event& event) = 0;
};

struct ProcessData {
    int32 processMode = kRealtime;
    int32 symbolicSampleSize = kSample32;
    int32 numSamples = 0;
    int32 numInputs = 0;
    int32 numOutputs = 0;
    AudioBusBuffers* inputs = nullptr;
    AudioBusBuffers* outputs = nullptr;
    IParameterChanges* inputParameterChanges = nullptr;
    IParameterChanges* outputParameterChanges = nullptr;
    IEventList* inputEvents = nullptr;
    IEventList* outputEvents = nullptr;
    ProcessContext* processContext = nullptr;
};

class IAudioProcessor : public FUnknown {
public:
    static constexpr Uid iid = makeUid(0x42043F99, 0xB7DA453C, 0xA569E79D, 0x9AAEC33D);

    virtual tresult VELKAPHON_VST3_CALL setBusArrangements(SpeakerArrangement* inputs, int32 numIns,
                                                           SpeakerArrangement* outputs,
                                                           int32 numOuts) = 0;
    virtual tresult VELKAPHON_VST3_CALL getBusArrangement(BusDirection direction, int32 index,
                                                          SpeakerArrangement& arrangement) = 0;
    virtual tresult VELKAPHON_VST3_CALL canProcessSampleSize(int32 symbolicSampleSize) = 0;
    virtual uint32 VELKAPHON_VST3_CALL getLatencySamples() = 0;
    virtual tresult VELKAPHON_VST3_CALL setupProcessing(ProcessSetup& setup) = 0;
    virtual tresult VELKAPHON_VST3_CALL setProcessing(TBool state) = 0;
    virtual tresult VELKAPHON_VST3_CALL process(ProcessData& data) = 0;
    virtual uint32 VELKAPHON_VST3_CALL getTailSamples() = 0;
};

class IProcessContextRequirements : public FUnknown {
public:
    static constexpr Uid iid = makeUid(0x2A654303, 0xEF764E3D, 0x95B5FE83, 0x730EF6D0);

    enum Flags : uint32 {
        kNeedSystemTime = 1 << 0,
        kNeedContinousTimeSamples = 1 << 1,
        kNeedProjectTimeMusic = 1 << 2,
        kNeedBarPositionMusic = 1 << 3,
        kNeedCycleMusic = 1 << 4,
        kNeedSamplesToNextClock = 1 << 5,
        kNeedTempo = 1 << 6,
        kNeedTimeSignature = 1 << 7,
        kNeedChord = 1 << 8,
        kNeedFrameRate = 1 << 9,
        kNeedTransportState = 1 << 10,
    };

    virtual uint32 VELKAPHON_VST3_CALL getProcessContextRequirements() = 0;
};

static_assert(sizeof(ProcessSetup) == 24);
static_assert(offsetof(ProcessSetup, sampleRate) == 16);
static_assert(sizeof(AudioBusBuffers) == 24);
static_assert(offsetof(AudioBusBuffers, silenceFlags) == 8);
static_assert(offsetof(AudioBusBuffers, channelBuffers32) == 16);
static_assert(sizeof(ProcessContext) == 112);
static_assert(offsetof(ProcessContext, sampleRate) == 8);
static_assert(offsetof(ProcessContext, continousTimeSamples) == 32);
static_assert(offsetof(ProcessContext, projectTimeMusic) == 40);
static_assert(offsetof(ProcessContext, tempo) == 72);
static_assert(offsetof(ProcessContext, chord) == 88);
static_assert(offsetof(ProcessContext, frameRate) == 96);
static_assert(offsetof(ProcessContext, samplesToNextClock) == 104);
static_assert(sizeof(NoteOnEvent) == 20);
static_assert(sizeof(NoteOffEvent) == 16);
static_assert(sizeof(DataEvent) == 16);
static_assert(offsetof(DataEvent, bytes) == 8);
static_assert(sizeof(Event) == 48);
static_assert(offsetof(Event, ppqPosition) == 8);
static_assert(offsetof(Event, flags) == 16);
static_assert(offsetof(Event, type) == 18);
static_assert(offsetof(Event, noteOn) == 24);
static_assert(sizeof(ProcessData) == 80);
static_assert(offsetof(ProcessData, inputs) == 24);
static_assert(offsetof(ProcessData, inputParameterChanges) == 40);
static_assert(offsetof(ProcessData, inputEvents) == 56);
static_assert(offsetof(ProcessData, processContext) == 72);

} // namespace velkaphon::rack::vst3
