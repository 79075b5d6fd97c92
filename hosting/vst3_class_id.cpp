#include "hosting/vst3_class_id.hpp"

#include <stdexcept>

namespace velkaphon::rack {

namespace {

constexpr const char* kDigits = "0123456789ABCDEF";

int digitValue(char digit) {
    if (digit >= '0' && digit <= '9') {
        return digit - '0';
    }
    if (digit >= 'A' && digit <= 'F') {
        return digit - 'A' + 10;
    }
    if (digit >= 'a' && digit <= 'f') {
        return digit - 'a' + 10;
    }
    return -1;
}

} // namespace

std::string vstClassIdText(const vst3::Uid& classId) {
    std::string text;
    for (const std::uint8_t byte : classId) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

vst3::Uid parseVstClassId(std::string_view text) {
    if (text.size() != 32) {
        throw std::runtime_error("VST3 classId must be 32 hex characters.");
    }
    vst3::Uid classId{};
    for (std::size_t i = 0; i < classId.size(); ++i) {
        const int high = digitValue(text[2 * i]);
        const int low = digitValue(text[2 * i + 1]);
        if (high < 0 || low < 0) {
            throw std::runtime_error("Invalid classId.");
        }
        classId[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    return classId;
}

} // namespace velkaphon::rack
