#include "engine/wav_file.hpp"

#include "engine/file_system_failure.hpp"
#include "engine/finite_samples.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <xmmintrin.h>

namespace velkaphon::rack {

namespace {

constexpr std::uint16_t kFormatPcm = 1;
constexpr std::uint16_t kFormatFloat = 3;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;
// A writer that cannot seek back (a pipe) leaves the size at all ones.
constexpr std::uint32_t kUnknownSize = 0xFFFFFFFF;

std::uint16_t u16At(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

std::uint32_t u32At(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
           (static_cast<std::uint32_t>(bytes[2]) << 16) |
           (static_cast<std::uint32_t>(bytes[3]) << 24);
}

[[noreturn]] void fail(const char* message) {
    throw std::runtime_error(message);
}

struct WavFormat {
    std::uint16_t tag = 0;
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bits = 0;
};

// Where the samples lie; they are read only once the walk has found the format that holds.
struct DataChunk {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};

// Bytes read at a time, about 256 KB so a chunk is decoded while it is in cache: a whole number of
// 16-, 24- and 32-bit samples.
constexpr std::uint64_t kChunkBytes = 12 * 21846;

class ChunkReader {
public:
    ChunkReader(std::ifstream& file) : file_(file) {}

    bool seek(std::uint64_t position) {
        file_.clear();
        return static_cast<bool>(file_.seekg(static_cast<std::streamoff>(position)));
    }

    bool read(void* target, std::uint64_t size) {
        // A short read is an error, never a run of zeros.
        auto* bytes = static_cast<char*>(target);
        while (size > 0) {
            const auto step = static_cast<std::streamsize>(std::min<std::uint64_t>(size, 1u << 30));
            if (file_.rdbuf()->sgetn(bytes, step) != step) {
                return false;
            }
            bytes += step;
            size -= static_cast<std::uint64_t>(step);
        }
        return true;
    }

private:
    std::ifstream& file_;
};

WavFormat readFormatChunk(ChunkReader& reader, std::uint32_t size) {
    if (size < 16 || size > 4096) {
        fail("Invalid WAV format");
    }
    std::array<std::uint8_t, 4096> chunk{};
    if (!reader.read(chunk.data(), size)) {
        fail("Truncated WAV chunk");
    }
    WavFormat format;
    format.tag = u16At(&chunk[0]);
    format.channels = u16At(&chunk[2]);
    format.sampleRate = u32At(&chunk[4]);
    format.blockAlign = u16At(&chunk[12]);
    format.bits = u16At(&chunk[14]);
    if (format.tag == kFormatExtensible) {
        if (size < 40) {
            fail("Invalid extensible WAV");
        }
        format.tag = u16At(&chunk[24]);
    }
    return format;
}

DataChunk locateDataChunk(std::uint64_t offset, std::uint64_t size, std::uint64_t preloadLimit) {
    if (size > preloadLimit) {
        fail("WAV exceeds preload limit");
    }
    return {offset, size};
}

bool isSupported(const WavFormat& format, std::uint64_t dataBytes) {
    if (format.channels < 1 || format.channels > 64) {
        return false;
    }
    if (format.sampleRate < 8000 || format.sampleRate > 384000) {
        return false;
    }
    if (format.blockAlign == 0 ||
        format.blockAlign != ((format.bits + 7u) / 8u) * static_cast<unsigned>(format.channels)) {
        return false;
    }
    if (dataBytes % format.blockAlign != 0) {
        return false;
    }
    const bool pcm =
        format.tag == kFormatPcm && (format.bits == 16 || format.bits == 24 || format.bits == 32);
    const bool ieee = format.tag == kFormatFloat && format.bits == 32;
    return pcm || ieee;
}

void decode16(const std::uint8_t* bytes, float* out, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        std::int16_t value;
        std::memcpy(&value, bytes + 2 * i, sizeof value);
        out[i] = static_cast<float>(value) * 3.0517578125e-5f;
    }
}

// Reads four bytes per sample and drops the fourth, so the chunk buffer has one byte to spare.
void decode24(const std::uint8_t* bytes, float* out, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t raw;
        std::memcpy(&raw, bytes + 3 * i, sizeof raw);
        const auto value = static_cast<std::int32_t>(raw << 8) >> 8;
        out[i] = static_cast<float>(value) * 1.1920928955078125e-7f;
    }
}

void decode32(const std::uint8_t* bytes, float* out, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        std::int32_t value;
        std::memcpy(&value, bytes + 4 * i, sizeof value);
        out[i] = static_cast<float>(value) * 4.656612873077392578125e-10f;
    }
}

