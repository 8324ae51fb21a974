// The connection test's answer, and its HTTP exchange against a loopback server of the test's.
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "testing.hpp"

const std::string noAnswer = "服务没有返回有效回答，连接尚未通过验证。";
const std::string transport = "连接失败或超时。请检查网络和服务商状态。";

// A loopback server that keeps each request, read whole (the head, then Content-Length bytes),
// and lets `answer` write the response its own way, counting the bytes the client accepted.
class LoopbackServer {
public:
    using Answer = std::function<void(int client, std::atomic<std::size_t>& sent)>;

    explicit LoopbackServer(Answer answer) : m_listener(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t length = sizeof address;
        auto* any = reinterpret_cast<sockaddr*>(&address);
        if (::bind(m_listener, any, length) != 0 || ::listen(m_listener, 8) != 0 ||
            ::getsockname(m_listener, any, &length) != 0) {
            ::close(m_listener);
            throw std::runtime_error("no loopback server");
        }
        url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/v1/chat";
        m_thread = std::thread([this, answer] {
            for (int client; (client = ::accept(m_listener, nullptr, nullptr)) >= 0;) {
                requests.push_back(readRequest(client));
                answer(client, sent);
                ::close(client);
            }
        });
    }
    ~LoopbackServer() { stop(); }
    // Stops accepting and waits for the last answer to end.
    void stop() {
        if (m_listener < 0) return;
        ::shutdown(m_listener, SHUT_RDWR);
        m_thread.join();
        ::close(std::exchange(m_listener, -1));
    }
    // Writes `data` unless the client has gone; false once it has.
    static bool write(int client, std::string_view data, std::atomic<std::size_t>& sent) {
        const ssize_t written = ::send(client, data.data(), data.size(), MSG_NOSIGNAL);
        if (written > 0) sent += static_cast<std::size_t>(written);
        return written > 0;
    }
    // A server that answers every request with `head` and `body`.
    static Answer replying(const std::string& head, const std::string& body = "") {
        return [=](int client, std::atomic<std::size_t>& sent) {
            write(client,
                  head + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body,
                  sent);
        };
    }

    std::string url;
    std::vector<std::string> requests;  // read them once the server has stopped
    std::atomic<std::size_t> sent = 0;

private:
    static std::string readRequest(int client) {
        std::string request;
        char buffer[4096];
        for (ssize_t got; (got = ::recv(client, buffer, sizeof buffer, 0)) > 0;) {
            request.append(buffer, static_cast<std::size_t>(got));
            const auto headEnd = request.find("\r\n\r\n");
            if (headEnd == std::string::npos) continue;
            const auto field = request.find("Content-Length: ");
            const auto length = field < headEnd ? std::stoul(request.substr(field + 16)) : 0;
            if (request.size() >= headEnd + 4 + length) break;
        }
        return request;
    }

    int m_listener;
    std::thread m_thread;
};

TEST(Connection, SendsExactlyTheFixedRequestAndReadsTheAnswer) {
    LoopbackServer server(LoopbackServer::replying(
        "HTTP/1.1 200 OK",
        R"({"choices":[{"message":{"role":"assistant","content":"plovik连接成功"}}],)"
        R"("usage":{"prompt_tokens":9,"completion_tokens":4}})"));
    const auto result = ModelConnection::exchange(server.url, "sk-test key", "glm-4.7");
    EXPECT_EQ(result.reply, "plovik连接成功");
    EXPECT_EQ(result.inputTokens, 9);
    EXPECT_EQ(result.outputTokens, 4);
    server.stop();
    ASSERT_EQ(server.requests.size(), 1u);
    std::istringstream request(server.requests[0]);
    std::string line;
    std::getline(request, line);
    EXPECT_EQ(line, "POST /v1/chat HTTP/1.1\r");
    std::set<std::string> headers;  // exactly these, with the values that are the request's
    while (std::getline(request, line) && line != "\r") {
        const bool varies = line.starts_with("Host:") || line.starts_with("Content-Length:");
        headers.insert(varies ? line.substr(0, line.find(':')) : line);
    }
    EXPECT_EQ(headers, (std::set<std::string>{"Authorization: Bearer sk-test key\r",
                                              "Content-Type: application/json\r", "Host",
                                              "Content-Length"}));
    const std::string body(std::istreambuf_iterator<char>(request), {});
    EXPECT_EQ(body.find(' '), std::string::npos);  // compact
    EXPECT_EQ(
        nlohmann::json::parse(body),
        nlohmann::json::parse(
            R"({"model":"glm-4.7","messages":[{"role":"user","content":"请只回复：plovik连接成功"}],)"
            R"("max_tokens":128,"stream":false,"thinking":{"type":"disabled"}})"));
}

// A redirect is not followed: one request, refused as a redirect. A server that is gone and a
// scheme other than HTTP(S) are the same transport failure.
TEST(Connection, RefusesEveryStatusButTwoHundredAndFailedTransports) {
    for (const int status : {401, 302, 307, 204}) {
        LoopbackServer server(LoopbackServer::replying("HTTP/1.1 " + std::to_string(status) +
                                                       " No\r\nLocation: /v1/chat"));
        EXPECT_MESSAGE(status / 100 == 3 ? "服务商地址发生了跳转，已拒绝。"
                                         : "模型服务返回 HTTP " + std::to_string(status) +
                                               "，请核对授权、模型和服务商余额。",
                       ModelConnection::exchange(server.url, "k", "m"));
        server.stop();
        EXPECT_EQ(server.requests.size(), 1u);
        for (const std::string& url : {server.url, std::string("ftp://127.0.0.1/x")}) {
            EXPECT_MESSAGE(transport, ModelConnection::exchange(url, "k", "m")) << url;
        }
    }
}

