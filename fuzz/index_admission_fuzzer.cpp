// Differential target for the knowledge index: a knowledge tree and a stored index, both made
// from the input, go through rebuildIndex(), and what it stores must be exactly what a plain
// model of the index's rules gives for that tree and that stored index. The stored index is
// none, an earlier rebuild of a slightly different tree (as is, laid out anew, or with one byte
// changed), or raw bytes; so the shortcut that keeps a stored index it judges unchanged can
// never keep a stale one unnoticed.
//
// The tree: up to 1,005 small or 16 KB "filler" notes, which bring the index to its document
// and byte limits, plus up to 16 entries of every kind the walk meets (text with characters
// that need escaping, text that is not UTF-8, files over 256 KB, links, folders and files
// with names that are not UTF-8, hidden names, other extensions). The 10,000-entry budget is
// out of reach here; the tests cover it.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ostrak/core.hpp"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t documentLimit = 1000;
constexpr std::int64_t byteLimit = 16777216;
constexpr std::int64_t fileLimit = 262144;

void expect(bool condition) {
    if (!condition) __builtin_trap();
}

// Reads the input a byte at a time; past its end, zeros.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    std::uint8_t byte() { return m_offset < m_size ? m_data[m_offset++] : 0; }
    std::string rest() {
        std::string bytes(reinterpret_cast<const char*>(m_data) + m_offset, m_size - m_offset);
        m_offset = m_size;
        return bytes;
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_offset = 0;
};

enum class Kind { text, notUtf8, link, foreignFolder, tooLarge, largest };

// One entry of the tree; in the earlier tree, in the current one, or both.
struct Entry {
    std::string folder;  // from the knowledge folder
    std::string name;
    Kind kind = Kind::text;
    std::string content;       // now
    std::string priorContent;  // in the earlier tree
    bool now = true;
    bool before = true;
};

const std::vector<std::string> folders{"attachments", "inbox", "inbox/sub", "notes"};

std::string nameFrom(Input& input, std::size_t index) {
    static const std::vector<std::string> pieces{"a", "B", "0", "-", ".", "中", "\xff", "z", "_"};
    static const std::vector<std::string> extensions{".md", ".txt", ".MD", ".dat", ""};
    std::string name;
    const int length = 1 + input.byte() % 4;
    for (int i = 0; i < length; ++i) name += pieces[input.byte() % pieces.size()];
    // Distinct from every other entry's name and from the fixed folders.
    return name + "~" + std::to_string(index) + extensions[input.byte() % extensions.size()];
}

// Text whose title is known ("T<index>"), with characters the stored form escapes.
std::string textFrom(Input& input, std::size_t index) {
    static const std::vector<std::string> tokens{"a",    "\\", "\"", "/",  "\n", "\r\n",
                                                 "\x01", "é",  "中", "\t", "ß",  " "};
    std::string text = "# T" + std::to_string(index) + "\n";
    const int length = input.byte() % 24;
    for (int i = 0; i < length; ++i) text += tokens[input.byte() % tokens.size()];
    return text;
}

// The same text with one token changed, as a small edit would.
std::string editedFrom(Input& input, const std::string& text) {
    static const std::vector<std::string> replacements{"\\", "\"", "/", "x", "\x02", "é"};
    std::string edited = text;
    const std::size_t at = edited.find('\n') + 1 + input.byte() % 8;
    if (at < edited.size()) {
        edited.replace(at, 1, replacements[input.byte() % replacements.size()]);
        if (edited == text) edited += "x";
    } else {
        edited += replacements[input.byte() % replacements.size()];
    }
    return edited;
}

struct Tree {
    std::size_t fillersNow = 0, fillersBefore = 0;
    std::string fillerFolder;
    std::size_t fillerSize = 0;
    std::vector<Entry> entries;
};

