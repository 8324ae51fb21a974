// The JSON forms of the small stored records.
#include "json/json_reading.hpp"
#include "json/json_writer.hpp"
#include "ostrak/station.hpp"

namespace ostrak {

StationConfiguration JsonCodec<StationConfiguration>::decode(const Bytes& bytes) {
    const auto object = json::parseObject(bytes);
    return {
        .schema = json::integerMember<std::int64_t>(object, "schema"),
        .id = json::uuidMember(object, "id"),
        .ownerID = json::uuidMember(object, "ownerID"),
        .name = json::stringMember(object, "name"),
        .createdAt = json::timestampMember(object, "createdAt"),
    };
}

Bytes JsonCodec<StationConfiguration>::encode(const StationConfiguration& station) {
    JsonWriter writer;
    writer.beginObject()
        .key("createdAt")
        .number(station.createdAt.seconds)
        .key("id")
        .string(station.id.text())
        .key("name")
        .string(station.name)
        .key("ownerID")
        .string(station.ownerID.text())
        .key("schema")
        .integer(station.schema)
        .endObject();
    return writer.take();
}

}  // namespace ostrak
