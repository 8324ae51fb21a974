// Measures the knowledge index on a full knowledge base (1,000 notes, 16 MB of mixed Chinese
// and English text, half of the notes link-heavy: a URL or path on most lines, so most strings
// have a "/" to escape) side by side with ripgrep reading the same files, and prints a table of
// times, their ratio to ripgrep and the target ratio. It also measures the peak memory of one
// pass over two hostile trees: a folder of 300,000 files and a chain of 1,800 nested folders.
// Not a test: it asserts nothing.
//
//   ostrak_index_bench            run everything and print the table
//   ostrak_index_bench --make-base DIR      only create the workstation DIR/station with the
//                                            knowledge base (for measuring the service)
//   ostrak_index_bench --rebuild-once ROOT   (internal) open ROOT, rebuild once, print VmHWM
//   ostrak_index_bench --measure-untuned ROOT   (internal) the rows without allocator settings
//   ostrak_index_bench --search-once ROOT    (internal) open ROOT, rebuild and search once
//
// Every row is measured twice: "tuned" with the service's allocator setting (one arena), "untuned"
// in a child that sets nothing, as a test, a tool or the command line uses the core.
#include <ftw.h>
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "ostrak/allocator.hpp"
#include "ostrak/core.hpp"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int noteCount = 1000;
constexpr std::size_t noteBytes = 16000;
constexpr int repetitions = 15;

const std::vector<std::string> chineseWords = {
    "知识", "工作站", "笔记", "索引", "后台", "服务", "模型", "数据", "目录", "权限", "安全",
    "检索", "文件",   "用户", "系统", "项目", "会议", "计划", "总结", "问题", "方案", "测试"};
const std::vector<std::string> englishWords = {
    "knowledge", "station", "note",   "index",  "service", "model",   "data",    "folder",
    "secure",    "search",  "file",   "user",   "system",  "project", "meeting", "plan",
    "summary",   "issue",   "design", "review", "Linux",   "Markdown"};

std::string makeNote(int number, std::mt19937& random) {
    std::string note = "# 笔记 " + std::to_string(number) + " Weekly Review\n\n";
    while (note.size() < noteBytes - 200) {
        std::string line;
        for (int word = 0; word < 12; ++word) {
            const bool chinese = random() % 2 == 0;
            const auto& words = chinese ? chineseWords : englishWords;
            line += words[random() % words.size()];
            if (!chinese) line += ' ';
        }
        const bool linkHeavy = number % 2 == 1;
        if (linkHeavy && random() % 4 != 0) {
            line += " [link](https://example.org/docs/" + std::to_string(random() % 1000) +
                    "/plans/review.html) ";
        } else if (random() % 8 == 0) {
            line += " see docs/plans/" + std::to_string(random() % 100) + ".md";
        }
        note += line + "\n";
    }
    note.resize(noteBytes - 1);
    // Keep the cut on a character boundary.
    while (!note.empty() && (static_cast<unsigned char>(note.back()) & 0xC0) == 0x80)
        note.pop_back();
    if (!note.empty() && static_cast<unsigned char>(note.back()) >= 0xC0) note.pop_back();
    note += '\n';
    return note;
}

