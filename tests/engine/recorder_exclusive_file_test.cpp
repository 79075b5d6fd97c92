#include "engine/exclusive_file.hpp"
#include "tests/engine/wav_test_files.hpp"

#include <gtest/gtest.h>

#include <fstream>

namespace velkaphon::rack {
namespace {

using namespace velkaphon::rack::testing;

TEST(RecorderExclusiveFile, CreatesOnlyNewFilesAndLetsOthersRead) {
    ScratchFolder folder;
    const auto path = folder.file("take \xC3\xA9.wav");
    std::FILE* stream = createExclusiveFile(path);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(createExclusiveFile(path), nullptr);
    ASSERT_EQ(std::fwrite("abcdef", 1, 6, stream), 6u);
    ASSERT_EQ(std::fflush(stream), 0);
    EXPECT_EQ(fileSizeOf(stream), 6);
    std::ifstream reader(path, std::ios::binary);
    std::string text;
    reader >> text;
    EXPECT_EQ(text, "abcdef");
#ifdef _WIN32
    // Another writer is refused while the take is open.
    std::ofstream writer(path, std::ios::binary | std::ios::app);
    EXPECT_FALSE(writer.is_open());
#endif
    EXPECT_TRUE(truncateFile(stream, 4));
    EXPECT_EQ(fileSizeOf(stream), 4);
    std::fclose(stream);
    EXPECT_EQ(readBytes(path), (std::vector<std::uint8_t>{'a', 'b', 'c', 'd'}));
    EXPECT_EQ(createExclusiveFile(folder.file("missing") / "take.wav"), nullptr);
}

} // namespace
} // namespace velkaphon::rack
