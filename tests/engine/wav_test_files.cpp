#include "tests/engine/wav_test_files.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>

namespace velkaphon::rack::testing {

ScratchFolder::ScratchFolder() {
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    path_ = std::filesystem::current_path() /
            ("wav-scratch-" + std::to_string(random()) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(path_);
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path ScratchFolder::file(std::string_view name) const {
    return path_ / std::filesystem::path(std::u8string(name.begin(), name.end()));
}

void writeBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(file.good()) << "cannot write " << path;
}

std::vector<std::uint8_t> readBytes(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void appendText(std::vector<std::uint8_t>& bytes, std::string_view text) {
    bytes.insert(bytes.end(), text.begin(), text.end());
}

void appendU16(std::vector<std::uint8_t>& bytes, std::uint16_t value) {
    bytes.push_back(static_cast<std::uint8_t>(value));
    bytes.push_back(static_cast<std::uint8_t>(value >> 8));
}

void appendU32(std::vector<std::uint8_t>& bytes, std::uint32_t value) {
    appendU16(bytes, static_cast<std::uint16_t>(value));
    appendU16(bytes, static_cast<std::uint16_t>(value >> 16));
}

void appendFloat(std::vector<std::uint8_t>& bytes, float value) {
    std::uint32_t raw;
    std::memcpy(&raw, &value, sizeof raw);
    appendU32(bytes, raw);
}

std::uint32_t u32At(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(bytes.at(offset)) |
           (static_cast<std::uint32_t>(bytes.at(offset + 1)) << 8) |
           (static_cast<std::uint32_t>(bytes.at(offset + 2)) << 16) |
           (static_cast<std::uint32_t>(bytes.at(offset + 3)) << 24);
}

float floatAt(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    const std::uint32_t raw = u32At(bytes, offset);
    float value;
    std::memcpy(&value, &raw, sizeof value);
    return value;
}

void writeFloatWav(const std::filesystem::path& path, std::uint16_t channels, std::uint32_t rate,
                   const std::vector<float>& samples) {
    const auto dataBytes = static_cast<std::uint32_t>(samples.size() * 4);
    std::vector<std::uint8_t> bytes;
    appendText(bytes, "RIFF");
    appendU32(bytes, dataBytes + 36);
    appendText(bytes, "WAVEfmt ");
    appendU32(bytes, 16);
    appendU16(bytes, 3);
    appendU16(bytes, channels);
    appendU32(bytes, rate);
    appendU32(bytes, rate * channels * 4u);
    appendU16(bytes, static_cast<std::uint16_t>(channels * 4));
    appendU16(bytes, 32);
    appendText(bytes, "data");
    appendU32(bytes, dataBytes);
    for (const float sample : samples) {
        appendFloat(bytes, sample);
    }
    writeBytes(path, bytes);
}

std::string shellQuoted(const std::string& argument) {
    std::string text = "'";
    for (const char c : argument) {
        text += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return text + "'";
}

void wrapRawWithSox(const std::vector<std::uint8_t>& raw, const std::filesystem::path& wav,
                    std::string_view encoding, int bits, int channels, int rate) {
    const auto rawPath = std::filesystem::path(wav).replace_extension(".raw");
    writeBytes(rawPath, raw);
    const int code = runSox({"-t", "raw", "-r", std::to_string(rate), "-e", std::string(encoding),
                             "-b", std::to_string(bits), "-c", std::to_string(channels), "-L",
                             soxPath(rawPath), "-D", soxPath(wav)});
    ASSERT_EQ(code, 0) << "sox could not wrap " << rawPath;
}

std::string soxInfo(const std::filesystem::path& path) {
    std::string output;
    if (runSox({"--i", soxPath(path)}, &output) != 0) {
        return {};
    }
    return output;
}

} // namespace velkaphon::rack::testing
