#pragma once

// What the Linux stand-in of the editor windows lets tests see and arrange.

#include "engine/module.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace velkaphon::rack {

struct StandInWindow {
    std::string className;
    NativeWindowHandle parent = nullptr;
    std::int32_t clientWidth = 0;
    std::int32_t clientHeight = 0;
    bool alive = true;
};

// [control] A top-level window of the class, as the rack's view would create.
NativeWindowHandle createStandInWindow(const std::string& className, std::int32_t clientWidth,
                                       std::int32_t clientHeight);

// [control] The window is gone; a child can no longer be made in it, nor can it be sized.
void destroyStandInWindow(NativeWindowHandle window);

// The record of a window the stand-in made; its records last as long as the process.
const StandInWindow& standInWindow(NativeWindowHandle window);

// Every editor window call since the last clear, one line each: "create child 320x200",
// "destroy child", "size child 400x300", "size editor 400x300", "size client 320x200".
std::vector<std::string> standInWindowCalls();
void clearStandInWindowCalls();

// The next createEditorChildWindow fails, as CreateWindowExW can.
void failNextStandInChildWindow();

} // namespace velkaphon::rack
