// The connection test's answer, and its HTTP exchange against loopback servers of the test.
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

class LoopbackServer {
public:
    LoopbackServer() {
        const auto reply = [this](const std::string& path, int status, std::string body) {
            m_server.Post(path, [this, status, body](const httplib::Request& request,
                                                     httplib::Response& response) {
                remember(request);
                response.status = status;
                if (status == 302) response.set_header("Location", "/ok");
                if (status == 200) response.set_content(body, "application/json");
            });
        };
        reply("/ok", 200,
              R"({"choices":[{"message":{"role":"assistant","content":"plovik连接成功"}}],)"
              R"("usage":{"prompt_tokens":9,"completion_tokens":4}})");
        for (const int status : {401, 302, 204}) reply("/" + std::to_string(status), status, "");
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

// The redirect is not followed: one request, and its status is the answer.
TEST_F(Connection, EveryStatusButTwoHundredIsRefused) {
    for (const int status : {401, 302, 204}) {
        const auto before = server->seen().size();
        EXPECT_EQ(
            messageOf([&] {
                ModelConnection::exchange(server->url("/" + std::to_string(status)), "k", "m");
            }),
            "模型服务返回 HTTP " + std::to_string(status) + "，请核对授权、模型和服务商余额。");
        EXPECT_EQ(server->seen().size(), before + 1);
    }
}

// A socket listening on a free loopback port, and the URL that reaches it.
int listenOnLoopback(std::string& url) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener, 1);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/";
    return listener;
}

TEST_F(Connection, TransportFailuresHaveOneMessage) {
    std::string closed;
    ::close(listenOnLoopback(closed));  // nobody listens there any more
    for (const std::string& url : {closed, std::string("ftp://127.0.0.1/x")}) {
        EXPECT_EQ(messageOf([&] { ModelConnection::exchange(url, "k", "m"); }),
                  "连接失败或超时。请检查网络和服务商状态。")
            << url;
    }
}

// A loopback server of one connection that reads the request and then writes its answer its
// own way, counting what the peer accepted before it closed the connection.
class RawServer {
public:
    explicit RawServer(std::function<void(int client, std::size_t& sent)> body)
        : m_listener(listenOnLoopback(m_url)) {
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
    std::string m_url;
    int m_listener;
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

// Valid identifiers get as far as the keyring, which holds no key for a new station.
TEST(ModelIdentifier, IsCheckedBeforeTheKeyring) {
    const std::string invalid = "请填写有效的模型标识。";
    const std::pair<std::string, std::string> cases[] = {
        {"", invalid},           {std::string(101, 'a'), invalid},
        {"deep seek", invalid},  {"glm-4.7\n", invalid},
        {"a+b", invalid},        {"模型", invalid},
        {" glm", invalid},       {std::string(100, 'a'), keyMessage},
        {"glm-4.7", keyMessage}, {"org/model:v1_2", keyMessage}};
    const Uuid station = Uuid::random();
    for (const auto& [model, message] : cases) {
        EXPECT_EQ(messageOf([&] { ModelConnection::test(ModelProvider::zhipu, model, station); }),
                  message)
            << model;
    }
}

std::string answer(const std::string& content, const std::string& usage = "") {
    return R"({"choices":[{"message":{"role":"assistant","content":)" + content + "}}]" +
           (usage.empty() ? "" : ",\"usage\":" + usage) + "}";
}

// Token counts are taken only where they are integers; the reply keeps 500 characters with
// their leading spaces.
TEST(ModelResultDecode, ReadsReplyAndCounts) {
    using Counts = std::pair<std::optional<std::int64_t>, std::optional<std::int64_t>>;
    const std::pair<std::string, Counts> cases[] = {
        {R"({"prompt_tokens":12,"completion_tokens":5,"total_tokens":17})", {12, 5}},
        {R"({"prompt_tokens":3})", {3, std::nullopt}},
        {"", {std::nullopt, std::nullopt}},
        {R"({"prompt_tokens":"3","completion_tokens":2.5})", {std::nullopt, std::nullopt}}};
    for (const auto& [usage, counts] : cases) {
        const auto result = ModelResult::decode(answer("\"plovik连接成功\"", usage));
        EXPECT_EQ(result.reply, "plovik连接成功");
        EXPECT_EQ(Counts(result.inputTokens, result.outputTokens), counts) << usage;
    }
    std::string content = "  ";
    for (int i = 0; i < 598; ++i) content += "字";
    const auto result = ModelResult::decode(answer("\"" + content + "\""));
    EXPECT_EQ(result.reply, content.substr(0, 2 + 498 * 3));
}

TEST(ModelResultDecode, RefusesAnythingButAnAnswerOfAtMostOneMebibyte) {
    for (const std::string& body :
         {std::string(R"({"choices":[]})"), answer("null"), answer("\" \\n \""), answer("5"),
          std::string("not json"), std::string("[1]"), std::string(R"({"choices":[1]})"),
          std::string(R"({"choices":[{"message":"text"}]})"), std::string("")}) {
        EXPECT_EQ(messageOf([&] { ModelResult::decode(body); }),
                  "服务没有返回有效回答，连接尚未通过验证。")
            << body;
    }
    std::string huge = answer("\"ok\"");
    huge += std::string(1048577 - huge.size(), ' ');
    EXPECT_NE(messageOf([&] { ModelResult::decode(huge); }), noError);
    huge.pop_back();
    EXPECT_EQ(ModelResult::decode(huge).reply, "ok");
}

}  // namespace
}  // namespace ostrak