Tree treeFrom(Input& input) {
    Tree tree;
    const std::uint8_t fillers = input.byte();
    if (fillers % 4 != 0) {
        tree.fillersNow = 990 + input.byte() % 16;
        tree.fillersBefore = 990 + input.byte() % 16;
    }
    tree.fillerFolder = input.byte() % 2 ? "notes" : "inbox";
    tree.fillerSize = fillers % 4 == 3 ? 16777 : 8;
    const std::size_t count = input.byte() % 17;
    for (std::size_t i = 0; i < count; ++i) {
        Entry entry;
        entry.folder = folders[input.byte() % folders.size()];
        entry.name = nameFrom(input, i);
        entry.kind = static_cast<Kind>(input.byte() % 6);
        const std::uint8_t presence = input.byte() % 5;
        entry.now = presence != 1;
        entry.before = presence != 2;
        switch (entry.kind) {
            case Kind::text:
                entry.content = textFrom(input, i);
                entry.priorContent =
                    presence == 3 ? editedFrom(input, entry.content) : entry.content;
                break;
            case Kind::notUtf8:
                entry.content = entry.priorContent = "# G\n\xd6\xd0";
                break;
            case Kind::tooLarge:
                entry.content = entry.priorContent = std::string(fileLimit + 1, 'x');
                break;
            case Kind::largest:
                entry.content = entry.priorContent = "# T" + std::to_string(i) + "\n";
                entry.content.resize(fileLimit, 'y');
                entry.priorContent = presence == 3 ? entry.content.substr(0, 100) : entry.content;
                break;
            case Kind::link:
            case Kind::foreignFolder:
                break;
        }
        tree.entries.push_back(std::move(entry));
    }
    return tree;
}

// The name on disk: a folder whose name is not UTF-8, or the entry's name.
std::string entryName(const Entry& entry) {
    return entry.kind == Kind::foreignFolder ? "\xfe" + entry.name : entry.name;
}

std::string fillerName(std::size_t index) {
    char name[16];
    std::snprintf(name, sizeof name, "f%04zu.md", index);
    return name;
}

std::string fillerText(const Tree& tree, std::size_t index) {
    std::string text = "# F" + std::to_string(index) + "\n";
    text.resize(std::max(text.size(), tree.fillerSize), 'f');
    return text;
}

std::string contentOf(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

void writeFile(const fs::path& file, const std::string& content) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << content;
}

// Makes the knowledge folder hold the tree as it was before (`before`) or is now.
void lay(const fs::path& knowledge, const Tree& tree, bool before) {
    const std::size_t fillers = before ? tree.fillersBefore : tree.fillersNow;
    const std::size_t other = before ? tree.fillersNow : tree.fillersBefore;
    for (std::size_t i = fillers; i < other; ++i)
        fs::remove(knowledge / tree.fillerFolder / fillerName(i));
    for (std::size_t i = 0; i < fillers; ++i) {
        const fs::path file = knowledge / tree.fillerFolder / fillerName(i);
        if (!fs::exists(file)) writeFile(file, fillerText(tree, i));
    }
    for (const Entry& entry : tree.entries) {
        const fs::path path = knowledge / entry.folder / entryName(entry);
        fs::remove_all(path);
        if (!(before ? entry.before : entry.now)) continue;
        switch (entry.kind) {
            case Kind::link:
                fs::create_symlink("/etc/hostname", path);
                break;
            case Kind::foreignFolder:
                fs::create_directory(path);
                writeFile(path / "inside.md", "never seen");
                break;
            default:
                writeFile(path, before ? entry.priorContent : entry.content);
        }
    }
}

// ---- The model: the index's rules, written plainly.

// A decoder of its own: each lead byte with its continuation bytes, no overlong form, no
// surrogate, nothing past U+10FFFF.
bool isUtf8(const std::string& bytes) {
    static constexpr std::uint32_t least[] = {0, 0x80, 0x800, 0x10000};
    for (std::size_t i = 0; i < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        const std::size_t more = lead < 0x80                   ? 0
                                 : lead < 0xC0 || lead >= 0xF5 ? 4
                                 : lead < 0xE0                 ? 1
                                 : lead < 0xF0                 ? 2
                                                               : 3;
        if (more == 4 || i + more >= bytes.size()) return false;  // a stray or cut-off byte
        std::uint32_t value = more == 0 ? lead : lead & (0x3Fu >> more);
        for (std::size_t k = 1; k <= more; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            value = value << 6 | (next & 0x3F);
        }
        if (value < least[more] || value > 0x10FFFF || (value >= 0xD800 && value < 0xE000))
            return false;
        i += more + 1;
    }
    return true;
}

