#include "view/page_bridge.hpp"

#include "app/project_file.hpp"
#include "app/rack_application.hpp"
#include "engine/json_number.hpp"
#include "engine/untrusted_json.hpp"
#include "engine/utf8_text.hpp"

#include <cmath>
#include <limits>
#include <stdexcept>

namespace velkaphon::rack {

namespace {

using nlohmann::json;

struct ViewMethod {
    const char* name;
    BrowseKind kind;
};

constexpr ViewMethod kPickers[] = {
    {"pickAudio", BrowseKind::AudioFile},   {"pickRecording", BrowseKind::RecordingDestination},
    {"pickPlugin", BrowseKind::PluginFile}, {"pickPluginFolder", BrowseKind::PluginBundleFolder},
    {"pickFolder", BrowseKind::Folder},
};

bool isViewMethod(const std::string& method) {
    for (const ViewMethod& picker : kPickers) {
        if (method == picker.name) {
            return true;
        }
    }
    return method == "saveProject" || method == "loadProject" || method == "editor";
}

// The request's id as the page gave it: a boolean counts 0 or 1 and a fraction is cut toward
// zero. A number outside the 32-bit range is refused like any other id that is not a number.
int requestId(const json& request) {
    const json id = request.value("id", json(0));
    if (id.is_boolean()) {
        return id.get<bool>() ? 1 : 0;
    }
    constexpr auto kLowest = std::numeric_limits<int>::lowest();
    constexpr auto kHighest = std::numeric_limits<int>::max();
    std::optional<std::int64_t> whole;
    if (id.is_number_float()) {
        const double cut = std::trunc(id.get<double>());
        if (cut >= kLowest && cut <= kHighest) {
            whole = static_cast<std::int64_t>(cut);
        }
    } else {
        whole = jsonInteger(id, kLowest, kHighest);
    }
    if (!whole) {
        throw std::out_of_range("The request id is not a 32-bit integer.");
    }
    return static_cast<int>(*whole);
}

json browseResultJson(const BrowseResult& result) {
    return {{"path", result.path}, {"cancelled", result.cancelled}};
}

std::filesystem::path chosenPath(const BrowseResult& result) {
    const auto path = pathFromUtf8(result.path);
    if (!path) {
        throw std::runtime_error("The selected file path could not be read.");
    }
    return *path;
}

// A second dialog cannot open inside the first: modal dialogs pump messages.
class DialogGuard {
public:
    explicit DialogGuard(bool& open) : open_(open) {
        if (open_) {
            throw std::runtime_error("A file dialog is already open.");
        }
        open_ = true;
    }
    ~DialogGuard() { open_ = false; }
    DialogGuard(const DialogGuard&) = delete;
    DialogGuard& operator=(const DialogGuard&) = delete;

private:
    bool& open_;
};

} // namespace

PageBridge::PageBridge(RackApplication& rack, std::string origin, Browse browse,
                       EditorWindowHost& editors)
    : rack_(rack), origin_(std::move(origin)), browse_(std::move(browse)), editors_(editors) {}

std::optional<std::string> PageBridge::answer(std::string_view source, std::string_view message) {
    if (closed_ || source.size() < origin_.size() || source.substr(0, origin_.size()) != origin_) {
        return std::nullopt;
    }
    json reply = json::object();
    try {
        const json request =
            readUntrustedJson(message, JsonExtent::WholeText, "Command is nested too deeply.");
        reply["id"] = requestId(request);
        if (request.dump().size() > kMaxPageRequestBytes) {
            throw std::length_error("Command exceeds limit.");
        }
        reply["result"] = route(request);
        reply["ok"] = true;
    } catch (const std::exception& error) {
        reply.erase("result");
        reply["ok"] = false;
        reply["error"] = error.what();
    }
    // A view closed while the request ran (a dialog was open) posts nothing.
    if (closed_) {
        return std::nullopt;
    }
    return serializeReply(reply);
}

json PageBridge::route(const json& request) {
    const std::string method = request.at("method").get<std::string>();
    const json params = request.contains("params") ? request["params"] : json::object();
    if (!isViewMethod(method)) {
        return rack_.handleCommand(request);
    }
    const DialogGuard guard(dialogOpen_);
    for (const ViewMethod& picker : kPickers) {
        if (method == picker.name) {
            return browse(picker.kind, params, "");
        }
    }
    if (method == "saveProject") {
        return saveProject(params);
    }
    if (method == "loadProject") {
        return loadProject(params);
    }
    return openEditor(params);
}

json PageBridge::browse(BrowseKind kind, const json& params, const std::string& fallback) {
    const std::string current = params.value("current", fallback);
    BrowseResult result = browse_(kind, current);
    if (closed_) {
        throw std::runtime_error("The rack editor closed before file selection completed.");
    }
    return browseResultJson(result);
}

json PageBridge::saveProject(const json& params) {
    const json chosen = browse(BrowseKind::SaveProject, params, projectPath_);
    if (chosen["cancelled"].get<bool>()) {
        return chosen;
    }
    const std::string path = chosen["path"].get<std::string>();
    writeProjectFile(chosenPath({path, false}), rack_.projectDocument());
    projectPath_ = path;
    return chosen;
}

json PageBridge::loadProject(const json& params) {
    const json chosen = browse(BrowseKind::OpenProject, params, projectPath_);
    if (chosen["cancelled"].get<bool>()) {
        return chosen;
    }
    const std::string path = chosen["path"].get<std::string>();
    rack_.restoreProject(readProjectFile(chosenPath({path, false})));
    projectPath_ = path;
    return rack_.handleCommand({{"method", "state"}});
}

json PageBridge::openEditor(const json& params) {
    rack_.closeHostedEditors();
    const NativeWindowHandle window = editors_.replaceEditorWindow();
    const std::string node = params.at("node").get<std::string>();
    std::string error;
    if (!rack_.openEditor(node, window, error)) {
        editors_.destroyEditorWindow();
        throw std::runtime_error(error);
    }
    return json::object();
}

std::string serializeReply(const json& reply) {
    try {
        return reply.dump(-1, ' ', false, json::error_handler_t::replace);
    } catch (const std::exception&) {
        json fallback = {{"ok", false}, {"error", "The reply could not be written."}};
        if (reply.contains("id")) {
            fallback["id"] = reply["id"];
        }
        return fallback.dump();
    }
}

} // namespace velkaphon::rack
