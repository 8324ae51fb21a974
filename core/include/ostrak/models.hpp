#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "ostrak/types.hpp"
#include "ostrak/uuid.hpp"

namespace ostrak {

// The two cloud model providers, in the order the app lists them.
enum class ModelProvider { deepseek, zhipu };

namespace ModelProviders {
inline constexpr std::array<ModelProvider, 2> allCases{ModelProvider::deepseek,
                                                       ModelProvider::zhipu};
std::string_view id(ModelProvider provider);  // the raw value: "deepseek", "zhipu"
std::string_view name(ModelProvider provider);
std::string_view model(ModelProvider provider);                   // the proposed model identifier
std::string_view endpoint(ModelProvider provider);                // the chat-completions URL
std::optional<ModelProvider> fromRawValue(std::string_view raw);  // exact raw values only
}  // namespace ModelProviders

// The API key of one station and provider, kept only in the user's Secret Service keyring
// (service "cn.trenzo.workstation.models", account "<station UUID>.<provider>"). Every call
// blocks; an unreachable, locked or refusing keyring fails with the operation's message.
namespace ModelKeychain {
// Trims the key and refuses one outside 8..4096 UTF-8 bytes or holding a control or format
// character; replaces a key already stored.
void save(std::string_view key, const Uuid& station, ModelProvider provider);
std::string read(const Uuid& station, ModelProvider provider);
// Succeeds when there is nothing to remove.
void remove(const Uuid& station, ModelProvider provider);
// Whether an item is stored, locked or not, found without unlocking anything or reading its
// secret (so without a prompt). Throws when no Secret Service answers.
bool isStored(const Uuid& station, ModelProvider provider);
}  // namespace ModelKeychain

// The outcome of a connection test.
struct ModelResult {
    std::string reply;  // at most 500 characters
    std::optional<std::int64_t> inputTokens, outputTokens;

    // Reads a chat-completions answer of at most 1 MiB.
    static ModelResult decode(const Bytes& body);
};

namespace ModelConnection {
// Blocking; the app calls it off the UI thread. Validates the model, reads the key, then
// exchange().
ModelResult test(ModelProvider provider, std::string_view model, const Uuid& station);
// The HTTP exchange alone (steps from building the request on), so tests can aim it at a loopback
// server.
ModelResult exchange(std::string_view endpoint, std::string_view key, std::string_view model);
}  // namespace ModelConnection

}  // namespace ostrak