bool indexable(const std::string& name) {
    const auto dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return false;
    std::string extension = name.substr(dot + 1);
    for (auto& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension == "md" || extension == "txt";
}

struct Candidate {
    std::string path;  // from the knowledge folder
    std::string text;
};

struct Expected {
    std::map<std::string, std::string> texts;  // by relative path
    std::map<std::string, std::string> titles;
    std::int64_t skipped = 0;
};

// The index the rules give for the tree, with the stored index's paths going first when not
// every file fits.
Expected model(const Tree& tree, bool before, const std::set<std::string>& incumbents) {
    // Every visible entry in walk order: folders depth first, names in byte order.
    std::vector<std::pair<std::vector<std::string>, const Entry*>> visible;
    std::map<std::vector<std::string>, std::string> fillerTexts;
    const std::size_t fillers = before ? tree.fillersBefore : tree.fillersNow;
    for (std::size_t i = 0; i < fillers; ++i) {
        const std::vector<std::string> key{tree.fillerFolder, fillerName(i)};
        visible.push_back({key, nullptr});
        fillerTexts[key] = fillerText(tree, i);
    }
    for (const Entry& entry : tree.entries) {
        if (!(before ? entry.before : entry.now) || entryName(entry).starts_with('.')) continue;
        std::vector<std::string> key;
        for (std::size_t start = 0; start <= entry.folder.size();) {
            const auto slash = std::min(entry.folder.find('/', start), entry.folder.size());
            key.push_back(entry.folder.substr(start, slash - start));
            start = slash + 1;
        }
        key.push_back(entryName(entry));
        visible.push_back({key, &entry});
    }
    std::sort(visible.begin(), visible.end());

    Expected expected;
    std::vector<Candidate> candidates;
    for (const auto& [key, entry] : visible) {
        std::string path;
        for (const auto& part : key) path += (path.empty() ? "" : "/") + part;
        if (!entry) {
            candidates.push_back({path, fillerTexts[key]});
            continue;
        }
        const std::string& name = key.back();
        if (entry->kind == Kind::link || entry->kind == Kind::foreignFolder) {
            ++expected.skipped;
            continue;
        }
        if (!indexable(name)) continue;
        const std::string& text = before ? entry->priorContent : entry->content;
        if (!isUtf8(name) || static_cast<std::int64_t>(text.size()) > fileLimit || !isUtf8(text)) {
            ++expected.skipped;
            continue;
        }
        candidates.push_back({path, text});
    }
    // Admission: in walk order while the limits allow; past them, incumbents first.
    const auto admit = [&](const auto& order) {
        std::vector<const Candidate*> taken;
        std::int64_t bytes = 0;
        std::int64_t refused = 0;
        for (const Candidate* candidate : order) {
            const auto size = static_cast<std::int64_t>(candidate->text.size());
            if (taken.size() >= documentLimit || bytes + size > byteLimit) {
                ++refused;
                continue;
            }
            taken.push_back(candidate);
            bytes += size;
        }
        return std::pair{taken, refused};
    };
    std::vector<const Candidate*> order;
    for (const auto& candidate : candidates) order.push_back(&candidate);
    auto [taken, refused] = admit(order);
    if (refused > 0 && !incumbents.empty()) {
        std::stable_partition(order.begin(), order.end(), [&](const Candidate* candidate) {
            return incumbents.contains(candidate->path);
        });
        std::tie(taken, refused) = admit(order);
    }
    expected.skipped += refused;
    for (const Candidate* candidate : taken) {
        expected.texts[candidate->path] = candidate->text;
        const auto end = candidate->text.find('\n');
        expected.titles[candidate->path] = candidate->text.substr(2, end - 2);
    }
    return expected;
}

// ---- The run.

struct Station {
    fs::path home;
    std::optional<ostrak::Workspace> workspace;
    std::string prefix;  // of relative paths, from the root to the knowledge folder

    Station() {
        std::string pattern = (fs::temp_directory_path() / "index-fuzz-XXXXXX").native();
        expect(::mkdtemp(pattern.data()) != nullptr);
        home = pattern;
        workspace = ostrak::Workspace::create(home / "station", "fuzz");
        prefix =
            workspace->knowledgeURL().native().substr(workspace->root().native().size() + 1) + "/";
        fs::create_directories(workspace->knowledgeURL() / "inbox" / "sub");
    }
    ~Station() {
        std::error_code ignored;
        fs::remove_all(home, ignored);
    }
    fs::path indexFile() const { return workspace->root() / "system/indexes/knowledge.json"; }
};

std::set<std::string> storedPaths(const Station& station) {
    std::set<std::string> paths;
    try {
        for (const auto& document : station.workspace->loadIndex().documents) {
            if (document.relativePath.starts_with(station.prefix))
                paths.insert(document.relativePath.substr(station.prefix.size()));
            else
                paths.insert("\x01" + document.relativePath);  // no file of the tree
        }
    } catch (const std::exception&) {
        paths.clear();
    }
    return paths;
}

// Rebuilds, and checks what is returned and stored against the model.
void rebuildAndCheck(const Station& station, const Tree& tree, bool before) {
    const auto incumbents = storedPaths(station);
    const Expected expected = model(tree, before, incumbents);
    // What the list of skipped entries says before the rebuild, against the same stored index.
    expect(station.workspace->skippedEntries().size() ==
           static_cast<std::size_t>(expected.skipped));
    const ostrak::KnowledgeIndex built = station.workspace->rebuildIndex();
    const ostrak::KnowledgeIndex stored = station.workspace->loadIndex();
    for (const ostrak::KnowledgeIndex* index : {&built, &stored}) {
        expect(index->skipped == expected.skipped);
        expect(index->documents.size() == expected.texts.size());
        for (const auto& document : index->documents) {
            expect(document.relativePath.starts_with(station.prefix));
            const std::string path = document.relativePath.substr(station.prefix.size());
            const auto text = expected.texts.find(path);
            expect(text != expected.texts.end() && text->second == document.text);
            expect(expected.titles.at(path) == document.title);
        }
        expect(std::is_sorted(
            index->documents.begin(), index->documents.end(),
            [](const auto& a, const auto& b) { return a.relativePath < b.relativePath; }));
    }
    expect(station.workspace->skippedEntries().size() ==
           static_cast<std::size_t>(expected.skipped));
    // Nothing changed since: the stored index stays as it is, its update time with it.
    const std::string bytes = contentOf(station.indexFile());
    expect(station.workspace->rebuildIndex().updatedAt.seconds == stored.updatedAt.seconds);
    expect(contentOf(station.indexFile()) == bytes);
}

void replaceAll(std::string& bytes, const std::string& from, const std::string& to) {
    for (auto at = bytes.find(from); at != std::string::npos; at = bytes.find(from, at + to.size()))
        bytes.replace(at, from.size(), to);
}

// The stored index re-laid as another writer might: indented, keys in another order.
void relay(const fs::path& file, std::uint8_t style) {
    nlohmann::ordered_json laid;
    const auto parsed = nlohmann::json::parse(contentOf(file));
    for (auto item = parsed.rbegin(); item != parsed.rend(); ++item) laid[item.key()] = *item;
    writeFile(file, laid.dump(style % 3 == 0 ? -1 : style % 3));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input input(data, size);
    const Tree tree = treeFrom(input);
    const std::uint8_t stored = input.byte() % 5;
    Station station;
    const fs::path knowledge = station.workspace->knowledgeURL();
    if (stored >= 1 && stored <= 3) {
        lay(knowledge, tree, true);
        rebuildAndCheck(station, tree, true);
        if (stored == 2) relay(station.indexFile(), input.byte());
        if (stored == 3) {
            std::fstream file(station.indexFile(), std::ios::in | std::ios::out | std::ios::binary);
            const auto length = fs::file_size(station.indexFile());
            const std::size_t at = (std::size_t{input.byte()} << 8 | input.byte()) % length;
            file.seekp(static_cast<std::streamoff>(at));
            file.put(static_cast<char>(input.byte()));
        }
    }
    if (stored == 4) {
        // "users/OWNER/knowledge/" stands for this station's knowledge folder (also written
        // with "\/"), so that a stored index from elsewhere can name the files of this tree.
        std::string bytes = input.rest();
        std::string escaped;  // as this program writes it, "/" as "\/"
        for (const char c : station.prefix) escaped += c == '/' ? "\\/" : std::string(1, c);
        replaceAll(bytes, "users/OWNER/knowledge/", station.prefix);
        replaceAll(bytes, "users\\/OWNER\\/knowledge\\/", escaped);
        fs::create_directories(station.indexFile().parent_path());
        writeFile(station.indexFile(), bytes);
    }
    lay(knowledge, tree, false);
    rebuildAndCheck(station, tree, false);
    return 0;
}
