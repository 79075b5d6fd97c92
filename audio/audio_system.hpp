#pragma once

#include "audio/hresult.hpp"
#include "audio/wave_format.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace velkaphon::rack {

// The one seam between the back end's logic and the system: COM, kernel events and waits,
// MMCSS and the Core Audio objects, each call shaped after the Windows call it stands for and
// answering with its HRESULT. Windows implements it with WASAPI; Linux with simulated endpoints.

enum class DataFlow : std::uint32_t { Render = 0, Capture = 1 };
enum class ShareMode : std::uint32_t { Shared = 0, Exclusive = 1 };
enum class WaitResult { Signalled, TimedOut, Failed };
enum class DeviceProperty { FriendlyName, ContainerId };

constexpr std::uint32_t kStreamFlagsEventCallback = 0x00040000;
constexpr std::uint32_t kBufferFlagsDataDiscontinuity = 0x1;
constexpr std::uint32_t kBufferFlagsSilent = 0x2;
constexpr std::uint32_t kBufferFlagsTimestampError = 0x4;
constexpr std::uint32_t kWaitForever = 0xFFFFFFFF;

// A kernel event: a HANDLE on Windows.
using SystemEvent = void*;
// An MMCSS registration: a HANDLE on Windows.
using ProAudioTask = void*;

// A property value as far as the back end reads one: text, a GUID, or something else.
struct PropertyValue {
    enum class Kind { Empty, Text, Guid, Other };
    Kind kind = Kind::Empty;
    std::u16string text;
    Guid guid;
};

// A stream format as the system hands it out: a WAVEFORMATEX with its extra bytes.
using WaveFormatBytes = std::vector<std::uint8_t>;

inline const WaveFormatEx* asWaveFormat(const WaveFormatBytes& bytes) {
    return bytes.size() < sizeof(WaveFormatEx)
               ? nullptr
               : reinterpret_cast<const WaveFormatEx*>(bytes.data());
}

// IAudioClock.
class AudioClockApi {
public:
    virtual ~AudioClockApi() = default;
    virtual Hresult getFrequency(std::uint64_t& frequency) = 0;
    virtual Hresult getPosition(std::uint64_t& position, std::uint64_t& qpcPosition) = 0;
};

// IAudioRenderClient.
class AudioRenderApi {
public:
    virtual ~AudioRenderApi() = default;
    virtual Hresult getBuffer(std::uint32_t frames, std::uint8_t*& data) = 0;
    virtual Hresult releaseBuffer(std::uint32_t frames, std::uint32_t flags) = 0;
};

// IAudioCaptureClient.
class AudioCaptureApi {
public:
    virtual ~AudioCaptureApi() = default;
    virtual Hresult getBuffer(std::uint8_t*& data, std::uint32_t& frames, std::uint32_t& flags,
                              std::uint64_t& devicePosition, std::uint64_t& qpcPosition) = 0;
    virtual Hresult releaseBuffer(std::uint32_t frames) = 0;
    virtual Hresult getNextPacketSize(std::uint32_t& frames) = 0;
};

// IAudioClient, with the IAudioClient3 calls behind queryLowLatency.
class AudioClientApi {
public:
    virtual ~AudioClientApi() = default;
    virtual Hresult getMixFormat(WaveFormatBytes& format) = 0;
    // The closest match, when the system offers one, is freed inside.
    virtual Hresult isFormatSupported(ShareMode mode, const WaveFormatEx* format) = 0;
    virtual Hresult getDevicePeriod(std::int64_t& defaultPeriod, std::int64_t& minimumPeriod) = 0;
    virtual Hresult initialize(ShareMode mode, std::uint32_t flags, std::int64_t bufferDuration,
                               std::int64_t periodicity, const WaveFormatEx* format) = 0;
    virtual Hresult getBufferSize(std::uint32_t& frames) = 0;
    virtual Hresult getStreamLatency(std::int64_t& latency) = 0;
    virtual Hresult getCurrentPadding(std::uint32_t& frames) = 0;
    virtual Hresult setEventHandle(SystemEvent event) = 0;
    virtual Hresult getRenderClient(std::unique_ptr<AudioRenderApi>& render) = 0;
    virtual Hresult getCaptureClient(std::unique_ptr<AudioCaptureApi>& capture) = 0;
    virtual Hresult getClock(std::unique_ptr<AudioClockApi>& clock) = 0;
    virtual Hresult start() = 0;
    virtual Hresult stop() = 0;

    // QueryInterface for IAudioClient3; the calls below need it.
    virtual Hresult queryLowLatency() = 0;
    virtual Hresult getSharedModeEnginePeriod(const WaveFormatEx* format,
                                              std::uint32_t& defaultPeriod,
                                              std::uint32_t& fundamentalPeriod,
                                              std::uint32_t& minimumPeriod,
                                              std::uint32_t& maximumPeriod) = 0;
    virtual Hresult initializeSharedAudioStream(std::uint32_t flags, std::uint32_t periodFrames,
                                                const WaveFormatEx* format) = 0;
    virtual Hresult getCurrentSharedModeEnginePeriod(WaveFormatBytes& format,
                                                     std::uint32_t& periodFrames) = 0;
};

// IMMDevice with its IMMEndpoint and property store.
class AudioDeviceApi {
public:
    virtual ~AudioDeviceApi() = default;
    virtual Hresult getId(std::u16string& id) = 0;
    virtual Hresult getDataFlow(DataFlow& flow) = 0;
    virtual Hresult readProperty(DeviceProperty property, PropertyValue& value) = 0;
    virtual Hresult activateClient(std::unique_ptr<AudioClientApi>& client) = 0;
};

// IMMDeviceEnumerator.
class AudioEnumeratorApi {
public:
    virtual ~AudioEnumeratorApi() = default;
    // The active endpoints of one flow, in the system's order; items that cannot be read are
    // left out.
    virtual Hresult enumerateActive(DataFlow flow,
                                    std::vector<std::unique_ptr<AudioDeviceApi>>& devices) = 0;
    virtual Hresult getDevice(const std::u16string& id,
                              std::unique_ptr<AudioDeviceApi>& device) = 0;
};

class AudioSystem {
public:
    virtual ~AudioSystem() = default;

    // CoInitializeEx for the multithreaded apartment on the calling thread, and its balance.
    virtual Hresult enterApartment() = 0;
    virtual void leaveApartment() = 0;
    virtual Hresult createEnumerator(std::unique_ptr<AudioEnumeratorApi>& enumerator) = 0;

    // Unnamed, not signalled; null when the system has none to give.
    virtual SystemEvent createEvent(bool manualReset) = 0;
    virtual void setEvent(SystemEvent event) = 0;
    virtual void closeEvent(SystemEvent event) = 0;
    virtual WaitResult waitForEvent(SystemEvent event, std::uint32_t timeoutMs) = 0;
    virtual void sleepOneMillisecond() = 0;

    // AvSetMmThreadCharacteristicsW("Pro Audio"): the HRESULT of the thread's last error on
    // failure.
    virtual Hresult enterProAudioTask(ProAudioTask& task) = 0;
    virtual void leaveProAudioTask(ProAudioTask task) = 0;

    // Threads that wait through this system start and are joined through it.
    virtual std::thread startThread(std::function<void()> body) = 0;
    virtual void joinThread(std::thread& thread) = 0;
};

// WASAPI on Windows; simulated endpoints running in real time elsewhere.
AudioSystem& platformAudioSystem();

} // namespace velkaphon::rack
