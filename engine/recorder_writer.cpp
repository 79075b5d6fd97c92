#include "engine/recorder_writer.hpp"

#include "engine/exclusive_file.hpp"
#include "engine/media_configuration.hpp"
#include "engine/wav_file.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <new>
#include <stdexcept>
#include <system_error>

namespace velkaphon::rack {

namespace {

constexpr std::uint64_t kRingMask = kRecorderRingSamples - 1;
constexpr std::align_val_t kRingAlignment{32};
constexpr auto kWriterPoll = std::chrono::milliseconds(2);

float finiteOrZero(float sample) noexcept {
    return std::isfinite(sample) ? sample : 0.0f;
}

// Whole frames of the take that are on disk: what was handed to the stream, as far as the file
// holds it, rounded down to whole frames.
std::uint64_t samplesOnDisk(std::FILE* stream, std::uint64_t written, std::uint32_t channels) {
    const std::int64_t size = fileSizeOf(stream);
    const std::uint64_t held =
        size < static_cast<std::int64_t>(wavHeaderBytes)
            ? 0
            : (static_cast<std::uint64_t>(size) - wavHeaderBytes) / sizeof(float);
    const std::uint64_t samples = std::min(written, held);
    return samples - samples % channels;
}

} // namespace

void RecorderWriter::RingDelete::operator()(float* ring) const noexcept {
    ::operator delete[](ring, kRingAlignment);
}

RecorderWriter::RecorderWriter() = default;

void RecorderWriter::allocateRing() {
    if (ring_) {
        return;
    }
    ring_.reset(static_cast<float*>(
        ::operator new[](kRecorderRingSamples * sizeof(float), kRingAlignment)));
    std::fill_n(ring_.get(), kRecorderRingSamples, 0.0f);
}

RecorderWriter::~RecorderWriter() {
    finishThread();
}

void RecorderWriter::finishThread() {
    if (thread_.joinable()) {
        capturing_.exchange(false);
        stopRequested_.exchange(true);
        thread_.join();
    }
}

void RecorderWriter::setDestination(const std::filesystem::path& path, std::uint32_t takeChannels,
                                    std::uint32_t takeRate) {
    if (capturing_.load()) {
        throw std::runtime_error("Stop recording before choosing destination");
    }
    finishThread();
    if (takeChannels < 1 || takeChannels > 64 || takeRate < 8000 || takeRate > 384000) {
        throw std::runtime_error("Invalid recording format");
    }
    if (std::filesystem::exists(path)) {
        throw std::runtime_error("Destination exists; choose a new file");
    }
    channels_.store(takeChannels);
    sampleRate_.store(takeRate);
    indices_.resetIndices(0, 0);
    framesWritten_.store(0);
    droppedFrames_.store(0);
    silentRun_.store(0);
    tailStart_.store(kNoTail);
    failed_.store(false);
    stopRequested_.store(false);
    finalized_.store(false);
    ready_.store(false);
    created_.store(false);
    takeFailure_.store(TakeFailure::None);
    writeError_.store(0);
    createdPath_ = path;
    thread_ = std::thread(&RecorderWriter::writerThread, this, path);
    while (!ready_.load() && !failed_.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (failed_.load()) {
        throw std::runtime_error("Cannot create recording file");
    }
}

void RecorderWriter::writerThread(std::filesystem::path path) {
    std::FILE* stream = createExclusiveFile(path);
    if (stream == nullptr) {
        failed_.exchange(true);
        finalized_.exchange(true);
        return;
    }
    created_.store(true);
    const std::uint32_t take = channels_.load();
    const std::uint32_t rate = sampleRate_.load();
    writeWavHeader(stream, take, rate, 0);
    if (std::ferror(stream) != 0 || std::fflush(stream) != 0) {
        std::fclose(stream);
        failed_.exchange(true);
        finalized_.exchange(true);
        return;
    }
    hasDestination_.exchange(true);
    ready_.exchange(true);
    const std::uint64_t written = drainRing(stream, take, rate);
    finishTake(stream, take, rate, written);
}

std::uint64_t RecorderWriter::drainRing(std::FILE* stream, std::uint32_t take, std::uint32_t rate) {
    const std::uint64_t limit = wavMaxDataBytes / (take * sizeof(float)) * take;
    // The header counts the take at least once per second of it: a crash loses at most the last.
    const std::uint64_t second = std::uint64_t{rate} * take;
    std::uint64_t counted = 0;
    std::uint64_t written = 0;
    bool failure = false;
    for (;;) {
        if (written - counted >= second) {
            if (!refreshHeader(stream, take, rate, written)) {
                noteFailure(TakeFailure::WriteError, errno);
                failure = true;
                break;
            }
            counted = written;
        }
        const auto [r, w] = indices_.consumerView();
        if (r == w) {
            // pushing_ brackets every push, so a frame pushed before the stop is never missed.
            if (stopRequested_.load() && !pushing_.load() && indices_.consumerView().write == r) {
                break;
            }
            std::this_thread::sleep_for(kWriterPoll);
            continue;
        }
        std::uint64_t n =
            std::min({kRecorderRingSamples - (r & kRingMask), w - r, counted + second - written});
        n -= n % take;
        // No whole frame before the end of the ring: the next one wraps around it.
        const bool wraps = n == 0;
        if (wraps) {
            n = std::min<std::uint64_t>(w - r, take);
        }
        if (written + n > limit) {
            noteFailure(TakeFailure::SizeLimit, 0);
            failure = true;
            break;
        }
        if (wraps) {
            for (std::uint64_t j = 0; j < n; ++j) {
                written +=
                    std::fwrite(ring_.get() + ((r + j) & kRingMask), sizeof(float), 1, stream);
            }
        } else {
            written += std::fwrite(ring_.get() + (r & kRingMask), sizeof(float), n, stream);
        }
        indices_.release(r + n);
        framesWritten_.store(written / take);
        if (std::ferror(stream) != 0) {
            noteFailure(TakeFailure::WriteError, errno);
            failure = true;
            break;
        }
    }
    if (failure) {
        failed_.exchange(true);
        capturing_.exchange(false);
        stopRequested_.exchange(true);
    }
    return written;
}

bool RecorderWriter::refreshHeader(std::FILE* stream, std::uint32_t take, std::uint32_t rate,
                                   std::uint64_t written) {
    if (std::fflush(stream) != 0) {
        return false;
    }
    writeWavHeader(stream, take, rate, static_cast<std::uint32_t>(written * sizeof(float)), true);
    return seekToEnd(stream) && std::ferror(stream) == 0;
}

void RecorderWriter::noteFailure(TakeFailure failure, int code) noexcept {
    TakeFailure none = TakeFailure::None;
    if (takeFailure_.compare_exchange_strong(none, failure)) {
        writeError_.store(code);
    }
}

std::string RecorderWriter::failureText() const {
    const TakeFailure failure = takeFailure_.load();
    if (failure == TakeFailure::None || !finalized_.load()) {
        return {};
    }
    const int code = writeError_.load();
    std::string reason = "the file could not be written";
    if (failure == TakeFailure::SizeLimit) {
        reason = "the take reached the largest size of a WAV file";
    } else if (code == ENOSPC) {
        reason = "the disk is full";
    } else if (code != 0) {
        reason = std::generic_category().message(code);
    }
    const std::uint32_t rate = sampleRate_.load();
    const double seconds =
        rate == 0 ? 0.0 : static_cast<double>(framesWritten_.load()) / static_cast<double>(rate);
    char kept[32];
    std::snprintf(kept, sizeof kept, "%.1f", seconds);
    return "Recording stopped: " + reason + ". The take keeps the " + kept +
           " s recorded: " + mediaPathText(createdPath_) + ".";
}

void RecorderWriter::finishTake(std::FILE* stream, std::uint32_t take, std::uint32_t rate,
                                std::uint64_t written) {
    // After a short write (a full disk) the file may end inside a frame: the header and the
    // file keep whole frames only, so that the take still reads.
    const bool flushed = std::fflush(stream) == 0;
    if (!flushed) {
        noteFailure(TakeFailure::WriteError, errno);
    }
    const std::uint64_t kept = samplesOnDisk(stream, written, take);
    const std::uint64_t keptBytes = wavHeaderBytes + kept * sizeof(float);
    bool sound = flushed && std::ferror(stream) == 0;
    if (fileSizeOf(stream) != static_cast<std::int64_t>(keptBytes) &&
        !truncateFile(stream, keptBytes)) {
        noteFailure(TakeFailure::WriteError, errno);
        sound = false;
    }
    framesWritten_.store(kept / take);
    std::clearerr(stream);
    writeWavHeader(stream, take, rate, static_cast<std::uint32_t>(kept * sizeof(float)));
    if (std::fflush(stream) != 0 || std::ferror(stream) != 0) {
        noteFailure(TakeFailure::WriteError, errno);
        sound = false;
    }
    if (!sound) {
        failed_.exchange(true);
    }
    std::fclose(stream);
    ready_.exchange(false);
    finalized_.exchange(true);
}

void RecorderWriter::startCapture(std::uint64_t position) noexcept {
    if (!ring_ || !ready_.load() || stopRequested_.load() || failed_.load()) {
        return;
    }
    captureStart_.exchange(position);
    tailStart_.exchange(kNoTail);
    silentRun_.exchange(0);
    capturing_.exchange(true);
}

void RecorderWriter::beginTail(std::uint64_t position, double silenceSeconds, double maxTailSeconds,
                               double silenceDb) noexcept {
    const double rate = sampleRate_.load();
    silenceSamples_.exchange(
        static_cast<std::uint64_t>(rate * std::clamp(silenceSeconds, 0.01, 10.0)));
    maxTailSamples_.exchange(
        static_cast<std::uint64_t>(rate * std::clamp(maxTailSeconds, 0.01, 3600.0)));
    silenceThreshold_.exchange(
        static_cast<float>(std::pow(10.0, std::clamp(silenceDb, -120.0, -6.0) / 20.0)));
    tailStart_.exchange(position);
}

void RecorderWriter::stopCapture() noexcept {
    capturing_.exchange(false);
    stopRequested_.exchange(true);
}

void RecorderWriter::stopAndJoin() {
    finishThread();
}

void RecorderWriter::pushToRing(const float* const* inputs, std::uint32_t count,
                                std::uint32_t frames, std::uint64_t position) noexcept {
    pushing_.exchange(true);
    if (!capturing_.load()) {
        pushing_.exchange(false);
        return;
    }
    const std::uint32_t take = channels_.load(std::memory_order_relaxed);
    auto [r, w] = indices_.producerView();
    const std::uint64_t start = captureStart_.load();
    const std::uint64_t tail = tailStart_.load();
    const std::uint64_t silenceLimit = silenceSamples_.load(std::memory_order_relaxed);
    const std::uint64_t tailLimit = maxTailSamples_.load(std::memory_order_relaxed);
    const float threshold = silenceThreshold_.load(std::memory_order_relaxed);
    bool ended = false;
    for (std::uint32_t j = 0; j < frames; ++j) {
        const std::uint64_t t = position + j;
        if (t < start) {
            continue;
        }
        if (t >= tail) {
            float peak = 0.0f;
            for (std::uint32_t c = 0; c < take; ++c) {
                const float* input = c < count ? inputs[c] : nullptr;
                if (input != nullptr) {
                    peak = std::max(peak, std::abs(input[j]));
                }
            }
            const std::uint64_t run =
                peak <= threshold ? silentRun_.load(std::memory_order_relaxed) + 1 : 0;
            silentRun_.store(run, std::memory_order_relaxed);
            if (run >= silenceLimit || t - tail >= tailLimit) {
                ended = true;
                break;
            }
        }
        if ((w - r) + take > kRecorderRingSamples) {
            droppedFrames_.fetch_add(1, std::memory_order_relaxed);
            continue;
        }
        for (std::uint32_t c = 0; c < take; ++c) {
            const float* input = c < count ? inputs[c] : nullptr;
            ring_[(w + c) & kRingMask] = input != nullptr ? finiteOrZero(input[j]) : 0.0f;
        }
        w += take;
    }
    if (ended) {
        capturing_.exchange(false);
    }
    indices_.publish(w);
    if (ended) {
        stopRequested_.exchange(true);
    }
    pushing_.exchange(false);
}

void RecorderWriter::discardEmptyTake() {
    if (thread_.joinable() || !created_.load() || framesWritten_.load() != 0) {
        return;
    }
    std::error_code ignored;
    std::filesystem::remove(createdPath_, ignored);
    created_.store(false);
}

} // namespace velkaphon::rack