double millisecondsOf(const std::function<void()>& action) {
    std::vector<double> runs;
    for (int i = 0; i < repetitions; ++i) {
        const auto start = Clock::now();
        action();
        runs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(runs.begin(), runs.end());
    return runs[runs.size() / 2];
}

double ripgrepMilliseconds(const fs::path& folder) {
    const std::string command =
        "rg -j1 -c -i zzqqxxmissing '" + folder.native() + "' >/dev/null 2>&1";
    return millisecondsOf([&] { (void)!std::system(command.c_str()); });
}

// The peak resident size (VmHWM) of this process so far, in kB.
long peakKilobytes() {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    char line[256];
    long peak = -1;
    while (status && std::fgets(line, sizeof line, status)) {
        if (std::sscanf(line, "VmHWM: %ld kB", &peak) == 1) break;
    }
    if (status) std::fclose(status);
    return peak;
}

// A fresh process (not a fork, whose counted pages would be this one's) reports its own peak.
long childPeakKilobytes(const char* self, const fs::path& root, bool untuned = false) {
    const std::string command = std::string(self) +
                                (untuned ? " --rebuild-once-untuned '" : " --rebuild-once '") +
                                root.native() + "'";
    std::FILE* child = ::popen(command.c_str(), "r");
    long peak = -1;
    if (child && std::fscanf(child, "%ld", &peak) != 1) peak = -1;
    if (child) ::pclose(child);
    return peak;
}

// What no implementation of "rebuild after one new note" can avoid: reading the knowledge base
// (ripgrep) plus writing and flushing the same number of index bytes once.
double writeAndFlushMilliseconds(const fs::path& folder, std::size_t bytes) {
    const std::string data(bytes, 'x');
    return millisecondsOf(
        [&] { ostrak::SafeFiles::writeData(data, folder / "reference.bin", false); });
}

// Handing out as much fresh memory as the notes take, one buffer per note with its pages asked
// for at once, then freeing it and giving it back to the system.
double freshMemoryMilliseconds(const fs::path& knowledge) {
    std::vector<std::size_t> sizes;
    for (const auto& entry : fs::recursive_directory_iterator(knowledge)) {
        if (entry.is_regular_file()) sizes.push_back(entry.file_size());
    }
    return millisecondsOf([&] {
        std::vector<std::string> buffers(sizes.size());
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            buffers[i].reserve(sizes[i]);
            const auto address = reinterpret_cast<std::uintptr_t>(buffers[i].data());
            const auto start = address & ~std::uintptr_t{4095};
            ::madvise(reinterpret_cast<void*>(start), address + sizes[i] - start,
                      MADV_POPULATE_WRITE);
            buffers[i].append(sizes[i], 'x');
        }
        buffers.clear();
        buffers.shrink_to_fit();
        ::malloc_trim(0);
    });
}

// Removes a tree however deep: nftw keeps at most 64 folders open, where remove_all holds one
// per level and runs out of descriptors in the chain of 1,800 folders.
void removeTree(const fs::path& top) {
    const auto removeEntry = [](const char* path, const struct stat*, int, struct FTW*) {
        return ::remove(path) == 0 ? 0 : -1;
    };
    if (::nftw(top.c_str(), removeEntry, 64, FTW_DEPTH | FTW_PHYS) != 0)
        std::fprintf(stderr, "could not remove %s\n", top.c_str());
}

// Peak memory of one rebuild of a workstation whose notes folder is filled by `fill`.
long hostilePeakKilobytes(const char* self, const fs::path& scratch, const char* name,
                          const std::function<void(const fs::path&)>& fill) {
    auto workspace = ostrak::Workspace::create(scratch / name, "基准");
    fill(workspace.knowledgeURL() / "notes");
    return childPeakKilobytes(self, workspace.root());
}

struct Row {
    std::string name;
    double milliseconds;
    double target;     // the ratio allowed; 0 when there is none
    double ratio = 0;  // to ripgrep (one row: to its floor)
};

std::string targetText(double ratio) {
    char text[32];
    std::snprintf(text, sizeof text, "<= %gx", ratio);
    return text;
}

