// The connection test's HTTP exchange against a loopback server started by the test.
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "ostrak/core.hpp"
#include "test_messages.hpp"

namespace ostrak {
namespace {

const std::string noAnswer = "服务没有返回有效回答，连接尚未通过验证。";
const std::string keyMessage = "请先保存 API Key，并允许访问本机钥匙串。";

std::string answer(const std::string& content, const std::string& usage = "") {
    return R"({"choices":[{"message":{"role":"assistant","content":)" + content + "}}]" +
           (usage.empty() ? "" : ",\"usage\":" + usage) + "}";
}

class LoopbackServer {
public:
    LoopbackServer() {
        const auto reply = [this](const std::string& path, int status, std::string body) {
            m_server.Post(path, [this, status, body](const httplib::Request& request,
                                                     httplib::Response& response) {
                remember(request);
                response.status = status;
                if (status == 302) response.set_header("Location", "/ok");
                if (!body.empty()) response.set_content(body, "application/json");
            });
        };
        reply("/ok", 200,
              answer("\"plovik连接成功\"", R"({"prompt_tokens":9,"completion_tokens":4})"));
        reply("/long", 200, answer("\"  " + std::string(598, 'x') + "\""));
        reply("/no-usage", 200, answer("\"ok\""));
        reply("/prompt-only", 200, answer("\"ok\"", R"({"prompt_tokens":9})"));
        reply("/401", 401, R"({"error":"secret details"})");
        reply("/302", 302, "");
        reply("/204", 204, "");
        reply("/empty-choices", 200, R"({"choices":[]})");
        reply("/null-content", 200, answer("null"));
        reply("/blank-content", 200, answer("\" \\n \\t \""));
        reply("/not-json", 200, "<html>hello</html>");
        std::string huge = answer("\"ok\"");
        reply("/huge", 200, huge + std::string(1048577 - huge.size(), ' '));
        m_port = m_server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        while (!m_server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~LoopbackServer() {
        m_server.stop();
        m_thread.join();
    }

    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(m_port) + path;
    }
    std::vector<httplib::Request> seen() {
        const std::lock_guard lock(m_mutex);
        return m_seen;
    }

private:
    void remember(const httplib::Request& request) {
        const std::lock_guard lock(m_mutex);
        m_seen.push_back(request);
    }

    httplib::Server m_server;
    int m_port = 0;
    std::thread m_thread;
    std::mutex m_mutex;
    std::vector<httplib::Request> m_seen;
};

class Connection : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = new LoopbackServer; }
    static void TearDownTestSuite() { delete server; }
    static LoopbackServer* server;
};
LoopbackServer* Connection::server = nullptr;

TEST_F(Connection, SendsExactlyTheFixedRequest) {
    const auto before = server->seen().size();
    const auto result = ModelConnection::exchange(server->url("/ok"), "sk-test key", "glm-4.7");
    EXPECT_EQ(result.reply, "plovik连接成功");
    EXPECT_EQ(result.inputTokens, 9);
    EXPECT_EQ(result.outputTokens, 4);
    const auto seen = server->seen();
    ASSERT_EQ(seen.size(), before + 1);
    const auto& request = seen.back();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.get_header_value("Authorization"), "Bearer sk-test key");
    EXPECT_EQ(request.get_header_value("Content-Type"), "application/json");
    for (const auto& [name, value] : request.headers) {
        EXPECT_TRUE(name == "Authorization" || name == "Content-Type" || name == "Host" ||
                    name == "Content-Length" || name == "REMOTE_ADDR" || name == "REMOTE_PORT" ||
                    name == "LOCAL_ADDR" || name == "LOCAL_PORT")
            << name << ": " << value;
    }
    EXPECT_EQ(request.body.find(' '), std::string::npos);  // compact
    const auto body = nlohmann::json::parse(request.body);
    const auto expected = nlohmann::json::parse(
        R"({"model":"glm-4.7","messages":[{"role":"user","content":"请只回复：plovik连接成功"}],)"
        R"("max_tokens":128,"stream":false,"thinking":{"type":"disabled"}})");
    EXPECT_EQ(body, expected);
}

TEST_F(Connection, ReadsGoodAnswers) {
    const auto longReply = ModelConnection::exchange(server->url("/long"), "k", "m");
    EXPECT_EQ(longReply.reply, "  " + std::string(498, 'x'));
    const auto noUsage = ModelConnection::exchange(server->url("/no-usage"), "k", "m");
    EXPECT_FALSE(noUsage.inputTokens);
    EXPECT_FALSE(noUsage.outputTokens);
    const auto promptOnly = ModelConnection::exchange(server->url("/prompt-only"), "k", "m");
    EXPECT_EQ(promptOnly.inputTokens, 9);
    EXPECT_FALSE(promptOnly.outputTokens);
}

