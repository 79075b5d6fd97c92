#include "app/control_window.hpp"
#include "app/rack_application.hpp"

#include <windows.h>

namespace velkaphon::rack {

namespace {

constexpr UINT_PTR kTimerId = 1;
constexpr UINT kTimerPeriodMs = 50;

LRESULT CALLBACK controlWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_TIMER) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    auto* owner = reinterpret_cast<RackApplication*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (owner != nullptr) {
        owner->runControlTimer();
    }
    return 0;
}

} // namespace

void openControlWindow(ControlWindow& control, RackApplication& owner) {
    control.className = controlWindowClassName(&owner);
    HMODULE instance = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&controlWindowProc), &instance);
    control.instance = instance;

    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = controlWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = control.className.c_str();
    RegisterClassExW(&windowClass);

    HWND window = CreateWindowExW(0, control.className.c_str(), L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                  nullptr, instance, nullptr);
    if (window == nullptr) {
        return;
    }
    control.window = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&owner));
    SetTimer(window, kTimerId, kTimerPeriodMs, nullptr);
}

void closeControlWindow(ControlWindow& control) {
    if (control.window != nullptr) {
        HWND window = static_cast<HWND>(control.window);
        KillTimer(window, kTimerId);
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        DestroyWindow(window);
        control.window = nullptr;
    }
    if (control.instance != nullptr) {
        UnregisterClassW(control.className.c_str(), static_cast<HINSTANCE>(control.instance));
        control.instance = nullptr;
    }
}

} // namespace velkaphon::rack