// The rows of the table for this process's allocator settings.
std::vector<Row> measure(const fs::path& scratch, ostrak::Workspace workspace) {
    std::vector<Row> rows;
    const double ripgrep = ripgrepMilliseconds(workspace.knowledgeURL());
    rows.push_back({"rg -j1 -c -i (reference)", ripgrep, 0});
    const fs::path indexFile = workspace.root() / "system/indexes/knowledge.json";
    rows.push_back({"first rebuild (writes the index)", millisecondsOf([&] {
                        fs::remove(indexFile);
                        workspace.rebuildIndex();
                    }),
                    0});
    rows.push_back({"unchanged rebuild", millisecondsOf([&] { workspace.rebuildIndex(); }), 2.5});
    std::vector<fs::path> added;
    const double newNote = millisecondsOf([&] {
        added.push_back(
            workspace.writeNote("新笔记 " + std::to_string(added.size()), "one more 笔记"));
        workspace.rebuildIndex();
    });
    rows.push_back({"rebuild after one new note", newNote, 0});
    // What no implementation can avoid: reading the knowledge base (ripgrep) plus writing and
    // flushing the same number of index bytes once. Its ratio is to that floor.
    const double floor = ripgrep + writeAndFlushMilliseconds(scratch, fs::file_size(indexFile));
    rows.push_back({"rebuild after one new note, against its floor", newNote, 1.3});
    // What ripgrep never pays and an index held in memory always does when its memory is new
    // to the process (as after the last index was freed and the heap given back).
    const double fresh = freshMemoryMilliseconds(workspace.knowledgeURL());
    rows.push_back({"fresh memory for the notes' text (reference)", fresh, 0});
    rows.push_back({"rebuild after one new note, against floor + fresh memory", newNote, 0});
    ostrak::KnowledgeIndex index;
    rows.push_back({"loadIndex", millisecondsOf([&] { index = workspace.loadIndex(); }), 2});
    std::size_t hits = 0;
    rows.push_back({"search Chinese word (工作站)",
                    millisecondsOf([&] { hits += index.search("工作站").size(); }), 1});
    rows.push_back({"search English word (KNOWLEDGE)",
                    millisecondsOf([&] { hits += index.search("KNOWLEDGE").size(); }), 1});
    rows.push_back({"search missing word",
                    millisecondsOf([&] { hits += index.search("zzqqxxmissing").size(); }), 1});
    if (hits == 0) std::fprintf(stderr, "the searches found nothing\n");
    workspace.rebuildIndex();  // leave the index current for the memory run
    for (Row& row : rows) row.ratio = row.milliseconds / ripgrep;
    rows[4].ratio = newNote / floor;
    rows[6].ratio = newNote / (floor + fresh);
    // The next mode measures the same knowledge base.
    for (const fs::path& note : added) fs::remove(note);
    workspace.rebuildIndex();
    return rows;
}

// The rows and the rebuild's peak from a child that sets no allocator setting.
std::pair<std::vector<Row>, long> measureUntuned(const char* self, const fs::path& root) {
    const std::string command = std::string(self) + " --measure-untuned '" + root.native() + "'";
    std::FILE* child = ::popen(command.c_str(), "r");
    std::vector<Row> rows;
    long peak = -1;
    char line[512];
    while (child && std::fgets(line, sizeof line, child)) {
        const std::string text(line);
        const auto first = text.find('\t'), second = text.find('\t', first + 1);
        if (second == std::string::npos) continue;
        const double value = std::stod(text.substr(first + 1, second - first - 1));
        if (text.starts_with("peak\t")) {
            peak = static_cast<long>(value);
        } else {
            rows.push_back({text.substr(0, first), value, 0, std::stod(text.substr(second + 1))});
        }
    }
    if (child) ::pclose(child);
    return {rows, peak};
}

constexpr const char* missingWord = "zzqqxxmissing";

struct SearchTimes {
    double plovik;       // `plovik search`, a process
    double coreProcess;  // a plain program linking the core, a process
    double core;         // the core in this process
    double version;      // `plovik --version`, a process
    double status;       // `plovik status`, a process
};

