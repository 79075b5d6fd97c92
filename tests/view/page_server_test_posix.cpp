#include "view/page_server.hpp"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <atomic>
#include <fstream>
#include <httplib.h>
#include <random>
#include <thread>
#include <unistd.h>
#include <vector>

namespace velkaphon::rack {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// How many connections the kernel holds for this process's socket listening on the port before
// accept takes them: a listening socket's TCP_INFO gives it as tcpi_sacked. 0 when none listens.
std::uint32_t listenQueueLimit(std::uint16_t port) {
    for (int socket = 0; socket < 1024; ++socket) {
        sockaddr_in address{};
        socklen_t length = sizeof address;
        int accepting = 0;
        socklen_t flagLength = sizeof accepting;
        tcp_info info{};
        socklen_t infoLength = sizeof info;
        if (::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
            address.sin_family == AF_INET && ntohs(address.sin_port) == port &&
            ::getsockopt(socket, SOL_SOCKET, SO_ACCEPTCONN, &accepting, &flagLength) == 0 &&
            accepting != 0 &&
            ::getsockopt(socket, IPPROTO_TCP, TCP_INFO, &info, &infoLength) == 0) {
            return info.tcpi_sacked;
        }
    }
    return 0;
}

class PageServerThreads : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device random;
        root_ = fs::temp_directory_path() / ("velkaphon-page-" + std::to_string(random()));
        fs::create_directories(root_ / "ui" / "js");
        std::ofstream(root_ / "ui" / "index.html") << "<!doctype html><title>rack</title>";
        std::ofstream(root_ / "ui" / "js" / "bridge.js") << "export {};";
        std::ofstream(root_ / "secret.txt") << "outside";
        fs::create_symlink(root_ / "secret.txt", root_ / "ui" / "link.txt");
        server_ = std::make_unique<PageServer>(root_ / "ui");
        // The UI thread's loop: answers every message with its text reversed.
        pump_ = std::thread([this] {
            while (!done_) {
                server_->answerPending(
                    [this](const std::string& message) -> std::optional<std::string> {
                        ++answered_;
                        if (message == "silent") {
                            return std::nullopt;
                        }
                        return std::string(message.rbegin(), message.rend());
                    },
                    20ms);
            }
        });
    }

    void TearDown() override {
        done_ = true;
        pump_.join();
        server_.reset();
        fs::remove_all(root_);
    }

    httplib::Client client() {
        httplib::Client client("127.0.0.1", server_->port());
        client.set_read_timeout(5, 0);
        return client;
    }

    std::string path(const std::string& rest) { return "/" + server_->token() + "/" + rest; }

    fs::path root_;
    std::unique_ptr<PageServer> server_;
    std::thread pump_;
    std::atomic<bool> done_{false};
    std::atomic<int> answered_{0};
};

TEST_F(PageServerThreads, AnswersEachMessageOnceOnThePumpingThread) {
    EXPECT_EQ(server_->origin(),
              "http://127.0.0.1:" + std::to_string(server_->port()) + "/" + server_->token() + "/");
    EXPECT_EQ(server_->token().size(), 32u);
    auto http = client();
    const auto reply = http.Post(path("bridge").c_str(), R"({"id":1})", "application/json");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200);
    EXPECT_EQ(reply->body, R"(}1:"di"{)");
    EXPECT_EQ(answered_, 1);

    const auto silent = http.Post(path("bridge").c_str(), "silent", "application/json");
    ASSERT_TRUE(silent);
    EXPECT_EQ(silent->status, 503);
    EXPECT_EQ(silent->body, "");
}

TEST_F(PageServerThreads, ManyPagesAtOnceEachGetTheirOwnReply) {
    std::vector<std::thread> senders;
    std::atomic<int> matched{0};
    for (int i = 0; i < 8; ++i) {
        senders.emplace_back([&, i] {
            auto http = client();
            for (int j = 0; j < 10; ++j) {
                const std::string message = std::to_string(i * 100 + j) + "-x";
                const auto reply = http.Post(path("bridge").c_str(), message, "application/json");
                if (reply && reply->body == std::string(message.rbegin(), message.rend())) {
                    ++matched;
                }
            }
        });
    }
    for (auto& sender : senders) {
        sender.join();
    }
    EXPECT_EQ(matched, 80);
    EXPECT_EQ(answered_, 80);
}

