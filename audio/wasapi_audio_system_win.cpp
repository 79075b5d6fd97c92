#include "audio/audio_system.hpp"

#include <audioclient.h>
#include <avrt.h>
#include <cstring>
#include <mmdeviceapi.h>
#include <objbase.h>
#include <propidl.h>
#include <windows.h>

namespace velkaphon::rack {

namespace {

// PKEY_Device_FriendlyName and PKEY_Device_ContainerId.
const PROPERTYKEY kFriendlyNameKey = {
    {0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 14};
const PROPERTYKEY kContainerIdKey = {
    {0x8c7ed206, 0x3f8a, 0x4827, {0xb3, 0xab, 0xae, 0x9e, 0x1f, 0xae, 0xfc, 0x6c}}, 2};

// Releases one COM reference when it goes.
template <typename Interface>
class ComReference {
public:
    ComReference() = default;
    explicit ComReference(Interface* object) : object_(object) {}
    ~ComReference() { reset(); }
    ComReference(const ComReference&) = delete;
    ComReference& operator=(const ComReference&) = delete;

    void reset() {
        if (object_ != nullptr) {
            object_->Release();
            object_ = nullptr;
        }
    }
    Interface** out() {
        reset();
        return &object_;
    }
    void** outVoid() { return reinterpret_cast<void**>(out()); }
    Interface* operator->() const { return object_; }
    Interface* get() const { return object_; }

private:
    Interface* object_ = nullptr;
};

const WAVEFORMATEX* windowsFormat(const WaveFormatEx* format) {
    return reinterpret_cast<const WAVEFORMATEX*>(format);
}

void copyFormat(const WAVEFORMATEX* format, WaveFormatBytes& out) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(format);
    out.assign(bytes, bytes + sizeof(WAVEFORMATEX) + format->cbSize);
}

Guid ourGuid(const GUID& guid) {
    Guid result;
    std::memcpy(static_cast<void*>(&result), &guid, sizeof result);
    return result;
}

class WasapiClock : public AudioClockApi {
public:
    explicit WasapiClock(IAudioClock* clock) : clock_(clock) {}
    Hresult getFrequency(std::uint64_t& frequency) override {
        UINT64 value = 0;
        const HRESULT result = clock_->GetFrequency(&value);
        frequency = value;
        return result;
    }
    Hresult getPosition(std::uint64_t& position, std::uint64_t& qpcPosition) override {
        UINT64 device = 0;
        UINT64 qpc = 0;
        const HRESULT result = clock_->GetPosition(&device, &qpc);
        position = device;
        qpcPosition = qpc;
        return result;
    }

private:
    ComReference<IAudioClock> clock_;
};

class WasapiRender : public AudioRenderApi {
public:
    explicit WasapiRender(IAudioRenderClient* render) : render_(render) {}
    Hresult getBuffer(std::uint32_t frames, std::uint8_t*& data) override {
        BYTE* buffer = nullptr;
        const HRESULT result = render_->GetBuffer(frames, &buffer);
        data = buffer;
        return result;
    }
    Hresult releaseBuffer(std::uint32_t frames, std::uint32_t flags) override {
        return render_->ReleaseBuffer(frames, flags);
    }

private:
    ComReference<IAudioRenderClient> render_;
};

class WasapiCapture : public AudioCaptureApi {
public:
    explicit WasapiCapture(IAudioCaptureClient* capture) : capture_(capture) {}
    Hresult getBuffer(std::uint8_t*& data, std::uint32_t& frames, std::uint32_t& flags,
                      std::uint64_t& devicePosition, std::uint64_t& qpcPosition) override {
        BYTE* buffer = nullptr;
        UINT32 count = 0;
        DWORD bufferFlags = 0;
        UINT64 device = 0;
        UINT64 qpc = 0;
        const HRESULT result = capture_->GetBuffer(&buffer, &count, &bufferFlags, &device, &qpc);
        data = buffer;
        frames = count;
        flags = bufferFlags;
        devicePosition = device;
        qpcPosition = qpc;
        return result;
    }
    Hresult releaseBuffer(std::uint32_t frames) override { return capture_->ReleaseBuffer(frames); }
    Hresult getNextPacketSize(std::uint32_t& frames) override {
        UINT32 count = 0;
        const HRESULT result = capture_->GetNextPacketSize(&count);
        frames = count;
        return result;
    }

private:
    ComReference<IAudioCaptureClient> capture_;
};

class WasapiClient : public AudioClientApi {
public:
    explicit WasapiClient(IAudioClient* client) : client_(client) {}

