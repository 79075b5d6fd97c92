#include "engine/untrusted_json.hpp"

#include <sstream>
#include <stdexcept>
#include <string>

namespace velkaphon::rack {
namespace {

using nlohmann::json;

// Follows the nesting of the first value without building anything; malformed text is left to
// the parse that follows, which reports it in the library's words.
class DepthCheck final : public json::json_sax_t {
public:
    bool tooDeep() const { return tooDeep_; }

    bool null() override { return true; }
    bool boolean(bool) override { return true; }
    bool number_integer(number_integer_t) override { return true; }
    bool number_unsigned(number_unsigned_t) override { return true; }
    bool number_float(number_float_t, const string_t&) override { return true; }
    bool string(string_t&) override { return true; }
    bool binary(binary_t&) override { return true; }
    bool key(string_t&) override { return true; }
    bool start_object(std::size_t) override { return enter(); }
    bool end_object() override { return leave(); }
    bool start_array(std::size_t) override { return enter(); }
    bool end_array() override { return leave(); }
    bool parse_error(std::size_t, const std::string&, const json::exception&) override {
        return false;
    }

private:
    bool enter() {
        if (++depth_ > kMaxJsonDepth) {
            tooDeep_ = true;
            return false;
        }
        return true;
    }

    bool leave() {
        --depth_;
        return true;
    }

    std::size_t depth_ = 0;
    bool tooDeep_ = false;
};

} // namespace

nlohmann::json readUntrustedJson(std::string_view text, JsonExtent extent, const char* tooDeep) {
    DepthCheck check;
    json::sax_parse(text.begin(), text.end(), &check, json::input_format_t::json, false);
    if (check.tooDeep()) {
        throw std::runtime_error(tooDeep);
    }
    if (extent == JsonExtent::WholeText) {
        return json::parse(text.begin(), text.end());
    }
    std::istringstream stream{std::string(text)};
    json value;
    stream >> value;
    return value;
}

} // namespace velkaphon::rack
