#include "audio/aggregate_cycle.hpp"

#include "audio/hresult.hpp"
#include "audio/performance_counter.hpp"

#include <algorithm>
#include <cmath>

namespace velkaphon::rack {

namespace {

void clearRows(float* const* rows, std::uint32_t count, std::int32_t frames) {
    for (std::uint32_t row = 0; row < count; ++row) {
        std::fill_n(rows[row], frames, 0.0f);
    }
}

// Returns true when a frame went missing after the resampler had locked.
bool gatherCapture(AudioBackend& backend, EndpointWorker& worker, std::int32_t frames) {
    const double ratio = worker.measuredRate.load(std::memory_order_relaxed) /
                         backend.currentRate.load(std::memory_order_relaxed);
    double ppm = 0.0;
    bool lost = false;
    float* const* rows = backend.inputRowPointers.data() + worker.channelOffset;
    const std::uint32_t channels = worker.format.channels;
    for (std::int32_t i = 0; i < frames; ++i) {
        if (worker.resampler.readFrame(worker.frameScratch.data(), ratio, &ppm)) {
            for (std::uint32_t c = 0; c < channels; ++c) {
                rows[c][i] = worker.frameScratch[c];
            }
        } else if (!worker.resampler.everPrimed) {
            worker.startupRingFrames.fetch_add(1, std::memory_order_relaxed);
        } else {
            worker.ringXrunFrames.fetch_add(1, std::memory_order_relaxed);
            lost = true;
        }
    }
    worker.resamplerLocked.store(worker.resampler.primed, std::memory_order_relaxed);
    worker.driftPpm.store(ppm, std::memory_order_relaxed);
    worker.ringMs.store(static_cast<double>(worker.ring.fill()) * 1000.0 / worker.format.sampleRate,
                        std::memory_order_relaxed);
    return lost;
}

void handToSecondary(AudioBackend& backend, EndpointWorker& worker, std::int32_t frames) {
    const std::uint32_t channels = worker.format.channels;
    float* const* rows = backend.outputRowPointers.data() + worker.channelOffset;
    float* interleaved = worker.interleavedScratch.data();
    for (std::int32_t i = 0; i < frames; ++i) {
        for (std::uint32_t c = 0; c < channels; ++c) {
            const float value = rows[c][i];
            *interleaved++ = std::isfinite(value) ? value : 0.0f;
        }
    }
    if (!worker.ring.push(worker.interleavedScratch.data(), frames)) {
        worker.ringXrunFrames.fetch_add(static_cast<std::uint64_t>(frames),
                                        std::memory_order_relaxed);
        worker.hresult.store(kAudclntBufferTooLarge, std::memory_order_relaxed);
        worker.state.store(kEndpointFault, std::memory_order_release);
        backend.xruns.fetch_add(1, std::memory_order_relaxed);
    }
}

} // namespace

void runAggregateCycle(AudioBackend& backend, std::int32_t frames) noexcept {
    const std::int64_t start = performanceCounter();
    clearRows(backend.inputRowPointers.data(), backend.inputChannels, frames);
    bool lost = false;
    for (const auto& worker : backend.workers) {
        if (worker->isCapture &&
            worker->state.load(std::memory_order_acquire) == kEndpointRunning) {
            lost = gatherCapture(backend, *worker, frames) || lost;
        }
    }
    if (lost) {
        backend.xruns.fetch_add(1, std::memory_order_relaxed);
    }

    clearRows(backend.outputRowPointers.data(), backend.outputChannels, frames);
    backend.callback(backend.context, backend.inputRowPointers.data(), backend.inputChannels,
                     backend.outputRowPointers.data(), backend.outputChannels,
                     static_cast<std::uint32_t>(frames), static_cast<double>(backend.sampleRate));

    for (const auto& worker : backend.workers) {
        if (!worker->isCapture && !worker->isMaster &&
            worker->state.load(std::memory_order_acquire) != kEndpointFault) {
            handToSecondary(backend, *worker, frames);
        }
    }
    backend.cycles.fetch_add(1, std::memory_order_relaxed);

    const double elapsed = counterMilliseconds(start, performanceCounter());
    if (elapsed > backend.maxCallbackMs.load(std::memory_order_relaxed)) {
        backend.maxCallbackMs.store(elapsed, std::memory_order_relaxed);
    }
}

void beginAggregatePeriod(AudioBackend& backend, double time, std::uint32_t frames) noexcept {
    for (const auto& worker : backend.workers) {
        if (worker->isCapture) {
            worker->resampler.beginReads(time, frames);
        } else if (!worker->isMaster) {
            // The write index the period's chunks will leave: a consumer that reads it before
            // the chunks are in still finds the level of the period before.
            worker->writeStamp.publish(
                worker->ring.writeIndex.load(std::memory_order_relaxed) + frames, frames, time);
        }
    }
}

} // namespace velkaphon::rack