    Hresult getMixFormat(WaveFormatBytes& format) override {
        WAVEFORMATEX* mix = nullptr;
        const HRESULT result = client_->GetMixFormat(&mix);
        if (SUCCEEDED(result) && mix != nullptr) {
            copyFormat(mix, format);
        }
        CoTaskMemFree(mix);
        return result;
    }

    Hresult isFormatSupported(ShareMode mode, const WaveFormatEx* format) override {
        WAVEFORMATEX* closest = nullptr;
        const HRESULT result = client_->IsFormatSupported(
            shareMode(mode), windowsFormat(format), mode == ShareMode::Shared ? &closest : nullptr);
        CoTaskMemFree(closest);
        return result;
    }

    Hresult getDevicePeriod(std::int64_t& defaultPeriod, std::int64_t& minimumPeriod) override {
        REFERENCE_TIME standard = 0;
        REFERENCE_TIME minimum = 0;
        const HRESULT result = client_->GetDevicePeriod(&standard, &minimum);
        defaultPeriod = standard;
        minimumPeriod = minimum;
        return result;
    }

    Hresult initialize(ShareMode mode, std::uint32_t flags, std::int64_t bufferDuration,
                       std::int64_t periodicity, const WaveFormatEx* format) override {
        return client_->Initialize(shareMode(mode), flags, bufferDuration, periodicity,
                                   windowsFormat(format), nullptr);
    }

    Hresult getBufferSize(std::uint32_t& frames) override {
        UINT32 count = 0;
        const HRESULT result = client_->GetBufferSize(&count);
        frames = count;
        return result;
    }

    Hresult getStreamLatency(std::int64_t& latency) override {
        REFERENCE_TIME value = 0;
        const HRESULT result = client_->GetStreamLatency(&value);
        latency = value;
        return result;
    }

    Hresult getCurrentPadding(std::uint32_t& frames) override {
        UINT32 count = 0;
        const HRESULT result = client_->GetCurrentPadding(&count);
        frames = count;
        return result;
    }

    Hresult setEventHandle(SystemEvent event) override {
        return client_->SetEventHandle(static_cast<HANDLE>(event));
    }

    Hresult getRenderClient(std::unique_ptr<AudioRenderApi>& render) override {
        IAudioRenderClient* service = nullptr;
        const HRESULT result =
            client_->GetService(__uuidof(IAudioRenderClient), reinterpret_cast<void**>(&service));
        if (SUCCEEDED(result)) {
            render = std::make_unique<WasapiRender>(service);
        }
        return result;
    }

    Hresult getCaptureClient(std::unique_ptr<AudioCaptureApi>& capture) override {
        IAudioCaptureClient* service = nullptr;
        const HRESULT result =
            client_->GetService(__uuidof(IAudioCaptureClient), reinterpret_cast<void**>(&service));
        if (SUCCEEDED(result)) {
            capture = std::make_unique<WasapiCapture>(service);
        }
        return result;
    }

    Hresult getClock(std::unique_ptr<AudioClockApi>& clock) override {
        IAudioClock* service = nullptr;
        const HRESULT result =
            client_->GetService(__uuidof(IAudioClock), reinterpret_cast<void**>(&service));
        if (SUCCEEDED(result)) {
            clock = std::make_unique<WasapiClock>(service);
        }
        return result;
    }

    Hresult start() override { return client_->Start(); }
    Hresult stop() override { return client_->Stop(); }

    Hresult queryLowLatency() override {
        if (lowLatency_.get() != nullptr) {
            return S_OK;
        }
        return client_->QueryInterface(__uuidof(IAudioClient3), lowLatency_.outVoid());
    }

