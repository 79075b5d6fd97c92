#include "view/page_server.hpp"

#include <sys/socket.h>

#include <array>
#include <chrono>
#include <fstream>
#include <httplib.h>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string_view>

namespace velkaphon::rack {

namespace fs = std::filesystem;

namespace {

constexpr const char* kLoopback = "127.0.0.1";
constexpr const char* kBridgePath = "bridge";
constexpr time_t kIdleSeconds = 1;
constexpr std::size_t kWorkers = 64;

// What requests name as their host: the loopback address and our port.
std::string loopbackHost(std::uint16_t port) {
    return std::string(kLoopback) + ":" + std::to_string(port);
}

std::string randomToken() {
    std::random_device random;
    constexpr std::string_view digits = "0123456789abcdef";
    std::string token;
    for (int i = 0; i < 32; ++i) {
        token += digits[random() % digits.size()];
    }
    return token;
}

const char* contentType(const fs::path& file) {
    static const std::array<std::pair<std::string_view, const char*>, 8> types = {{
        {".html", "text/html; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".mjs", "text/javascript; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".json", "application/json"},
        {".svg", "image/svg+xml"},
        {".png", "image/png"},
        {".ico", "image/x-icon"},
    }};
    const std::string extension = file.extension().string();
    for (const auto& [known, type] : types) {
        if (extension == known) {
            return type;
        }
    }
    return "application/octet-stream";
}

// The file under the page folder that a request path names, or nothing when it would leave the
// folder or names no regular file.
std::optional<fs::path> pageFile(const fs::path& folder, std::string_view relative) {
    if (relative.empty()) {
        relative = "index.html";
    }
    const fs::path requested = fs::path(std::string(relative)).lexically_normal();
    if (requested.is_absolute() || requested.empty() || *requested.begin() == "..") {
        return std::nullopt;
    }
    std::error_code error;
    const fs::path resolved = fs::weakly_canonical(folder / requested, error);
    if (error) {
        return std::nullopt;
    }
    // Links inside the folder may not lead out of it either.
    const auto [end, unused] =
        std::mismatch(folder.begin(), folder.end(), resolved.begin(), resolved.end());
    if (end != folder.end() || !fs::is_regular_file(resolved, error)) {
        return std::nullopt;
    }
    return resolved;
}

std::string fileText(const fs::path& file) {
    std::ifstream stream(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

} // namespace

struct PageServer::Exchange {
    std::string message;
    std::optional<std::string> reply;
    bool answered = false;
};

class PageServer::Http : public httplib::Server {};

PageServer::PageServer(fs::path pageFolder, std::chrono::microseconds readTimeout)
    : pageFolder_(fs::weakly_canonical(pageFolder)), token_(randomToken()),
      http_(std::make_unique<Http>()) {
    const std::string prefix = "/" + token_ + "/";

    // Every request must carry the token and name this server as its host.
    http_->set_pre_routing_handler(
        [this, prefix](const httplib::Request& request, httplib::Response& response) {
            if (request.get_header_value("Host") != loopbackHost(port_) ||
                request.path.rfind(prefix, 0) != 0) {
                response.status = 403;
                return httplib::Server::HandlerResponse::Handled;
            }
            return httplib::Server::HandlerResponse::Unhandled;
        });

    // An idle connection holds a worker while it waits: short time-outs and more workers than a
    // page needs keep a few idle local clients from starving the page.
    http_->set_keep_alive_timeout(kIdleSeconds);
    http_->set_read_timeout(readTimeout);
    http_->new_task_queue = [] {
        return new httplib::ThreadPool(kWorkers);
    };

    http_->Post(prefix + kBridgePath,
                [this](const httplib::Request& request, httplib::Response& response) {
                    // A browser names the page that sent a request; only our own page may.
                    if (request.has_header("Origin") &&
                        request.get_header_value("Origin") != "http://" + loopbackHost(port_)) {
                        response.status = 403;
                        return;
                    }
                    const auto reply = forward(request.body);
                    if (!reply) {
                        response.status = 503;
                        return;
                    }
                    response.set_content(*reply, "application/json");
                });

    http_->Get(prefix + "(.*)",
               [this](const httplib::Request& request, httplib::Response& response) {
                   const auto file = pageFile(pageFolder_, request.matches[1].str());
                   if (!file) {
                       response.status = 404;
                       return;
                   }
                   response.set_header("Cache-Control", "no-store");
                   response.set_content(fileText(*file), contentType(*file));
               });

    // The library listens with a backlog of 5: a burst of connections past it waits a second
    // for the retry. Listening again on the bound socket raises it to the system's limit.
    int listening = -1;
    http_->set_socket_options([&listening](int socket) {
        httplib::default_socket_options(socket);
        listening = socket;
    });
    const int port = http_->bind_to_any_port(kLoopback);
    if (port <= 0 || ::listen(listening, SOMAXCONN) != 0) {
        throw std::runtime_error("The rack page server could not listen on the loopback address.");
    }
    port_ = static_cast<std::uint16_t>(port);
    listener_ = std::thread([this] { http_->listen_after_bind(); });
    // A stop that comes before the listener runs is lost, and the join would wait for ever.
    for (int wait = 0; wait < 2000 && !http_->is_running(); ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

PageServer::~PageServer() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    arrived_.notify_all();
    http_->stop();
    listener_.join();
}

std::string PageServer::origin() const {
    return "http://" + loopbackHost(port_) + "/" + token_ + "/";
}

std::string PageServer::pageAddress() const {
    return origin() + "index.html";
}

// [server] Hands the message to the UI thread and waits for its answer.
std::optional<std::string> PageServer::forward(std::string message) {
    auto exchange = std::make_shared<Exchange>();
    exchange->message = std::move(message);
    std::unique_lock lock(mutex_);
    if (stopping_) {
        return std::nullopt;
    }
    waiting_.push_back(exchange);
    arrived_.notify_all();
    arrived_.wait(lock, [&] { return exchange->answered || stopping_; });
    return exchange->answered ? exchange->reply : std::nullopt;
}

void PageServer::answerPending(const Answer& answer, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    arrived_.wait_for(lock, timeout, [&] { return !waiting_.empty() || stopping_; });
    while (!waiting_.empty()) {
        const auto exchange = waiting_.front();
        waiting_.pop_front();
        lock.unlock();
        std::optional<std::string> reply;
        try {
            reply = answer(exchange->message);
        } catch (...) {
            // The page still gets its one answer: no reply, rather than a request that hangs.
            reply.reset();
        }
        lock.lock();
        exchange->reply = std::move(reply);
        exchange->answered = true;
        arrived_.notify_all();
    }
}

} // namespace velkaphon::rack
