#include "hosting/parameter_index.hpp"

#include <algorithm>
#include <numeric>

namespace velkaphon::rack {

void ParameterIndex::build(const std::vector<std::uint32_t>& ids) {
    places_.resize(ids.size());
    std::iota(places_.begin(), places_.end(), 0u);
    std::stable_sort(places_.begin(), places_.end(), [&](std::uint32_t left, std::uint32_t right) {
        return ids[left] < ids[right];
    });
    ids_.resize(ids.size());
    std::transform(places_.begin(), places_.end(), ids_.begin(),
                   [&](std::uint32_t place) { return ids[place]; });
}

// A search without branches on the ids: a plug-in reports values in no order the processor's
// branch prediction could learn, and every wrong guess costs more than the comparison.
std::optional<std::size_t> ParameterIndex::find(std::uint32_t id) const noexcept {
    if (ids_.empty()) {
        return std::nullopt;
    }
    const std::uint32_t* base = ids_.data();
    std::size_t length = ids_.size();
    while (length > 1) {
        const std::size_t half = length / 2;
        base = base[half] < id ? base + half : base;
        length -= half;
    }
    base += *base < id ? 1 : 0;
    const auto found = static_cast<std::size_t>(base - ids_.data());
    if (found == ids_.size() || *base != id) {
        return std::nullopt;
    }
    return places_[found];
}

} // namespace velkaphon::rack
