#pragma once

// One take's ring, writer thread and flags, shared by three threads: the audio thread (capture
// and pushToRing), the writer thread (writerThread) and the UI thread (setDestination,
// stopAndJoin, discardEmptyTake and the status accessors). The UI thread resets the take's
// indices, counters and flags in setDestination before it starts the writer thread; after that:
// - indices_: the ring's indices; the audio thread produces, the writer thread consumes.
// - pushing_: the audio thread brackets every push with it; the writer thread reads it.
// - captureStart_, tailStart_, silentRun_ and the tail settings: the audio thread.
// - droppedFrames_: the audio thread counts.
// - capturing_, stopRequested_: the audio thread and the UI thread, and the writer thread
//   when the take fails.
// - ready_, finalized_, failed_, hasDestination_, framesWritten_, created_, takeFailure_,
//   writeError_: the writer thread.
// - channels_, sampleRate_, createdPath_: the UI thread only, before the writer thread starts.
// - ring_: allocated on the control thread; the audio thread fills it, the writer thread
//   drains it.
// The UI thread reads everything through the accessors, which see sequentially consistent
// values.

#include "engine/index_ring.hpp"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

namespace velkaphon::rack {

inline constexpr std::uint64_t kRecorderRingSamples = std::uint64_t{1} << 20;

class RecorderWriter {
public:
    // [control] The ring waits for allocateRing, so that a graph can be checked against
    // its memory budget before anything big is allocated.
    RecorderWriter();
    // [control] Finishes the take (skipping the tail) and joins the writer thread.
    ~RecorderWriter();
    RecorderWriter(const RecorderWriter&) = delete;
    RecorderWriter& operator=(const RecorderWriter&) = delete;

    // [control] Creates the file with a header for zero samples and starts the writer thread;
    // returns once the file is open. Throws a user-facing std::runtime_error.
    void setDestination(const std::filesystem::path& path, std::uint32_t channels,
                        std::uint32_t sampleRate);

    // [control] Before the audio thread sees the writer; harmless when the ring exists.
    // Capture is ignored until it has run.
    void allocateRing();

    // [audio]
    void startCapture(std::uint64_t position) noexcept;
    void beginTail(std::uint64_t position, double silenceSeconds, double maxTailSeconds,
                   double silenceDb) noexcept;
    // [audio] Stores frames from position on; channels beyond count or null count as 0.
    void pushToRing(const float* const* inputs, std::uint32_t count, std::uint32_t frames,
                    std::uint64_t position) noexcept;

    // [control, audio]
    void stopCapture() noexcept;
    // [control] Ends the take at once and joins the writer thread.
    void stopAndJoin();

    // [control] After the take is finished: removes the file this writer created when not a
    // single frame reached it.
    void discardEmptyTake();

    // [any] The take's format, 0 before the first destination.
    std::uint32_t channels() const noexcept { return channels_.load(); }
    std::uint32_t sampleRate() const noexcept { return sampleRate_.load(); }
    // [any] Samples the audio thread has put into the ring, and those the writer thread
    // has taken out of it, since the destination was chosen.
    std::uint64_t pushedSamples() const noexcept { return indices_.writeIndex.load(); }
    std::uint64_t drainedSamples() const noexcept { return indices_.readIndex.load(); }
    // [any] Whole frames on disk, and frames the full ring refused.
    std::uint64_t framesWritten() const noexcept { return framesWritten_.load(); }
    std::uint64_t droppedFrames() const noexcept { return droppedFrames_.load(); }
    // [any] The state of the take.
    bool ready() const noexcept { return ready_.load(); }
    bool capturing() const noexcept { return capturing_.load(); }
    bool inTail() const noexcept { return tailStart_.load() != kNoTail; }
    bool finalizing() const noexcept { return stopRequested_.load() && !finalized_.load(); }
    bool finalized() const noexcept { return finalized_.load(); }
    bool hasDestination() const noexcept { return hasDestination_.load(); }
    bool failed() const noexcept { return failed_.load(); }
    // [control] Once a take that failed while writing is finished, one sentence saying why it
    // stopped and what it keeps, e.g. "Recording stopped: the disk is full. The take keeps the
    // 8.2 s recorded: <path>."; empty otherwise.
    std::string failureText() const;

private:
    static constexpr std::uint64_t kNoTail = ~std::uint64_t{0};

    enum class TakeFailure : std::uint8_t { None, WriteError, SizeLimit };

    struct RingDelete {
        void operator()(float* ring) const noexcept;
    };

    // [writer] The whole take, from creating the file to its final header.
    void writerThread(std::filesystem::path path);
    // [writer] Copies the ring to the stream until a stop with the ring empty, a failed
    // write or the largest WAV file; returns the samples handed to the stream.
    std::uint64_t drainRing(std::FILE* stream, std::uint32_t take, std::uint32_t rate);
    // [writer] Hands what was written to the system, then rewrites the header to count it, so a
    // take cut by a crash opens with everything up to here; false when a write fails.
    static bool refreshHeader(std::FILE* stream, std::uint32_t take, std::uint32_t rate,
                              std::uint64_t written);
    // [writer] Keeps the take's first failure, with the system's error code of a write.
    void noteFailure(TakeFailure failure, int code) noexcept;
    // [writer] Trims the file to whole frames, writes the final header and closes it.
    void finishTake(std::FILE* stream, std::uint32_t take, std::uint32_t rate,
                    std::uint64_t written);
    // [control]
    void finishThread();

    IndexRing<std::uint64_t> indices_;
    std::atomic<std::uint64_t> framesWritten_{0};
    std::atomic<std::uint64_t> droppedFrames_{0};
    std::atomic<std::uint64_t> captureStart_{0};
    std::atomic<std::uint64_t> tailStart_{kNoTail};
    std::atomic<bool> ready_{false};
    std::atomic<bool> capturing_{false};
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> finalized_{true};
    std::atomic<bool> failed_{false};
    std::atomic<bool> pushing_{false};
    std::atomic<bool> hasDestination_{false};
    std::atomic<TakeFailure> takeFailure_{TakeFailure::None};
    std::atomic<int> writeError_{0};
    std::atomic<std::uint32_t> channels_{0};
    std::atomic<std::uint32_t> sampleRate_{0};
    std::atomic<std::uint64_t> silentRun_{0};
    std::atomic<std::uint64_t> silenceSamples_{24000};
    std::atomic<std::uint64_t> maxTailSamples_{1440000};
    std::atomic<float> silenceThreshold_{1e-4f};

    std::unique_ptr<float[], RingDelete> ring_;
    std::thread thread_;
    // The file the current take's thread created, kept for discardEmptyTake.
    std::filesystem::path createdPath_;
    std::atomic<bool> created_{false};
};

} // namespace velkaphon::rack
