#include "fuzz/http_door.hpp"
#include "view/page_server.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <unistd.h>

namespace velkaphon::rack {
namespace {

namespace fs = std::filesystem;

// The door writes each input at once on loopback, so a request's bytes arrive together and the
// server waits only for bytes that never come: most fuzzed requests end early, and a second's
// wait for each left the server's own code barely fuzzed.
constexpr std::chrono::microseconds kReadTimeout(200);

// The server with a page folder of its own and a UI thread that echoes every message.
class EchoingServer {
public:
    EchoingServer() {
        const fs::path folder = fs::temp_directory_path() / "velkaphon-fuzz-page";
        fs::create_directories(folder);
        std::ofstream(folder / "index.html") << "<!doctype html><title>rack</title>";
        server_ = std::make_unique<PageServer>(folder, kReadTimeout);
        std::thread([this] {
            while (true) {
                server_->answerPending([](const std::string& message) { return message; },
                                       std::chrono::milliseconds(20));
            }
        }).detach();
    }

    std::uint16_t port() const { return server_->port(); }

    // The kept inputs cannot know the token and port of this run's server: they write "/token/"
    // and "127.0.0.1:1", and the request's head gets the real ones, so inputs pass the gate and
    // reach the page and bridge handlers.
    std::string withOwnAddress(std::string_view bytes) const {
        const std::size_t headEnd = std::min(bytes.find("\r\n\r\n"), bytes.size());
        std::string head(bytes.substr(0, headEnd));
        replaceAll(head, "/token/", "/" + server_->token() + "/");
        replaceAll(head, "127.0.0.1:1\r\n", "127.0.0.1:" + std::to_string(port()) + "\r\n");
        return head.append(bytes.substr(headEnd));
    }

private:
    static void replaceAll(std::string& text, std::string_view from, const std::string& to) {
        for (std::size_t at = text.find(from); at != std::string::npos;
             at = text.find(from, at + to.size())) {
            text.replace(at, from.size(), to);
        }
    }

    std::unique_ptr<PageServer> server_;
};

constexpr std::string_view kHeadEnd = "\r\n\r\n";

// The bytes of the whole answer once its head has come, or nothing while that is unknown: read
// to the connection's close. Answers to HEAD and 1xx, 204 and 304 answers have no body.
std::optional<std::size_t> answerLength(std::string_view request, std::string_view answer) {
    const std::size_t headEnd = answer.find(kHeadEnd);
    if (headEnd == std::string_view::npos) {
        return std::nullopt;
    }
    const std::size_t headLength = headEnd + kHeadEnd.size();
    std::string head(answer.substr(0, headEnd));
    std::transform(head.begin(), head.end(), head.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    // "http/1.1 200": the status follows the version.
    const std::string_view status =
        head.size() >= 12 ? std::string_view(head).substr(9, 3) : std::string_view();
    if (request.starts_with("HEAD ") || status.starts_with('1') || status == "204" ||
        status == "304") {
        return headLength;
    }
    constexpr std::string_view kLength = "\r\ncontent-length:";
    const std::size_t field = head.find(kLength);
    if (field == std::string::npos) {
        return std::nullopt;
    }
    return headLength + std::strtoull(head.c_str() + field + kLength.size(), nullptr, 10);
}

} // namespace

std::string loopbackRequest(std::string_view input) {
    // Never destroyed: its pumping thread runs until the process ends.
    static EchoingServer& server = *new EchoingServer;
    const std::string bytes = server.withOwnAddress(input);
    const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(server.port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval timeout{5, 0};
    ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    ::setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout));
    std::string answer;
    if (::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
        // As a browser does, the socket stays open both ways while the answer comes: the server
        // writes no answer to a client that has shut its sending side. A request that ends early
        // is answered once the server stops waiting for the rest.
        for (std::size_t sent = 0; sent < bytes.size();) {
            const ssize_t count =
                ::send(socket, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (count <= 0) {
                break;
            }
            sent += static_cast<std::size_t>(count);
        }
        std::array<char, 4096> chunk{};
        for (ssize_t count = 0; (count = ::recv(socket, chunk.data(), chunk.size(), 0)) > 0;) {
            answer.append(chunk.data(), static_cast<std::size_t>(count));
            const auto length = answerLength(bytes, answer);
            if (length && answer.size() >= *length) {
                break;
            }
        }
    }
    ::close(socket);
    return answer;
}

} // namespace velkaphon::rack
