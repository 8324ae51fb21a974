#pragma once

#include <cstdint>
#include <string>

#include "ostrak/safe_files.hpp"
#include "ostrak/timestamp.hpp"
#include "ostrak/uuid.hpp"

namespace ostrak {

// The identity record "station.json" in the workstation root. `id` and `ownerID` never change.
struct StationConfiguration {
    std::int64_t schema;
    Uuid id;
    Uuid ownerID;
    std::string name;
    Timestamp createdAt;
};

template <>
struct JsonCodec<StationConfiguration> {
    static StationConfiguration decode(const Bytes& json);
    static Bytes encode(const StationConfiguration& station);
};

}  // namespace ostrak