TEST_F(PageServerThreads, EightClientsConnectingAtOnceAllFitTheListenQueue) {
    // Past the queue's limit a connection waits for the client's retry, a second later.
    EXPECT_GE(listenQueueLimit(server_->port()), 8u);
}

TEST_F(PageServerThreads, WithoutTheTokenOrWithAForeignHostNothingIsReached) {
    auto http = client();
    for (const std::string& target : {std::string("/bridge"), std::string("/index.html"),
                                      "/" + server_->token() + "x/bridge", std::string("/")}) {
        const auto reply = http.Post(target.c_str(), "message", "application/json");
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->status, 403) << target;
        EXPECT_EQ(reply->body, "") << target;
    }
    httplib::Headers foreign = {{"Host", "rebound.example:" + std::to_string(server_->port())}};
    const auto rebound = http.Post(path("bridge").c_str(), foreign, "message", "application/json");
    ASSERT_TRUE(rebound);
    EXPECT_EQ(rebound->status, 403);
    EXPECT_EQ(rebound->body, "");
    const auto page = http.Get(path("index.html").c_str(), foreign);
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 403);
    // Another page, or one without an origin of its own, may not reach the bridge either.
    for (const std::string& origin : {std::string("http://evil.example"), std::string("null"),
                                      "http://localhost:" + std::to_string(server_->port())}) {
        const auto posted =
            http.Post(path("bridge").c_str(), {{"Origin", origin}}, "message", "application/json");
        ASSERT_TRUE(posted);
        EXPECT_EQ(posted->status, 403) << origin;
    }
    EXPECT_EQ(answered_, 0);
    const httplib::Headers own = {
        {"Origin", "http://127.0.0.1:" + std::to_string(server_->port())}};
    const auto posted = http.Post(path("bridge").c_str(), own, "ab", "application/json");
    ASSERT_TRUE(posted);
    EXPECT_EQ(posted->body, "ba");
}

TEST_F(PageServerThreads, IdleConnectionsDoNotStarveThePage) {
    // Any local process may open connections and send nothing.
    std::vector<int> idle;
    for (int i = 0; i < 32; ++i) {
        const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(server_->port());
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        idle.push_back(socket);
    }
    // Time for the server to take them up; the outcome below does not depend on it.
    std::this_thread::sleep_for(300ms);
    // The client gives up after its read time-out, far longer than an answered request takes and
    // far shorter than the idle connections would hold every worker.
    auto http = client();
    const auto reply = http.Post(path("bridge").c_str(), "ok", "application/json");
    for (const int socket : idle) {
        ::close(socket);
    }
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->body, "ko");
}

TEST_F(PageServerThreads, ServesThePageFolderAndNothingOutsideIt) {
    auto http = client();
    const auto index = http.Get(path("index.html").c_str());
    ASSERT_TRUE(index);
    EXPECT_EQ(index->status, 200);
    EXPECT_EQ(index->body, "<!doctype html><title>rack</title>");
    EXPECT_EQ(index->get_header_value("Content-Type"), "text/html; charset=utf-8");
    const auto script = http.Get(path("js/bridge.js").c_str());
    ASSERT_TRUE(script);
    EXPECT_EQ(script->get_header_value("Content-Type"), "text/javascript; charset=utf-8");
    EXPECT_EQ(http.Get(path("").c_str())->body, index->body);

    for (const std::string escape :
         {"../secret.txt", "js/../../secret.txt", "%2e%2e/secret.txt", "%2E%2E%2Fsecret.txt",
          "..%2fsecret.txt", "link.txt", "missing.html", "js"}) {
        const auto reply = http.Get(path(escape).c_str());
        ASSERT_TRUE(reply) << escape;
        EXPECT_NE(reply->status, 200) << escape;
        EXPECT_EQ(reply->body.find("outside"), std::string::npos) << escape;
    }
}

} // namespace
} // namespace velkaphon::rack
