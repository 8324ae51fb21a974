#include "ostrak/models.hpp"

namespace ostrak::ModelProviders {

std::string_view id(ModelProvider provider) {
    return provider == ModelProvider::deepseek ? "deepseek" : "zhipu";
}

std::string_view name(ModelProvider provider) {
    return provider == ModelProvider::deepseek ? "DeepSeek" : "智谱";
}

std::string_view model(ModelProvider provider) {
    return provider == ModelProvider::deepseek ? "deepseek-chat" : "glm-4.7";
}

std::string_view endpoint(ModelProvider provider) {
    return provider == ModelProvider::deepseek
               ? "https://api.deepseek.com/chat/completions"
               : "https://open.bigmodel.cn/api/paas/v4/chat/completions";
}

std::optional<ModelProvider> fromRawValue(std::string_view raw) {
    for (const auto provider : allCases) {
        if (id(provider) == raw) return provider;
    }
    return std::nullopt;
}

}  // namespace ostrak::ModelProviders