// `plovik search` for a missing word, process start included, in a home of its own whose
// installation pointer names the workstation; against the core's rebuild and search, in a
// process of its own (this program, started as a plain program would be) and in this one.
SearchTimes commandLineSearch(const char* self, const fs::path& scratch,
                              ostrak::Workspace workspace) {
    const fs::path home = scratch / "home";
    fs::create_directories(home);
    const std::string environment = "HOME='" + home.native() + "' XDG_DATA_HOME='" +
                                    (home / ".local/share").native() +
                                    "' DBUS_SESSION_BUS_ADDRESS=disabled: ";
    const std::string open =
        environment + OSTRAK_PLOVIK " open '" + workspace.root().native() + "' >/dev/null 2>&1";
    if (std::system(open.c_str()) != 0) std::fprintf(stderr, "plovik open failed\n");
    const std::string search =
        environment + OSTRAK_PLOVIK " search " + missingWord + " >/dev/null 2>&1";
    const std::string plain =
        std::string(self) + " --search-once '" + workspace.root().native() + "' >/dev/null";
    int failures = 0;
    const double process = millisecondsOf([&] { failures += std::system(search.c_str()) != 0; });
    const double plainProcess =
        millisecondsOf([&] { failures += std::system(plain.c_str()) != 0; });
    if (failures > 0) std::fprintf(stderr, "a search process failed %d times\n", failures);
    const double library = millisecondsOf([&] { workspace.rebuildIndex().search(missingWord); });
    const std::string version = environment + OSTRAK_PLOVIK " --version >/dev/null";
    const std::string status = environment + OSTRAK_PLOVIK " status >/dev/null 2>&1";
    const double versionProcess =
        millisecondsOf([&] { failures += std::system(version.c_str()) != 0; });
    const double statusProcess =
        millisecondsOf([&] { failures += std::system(status.c_str()) != 0; });
    if (failures > 0) std::fprintf(stderr, "a plovik process failed %d times\n", failures);
    return {process, plainProcess, library, versionProcess, statusProcess};
}