    Hresult getSharedModeEnginePeriod(const WaveFormatEx* format, std::uint32_t& defaultPeriod,
                                      std::uint32_t& fundamentalPeriod,
                                      std::uint32_t& minimumPeriod,
                                      std::uint32_t& maximumPeriod) override {
        UINT32 standard = 0, fundamental = 0, minimum = 0, maximum = 0;
        const HRESULT result = lowLatency_->GetSharedModeEnginePeriod(
            windowsFormat(format), &standard, &fundamental, &minimum, &maximum);
        defaultPeriod = standard;
        fundamentalPeriod = fundamental;
        minimumPeriod = minimum;
        maximumPeriod = maximum;
        return result;
    }

    Hresult initializeSharedAudioStream(std::uint32_t flags, std::uint32_t periodFrames,
                                        const WaveFormatEx* format) override {
        return lowLatency_->InitializeSharedAudioStream(flags, periodFrames, windowsFormat(format),
                                                        nullptr);
    }

    Hresult getCurrentSharedModeEnginePeriod(WaveFormatBytes& format,
                                             std::uint32_t& periodFrames) override {
        WAVEFORMATEX* current = nullptr;
        UINT32 period = 0;
        const HRESULT result = lowLatency_->GetCurrentSharedModeEnginePeriod(&current, &period);
        if (SUCCEEDED(result) && current != nullptr) {
            copyFormat(current, format);
        }
        CoTaskMemFree(current);
        periodFrames = period;
        return result;
    }

private:
    static AUDCLNT_SHAREMODE shareMode(ShareMode mode) {
        return mode == ShareMode::Exclusive ? AUDCLNT_SHAREMODE_EXCLUSIVE
                                            : AUDCLNT_SHAREMODE_SHARED;
    }

    // Released before the client it came from.
    ComReference<IAudioClient> client_;
    ComReference<IAudioClient3> lowLatency_;
};

class WasapiDevice : public AudioDeviceApi {
public:
    explicit WasapiDevice(IMMDevice* device) : device_(device) {}

    Hresult getId(std::u16string& id) override {
        LPWSTR text = nullptr;
        const HRESULT result = device_->GetId(&text);
        if (SUCCEEDED(result) && text != nullptr) {
            id = reinterpret_cast<const char16_t*>(text);
        }
        CoTaskMemFree(text);
        return result;
    }

    Hresult getDataFlow(DataFlow& flow) override {
        ComReference<IMMEndpoint> endpoint;
        HRESULT result = device_->QueryInterface(__uuidof(IMMEndpoint), endpoint.outVoid());
        if (FAILED(result)) {
            return result;
        }
        EDataFlow value = eRender;
        result = endpoint->GetDataFlow(&value);
        flow = value == eCapture ? DataFlow::Capture : DataFlow::Render;
        return value == eCapture || value == eRender ? result : E_INVALIDARG;
    }

    Hresult readProperty(DeviceProperty property, PropertyValue& value) override {
        ComReference<IPropertyStore> store;
        HRESULT result = device_->OpenPropertyStore(STGM_READ, store.out());
        if (FAILED(result)) {
            return result;
        }
        PROPVARIANT variant;
        PropVariantInit(&variant);
        result = store->GetValue(property == DeviceProperty::FriendlyName ? kFriendlyNameKey
                                                                          : kContainerIdKey,
                                 &variant);
        if (SUCCEEDED(result)) {
            if (variant.vt == VT_LPWSTR && variant.pwszVal != nullptr) {
                value.kind = PropertyValue::Kind::Text;
                value.text = reinterpret_cast<const char16_t*>(variant.pwszVal);
            } else if (variant.vt == VT_CLSID && variant.puuid != nullptr) {
                value.kind = PropertyValue::Kind::Guid;
                value.guid = ourGuid(*variant.puuid);
            } else {
                value.kind = variant.vt == VT_EMPTY ? PropertyValue::Kind::Empty
                                                    : PropertyValue::Kind::Other;
            }
        }
        PropVariantClear(&variant);
        return result;
    }

