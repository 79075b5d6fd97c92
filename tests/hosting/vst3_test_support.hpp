#pragma once

// What the VST3 hosting tests share: where the test plug-in's bundles lie, and its call log.

#include "tests/plugins/vst3_test_plugin/vst3_test_plugin_probe.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace velkaphon::rack::testing {

inline std::u16string u16(const char* path) {
    return std::filesystem::path(path).u16string();
}

// Points the test plug-in's log at a file of this test's own, empty at the start.
class Vst3CallLog {
public:
    Vst3CallLog() {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(test->test_suite_name()) + "-" + test->name();
        // Parameterized tests have slashes in their names.
        std::replace(name.begin(), name.end(), '/', '-');
        path_ = std::filesystem::temp_directory_path() / ("velkaphon-vst3-" + name + ".log");
        std::filesystem::remove(path_);
        setVariable(path_.string());
    }

    ~Vst3CallLog() {
        setVariable("");
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }

    Vst3CallLog(const Vst3CallLog&) = delete;
    Vst3CallLog& operator=(const Vst3CallLog&) = delete;

    std::vector<std::string> lines() const {
        std::vector<std::string> result;
        std::ifstream file(path_);
        for (std::string line; std::getline(file, line);) {
            result.push_back(line);
        }
        return result;
    }

    int count(const std::string& line) const {
        int found = 0;
        for (const std::string& entry : lines()) {
            found += entry == line ? 1 : 0;
        }
        return found;
    }

private:
    static void setVariable(const std::string& value) {
#ifdef _WIN32
        _putenv_s(kVst3TestLogVariable, value.c_str());
#else
        setenv(kVst3TestLogVariable, value.c_str(), 1);
#endif
    }

    std::filesystem::path path_;
};

} // namespace velkaphon::rack::testing
