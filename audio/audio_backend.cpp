#include "audio/audio_backend.hpp"

namespace velkaphon::rack {

namespace {

void layOutRows(std::vector<float>& rows, std::vector<float*>& pointers, std::uint32_t channels) {
    rows.assign(std::size_t{channels} * kMaximumRowFrames, 0.0f);
    pointers.resize(channels);
    for (std::uint32_t row = 0; row < channels; ++row) {
        pointers[row] = rows.data() + std::size_t{row} * kMaximumRowFrames;
    }
}

} // namespace

void layOutPlanarRows(AudioBackend& backend) {
    layOutRows(backend.inputRows, backend.inputRowPointers, backend.inputChannels);
    layOutRows(backend.outputRows, backend.outputRowPointers, backend.outputChannels);
}

} // namespace velkaphon::rack
