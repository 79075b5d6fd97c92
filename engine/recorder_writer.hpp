#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <thread>

namespace velkaphon::rack {

inline constexpr std::uint64_t kRecorderRingSamples = std::uint64_t{1} << 20;
inline constexpr std::uint64_t kNoTail = ~std::uint64_t{0};

// One take's ring, writer thread and flags, shared by the audio thread (pushToRing and the
// capture control), the writer thread and the UI thread (setDestination, stopAndJoin, status).
class RecorderWriter {
public:
    // Control thread. The ring waits for allocateRing, so that a graph can be checked against
    // its memory budget before anything big is allocated.
    RecorderWriter();
    // Finishes the take (skipping the tail) and joins the writer thread.
    ~RecorderWriter();
    RecorderWriter(const RecorderWriter&) = delete;
    RecorderWriter& operator=(const RecorderWriter&) = delete;

    // UI thread: creates the file with a header for zero samples and starts the writer thread;
    // returns once the file is open. Throws a user-facing std::runtime_error.
    void setDestination(const std::filesystem::path& path, std::uint32_t channels,
                        std::uint32_t sampleRate);

    // Control thread, before the audio thread sees the writer; harmless when the ring exists.
    // Capture is ignored until it has run.
    void allocateRing();

    // Audio thread.
    void startCapture(std::uint64_t position) noexcept;
    void beginTail(std::uint64_t position, double silenceSeconds, double maxTailSeconds,
                   double silenceDb) noexcept;
    // Audio thread: stores frames from position on; channels beyond count or null count as 0.
    void pushToRing(const float* const* inputs, std::uint32_t count, std::uint32_t frames,
                    std::uint64_t position) noexcept;

    // Either thread.
    void stopCapture() noexcept;
    // UI thread: ends the take at once and joins the writer thread.
    void stopAndJoin();

    // UI thread, after the take is finished: removes the file this writer created when not a
    // single frame reached it.
    void discardEmptyTake();

    std::atomic<std::uint64_t> readIndex{0};
    std::atomic<std::uint64_t> writeIndex{0};
    std::atomic<std::uint64_t> framesWritten{0};
    std::atomic<std::uint64_t> droppedFrames{0};
    std::atomic<std::uint64_t> captureStart{0};
    std::atomic<std::uint64_t> tailStart{kNoTail};
    std::atomic<bool> ready{false};
    std::atomic<bool> capturing{false};
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> finalized{true};
    std::atomic<bool> failed{false};
    std::atomic<bool> pushing{false};
    std::atomic<bool> hasDestination{false};
    std::atomic<std::uint32_t> channels{0};
    std::atomic<std::uint32_t> sampleRate{0};
    std::atomic<std::uint64_t> silentRun{0};
    std::atomic<std::uint64_t> silenceSamples{24000};
    std::atomic<std::uint64_t> maxTailSamples{1440000};
    std::atomic<float> silenceThreshold{1e-4f};

private:
    struct RingDelete {
        void operator()(float* ring) const noexcept;
    };

    void writerThread(std::filesystem::path path);
    void finishThread();

    std::unique_ptr<float[], RingDelete> ring_;
    std::thread thread_;
    // The file the current take's thread created, kept for discardEmptyTake.
    std::filesystem::path createdPath_;
    std::atomic<bool> created_{false};
};

} // namespace velkaphon::rack