void printTable(const std::vector<Row>& tuned, const std::vector<Row>& untuned) {
    std::printf(
        "| operation | tuned ms | x ripgrep | untuned ms | x ripgrep | target |\n"
        "|---|---:|---:|---:|---:|---:|\n");
    for (std::size_t row = 0; row < tuned.size(); ++row) {
        const Row other = row < untuned.size() ? untuned[row] : Row{"", 0, 0};
        std::printf("| %s | %.1f | %.2f | %.1f | %.2f | %s |\n", tuned[row].name.c_str(),
                    tuned[row].milliseconds, tuned[row].ratio, other.milliseconds, other.ratio,
                    tuned[row].target > 0 ? targetText(tuned[row].target).c_str() : "");
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc == 3 ? argv[1] : "";
    if (mode != "--measure-untuned" && mode != "--rebuild-once-untuned" &&
        mode != "--search-once") {
        ostrak::allocator::useOneArena();  // the service's one setting
    }
    if (mode == "--search-once") {
        return ostrak::Workspace::open(argv[2]).rebuildIndex().search(missingWord).empty() ? 0 : 1;
    }
    if (mode == "--rebuild-once" || mode == "--rebuild-once-untuned") {
        ostrak::Workspace::open(argv[2]).rebuildIndex();
        std::printf("%ld\n", peakKilobytes());
        return 0;
    }
    if (mode == "--measure-untuned") {
        const fs::path root(argv[2]);
        for (const Row& row : measure(root.parent_path(), ostrak::Workspace::open(root)))
            std::printf("%s\t%f\t%f\n", row.name.c_str(), row.milliseconds, row.ratio);
        std::printf("peak\t%ld\t0\n", childPeakKilobytes(argv[0], root, true));
        return 0;
    }
    const bool onlyBase = mode == "--make-base";
    const fs::path scratch =
        onlyBase ? fs::path(argv[2])
                 : fs::temp_directory_path() / ("ostrak-bench-" + std::to_string(::getpid()));
    fs::create_directories(scratch);
    auto workspace = ostrak::Workspace::create(scratch / "station", "基准");
    std::mt19937 random(20261206);
    std::size_t total = 0;
    for (int i = 0; i < noteCount; ++i) {
        const std::string note = makeNote(i, random);
        total += note.size();
        ostrak::SafeFiles::writeData(
            note, workspace.knowledgeURL() / "notes" / (std::to_string(100000 + i) + ".md"), true);
    }
    if (onlyBase) return 0;

    const std::vector<Row> rows = measure(scratch, workspace);
    const auto [untunedRows, untunedPeak] = measureUntuned(argv[0], workspace.root());
    const SearchTimes searches = commandLineSearch(argv[0], scratch, workspace);
    const long peak = childPeakKilobytes(argv[0], workspace.root());
    const long wideFolderPeak =
        hostilePeakKilobytes(argv[0], scratch, "wide", [](const fs::path& notes) {
            for (int i = 0; i < 300000; ++i) {
                const std::string name = std::to_string(i) + ".md";
                std::FILE* file = std::fopen((notes / ("f" + name)).c_str(), "w");
                if (file) std::fclose(file);
            }
        });
    const long deepChainPeak =
        hostilePeakKilobytes(argv[0], scratch, "deep", [](const fs::path& notes) {
            fs::path folder = notes;
            for (int depth = 0; depth < 1800; ++depth) {
                folder /= "d";
                fs::create_directory(folder);
            }
            std::FILE* file = std::fopen((folder / "deep.md").c_str(), "w");
            if (file) std::fclose(file);
        });

    const fs::path indexFile = workspace.root() / "system/indexes/knowledge.json";
    std::printf(
        "Knowledge base: %d notes generated (the new-note runs of each mode add more, and remove "
        "them after), "
        "%.1f MB of text, index file %.1f MB. Tuned: the service's allocator setting (one "
        "arena); untuned: none, as a plain program linking the "
        "core.\n\n",
        noteCount, static_cast<double>(total) / 1e6,
        static_cast<double>(fs::file_size(indexFile)) / 1e6);
    printTable(rows, untunedRows);
    std::printf(
        "\n| search a missing word, index rebuilt first | ms |\n|---|---:|\n"
        "| the core: rebuildIndex().search(), in this process | %.1f |\n"
        "| the same in a plain program linking the core, a process | %.1f |\n"
        "| `plovik search`, a process | %.1f |\n"
        "(a process: its start and the shell's included)\n",
        searches.core, searches.coreProcess, searches.plovik);
    std::printf(
        "\n| the command line, a process | ms | target |\n|---|---:|---:|\n"
        "| `plovik --version` | %.1f | |\n"
        "| `plovik status` (its index's counts read from the file's layout) | %.1f | <= %.1f (2x "
        "--version) |\n",
        searches.version, searches.status, 2 * searches.version);
    std::printf("\n| peak RSS of one pass (separate process) | MB | target |\n|---|---:|---:|\n");
    for (const auto& [name, kilobytes] :
         {std::pair{"unchanged rebuild of the knowledge base, tuned", peak},
          std::pair{"unchanged rebuild of the knowledge base, untuned", untunedPeak},
          std::pair{"a folder of 300,000 files", wideFolderPeak},
          std::pair{"a chain of 1,800 nested folders", deepChainPeak}}) {
        std::printf("| %s | %.1f | <= 32 MB |\n", name, static_cast<double>(kilobytes) / 1024.0);
    }
    // Past the limits: 200 more notes than fit. Which files go in depends on the stored index,
    // which the rebuild then reads too, and walks the folder once for the files it held and once
    // for the others.
    for (int i = 0; i < 200; ++i) {
        ostrak::SafeFiles::writeData(
            "# past\n" + std::to_string(i),
            workspace.knowledgeURL() / "inbox" / (std::to_string(100000 + i) + ".md"), true);
    }
    workspace.rebuildIndex();
    const double pastLimits = millisecondsOf([&] { workspace.rebuildIndex(); });
    const long pastLimitsPeak = childPeakKilobytes(argv[0], workspace.root());
    std::printf(
        "\n| unchanged rebuild past the limits (%d + 200 notes), tuned | ms | peak RSS MB |\n"
        "|---|---:|---:|\n| | %.1f | %.1f |\n",
        noteCount, pastLimits, static_cast<double>(pastLimitsPeak) / 1024.0);
    if (!std::getenv("OSTRAK_BENCH_KEEP")) removeTree(scratch);
    return 0;
}
