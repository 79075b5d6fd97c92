#include "app/project_file.hpp"
#include "app/rack_application.hpp"
#include "hosting/editor_window_stand_in.hpp"
#include "view/file_dialogs.hpp"
#include "view/loopback_rack_view.hpp"
#include "view/page_bridge.hpp"
#include "view/page_server.hpp"
#include "view/ui_folder.hpp"

#include <filesystem>
#include <memory>

namespace velkaphon::rack {

namespace {

// No window system here: the editor window is a record of the hosting stand-in, which plug-in
// editors attach to and size as they would a real window of that class.
class StandInEditorWindows : public EditorWindowHost {
public:
    NativeWindowHandle replaceEditorWindow() override {
        destroyEditorWindow();
        window_ = createStandInWindow("VelkaphonVstEditor", 900, 650);
        return window_;
    }
    void destroyEditorWindow() override {
        destroyStandInWindow(window_);
        window_ = nullptr;
    }

private:
    NativeWindowHandle window_ = nullptr;
};

std::filesystem::path programPath() {
    return std::filesystem::read_symlink("/proc/self/exe");
}

} // namespace

struct NativeRackView {
    explicit NativeRackView(RackApplication& rack)
        : server(uiFolderForModule(programPath())),
          bridge(
              rack, server.origin(),
              [](BrowseKind kind, const std::string& current) {
                  return browseForPath(nullptr, kind, current);
              },
              editors) {}

    StandInEditorWindows editors;
    PageServer server;
    PageBridge bridge;
};

NativeViewHandle createNativeRackView(void*, RackApplication* rack) {
    // Resolved first, as the real view does for its browser data, so a failure leaves nothing.
    userStorageFolder();
    return new NativeRackView(*rack);
}

void resizeNativeRackView(NativeViewHandle, std::uint32_t, std::uint32_t) {}

void destroyNativeRackView(NativeViewHandle view) {
    if (view == nullptr) {
        return;
    }
    view->bridge.close();
    delete view;
}

std::string rackViewAddress(NativeViewHandle view) {
    return view->server.pageAddress();
}

void pumpRackView(NativeViewHandle view, std::chrono::milliseconds timeout) {
    const std::string source = view->server.origin();
    view->server.answerPending(
        [&](const std::string& message) { return view->bridge.answer(source, message); }, timeout);
}

} // namespace velkaphon::rack
