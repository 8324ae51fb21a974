#pragma once

#include <QMainWindow>

#include <memory>

#include "root_view.hpp"
#include "station_model.hpp"

namespace plovik {

// The app: the one StationModel, made at launch and kept until quit, and the one window.
class PlovikApp {
public:
    PlovikApp();
    explicit PlovikApp(PlatformServices services);
    ~PlovikApp();

    StationModel& station() { return *m_station; }
    QMainWindow& window() { return *m_window; }
    RootView& root() { return *m_root; }

private:
    void buildWindow();
    static void fitToScreen(QWidget& window);

    std::unique_ptr<StationModel> m_station;
    std::unique_ptr<QMainWindow> m_window;
    RootView* m_root = nullptr;
};

}  // namespace plovik
