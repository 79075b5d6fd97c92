// RackProcessor's audio path: everything process does on the host's audio thread.

#include "engine/graph_limits.hpp"
#include "engine/note_velocity.hpp"
#include "plugin/rack_processor.hpp"

#include <algorithm>
#include <cmath>

namespace velkaphon::rack {

namespace {

constexpr std::int32_t kMaximumEventsLooked = 4096;
constexpr std::int32_t kMaximumQueuesLooked = 4096;
constexpr std::uint32_t kMaximumBypassPoints = 256;

using BypassPoints = std::array<BypassPoint, kMaximumBypassPoints>;

// [audio] The host's note-ons and note-offs inside the block, in offset order.
EventList readNotes(const vst3::ProcessData& data) {
    EventList events;
    if (data.inputEvents == nullptr) {
        return events;
    }
    for (std::int32_t i = 0; i < kMaximumEventsLooked && i < data.inputEvents->getEventCount() &&
                             events.count < EventList::kCapacity;
         ++i) {
        vst3::Event event{};
        if (data.inputEvents->getEvent(i, event) != vst3::kResultOk || event.sampleOffset < 0 ||
            event.sampleOffset >= data.numSamples) {
            continue;
        }
        const auto offset = static_cast<std::uint32_t>(event.sampleOffset);
        if (event.type == vst3::Event::kNoteOnEvent) {
            // A note-on whose velocity is NaN is dropped: no velocity can be guessed for it.
            if (const auto velocity = noteOnVelocity(event.noteOn.velocity)) {
                events.push({RackEventKind::NoteOn, offset,
                             static_cast<std::uint8_t>(0x90 | (event.noteOn.channel & 0x0F)),
                             static_cast<std::uint8_t>(event.noteOn.pitch & 0x7F), *velocity});
            }
        } else if (event.type == vst3::Event::kNoteOffEvent) {
            events.push({RackEventKind::NoteOff, offset,
                         static_cast<std::uint8_t>(0x80 | (event.noteOff.channel & 0x0F)),
                         static_cast<std::uint8_t>(event.noteOff.pitch & 0x7F),
                         noteOffVelocity(event.noteOff.velocity)});
        }
    }
    return events;
}

// [audio] The "Bypass" points inside the block (its end included), sorted by offset;
// returns how many there are.
std::uint32_t readBypassPoints(const vst3::ProcessData& data, BypassPoints& points) {
    std::uint32_t count = 0;
    vst3::IParameterChanges* changes = data.inputParameterChanges;
    if (changes == nullptr) {
        return 0;
    }
    for (std::int32_t i = 0; i < changes->getParameterCount() && i < kMaximumQueuesLooked; ++i) {
        vst3::IParamValueQueue* queue = changes->getParameterData(i);
        if (queue == nullptr || queue->getParameterId() != kBypassParameter) {
            continue;
        }
        for (std::int32_t p = 0; p < queue->getPointCount() && count < points.size(); ++p) {
            std::int32_t offset = 0;
            vst3::ParamValue value = 0.0;
            if (queue->getPoint(p, offset, value) == vst3::kResultOk && offset >= 0 &&
                offset <= data.numSamples && std::isfinite(value)) {
                points[count++] = {static_cast<std::uint32_t>(offset), value >= 0.5};
            }
        }
    }
    // Insertion sort: stable, and nothing to allocate.
    for (std::uint32_t i = 1; i < count; ++i) {
        const BypassPoint point = points[i];
        std::uint32_t j = i;
        for (; j > 0 && points[j - 1].offset > point.offset; --j) {
            points[j] = points[j - 1];
        }
        points[j] = point;
    }
    return count;
}

// [audio] A count the host gives; one below zero gives nothing.
std::uint32_t hostCount(std::int32_t count) {
    return count < 0 ? 0 : static_cast<std::uint32_t>(count);
}

// [audio] The channels of a host bus that the rack binds: what the host passes, up to what the
// rack has active there. The rest of an input is not read; the rest of an output is zeroed.
std::uint32_t boundChannels(const vst3::AudioBusBuffers& bus, std::uint32_t declared,
                            const std::atomic<bool>& active) {
    return active.load(std::memory_order_relaxed) ? std::min(hostCount(bus.numChannels), declared)
                                                  : 0;
}

// [audio]
template <class Sample>
void zeroHostChannel(Sample** rows, std::uint32_t channel, std::uint32_t frames) {
    if (rows != nullptr && rows[channel] != nullptr) {
        std::fill_n(rows[channel], frames, Sample(0));
    }
}

} // namespace

vst3::tresult VELKAPHON_VST3_CALL RackProcessor::process(vst3::ProcessData& data) {
    // Only what cannot be processed is refused: buses and channels beyond the rack's are not.
    if (data.numSamples < 0 || blockFrames_ == 0 ||
        static_cast<std::uint32_t>(data.numSamples) > blockFrames_ ||
        (data.inputs == nullptr && data.numInputs > 0) ||
        (data.outputs == nullptr && data.numOutputs > 0) ||
        (data.symbolicSampleSize != vst3::kSample32 &&
         data.symbolicSampleSize != vst3::kSample64)) {
        return vst3::kInvalidArgument;
    }
    bindBuses(data);
    const auto frames = static_cast<std::uint32_t>(data.numSamples);
    const TransportInfo transport = blockTransport(data.processContext, frames);
    const EventList events = readNotes(data);
    BypassPoints points{};
    const std::uint32_t pointCount = readBypassPoints(data, points);
    renderSlices(frames, transport, events, points.data(), pointCount);
    writeOutputs(data);
    return vst3::kResultOk;
}

void RackProcessor::bindBuses(const vst3::ProcessData& data) {
    wideSamples_ = data.symbolicSampleSize == vst3::kSample64;
    inputChannels_.fill(nullptr);
    outputChannels_.fill(nullptr);
    hostInputs_.fill(nullptr);
    hostWideOutputs_.fill(nullptr);
    sounding_.fill(false);
    boundOutputChannels_.fill(0);

    std::uint32_t base = 0;
    const std::uint32_t inputBuses = std::min(hostCount(data.numInputs), kRackBusCount);
    for (std::uint32_t b = 0; b < inputBuses; ++b) {
        const vst3::AudioBusBuffers& bus = data.inputs[b];
        const std::uint32_t channels =
            boundChannels(bus, inputChannelCounts_[b], inputBusActive_[b]);
        for (std::uint32_t c = 0; c < channels; ++c) {
            inputChannels_[base + c] =
                inputScratch_.data() + static_cast<std::size_t>(base + c) * sliceFrames_;
            const bool silent = ((bus.silenceFlags >> c) & 1u) != 0;
            if (!silent && bus.channelBuffers32 != nullptr) {
                hostInputs_[base + c] = wideSamples_
                                            ? static_cast<const void*>(bus.channelBuffers64[c])
                                            : static_cast<const void*>(bus.channelBuffers32[c]);
            }
        }
        base += inputChannelCounts_[b];
    }

    base = 0;
    const std::uint32_t outputBuses = std::min(hostCount(data.numOutputs), kRackBusCount);
    for (std::uint32_t b = 0; b < outputBuses; ++b) {
        const vst3::AudioBusBuffers& bus = data.outputs[b];
        const std::uint32_t channels =
            boundChannels(bus, outputChannelCounts_[b], outputBusActive_[b]);
        boundOutputChannels_[b] = channels;
        for (std::uint32_t c = 0; c < channels; ++c) {
            if (wideSamples_) {
                outputChannels_[base + c] =
                    outputScratch_.data() + static_cast<std::size_t>(base + c) * sliceFrames_;
                hostWideOutputs_[base + c] =
                    bus.channelBuffers64 != nullptr ? bus.channelBuffers64[c] : nullptr;
            } else {
                outputChannels_[base + c] =
                    bus.channelBuffers32 == nullptr ? nullptr : bus.channelBuffers32[c];
            }
        }
        base += outputChannelCounts_[b];
    }
}

TransportInfo RackProcessor::blockTransport(const vst3::ProcessContext* context,
                                            std::uint32_t frames) {
    TransportInfo transport;
    if (context != nullptr) {
        transport.playing = (context->state & vst3::ProcessContext::kPlaying) != 0;
        transport.recording = (context->state & vst3::ProcessContext::kRecording) != 0;
        if ((context->state & vst3::ProcessContext::kTempoValid) != 0 &&
            std::isfinite(context->tempo) && context->tempo > 0.0) {
            transport.tempo = context->tempo;
        }
        if ((context->state & vst3::ProcessContext::kContTimeValid) != 0) {
            samplePosition_ = context->continousTimeSamples;
        } else if (transport.playing &&
                   (!wasPlaying_ ||
                    context->projectTimeSamples !=
                        lastProjectTime_ + static_cast<std::int64_t>(lastBlockFrames_))) {
            samplePosition_ = context->projectTimeSamples;
        }
        lastProjectTime_ = context->projectTimeSamples;
    }
    transport.samplePosition = samplePosition_;
    samplePosition_ += frames;
    lastBlockFrames_ = frames;
    wasPlaying_ = transport.playing;
    return transport;
}

void RackProcessor::renderSlices(std::uint32_t frames, const TransportInfo& transport,
                                 const EventList& events, const BypassPoint* points,
                                 std::uint32_t pointCount) {
    std::uint32_t position = 0;
    std::uint32_t next = 0;
    for (;;) {
        // A point takes effect from its offset; one at the block's end, for the next block.
        for (; next < pointCount && points[next].offset <= position; ++next) {
            bypass_ = points[next].value;
        }
        if (position >= frames) {
            return;
        }
        std::uint32_t end = std::min(frames, position + sliceFrames_);
        if (next < pointCount) {
            end = std::min(end, points[next].offset);
        }
        renderSlice(position, end - position, transport, events);
        position = end;
    }
}

void RackProcessor::renderSlice(std::uint32_t offset, std::uint32_t frames,
                                const TransportInfo& transport, const EventList& events) {
    // The host's input is copied first, so that a host rendering in place keeps it.
    for (std::uint32_t i = 0; i < inputChannelTotal_; ++i) {
        float* row = inputChannels_[i];
        if (row == nullptr) {
            continue;
        }
        if (hostInputs_[i] == nullptr) {
            std::fill_n(row, frames, 0.0f);
        } else if (wideSamples_) {
            const double* samples = static_cast<const double*>(hostInputs_[i]) + offset;
            std::transform(samples, samples + frames, row,
                           [](double sample) { return static_cast<float>(sample); });
        } else {
            std::copy_n(static_cast<const float*>(hostInputs_[i]) + offset, frames, row);
        }
    }
    // 32-bit hosts are rendered in place into their rows; 64-bit ones into the scratch rows.
    std::array<float*, kRackChannelLimit> outputs{};
    for (std::uint32_t i = 0; i < outputChannelTotal_; ++i) {
        outputs[i] = outputChannels_[i] == nullptr ? nullptr
                     : wideSamples_                ? outputChannels_[i]
                                                   : outputChannels_[i] + offset;
    }

    if (!bypass_) {
        EventList slice;
        for (std::uint32_t i = 0; i < events.count; ++i) {
            RackEvent event = events.events[i];
            if (event.sampleOffset >= offset && event.sampleOffset < offset + frames) {
                event.sampleOffset -= offset;
                slice.push(event);
            }
        }
        TransportInfo sliceTransport = transport;
        sliceTransport.samplePosition += offset;
        app_.processHostBlock(frames, {inputChannels_.data(), inputChannelTotal_},
                              {outputs.data(), outputChannelTotal_}, sliceTransport,
                              slice.events.data(), slice.count);
    } else {
        for (std::uint32_t i = 0; i < outputChannelTotal_; ++i) {
            if (outputs[i] == nullptr) {
                continue;
            }
            if (i < inputChannelCounts_[0] && i < outputChannelCounts_[0] &&
                inputChannels_[i] != nullptr) {
                std::copy_n(inputChannels_[i], frames, outputs[i]);
            } else {
                std::fill_n(outputs[i], frames, 0.0f);
            }
        }
    }

    for (std::uint32_t i = 0; i < outputChannelTotal_; ++i) {
        const float* rendered = outputs[i];
        if (rendered == nullptr) {
            continue;
        }
        double* target = hostWideOutputs_[i] != nullptr ? hostWideOutputs_[i] + offset : nullptr;
        bool heard = false;
        for (std::uint32_t s = 0; s < frames; ++s) {
            heard = heard || rendered[s] != 0.0f;
            if (target != nullptr) {
                target[s] = rendered[s];
            }
        }
        sounding_[i] = sounding_[i] || heard;
    }
}

void RackProcessor::writeOutputs(vst3::ProcessData& data) {
    const auto frames = static_cast<std::uint32_t>(data.numSamples);
    std::uint32_t base = 0;
    for (std::uint32_t b = 0; b < hostCount(data.numOutputs); ++b) {
        vst3::AudioBusBuffers& bus = data.outputs[b];
        const std::uint32_t channels = hostCount(bus.numChannels);
        const std::uint32_t bound = b < kRackBusCount ? boundOutputChannels_[b] : 0;
        std::uint64_t silence = channels >= 64 ? ~0ull : (1ull << channels) - 1;
        for (std::uint32_t c = 0; c < bound; ++c) {
            if (sounding_[base + c]) {
                silence &= ~(1ull << c);
            }
        }
        // Only now: in place, these rows may be input rows the slices have read.
        for (std::uint32_t c = bound; c < channels; ++c) {
            if (wideSamples_) {
                zeroHostChannel(bus.channelBuffers64, c, frames);
            } else {
                zeroHostChannel(bus.channelBuffers32, c, frames);
            }
        }
        bus.silenceFlags = silence;
        base += b < kRackBusCount ? outputChannelCounts_[b] : 0;
    }
}

} // namespace velkaphon::rack
