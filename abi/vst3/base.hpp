#pragma once

// The core of the VST3 binary interface as we speak it: scalar types, result codes, 16-byte
// identifiers, FUnknown, IPluginBase and IBStream.
//
// On Windows the interfaces are COM-compatible: identifiers use COM's byte order and the result
// codes are HRESULTs. Elsewhere identifiers are plain big-endian and results small integers.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#ifdef _WIN32
#define VELKAPHON_VST3_CALL __stdcall
#else
#define VELKAPHON_VST3_CALL
#endif

namespace velkaphon::rack::vst3 {

using int8 = std::int8_t;
using uint8 = std::uint8_t;
using int16 = std::int16_t;
using uint16 = std::uint16_t;
using int32 = std::int32_t;
using uint32 = std::uint32_t;
using int64 = std::int64_t;
using uint64 = std::uint64_t;
using TBool = std::uint8_t;
using char8 = char;
using char16 = char16_t;
using TChar = char16_t;
using String128 = TChar[128];
using FIDString = const char8*;
using tresult = std::int32_t;

// How the interfaces pass a 16-byte identifier: a pointer to its first byte.
using TUID = char[16];

#ifdef _WIN32
inline constexpr tresult kNoInterface = static_cast<tresult>(0x80004002u);
inline constexpr tresult kResultOk = 0;
inline constexpr tresult kResultTrue = kResultOk;
inline constexpr tresult kResultFalse = 1;
inline constexpr tresult kInvalidArgument = static_cast<tresult>(0x80070057u);
inline constexpr tresult kNotImplemented = static_cast<tresult>(0x80004001u);
inline constexpr tresult kInternalError = static_cast<tresult>(0x80004005u);
inline constexpr tresult kNotInitialized = static_cast<tresult>(0x8000FFFFu);
inline constexpr tresult kOutOfMemory = static_cast<tresult>(0x8007000Eu);
#else
inline constexpr tresult kNoInterface = -1;
inline constexpr tresult kResultOk = 0;
inline constexpr tresult kResultTrue = kResultOk;
inline constexpr tresult kResultFalse = 1;
inline constexpr tresult kInvalidArgument = 2;
inline constexpr tresult kNotImplemented = 3;
inline constexpr tresult kInternalError = 4;
inline constexpr tresult kNotInitialized = 5;
inline constexpr tresult kOutOfMemory = 6;
#endif

// A 16-byte class or interface identifier as it lies in memory.
using Uid = std::array<std::uint8_t, 16>;

// COM's order: the first word little-endian, the second as two little-endian halves, high half
// first, then the third and fourth words big-endian.
constexpr Uid makeComUid(uint32 word1, uint32 word2, uint32 word3, uint32 word4) {
    const auto byte = [](uint32 word, int shift) {
        return static_cast<std::uint8_t>(word >> shift);
    };
    return {byte(word1, 0),  byte(word1, 8),  byte(word1, 16), byte(word1, 24),
            byte(word2, 16), byte(word2, 24), byte(word2, 0),  byte(word2, 8),
            byte(word3, 24), byte(word3, 16), byte(word3, 8),  byte(word3, 0),
            byte(word4, 24), byte(word4, 16), byte(word4, 8),  byte(word4, 0)};
}

// The portable order: the four words big-endian, first word first.
constexpr Uid makePortableUid(uint32 word1, uint32 word2, uint32 word3, uint32 word4) {
    const auto byte = [](uint32 word, int shift) {
        return static_cast<std::uint8_t>(word >> shift);
    };
    return {byte(word1, 24), byte(word1, 16), byte(word1, 8), byte(word1, 0),
            byte(word2, 24), byte(word2, 16), byte(word2, 8), byte(word2, 0),
            byte(word3, 24), byte(word3, 16), byte(word3, 8), byte(word3, 0),
            byte(word4, 24), byte(word4, 16), byte(word4, 8), byte(word4, 0)};
}

// The order of this platform's interfaces.
constexpr Uid makeUid(uint32 word1, uint32 word2, uint32 word3, uint32 word4) {
#ifdef _WIN32
    return makeComUid(word1, word2, word3, word4);
#else
    return makePortableUid(word1, word2, word3, word4);
#endif
}

inline const char* tuidOf(const Uid& uid) {
    return reinterpret_cast<const char*>(uid.data());
}

// Null never matches.
inline bool sameUid(const char* tuid, const Uid& uid) {
    return tuid != nullptr && std::memcmp(tuid, uid.data(), uid.size()) == 0;
}

inline Uid uidFrom(const char* tuid) {
    Uid uid{};
    std::memcpy(uid.data(), tuid, uid.size());
    return uid;
}

class FUnknown {
public:
    static constexpr Uid iid = makeUid(0x00000000, 0x00000000, 0xC0000000, 0x00000046);

    virtual tresult VELKAPHON_VST3_CALL queryInterface(const TUID iid, void** object) = 0;
    virtual uint32 VELKAPHON_VST3_CALL addRef() = 0;
    virtual uint32 VELKAPHON_VST3_CALL release() = 0;
};

class IPluginBase : public FUnknown {
public:
    static constexpr Uid iid = makeUid(0x22888DDB, 0x156E45AE, 0x8358B348, 0x08190625);

    virtual tresult VELKAPHON_VST3_CALL initialize(FUnknown* context) = 0;
    virtual tresult VELKAPHON_VST3_CALL terminate() = 0;
};

class IBStream : public FUnknown {
public:
    static constexpr Uid iid = makeUid(0xC3BF6EA2, 0x30994752, 0x9B6BF990, 0x1EE33E9B);

    enum SeekMode : int32 { kIBSeekSet = 0, kIBSeekCur = 1, kIBSeekEnd = 2 };

    // The count and result pointers may be null.
    virtual tresult VELKAPHON_VST3_CALL read(void* buffer, int32 numBytes, int32* numBytesRead) = 0;
    virtual tresult VELKAPHON_VST3_CALL write(void* buffer, int32 numBytes,
                                              int32* numBytesWritten) = 0;
    virtual tresult VELKAPHON_VST3_CALL seek(int64 pos, int32 mode, int64* result) = 0;
    virtual tresult VELKAPHON_VST3_CALL tell(int64* pos) = 0;
};

} // namespace velkaphon::rack::vst3
