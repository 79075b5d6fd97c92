#include "app/project_file.hpp"
#include "app/rack_application.hpp"
#include "tests/app/rack_test_modules.hpp"

#include <gtest/gtest.h>

#ifndef _WIN32
#include "tests/support/file_size_limit_posix.hpp"

#include <sys/stat.h>
#endif

#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace velkaphon::rack {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

const json kDocument = {{"product", "VELKAPHON RACK"},
                        {"version", "0.1.0-beta.3"},
                        {"graph", {{"schema", 1}}},
                        {"layout", {{"faders", {{"x", 10}, {"y", -2.5}}}}}};

class ProjectFile : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device random;
        folder_ = fs::temp_directory_path() / ("velkaphon-project-" + std::to_string(random()));
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    void writeBytes(const fs::path& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }

    std::string readBytes(const fs::path& path) {
        std::ifstream file(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    }

    std::string readFailure(const fs::path& path) {
        try {
            readProjectFile(path);
        } catch (const json::parse_error&) {
            return "parse error";
        } catch (const std::exception& error) {
            return error.what();
        }
        return "no error";
    }

    std::string saveFailure(const fs::path& target) {
        try {
            writeProjectFile(target, kDocument);
        } catch (const std::exception& error) {
            return error.what();
        }
        return "no error";
    }

    fs::path folder_;
};

TEST_F(ProjectFile, WritesIndentedUtf8WithoutBomOrFinalLineBreak) {
    const fs::path target = folder_ / "rack.vkrack";
    json document = kDocument;
    document["layout"]["note"] = "Caf\xC3\xA9 \xE2\x80\x94";
    writeProjectFile(target, document);
    const std::string bytes = readBytes(target);
    EXPECT_EQ(bytes, document.dump(2));
    EXPECT_EQ(bytes.substr(0, 4), "{\n  ");
    EXPECT_NE(bytes.find("Caf\xC3\xA9 \xE2\x80\x94"), std::string::npos);
    EXPECT_EQ(bytes.back(), '}');
    EXPECT_EQ(readProjectFile(target), document);
    EXPECT_FALSE(fs::exists(folder_ / "rack.vkrack.tmp"));
}

TEST_F(ProjectFile, SavingReplacesWholeAndAFailedSaveKeepsThePreviousFile) {
    const fs::path target = folder_ / "rack.vkrack";
    writeBytes(target, std::string(5000, ' ') + "{}");
    writeProjectFile(target, kDocument);
    EXPECT_EQ(readBytes(target), kDocument.dump(2));

    // Invalid UTF-8 cannot be serialized: the target stays as it was.
    json bad = kDocument;
    bad["layout"] = "\xFF";
    EXPECT_THROW(writeProjectFile(target, bad), json::type_error);
    EXPECT_EQ(readProjectFile(target), kDocument);

    // A folder in the way of the temporary file.
    fs::create_directories(folder_ / "blocked.vkrack.tmp");
    try {
        writeProjectFile(folder_ / "blocked.vkrack", kDocument);
        FAIL() << "a save into a folder succeeded";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Could not create rack project.");
    }
}

TEST_F(ProjectFile, AFailedMoveOrWriteLeavesTheTargetAndNoTemporaryFile) {
    const fs::path target = folder_ / "taken.vkrack";
    fs::create_directories(target / "inside");
    EXPECT_EQ(saveFailure(target), "Could not finalize rack project.");
    EXPECT_TRUE(fs::is_directory(target / "inside"));
    EXPECT_FALSE(fs::exists(folder_ / "taken.vkrack.tmp"));
#ifndef _WIN32
    const fs::path full = folder_ / "full.vkrack";
    writeBytes(full, "{}");
    {
        const testing::FileSizeLimit disk(16);
        EXPECT_EQ(saveFailure(full), "Could not save rack project.");
    }
    EXPECT_EQ(readBytes(full), "{}");
    EXPECT_FALSE(fs::exists(folder_ / "full.vkrack.tmp"));
#endif
}

TEST_F(ProjectFile, SizeLimitIsInclusiveAndCheckedBeforeParsing) {
    const std::string text = kDocument.dump();
    const fs::path exact = folder_ / "exact.vkrack";
    writeBytes(exact, text + std::string(kMaxProjectFileBytes - text.size(), ' '));
    EXPECT_EQ(readProjectFile(exact), kDocument);

    // One byte over, and not even JSON: the size is the error.
    const fs::path over = folder_ / "over.vkrack";
    writeBytes(over, std::string(kMaxProjectFileBytes + 1, '#'));
    EXPECT_EQ(readFailure(over), "Project exceeds 64 MiB.");
}

TEST_F(ProjectFile, ReadingTakesTheFirstValueAndSkipsAByteOrderMark) {
    const fs::path trailing = folder_ / "trailing.vkrack";
    writeBytes(trailing, kDocument.dump() + "\n}} garbage");
    EXPECT_EQ(readProjectFile(trailing), kDocument);

    const fs::path marked = folder_ / "marked.vkrack";
    writeBytes(marked, "\xEF\xBB\xBF" + kDocument.dump(2));
    EXPECT_EQ(readProjectFile(marked), kDocument);
}

TEST_F(ProjectFile, EmptyMissingAndCommentedFiles) {
    const fs::path empty = folder_ / "empty.vkrack";
    writeBytes(empty, "");
    EXPECT_EQ(readFailure(empty), "parse error");
    EXPECT_EQ(readFailure(folder_ / "missing.vkrack"), "Could not open rack project.");
    const fs::path commented = folder_ / "commented.vkrack";
    writeBytes(commented, "// note\n{}");
    EXPECT_EQ(readFailure(commented), "parse error");
}

