#pragma once

#include "audio/wave_format.hpp"

#include <optional>
#include <string>

namespace velkaphon::rack {

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case, as StringFromGUID2 writes it.
std::string guidText(const Guid& guid);

// The braced form in either case, as CLSIDFromString reads a GUID; nullopt for anything else.
std::optional<Guid> parseGuidText(const std::u16string& text);

} // namespace velkaphon::rack
