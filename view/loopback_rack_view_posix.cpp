#include "app/project_file.hpp"
#include "app/rack_application.hpp"
#include "view/file_dialogs.hpp"
#include "view/loopback_rack_view.hpp"
#include "view/page_bridge.hpp"
#include "view/page_server.hpp"
#include "view/ui_folder.hpp"

#include <filesystem>
#include <memory>

namespace velkaphon::rack {

namespace {

// No window system here: an editor "window" is a token the hosted plug-in's stand-in records.
class TokenEditorWindows : public EditorWindowHost {
public:
    NativeWindowHandle replaceEditorWindow() override {
        open_ = true;
        return &open_;
    }
    void destroyEditorWindow() override { open_ = false; }

private:
    bool open_ = false;
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

    TokenEditorWindows editors;
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
