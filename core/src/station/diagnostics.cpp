#include "json/index_json.hpp"
#include "json/json_writer.hpp"
#include "ostrak/workspace.hpp"
#include "station/environment_facts.hpp"

namespace ostrak {

namespace {

constexpr std::int64_t indexReadLimit = 104857600;

bool serviceIsFresh(const Workspace& workspace) {
    try {
        return workspace.heartbeat().isFresh(Timestamp::now());
    } catch (...) {
        return false;  // no heartbeat, a broken one, or another station's
    }
}

std::optional<std::int64_t> indexedDocuments(const Workspace& workspace) {
    try {
        const Bytes stored = SafeFiles::readData(
            workspace.root() / "system" / "indexes" / "knowledge.json", indexReadLimit);
        return indexjson::storedDocumentCount(stored);
    } catch (...) {
        return std::nullopt;  // no index yet, or one that cannot be read
    }
}

}  // namespace

// A compact report for support that names nothing of the person, the station or its content.
Bytes Workspace::diagnosticReport() const {
    const auto documents = indexedDocuments(*this);
    JsonWriter writer(false);
    writer.beginObject()
        .key("appVersion")
        .string(version)
        .key("schema")
        .integer(m_configuration.schema)
        .key("systemVersion")
        .string(environment::operatingSystem())
        .key("serviceFresh")
        .boolean(serviceIsFresh(*this));
    if (documents) writer.key("indexedDocuments").integer(*documents);
    writer.key("generatedAt").number(Timestamp::now().seconds).endObject();
    return writer.take();
}

}  // namespace ostrak
