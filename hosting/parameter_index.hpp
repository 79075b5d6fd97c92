#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace velkaphon::rack {

// A plug-in's parameters ordered by id, built once their list is read, so that the audio thread
// finds a parameter by id with a binary search instead of a walk through up to 4096 of them.
class ParameterIndex {
public:
    // [control] The ids in list order. Of parameters sharing an id, which neither format allows,
    // only the first in the list is found: edits and reports reach that one alone.
    void build(const std::vector<std::uint32_t>& ids);

    // [any] No lock, no allocation. The parameter's place in the list, none for an id no
    // parameter has.
    std::optional<std::size_t> find(std::uint32_t id) const noexcept;

    std::size_t size() const noexcept { return ids_.size(); }

private:
    // Apart, so that the search reads ids only, densely.
    std::vector<std::uint32_t> ids_;
    std::vector<std::uint32_t> places_;
};

} // namespace velkaphon::rack
