#include "hosting/editor_window.hpp"

#include <cwchar>
#include <windows.h>

namespace velkaphon::rack {

namespace {

constexpr UINT kSizeOnly = SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE;
// Child, visible, clipping its children.
constexpr DWORD kChildStyle = 0x52000000;

} // namespace

NativeWindowHandle createEditorChildWindow(NativeWindowHandle parent, std::int32_t width,
                                           std::int32_t height) {
    return CreateWindowExW(0, L"STATIC", L"", kChildStyle, 0, 0, width, height,
                           static_cast<HWND>(parent), nullptr, GetModuleHandleW(nullptr), nullptr);
}

void destroyEditorChildWindow(NativeWindowHandle child) {
    DestroyWindow(static_cast<HWND>(child));
}

void resizeVstEditorWindow(NativeWindowHandle window, std::int32_t width, std::int32_t height) {
    const HWND handle = static_cast<HWND>(window);
    if (handle == nullptr || !IsWindow(handle)) {
        return;
    }
    wchar_t className[80] = {};
    if (GetClassNameW(handle, className, 80) == 0 ||
        std::wcscmp(className, L"VelkaphonVstEditor") != 0) {
        return;
    }
    RECT frame{0, 0, width, height};
    const auto style = static_cast<DWORD>(GetWindowLongPtrW(handle, GWL_STYLE));
    const auto extendedStyle = static_cast<DWORD>(GetWindowLongPtrW(handle, GWL_EXSTYLE));
    AdjustWindowRectEx(&frame, style, FALSE, extendedStyle);
    SetWindowPos(handle, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 kSizeOnly);
}

void resizeVstEditorChild(NativeWindowHandle child, std::int32_t width, std::int32_t height) {
    const HWND handle = static_cast<HWND>(child);
    SetWindowPos(handle, nullptr, 0, 0, width, height, kSizeOnly);
    resizeVstEditorWindow(GetParent(handle), width, height);
}

void resizeWindowClientArea(NativeWindowHandle window, std::int32_t width, std::int32_t height) {
    const HWND handle = static_cast<HWND>(window);
    RECT frame{0, 0, width, height};
    AdjustWindowRect(&frame, static_cast<DWORD>(GetWindowLongW(handle, GWL_STYLE)), FALSE);
    SetWindowPos(handle, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER);
}

} // namespace velkaphon::rack
