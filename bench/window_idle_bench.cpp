// Measures whether the window's memory stays flat while it is left open: on each page in turn,
// the model's periodic refresh (every 3 s in the app) is run 1,000 times back to back, each
// followed by the window's event processing and painting, on Qt's offscreen platform in a
// temporary home. Reports the resident set size after 10 and after 1,000 refreshes per page.
// Not a test: it asserts nothing. Target: the second within 1 MB of the first on every page.
#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "ostrak/core.hpp"
#include "panel.hpp"
#include "plovik_app.hpp"
#include "root_view.hpp"

namespace fs = std::filesystem;

namespace {

// The resident set size in kB, from /proc.
long residentKilobytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return 0;
}

void refresh(plovik::PlovikApp& app, int times) {
    for (int i = 0; i < times; ++i) {
        app.station().refresh();
        QApplication::processEvents();
    }
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path scratch =
        fs::temp_directory_path() / ("ostrak-window-idle-" + std::to_string(::getpid()));
    fs::create_directories(scratch / "home");
    ::setenv("HOME", (scratch / "home").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (scratch / "home/.local/share").c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const auto workspace = ostrak::Workspace::create(scratch / "station", "基准");
    ostrak::Installation::save(workspace);
    // A live heartbeat, so that the pages show a running service.
    workspace.saveHeartbeat({workspace.configuration().id, ostrak::Timestamp::now(),
                             static_cast<std::int32_t>(::getpid()), 0, 0, std::nullopt});

    QApplication application(argc, argv);
    plovik::PlovikApp app;
    app.window().show();
    std::printf("| page | RSS after 10 refreshes | after 1,000 | growth | target |\n");
    std::printf("|---|---:|---:|---:|---:|\n");
    for (const plovik::Panel panel : plovik::allPanels) {
        app.root().select(panel);
        refresh(app, 10);
        const long early = residentKilobytes();
        refresh(app, 990);
        const long late = residentKilobytes();
        std::printf("| %s | %.1f MB | %.1f MB | %+ld kB | <= 1,024 kB |\n",
                    plovik::title(panel).toStdString().c_str(), early / 1024.0, late / 1024.0,
                    late - early);
    }
    fs::remove_all(scratch);
    return 0;
}