    Hresult activateClient(std::unique_ptr<AudioClientApi>& client) override {
        IAudioClient* activated = nullptr;
        const HRESULT result = device_->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                                                 reinterpret_cast<void**>(&activated));
        if (SUCCEEDED(result)) {
            client = std::make_unique<WasapiClient>(activated);
        }
        return result;
    }

private:
    ComReference<IMMDevice> device_;
};

class WasapiEnumerator : public AudioEnumeratorApi {
public:
    explicit WasapiEnumerator(IMMDeviceEnumerator* enumerator) : enumerator_(enumerator) {}

    Hresult enumerateActive(DataFlow flow,
                            std::vector<std::unique_ptr<AudioDeviceApi>>& devices) override {
        ComReference<IMMDeviceCollection> collection;
        HRESULT result = enumerator_->EnumAudioEndpoints(
            flow == DataFlow::Capture ? eCapture : eRender, DEVICE_STATE_ACTIVE, collection.out());
        if (FAILED(result)) {
            return result;
        }
        UINT count = 0;
        result = collection->GetCount(&count);
        if (FAILED(result)) {
            return result;
        }
        for (UINT i = 0; i < count; ++i) {
            IMMDevice* device = nullptr;
            if (SUCCEEDED(collection->Item(i, &device)) && device != nullptr) {
                devices.push_back(std::make_unique<WasapiDevice>(device));
            }
        }
        return S_OK;
    }

    Hresult getDevice(const std::u16string& id, std::unique_ptr<AudioDeviceApi>& device) override {
        IMMDevice* found = nullptr;
        const HRESULT result =
            enumerator_->GetDevice(reinterpret_cast<LPCWSTR>(id.c_str()), &found);
        if (SUCCEEDED(result)) {
            device = std::make_unique<WasapiDevice>(found);
        }
        return result;
    }

private:
    ComReference<IMMDeviceEnumerator> enumerator_;
};

class WasapiAudioSystem : public AudioSystem {
public:
    Hresult enterApartment() override { return CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
    void leaveApartment() override { CoUninitialize(); }

    Hresult createEnumerator(std::unique_ptr<AudioEnumeratorApi>& enumerator) override {
        IMMDeviceEnumerator* created = nullptr;
        const HRESULT result =
            CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                             __uuidof(IMMDeviceEnumerator), reinterpret_cast<void**>(&created));
        if (SUCCEEDED(result)) {
            enumerator = std::make_unique<WasapiEnumerator>(created);
        }
        return result;
    }

    SystemEvent createEvent(bool manualReset) override {
        return CreateEventW(nullptr, manualReset ? TRUE : FALSE, FALSE, nullptr);
    }
    void setEvent(SystemEvent event) override { SetEvent(static_cast<HANDLE>(event)); }
    void closeEvent(SystemEvent event) override { CloseHandle(static_cast<HANDLE>(event)); }

    WaitResult waitForEvent(SystemEvent event, std::uint32_t timeoutMs) override {
        switch (WaitForSingleObject(static_cast<HANDLE>(event), timeoutMs)) {
        case WAIT_OBJECT_0:
            return WaitResult::Signalled;
        case WAIT_TIMEOUT:
            return WaitResult::TimedOut;
        default:
            return WaitResult::Failed;
        }
    }

    void sleepOneMillisecond() override { Sleep(1); }

    Hresult enterProAudioTask(ProAudioTask& task) override {
        DWORD index = 0;
        task = AvSetMmThreadCharacteristicsW(L"Pro Audio", &index);
        if (task != nullptr) {
            return S_OK;
        }
        const DWORD error = GetLastError();
        return error == 0 ? E_FAIL : hresultFromWin32(error);
    }

    void leaveProAudioTask(ProAudioTask task) override {
        AvRevertMmThreadCharacteristics(static_cast<HANDLE>(task));
    }

    std::thread startThread(std::function<void()> body) override {
        return std::thread(std::move(body));
    }
    void joinThread(std::thread& thread) override { thread.join(); }
};

} // namespace

AudioSystem& platformAudioSystem() {
    static WasapiAudioSystem system;
    return system;
}

} // namespace velkaphon::rack
