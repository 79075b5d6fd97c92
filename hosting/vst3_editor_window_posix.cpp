#include "hosting/vst3_editor_window.hpp"

namespace velkaphon::rack {

void resizeVstEditorWindow(NativeWindowHandle, std::int32_t, std::int32_t) {}

void resizeVstEditorChild(NativeWindowHandle, std::int32_t, std::int32_t) {}

} // namespace velkaphon::rack
