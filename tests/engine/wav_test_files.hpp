#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace velkaphon::rack::testing {

// A folder of its own under the working directory, removed with everything in it. It lies under
// the working directory so that, under Wine, sox sees it at the same Unix path.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path file(std::string_view name) const;

private:
    std::filesystem::path path_;
};

void writeBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> readBytes(const std::filesystem::path& path);

// Little-endian byte building for hand-made files.
void appendText(std::vector<std::uint8_t>& bytes, std::string_view text);
void appendU16(std::vector<std::uint8_t>& bytes, std::uint16_t value);
void appendU32(std::vector<std::uint8_t>& bytes, std::uint32_t value);
void appendFloat(std::vector<std::uint8_t>& bytes, float value);
std::uint32_t u32At(const std::vector<std::uint8_t>& bytes, std::size_t offset);
float floatAt(const std::vector<std::uint8_t>& bytes, std::size_t offset);

// A plain 32-bit float WAV file, built byte by byte.
void writeFloatWav(const std::filesystem::path& path, std::uint16_t channels, std::uint32_t rate,
                   const std::vector<float>& samples);

// Runs sox with the arguments; paths among them must come from soxPath. Fills output with what
// it printed on standard output. Returns its exit code.
int runSox(const std::vector<std::string>& arguments, std::string* output = nullptr);
std::string soxPath(const std::filesystem::path& path);

// One argument for the POSIX shell.
std::string shellQuoted(const std::string& argument);

// Wraps raw little-endian samples as a WAV file at the same depth, without dither.
// encoding is "signed-integer" or "floating-point".
void wrapRawWithSox(const std::vector<std::uint8_t>& raw, const std::filesystem::path& wav,
                    std::string_view encoding, int bits, int channels, int rate);

// What `sox --i` says about a file, or the empty text when sox cannot read it.
std::string soxInfo(const std::filesystem::path& path);

} // namespace velkaphon::rack::testing
