#include "app/control_window.hpp"

#include <cstdint>

namespace velkaphon::rack {

std::wstring controlWindowClassName(const void* owner) {
    return L"VelkaphonRackControlService-" +
           std::to_wstring(reinterpret_cast<std::uintptr_t>(owner));
}

} // namespace velkaphon::rack