// HTTPS to a server whose certificate nobody vouches for (self-signed, as a proxy that reads
// HTTPS shows) is named as such, apart from a network that cannot be reached.
TEST(Connection, NamesACertificateThatCannotBeVerified) {
    TempDir dir;
    const std::string key = (dir / "key.pem").native(), certificate = (dir / "cert.pem").native();
    const auto made = runToEnd(
        "/usr/bin/openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj",
                             "/CN=127.0.0.1", "-days", "1", "-keyout", key, "-out", certificate});
    ASSERT_EQ(made.status, 0) << made.standardError;
    // A free port, taken by the TLS server once this listener lets it go.
    std::string port;
    {
        LoopbackServer probe(LoopbackServer::replying("HTTP/1.1 200 OK"));
        port = probe.url.substr(17, probe.url.find('/', 17) - 17);
    }
    ostrak::testing::ChildProcess server(
        "/usr/bin/openssl", {"s_server", "-accept", "127.0.0.1:" + port, "-key", key, "-cert",
                             certificate, "-www", "-quiet"});
    std::string message;
    for (int attempt = 0; attempt < 100; ++attempt) {  // until it listens
        message = messageOf(
            [&] { ModelConnection::exchange("https://127.0.0.1:" + port + "/v1/chat", "k", "m"); });
        if (message != transport) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(message, "服务商证书无法验证，可能有代理或防火墙在拦截 HTTPS。");
}

// Reading stops at 1 MiB + 1 byte: a server offering 100 MB sees the connection closed early.
TEST(Connection, AFloodIsCutOffAfterOneMebibyte) {
    LoopbackServer flood([](int client, std::atomic<std::size_t>& sent) {
        const std::string chunk(65536, ' ');
        if (!LoopbackServer::write(client, "HTTP/1.1 200 OK\r\nContent-Length: 104857600\r\n\r\n",
                                   sent))
            return;
        while (sent < 104857600 && LoopbackServer::write(client, chunk, sent)) {
        }
    });
    EXPECT_MESSAGE(noAnswer, ModelConnection::exchange(flood.url, "k", "m"));
    flood.stop();
    // What the kernel's buffers took beyond the cap, at most: far from the whole 100 MB.
    EXPECT_LT(flood.sent, std::size_t{16 * 1024 * 1024});
}

// Two bytes a second never trip the 30 s no-progress limit: only the 35 s overall limit ends it.
TEST(Connection, ATricklingServerMeetsTheOverallLimit) {
    LoopbackServer trickle([](int client, std::atomic<std::size_t>& sent) {
        if (!LoopbackServer::write(client, "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n", sent))
            return;
        for (int second = 0; second < 50 && LoopbackServer::write(client, "  ", sent); ++second) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
    });
    const auto started = std::chrono::steady_clock::now();
    EXPECT_MESSAGE(transport, ModelConnection::exchange(trickle.url, "k", "m"));
    const auto elapsed = std::chrono::steady_clock::now() - started;
    EXPECT_GT(elapsed, std::chrono::seconds(33));
    EXPECT_LT(elapsed, std::chrono::seconds(40));
}

// Valid identifiers get as far as the keyring, which holds no key for a new station.
TEST(ModelIdentifier, IsCheckedBeforeTheKeyring) {
    const std::string invalid = "请填写有效的模型标识。";
    const std::pair<std::string, std::string> cases[] = {{"", invalid},
                                                         {std::string(101, 'a'), invalid},
                                                         {"glm-4.7\n", invalid},
                                                         {"a+b", invalid},
                                                         {"模型", invalid},
                                                         {" glm", invalid},
                                                         {std::string(100, 'a'), expected::noKey},
                                                         {"glm-4.7", expected::noKey},
                                                         {"org/model:v1_2", expected::noKey}};
    const Uuid station = Uuid::random();
    for (const auto& [model, message] : cases) {
        EXPECT_MESSAGE(message, ModelConnection::test(ModelProvider::zhipu, model, station))
            << model;
    }
}

static std::string answer(const std::string& content, const std::string& usage = "") {
    return R"({"choices":[{"message":{"role":"assistant","content":)" + content + "}}]" +
           (usage.empty() ? "" : ",\"usage\":" + usage) + "}";
}

// Token counts are taken only where they are integers; the reply keeps 500 characters with
// their leading spaces. Anything but an answer of at most 1 MiB is refused.
TEST(ModelResultDecode, ReadsTheReplyAndCountsOfAnAnswerOnly) {
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
    for (const std::string& body :
         {std::string(R"({"choices":[]})"), answer("null"), answer("\" \\n \""), answer("5"),
          std::string("not json"), std::string("[1]"), std::string(R"({"choices":[1]})"),
          std::string(R"({"choices":[{"message":"text"}]})"), std::string("")}) {
        EXPECT_MESSAGE(noAnswer, ModelResult::decode(body)) << body;
    }
    std::string huge = answer("\"ok\"");
    huge += std::string(1048577 - huge.size(), ' ');
    EXPECT_NE(messageOf([&] { ModelResult::decode(huge); }), noError);
    huge.pop_back();
    EXPECT_EQ(ModelResult::decode(huge).reply, "ok");
}
