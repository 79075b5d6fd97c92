// The standalone program: restores the last rack, shows it in the main window, and stops and
// saves it when the window is closed.

#include "app/rack_application.hpp"
#include "audio/text_codec.hpp"
#include "desktop/last_rack.hpp"
#include "view/message_box.hpp"
#include "view/native_rack_view.hpp"

#include <filesystem>
#include <objbase.h>
#include <windows.h>

namespace velkaphon::rack {
namespace {

constexpr const wchar_t* kMainClass = L"VelkaphonRackMain";

struct MainWindowState {
    RackApplication* rack = nullptr;
    NativeViewHandle view = nullptr;
    std::filesystem::path lastRackPath;
};

std::wstring widen(const std::string& text) {
    const std::u16string wide = utf8ToWide(text);
    return {wide.begin(), wide.end()};
}

MainWindowState* stateOf(HWND window) {
    return reinterpret_cast<MainWindowState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

void closeMainWindow(HWND window, MainWindowState& state) {
    if (showMessageBox(window, kCloseQuestion, kProductTitle, kMessageBoxQuestion) !=
        kMessageBoxAnswerYes) {
        return;
    }
    if (const auto error = stopAndSaveLastRack(*state.rack, state.lastRackPath)) {
        // The window stays open with the rack stopped; the next close asks again.
        showMessageBox(window, *error, kSaveFailedCaption, kMessageBoxError);
        return;
    }
    destroyNativeRackView(state.view);
    state.view = nullptr;
    DestroyWindow(window);
}

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    MainWindowState* state = stateOf(window);
    switch (message) {
    case WM_SIZE:
        if (state != nullptr && state->view != nullptr) {
            resizeNativeRackView(state->view, LOWORD(lParam), HIWORD(lParam));
            return 0;
        }
        break;
    case WM_CLOSE:
        if (state != nullptr) {
            closeMainWindow(window, *state);
            return 0;
        }
        break;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

int runDesktopApp(HINSTANCE instance, int showCommand) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    auto* rack = new RackApplication(false);

    MainWindowState state;
    state.rack = rack;
    state.lastRackPath = lastRackPath();
    if (const auto warning = restoreLastRack(*rack, state.lastRackPath)) {
        showMessageBox(nullptr, *warning, kProductTitle, kMessageBoxWarning);
    }

    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = mainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kMainClass;
    RegisterClassW(&windowClass);

    const HWND window = CreateWindowExW(0, kMainClass, widen(kMainWindowTitle).c_str(),
                                        WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 1360,
                                        920, nullptr, nullptr, instance, nullptr);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state));
    state.view = createNativeRackView(window, rack);
    ShowWindow(window, showCommand);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    delete rack;
    CoUninitialize();
    return 0;
}

} // namespace
} // namespace velkaphon::rack

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    return velkaphon::rack::runDesktopApp(instance, showCommand);
}
