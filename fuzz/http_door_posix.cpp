#include "fuzz/http_door.hpp"
#include "view/page_server.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>
#include <unistd.h>

namespace velkaphon::rack {
namespace {

namespace fs = std::filesystem;

// The server with a page folder of its own and a UI thread that echoes every message.
class EchoingServer {
public:
    EchoingServer() {
        const fs::path folder = fs::temp_directory_path() / "velkaphon-fuzz-page";
        fs::create_directories(folder);
        std::ofstream(folder / "index.html") << "<!doctype html><title>rack</title>";
        server_ = std::make_unique<PageServer>(folder);
        std::thread([this] {
            while (true) {
                server_->answerPending([](const std::string& message) { return message; },
                                       std::chrono::milliseconds(20));
            }
        }).detach();
    }

    std::uint16_t port() const { return server_->port(); }

private:
    std::unique_ptr<PageServer> server_;
};

} // namespace

void loopbackRequest(std::string_view bytes) {
    // Never destroyed: its pumping thread runs until the process ends.
    static EchoingServer& server = *new EchoingServer;
    const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(server.port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval timeout{5, 0};
    ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    if (::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
        ::send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        ::shutdown(socket, SHUT_WR);
        std::array<char, 4096> answer{};
        while (::recv(socket, answer.data(), answer.size(), 0) > 0) {
        }
    }
    ::close(socket);
}

} // namespace velkaphon::rack
