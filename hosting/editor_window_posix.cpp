#include "hosting/editor_window.hpp"
#include "hosting/editor_window_stand_in.hpp"

#include <deque>
#include <string>

namespace velkaphon::rack {

namespace {

struct StandIn {
    // A deque, so that the records never move: their addresses are the handles.
    std::deque<StandInWindow> windows;
    std::vector<std::string> calls;
    bool failNextChild = false;
};

StandIn& standIn() {
    static StandIn state;
    return state;
}

StandInWindow* recordOf(NativeWindowHandle window) {
    auto* record = static_cast<StandInWindow*>(window);
    return record != nullptr && record->alive ? record : nullptr;
}

std::string size(std::int32_t width, std::int32_t height) {
    return std::to_string(width) + "x" + std::to_string(height);
}

void setClientSize(StandInWindow& window, std::int32_t width, std::int32_t height) {
    window.clientWidth = width;
    window.clientHeight = height;
}

} // namespace

NativeWindowHandle createStandInWindow(const std::string& className, std::int32_t clientWidth,
                                       std::int32_t clientHeight) {
    StandInWindow& window = standIn().windows.emplace_back();
    window.className = className;
    setClientSize(window, clientWidth, clientHeight);
    return &window;
}

void destroyStandInWindow(NativeWindowHandle window) {
    if (StandInWindow* record = recordOf(window)) {
        record->alive = false;
    }
}

const StandInWindow& standInWindow(NativeWindowHandle window) {
    return *static_cast<const StandInWindow*>(window);
}

std::vector<std::string> standInWindowCalls() {
    return standIn().calls;
}

void clearStandInWindowCalls() {
    standIn().calls.clear();
}

void failNextStandInChildWindow() {
    standIn().failNextChild = true;
}

NativeWindowHandle createEditorChildWindow(NativeWindowHandle parent, std::int32_t width,
                                           std::int32_t height) {
    StandIn& state = standIn();
    state.calls.push_back("create child " + size(width, height));
    if (state.failNextChild || recordOf(parent) == nullptr) {
        state.failNextChild = false;
        return nullptr;
    }
    NativeWindowHandle child = createStandInWindow("STATIC", width, height);
    static_cast<StandInWindow*>(child)->parent = parent;
    return child;
}

void destroyEditorChildWindow(NativeWindowHandle child) {
    standIn().calls.push_back("destroy child");
    if (StandInWindow* window = recordOf(child)) {
        window->alive = false;
    }
}

void resizeVstEditorWindow(NativeWindowHandle window, std::int32_t width, std::int32_t height) {
    StandInWindow* record = recordOf(window);
    if (record == nullptr || record->className != "VelkaphonVstEditor") {
        return;
    }
    standIn().calls.push_back("size editor " + size(width, height));
    setClientSize(*record, width, height);
}

void resizeVstEditorChild(NativeWindowHandle child, std::int32_t width, std::int32_t height) {
    standIn().calls.push_back("size child " + size(width, height));
    if (StandInWindow* record = recordOf(child)) {
        setClientSize(*record, width, height);
        resizeVstEditorWindow(record->parent, width, height);
    }
}

void resizeWindowClientArea(NativeWindowHandle window, std::int32_t width, std::int32_t height) {
    standIn().calls.push_back("size client " + size(width, height));
    if (StandInWindow* record = recordOf(window)) {
        setClientSize(*record, width, height);
    }
}

} // namespace velkaphon::rack
