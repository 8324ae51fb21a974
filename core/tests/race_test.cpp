// Another process swaps folders of a workstation for links to an outside folder while the
// workstation is written, read, indexed and beaten: nothing may land outside or be read from it.
#include <stdio.h>
#include <sys/wait.h>

#include <map>
#include <system_error>

#include "testing.hpp"

// Every file below `folder` with its content.
static std::map<std::string, std::string> snapshot(const Path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const auto relative = fs::relative(entry.path(), folder).native();
        files[relative] = entry.is_regular_file() ? readFile(entry.path()) : "<dir>";
    }
    return files;
}

// A child process that exchanges `folder` with a link to `outside` as fast as it can for
// `duration`, then leaves both as they were.
static pid_t startSwapping(const Path& folder, const Path& outside,
                           std::chrono::milliseconds duration) {
    const Path link = folder.parent_path() / ".swap-link";
    fs::create_directory_symlink(outside, link);
    const pid_t child = ::fork();
    if (child != 0) return child;
    const auto end = std::chrono::steady_clock::now() + duration;
    bool swapped = false;
    while (std::chrono::steady_clock::now() < end || swapped) {
        if (::renameat2(AT_FDCWD, folder.c_str(), AT_FDCWD, link.c_str(), RENAME_EXCHANGE) == 0) {
            swapped = !swapped;
        }
    }
    ::_exit(0);
}

class Races : public ::testing::Test, protected Station {};

TEST_F(Races, AFolderSwappedForALinkNeverRedirectsAnOperation) {
    workspace.writeNote("第一篇", "内容");
    workspace.rebuildIndex();
    const Path outside = dir / "outside";
    // The outside folder looks like the workstation, so a redirected operation would succeed.
    for (const char* folder : {"system/indexes", "system/state", "notes"})
        fs::create_directories(outside / folder);
    writeFile(outside / "station.json", readFile(workspace.root() / "station.json"));
    const auto before = snapshot(outside);

    const std::function<void()> operations[] = {
        [&] { workspace.writeNote("笔记", "内容"); }, [&] { workspace.rebuildIndex(); },
        [&] {
            workspace.saveHeartbeat(
                {workspace.configuration().id, Timestamp::now(), 1, 0, 0, std::nullopt});
        },
        [&] {
            EXPECT_EQ(Workspace::open(workspace.root()).configuration().id,
                      workspace.configuration().id);
        },
        [&] { workspace.loadIndex(); }};
    const Path targets[] = {workspace.root() / "system/indexes", workspace.root() / "system/state",
                            knowledge / "notes", workspace.root()};
    for (const Path& target : targets) {
        SCOPED_TRACE(target.native());
        const pid_t swapper = startSwapping(target, outside, 1500ms);
        int succeeded = 0;
        for (const auto end = std::chrono::steady_clock::now() + 1500ms;
             std::chrono::steady_clock::now() < end;) {
            for (const auto& operation : operations) {
                try {
                    operation();
                    ++succeeded;
                } catch (const OstrakError&) {  // a refusal with a message is a right answer
                } catch (const std::system_error&) {
                }
            }
        }
        int status = 0;
        ASSERT_EQ(::waitpid(swapper, &status, 0), swapper);
        fs::remove(target.parent_path() / ".swap-link");
        EXPECT_GT(succeeded, 0);
        EXPECT_EQ(snapshot(outside), before);
    }
    // Whatever was published went into the workstation and is whole.
    EXPECT_NO_THROW(Workspace::open(workspace.root()).loadIndex());
    for (const Path& folder : targets)
        EXPECT_EQ(temporaries(folder), std::vector<std::string>{}) << folder;
}