TEST_F(Connection, EveryStatusButTwoHundredIsRefused) {
    EXPECT_EQ(messageOf([] { ModelConnection::exchange(server->url("/401"), "k", "m"); }),
              "模型服务返回 HTTP 401，请核对授权、模型和服务商余额。");
    const auto before = server->seen().size();
    EXPECT_EQ(messageOf([] { ModelConnection::exchange(server->url("/302"), "k", "m"); }),
              "模型服务返回 HTTP 302，请核对授权、模型和服务商余额。");
    EXPECT_EQ(server->seen().size(), before + 1);  // the redirect was not followed
    EXPECT_EQ(messageOf([] { ModelConnection::exchange(server->url("/204"), "k", "m"); }),
              "模型服务返回 HTTP 204，请核对授权、模型和服务商余额。");
}

TEST_F(Connection, BadAnswersAreNotAPass) {
    for (const char* path :
         {"/empty-choices", "/null-content", "/blank-content", "/not-json", "/huge"}) {
        EXPECT_EQ(messageOf([&] { ModelConnection::exchange(server->url(path), "k", "m"); }),
                  noAnswer)
            << path;
    }
}

TEST_F(Connection, TransportFailuresHaveOneMessage) {
    const std::string transport = "连接失败或超时。请检查网络和服务商状态。";
    // Nobody listens on this port any more.
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(probe);
    const std::string closed = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/";
    EXPECT_EQ(messageOf([&] { ModelConnection::exchange(closed, "k", "m"); }), transport);
    EXPECT_EQ(messageOf([] { ModelConnection::exchange("ftp://127.0.0.1/x", "k", "m"); }),
              transport);
}

// A loopback server of one connection that answers 200 and then writes the body its own way,
// counting what the peer accepted before it closed the connection.
class RawServer {
public:
    explicit RawServer(std::function<void(int client, std::size_t& sent)> body) {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(m_listener, 1);
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
        m_url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/";
        m_thread = std::thread([this, body] {
            const int client = ::accept(m_listener, nullptr, nullptr);
            char request[4096];
            (void)!::recv(client, request, sizeof request, 0);
            body(client, m_sent);
            ::close(client);
        });
    }
    ~RawServer() {
        finish();
        ::close(m_listener);
    }
    const std::string& url() const { return m_url; }
    // Waits for the connection to end; then what the peer accepted.
    std::size_t finish() {
        if (m_thread.joinable()) m_thread.join();
        return m_sent;
    }

    // Writes `data` unless the peer has gone; false once it has.
    static bool write(int client, std::string_view data, std::size_t& sent) {
        const ssize_t written = ::send(client, data.data(), data.size(), MSG_NOSIGNAL);
        if (written <= 0) return false;
        sent += static_cast<std::size_t>(written);
        return true;
    }

private:
    int m_listener = -1;
    std::string m_url;
    std::thread m_thread;
    std::size_t m_sent = 0;
};

// Reading stops at 1 MiB + 1 byte: a server offering 100 MB sees the connection closed early.
TEST_F(Connection, AFloodIsCutOffAfterOneMebibyte) {
    RawServer flood([](int client, std::size_t& sent) {
        const std::string chunk(65536, ' ');
        if (!RawServer::write(client, "HTTP/1.1 200 OK\r\nContent-Length: 104857600\r\n\r\n", sent))
            return;
        while (sent < 104857600 && RawServer::write(client, chunk, sent)) {
        }
    });
    EXPECT_EQ(messageOf([&] { ModelConnection::exchange(flood.url(), "k", "m"); }), noAnswer);
    // What the kernel's buffers took beyond the cap, at most: far from the whole 100 MB.
    EXPECT_LT(flood.finish(), std::size_t{16 * 1024 * 1024});
}

// Two bytes a second never trip the 30 s no-progress limit: only the 35 s overall limit ends it.
TEST_F(Connection, ATricklingServerMeetsTheOverallLimit) {
    RawServer trickle([](int client, std::size_t& sent) {
        if (!RawServer::write(client, "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n", sent))
            return;
        for (int second = 0; second < 50 && RawServer::write(client, "  ", sent); ++second) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
    });
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(messageOf([&] { ModelConnection::exchange(trickle.url(), "k", "m"); }),
              "连接失败或超时。请检查网络和服务商状态。");
    const auto elapsed = std::chrono::steady_clock::now() - started;
    EXPECT_GT(elapsed, std::chrono::seconds(33));
    EXPECT_LT(elapsed, std::chrono::seconds(40));
}

TEST(ModelIdentifier, IsCheckedBeforeTheKeyring) {
    const Uuid station = Uuid::random();
    for (const std::string& model :
         {std::string(""), std::string(101, 'a'), std::string("deep seek"),
          std::string("glm-4.7\n"), std::string("a+b"), std::string("模型"), std::string(" glm")}) {
        EXPECT_EQ(messageOf([&] { ModelConnection::test(ModelProvider::zhipu, model, station); }),
                  "请填写有效的模型标识。")
            << model;
    }
    // Valid identifiers get as far as the keyring, which holds no key for a new station.
    for (const std::string& model : {std::string("deepseek-chat"), std::string("glm-4.7"),
                                     std::string(100, 'a'), std::string("org/model:v1_2")}) {
        EXPECT_EQ(
            messageOf([&] { ModelConnection::test(ModelProvider::deepseek, model, station); }),
            keyMessage)
            << model;
    }
}

}  // namespace
}  // namespace ostrak
