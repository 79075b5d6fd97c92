#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace velkaphon::rack {

// This machine's stand-in for the web view: a loopback HTTP server that serves the page folder
// and takes the page's messages, all under a random per-run token as the first path segment.
// The token stands in for the mapped host: a request without it, or with a Host header that is
// not the server's own address, is answered 403 with an empty body and reaches nothing.
//
// Messages are answered on the thread that calls answerPending (the UI thread), as WebView2
// delivers them through that thread's message loop; the server's threads only wait.
class PageServer {
public:
    // Given the message text, the reply text; nothing when the message gets no reply.
    using Answer = std::function<std::optional<std::string>(const std::string& message)>;

    // Binds 127.0.0.1 on a free port and starts serving. A request that stops short is refused
    // once its next bytes are the read time-out late. Throws std::runtime_error when it cannot.
    explicit PageServer(std::filesystem::path pageFolder,
                        std::chrono::microseconds readTimeout = std::chrono::seconds(1));
    ~PageServer();
    PageServer(const PageServer&) = delete;
    PageServer& operator=(const PageServer&) = delete;

    // The page's address, token included.
    std::string pageAddress() const;
    // What every accepted request starts with: "http://127.0.0.1:<port>/<token>/".
    std::string origin() const;
    std::uint16_t port() const { return port_; }
    const std::string& token() const { return token_; }

    // [control] Waits up to the timeout for a message, then answers every message that waits.
    void answerPending(const Answer& answer, std::chrono::milliseconds timeout);

private:
    struct Exchange;
    class Http;

    std::optional<std::string> forward(std::string message);

    std::filesystem::path pageFolder_;
    std::string token_;
    std::uint16_t port_ = 0;

    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<std::shared_ptr<Exchange>> waiting_;
    bool stopping_ = false;

    std::unique_ptr<Http> http_;
    std::thread listener_;
};

} // namespace velkaphon::rack
