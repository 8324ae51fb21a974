// Feeds arbitrary bytes to everything that reads what a user (or a damaged disk) can put in a
// workstation or hand to the app: the stored records, a provider's answer, names and titles.
// Decoders may refuse, never crash; what decodes must encode and decode back the same.
#include <cstddef>
#include <cstdint>
#include <string>

#include "ostrak/core.hpp"

namespace {

template <class Record, class Check>
void roundTrip(const ostrak::Bytes& bytes, Check check) {
    try {
        const Record record = ostrak::JsonCodec<Record>::decode(bytes);
        const Record again =
            ostrak::JsonCodec<Record>::decode(ostrak::JsonCodec<Record>::encode(record));
        check(record, again);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception&) {
    }
}

void expect(bool condition) {
    if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ostrak::Bytes bytes(reinterpret_cast<const char*>(data), size);
    bytes.reserve(size + 64);  // as the guarded reader leaves it

    roundTrip<ostrak::KnowledgeIndex>(bytes, [](const auto& a, const auto& b) {
        expect(a.documents == b.documents && a.skipped == b.skipped);
    });
    roundTrip<ostrak::StationConfiguration>(bytes, [](const auto& a, const auto& b) {
        expect(a.name == b.name && a.id == b.id && a.schema == b.schema);
    });
    roundTrip<ostrak::ServiceHeartbeat>(bytes, [](const auto& a, const auto& b) {
        expect(a.issue == b.issue && a.pid == b.pid && a.indexed == b.indexed);
    });
    try {
        const auto result = ostrak::ModelResult::decode(bytes);
        expect(!result.reply.empty());
    } catch (const ostrak::OstrakError&) {
    }
    try {
        const std::string name = ostrak::Workspace::validName(bytes);
        expect(ostrak::Workspace::validName(name) == name);
    } catch (const ostrak::OstrakError&) {
    }
    ostrak::KnowledgeIndex index;
    index.documents.push_back({"a", "t", bytes});
    (void)index.search(bytes);
    return 0;
}
