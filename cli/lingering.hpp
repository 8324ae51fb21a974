#pragma once

#include <optional>
#include <string>

namespace plovik::cli {

// Whether the user manager, and with it the service, outlives this account's last session.
// Without lingering it stops at logout; a desktop session keeps the user logged in, a shell over
// SSH does not.
struct Lingering {
    std::string user;
    bool enabled = false;
    bool graphicalSession = false;

    static Lingering ofThisAccount();
    // The one line telling how to keep the service running after logout, when it would stop.
    std::optional<std::string> hint() const;
};

}  // namespace plovik::cli