TEST_F(ProjectFile, DeepNestingAndFilesThatAreNotRegularAreRefusedBeforeReading) {
    const fs::path deep = folder_ / "deep.vkrack";
    writeBytes(deep, R"({"layout":)" + std::string(200000, '[') + std::string(200000, ']') + "}");
    EXPECT_EQ(readFailure(deep), "Rack project is nested too deeply.");
    EXPECT_EQ(readFailure(folder_), "Could not open rack project.");
#ifndef _WIN32
    // Opening a FIFO for reading would wait for a writer forever.
    const fs::path fifo = folder_ / "fifo.vkrack";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(readFailure(fifo), "Could not open rack project.");
#endif
}

TEST_F(ProjectFile, ADocumentThatWouldSavePastTheLimitIsRefusedAndTheOldFileStays) {
    const fs::path target = folder_ / "kept.vkrack";
    writeProjectFile(target, kDocument);
    json large = kDocument;
    large["layout"]["pad"] = std::string(kMaxProjectFileBytes, 'x');
    try {
        writeProjectFile(target, large);
        ADD_FAILURE() << "saved";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Project exceeds 64 MiB.");
    }
    EXPECT_EQ(readBytes(target), kDocument.dump(2));
    EXPECT_FALSE(fs::exists(folder_ / "kept.vkrack.tmp"));
}

// Sets an environment variable for one test and puts the old value back afterwards.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            saved_ = old;
        }
        set(value.c_str());
    }
    ~ScopedEnvironment() { set(saved_ ? saved_->c_str() : nullptr); }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    void set(const char* value) {
#ifdef _WIN32
        _putenv_s(name_, value != nullptr ? value : "");
#else
        if (value != nullptr) {
            setenv(name_, value, 1);
        } else {
            unsetenv(name_);
        }
#endif
    }

    const char* name_;
    std::optional<std::string> saved_;
};

class UserStorage : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device random;
        folder_ = fs::temp_directory_path() / ("velkaphon-storage-" + std::to_string(random()));
    }
    void TearDown() override { fs::remove_all(folder_); }

    fs::path folder_;
};

TEST_F(UserStorage, CreatesTheProductFolderUnderLocalAppData) {
    const ScopedEnvironment local("LOCALAPPDATA", (folder_ / "nested").string());
    const fs::path storage = userStorageFolder();
    EXPECT_EQ(storage, folder_ / "nested" / "VELKAPHON RACK");
    EXPECT_TRUE(fs::is_directory(storage));
    EXPECT_EQ(userStorageFolder(), storage);
}

TEST_F(UserStorage, WithoutLocalAppData) {
    const ScopedEnvironment local("LOCALAPPDATA", "");
#ifdef _WIN32
    try {
        userStorageFolder();
        FAIL() << "storage was found without LOCALAPPDATA";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Local application storage unavailable.");
    }
#else
    // This machine falls back to the XDG data folder.
    const ScopedEnvironment xdg("XDG_DATA_HOME", (folder_ / "xdg").string());
    EXPECT_EQ(userStorageFolder(), folder_ / "xdg" / "VELKAPHON RACK");
#endif
}

// Every door that takes a file name answers a name the system refuses as too long in one
// sentence, and any other refusal with its reason, never with the library's text of the path.
TEST_F(UserStorage, FileSystemRefusalsAreOneShortSentence) {
    const std::string name = (folder_ / std::string(4000, 'n')).string();
    RackApplication rack(true);
    const auto lone = [&](const char* type, json configuration) {
        return [&rack, type, configuration] {
            const json node = {{"id", "node"}, {"type", type}, {"configuration", configuration}};
            rack.handleCommand(testing::request(
                "graph", {{"schema", 1}, {"nodes", {node}}, {"cables", json::array()}}));
        };
    };
    struct Door {
        const char* name;
        std::function<void()> enter;
        std::string refusal;
    };
    const std::string tooLong = "The file name is too long.";
    std::vector<Door> doors = {
        {"open project", [&] { readProjectFile(name + ".vkrack"); }, tooLong},
        {"save project", [&] { writeProjectFile(name + ".vkrack", kDocument); }, tooLong},
        {"storage folder",
         [&] {
             const ScopedEnvironment local("LOCALAPPDATA", name);
             userStorageFolder();
         },
         tooLong},
        {"player", lone("player", {{"path", name + ".wav"}}), tooLong},
        {"recorder", lone("recorder", {{"path", name + ".wav"}, {"armed", true}}), tooLong},
        {"vst3 plug-in", lone("vst3", {{"path", name + ".vst3"}}), tooLong},
        {"clap plug-in", lone("clap", {{"path", name + ".clap"}}), tooLong},
    };
#ifndef _WIN32
    fs::create_directories(folder_);
    fs::create_symlink("loop.wav", folder_ / "loop.wav");
    doors.push_back({"recorder through a looping link",
                     lone("recorder", {{"path", (folder_ / "loop.wav").string()}, {"armed", true}}),
                     "Cannot check the recording destination: Too many levels of symbolic links."});
#endif
    for (const Door& door : doors) {
        try {
            door.enter();
            ADD_FAILURE() << door.name << " took the name";
        } catch (const std::exception& error) {
#ifdef _WIN32
            // Windows refuses such a name as not found, in its own words: never with the path.
            EXPECT_EQ(std::string(error.what()).find("nnnnnnnn"), std::string::npos) << door.name;
            EXPECT_LT(std::string(error.what()).size(), 100u) << door.name;
#else
            EXPECT_EQ(error.what(), door.refusal) << door.name;
#endif
        }
    }
}

} // namespace
} // namespace velkaphon::rack
