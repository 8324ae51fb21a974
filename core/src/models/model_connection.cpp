// The one network exchange of the system: a fixed chat-completions request to the provider,
// through one libcurl easy handle per test. No redirects, no cookies, no cache, TLS verified,
// 30 seconds without progress or 35 seconds in all; the body is read to 1 MiB + 1 byte at most
// and the body of an error answer is never read.
#include <memory>
#include <nlohmann/json.hpp>

#include "models/curl_functions.hpp"
#include "ostrak/error.hpp"
#include "ostrak/models.hpp"

namespace ostrak::ModelConnection {

namespace {

constexpr std::size_t maximumModelBytes = 100;
constexpr std::size_t bodyCap = 1048576 + 1;
constexpr long stallSeconds = 30;
constexpr long totalSeconds = 35;
const std::string invalidModel = "请填写有效的模型标识。";
const std::string transportFailed = "连接失败或超时。请检查网络和服务商状态。";
const std::string noValidAnswer = "服务没有返回有效回答，连接尚未通过验证。";
const std::string certificateUnverified = "服务商证书无法验证，可能有代理或防火墙在拦截 HTTPS。";
const std::string redirected = "服务商地址发生了跳转，已拒绝。";

// A server whose certificate the system cannot vouch for: self-signed, for another host, or
// issued by a proxy that reads HTTPS.
bool isCertificateFailure(CURLcode result) {
    return result == CURLE_PEER_FAILED_VERIFICATION || result == CURLE_SSL_CACERT_BADFILE ||
           result == CURLE_SSL_ISSUER_ERROR || result == CURLE_SSL_PINNEDPUBKEYNOTMATCH;
}

bool validModel(std::string_view model) {
    if (model.empty() || model.size() > maximumModelBytes) return false;
    constexpr std::string_view allowed =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-._:/";
    return model.find_first_not_of(allowed) == std::string_view::npos;
}

std::string requestBody(std::string_view model) {
    const nlohmann::json body = {
        {"model", model},
        {"messages",
         nlohmann::json::array({{{"role", "user"}, {"content", "请只回复：plovik连接成功"}}})},
        {"max_tokens", 128},
        {"stream", false},
        {"thinking", {{"type", "disabled"}}},
    };
    return body.dump();
}

std::string httpMessage(long status) {
    return "模型服务返回 HTTP " + std::to_string(status) + "，请核对授权、模型和服务商余额。";
}

struct EasyCleanup {
    const CurlFunctions* curl;
    void operator()(CURL* handle) const { curl->curl_easy_cleanup(handle); }
};
struct ListCleanup {
    const CurlFunctions* curl;
    void operator()(curl_slist* list) const { curl->curl_slist_free_all(list); }
};

// What the transfer collected: the body of a 200 answer, up to the cap.
struct Reception {
    const CurlFunctions* curl = nullptr;
    CURL* handle = nullptr;
    Bytes body;
    bool overLong = false;
    bool notOk = false;
};

size_t receive(char* data, size_t size, size_t count, void* context) {
    auto& reception = *static_cast<Reception*>(context);
    long status = 0;
    reception.curl->curl_easy_getinfo(reception.handle, CURLINFO_RESPONSE_CODE, &status);
    if (status != 200) {
        reception.notOk = true;  // the error body is never read
        return 0;
    }
    const size_t length = size * count;
    const size_t room = bodyCap - reception.body.size();
    reception.body.append(data, std::min(length, room));
    if (length > room || reception.body.size() >= bodyCap) {
        reception.overLong = true;
        return 0;
    }
    return length;
}

}  // namespace

ModelResult exchange(std::string_view endpoint, std::string_view key, std::string_view model) {
    const auto curl = std::make_unique<const CurlFunctions>();  // refuses when libcurl is missing
    const std::unique_ptr<CURL, EasyCleanup> handle(curl->curl_easy_init(), {curl.get()});
    if (!handle) throw OstrakError(transportFailed);
    const std::string url(endpoint);
    const std::string body = requestBody(model);
    const std::string authorization = "Authorization: Bearer " + std::string(key);
    std::unique_ptr<curl_slist, ListCleanup> headers(
        curl->curl_slist_append(nullptr, authorization.c_str()), {curl.get()});
    const auto addHeader = [&](const char* header) {
        headers.reset(curl->curl_slist_append(headers.release(), header));
    };
    addHeader("Content-Type: application/json");
    // No header of libcurl's own beyond the bare minimum of HTTP.
    addHeader("Expect:");
    addHeader("Accept:");

    Reception reception;
    reception.curl = curl.get();
    reception.handle = handle.get();
    CURL* easy = handle.get();
    const auto setopt = curl->curl_easy_setopt;
    setopt(easy, CURLOPT_URL, url.c_str());
    setopt(easy, CURLOPT_PROTOCOLS_STR, "https,http");
    setopt(easy, CURLOPT_POST, 1L);
    setopt(easy, CURLOPT_POSTFIELDS, body.c_str());
    setopt(easy, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    setopt(easy, CURLOPT_HTTPHEADER, headers.get());
    setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    setopt(easy, CURLOPT_NOSIGNAL, 1L);
    setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    setopt(easy, CURLOPT_LOW_SPEED_TIME, stallSeconds);
    setopt(easy, CURLOPT_CONNECTTIMEOUT, stallSeconds);
    setopt(easy, CURLOPT_TIMEOUT, totalSeconds);
    setopt(easy, CURLOPT_WRITEFUNCTION, receive);
    setopt(easy, CURLOPT_WRITEDATA, &reception);

    const CURLcode result = curl->curl_easy_perform(easy);
    long status = 0;
    curl->curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    if (reception.overLong) throw OstrakError(noValidAnswer);
    if (isCertificateFailure(result)) throw OstrakError(certificateUnverified);
    if (result != CURLE_OK && !reception.notOk) throw OstrakError(transportFailed);
    if (status >= 300 && status < 400) throw OstrakError(redirected);
    if (status != 200) throw OstrakError(httpMessage(status));
    return ModelResult::decode(reception.body);
}

ModelResult test(ModelProvider provider, std::string_view model, const Uuid& station) {
    if (!validModel(model)) throw OstrakError(invalidModel);
    const std::string key = ModelKeychain::read(station, provider);
    return exchange(ModelProviders::endpoint(provider), key, model);
}

}  // namespace ostrak::ModelConnection
