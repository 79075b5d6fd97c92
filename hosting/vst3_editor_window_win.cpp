#include "hosting/vst3_editor_window.hpp"

#include <cwchar>
#include <windows.h>

namespace velkaphon::rack {

namespace {

constexpr UINT kSizeOnly = SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE;

} // namespace

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

} // namespace velkaphon::rack