// PCM only: float samples are read straight into place.
void decodeSamples(const WavFormat& format, const std::uint8_t* bytes, float* out,
                   std::size_t count) {
    switch (format.bits) {
    case 16:
        decode16(bytes, out, count);
        break;
    case 24:
        decode24(bytes, out, count);
        break;
    default:
        decode32(bytes, out, count);
        break;
    }
}

// [control] Floating-point exceptions masked for the life of the object, then the caller's whole
// mode again: a plug-in host may have unmasked them, and the scan adds up whatever a file holds.
class MaskedFloatExceptions {
public:
    MaskedFloatExceptions() noexcept : saved_(_mm_getcsr()) { _mm_setcsr(saved_ | _MM_MASK_MASK); }
    ~MaskedFloatExceptions() { _mm_setcsr(saved_); }
    MaskedFloatExceptions(const MaskedFloatExceptions&) = delete;
    MaskedFloatExceptions& operator=(const MaskedFloatExceptions&) = delete;

private:
    unsigned int saved_;
};

// Chunk by chunk into the decoded buffer, which is not zero-filled first: float samples are read
// straight into place and cleared of non-finite values, PCM ones decoded, while the chunk is in
// cache.
void decodeDataChunk(ChunkReader& reader, const DataChunk& data, const WavFormat& format,
                     SampleVector& out) {
    static_assert(std::endian::native == std::endian::little);
    const MaskedFloatExceptions masked;
    const std::uint64_t sampleBytes = format.bits / 8u;
    if (!reader.seek(data.offset)) {
        fail("Truncated WAV chunk");
    }
    const bool direct = format.tag == kFormatFloat;
    std::unique_ptr<std::uint8_t[]> raw;
    if (!direct) {
        raw = std::make_unique_for_overwrite<std::uint8_t[]>(
            static_cast<std::size_t>(std::min(kChunkBytes, data.size) + 1));
        raw[static_cast<std::size_t>(std::min(kChunkBytes, data.size))] = 0;
    }
    out.resize(static_cast<std::size_t>(data.size / sampleBytes));
    float* target = out.data();
    for (std::uint64_t done = 0; done < data.size;) {
        const std::uint64_t step = std::min(kChunkBytes, data.size - done);
        const auto count = static_cast<std::size_t>(step / sampleBytes);
        if (!reader.read(direct ? static_cast<void*>(target) : raw.get(), step)) {
            fail("Truncated WAV chunk");
        }
        if (direct) {
            clearNonFiniteRuns(target, count);
        } else {
            decodeSamples(format, raw.get(), target, count);
        }
        target += count;
        done += step;
    }
}

// A take cut off before its header was first rewritten, or one written to a pipe, still holds its
// samples up to the end of the file. So does a take cut off after a rewrite: its header counts
// what was written then and leaves its RIFF size unknown. Other files keep their sizes, whatever
// follows their data chunk or their RIFF.
bool runsToFileEnd(const WavFormat& format, std::uint64_t riffEnd, std::uint64_t body,
                   std::uint32_t size, std::uint64_t available) {
    if (size == kUnknownSize) {
        return true;
    }
    if (available <= size) {
        return false;
    }
    const bool recorderLayout = body == wavHeaderBytes && format.tag == kFormatFloat &&
                                format.bits == 32 && riffEnd == 8 + std::uint64_t{kUnknownSize};
    return (size == 0 && riffEnd <= body) || recorderLayout;
}

} // namespace

