#pragma once

#include "view/file_dialogs.hpp"

#include <nlohmann/json.hpp>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace velkaphon::rack {

class RackApplication;

inline constexpr std::size_t kMaxPageRequestBytes = 67'108'864;

// The platform's part of the "editor" request: a window of its own for a plug-in's editor.
class EditorWindowHost {
public:
    // [control] Destroys any editor window held, then makes a new one and answers it.
    virtual NativeWindowHandle replaceEditorWindow() = 0;
    // [control] Destroys the editor window held, if any.
    virtual void destroyEditorWindow() = 0;

protected:
    ~EditorWindowHost() = default;
};

// The page's side of the rack: takes one message text from the page and gives exactly one reply
// text, answering the file pickers, "saveProject", "loadProject" and "editor" itself and handing
// every other method to the rack's dispatcher. Everything runs on the UI thread.
class PageBridge {
public:
    using Browse = std::function<BrowseResult(BrowseKind kind, const std::string& current)>;

    // origin: what every accepted message's source starts with.
    PageBridge(RackApplication& rack, std::string origin, Browse browse, EditorWindowHost& editors);

    // [control] The reply text, or nothing for a message that gets none (a foreign source, or a
    // bridge that is closed).
    std::optional<std::string> answer(std::string_view source, std::string_view message);

    // [control] From now on nothing is answered; a dialog still open loses its choice.
    void close() { closed_ = true; }
    bool closed() const { return closed_; }

    const std::string& projectPath() const { return projectPath_; }

private:
    nlohmann::json route(const nlohmann::json& request);
    nlohmann::json browse(BrowseKind kind, const nlohmann::json& params,
                          const std::string& fallback);
    nlohmann::json saveProject(const nlohmann::json& params);
    nlohmann::json loadProject(const nlohmann::json& params);
    nlohmann::json openEditor(const nlohmann::json& params);

    RackApplication& rack_;
    std::string origin_;
    Browse browse_;
    EditorWindowHost& editors_;
    std::string projectPath_;
    bool closed_ = false;
    bool dialogOpen_ = false;
};

// The reply as text: invalid UTF-8 inside a result or an error (a plug-in's name, a system
// message) is replaced rather than left to fail the writer.
std::string serializeReply(const nlohmann::json& reply);

} // namespace velkaphon::rack