WavAudio readWavFile(const std::filesystem::path& path, std::uint64_t preloadLimit) {
    // A FIFO or a device would block the open or the read; a folder has nothing to read.
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        fail(isNameTooLong(error) ? kNameTooLongMessage : "Cannot open WAV file");
    }
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open()) {
        fail("Cannot open WAV file");
    }
    ChunkReader reader(file);
    std::array<std::uint8_t, 12> riff{};
    if (!reader.read(riff.data(), riff.size()) || std::memcmp(riff.data(), "RIFF", 4) != 0 ||
        std::memcmp(riff.data() + 8, "WAVE", 4) != 0) {
        fail("Only RIFF WAV supported");
    }
    const std::uint64_t riffEnd = 8 + static_cast<std::uint64_t>(u32At(riff.data() + 4));
    const std::uint64_t fileSize = std::filesystem::file_size(path, error);
    if (error) {
        throwFileSystemFailure("Cannot open WAV file", error);
    }

    WavFormat format;
    DataChunk data;
    std::uint64_t position = 12;
    // Every comparison keeps position <= fileSize first, so nothing below can wrap.
    while (fileSize >= 20 && position <= fileSize && fileSize - position >= 8) {
        std::array<std::uint8_t, 8> header{};
        if (!reader.seek(position) || !reader.read(header.data(), header.size())) {
            break;
        }
        const std::uint32_t size = u32At(header.data() + 4);
        const std::uint64_t body = position + 8;
        const std::uint64_t available = fileSize - body;
        const bool isData = std::memcmp(header.data(), "data", 4) == 0;
        if (isData && runsToFileEnd(format, riffEnd, body, size, available)) {
            const std::uint64_t whole =
                format.blockAlign == 0 ? available : available - available % format.blockAlign;
            data = locateDataChunk(body, whole, preloadLimit);
            break;
        }
        if (size > available) {
            fail("Truncated WAV chunk");
        }
        if (std::memcmp(header.data(), "fmt ", 4) == 0) {
            format = readFormatChunk(reader, size);
        } else if (isData) {
            data = locateDataChunk(body, size, preloadLimit);
        }
        position = body + size + (size & 1u);
    }

    if (!isSupported(format, data.size)) {
        fail("Unsupported WAV encoding/layout");
    }
    const std::uint64_t count = data.size / (format.bits / 8u);
    if (count > preloadLimit / 4) {
        fail("Decoded WAV exceeds preload limit");
    }
    WavAudio audio;
    audio.channels = format.channels;
    audio.sampleRate = format.sampleRate;
    decodeDataChunk(reader, data, format, audio.samples);
    return audio;
}

void writeWavHeader(std::FILE* stream, std::uint32_t channels, std::uint32_t sampleRate,
                    std::uint32_t dataBytes, bool moreFollows) {
    std::array<std::uint8_t, wavHeaderBytes> header{};
    std::size_t at = 0;
    const auto text = [&](const char* chars) {
        for (int i = 0; i < 4; ++i) {
            header[at++] = static_cast<std::uint8_t>(chars[i]);
        }
    };
    const auto u16 = [&](std::uint32_t value) {
        header[at++] = static_cast<std::uint8_t>(value);
        header[at++] = static_cast<std::uint8_t>(value >> 8);
    };
    const auto u32 = [&](std::uint32_t value) {
        u16(value & 0xFFFF);
        u16(value >> 16);
    };
    text("RIFF");
    u32(moreFollows ? kUnknownSize : dataBytes + 36);
    text("WAVE");
    text("fmt ");
    u32(16);
    u16(kFormatFloat);
    u16(channels);
    u32(sampleRate);
    u32(channels * sampleRate * 4);
    u16(channels * 4);
    u16(32);
    text("data");
    u32(dataBytes);
    if (std::fseek(stream, 0, SEEK_SET) == 0) {
        std::fwrite(header.data(), 1, header.size(), stream);
    }
}

} // namespace velkaphon::rack
