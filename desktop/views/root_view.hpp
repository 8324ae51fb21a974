#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QScrollArea>
#include <QWidget>

#include <optional>

#include "panel.hpp"
#include "station_model.hpp"

class QLabel;
class QListWidget;
class QVBoxLayout;

namespace plovik {

// The window's content: a sidebar of panels with the service's status, and the selected page
// with the notice line under it. Shows the model's error in the alert "需要处理" and clears it
// however the alert is dismissed.
class RootView : public QWidget {
    Q_OBJECT
public:
    explicit RootView(StationModel& station, QWidget* parent = nullptr);

    Panel panel() const { return m_panel; }
    void select(Panel panel);
    QWidget* page() const { return m_page; }
    QMessageBox* alert() const { return m_alert; }
    QString statusLine() const;

protected:
    // The first showing puts focus on the page's first field, not on the sidebar.
    void showEvent(QShowEvent* event) override;

private:
    static void focusFirstField(QWidget* page);

    bool m_panelChosenHere = false;       // select() moving the sidebar's row itself
    bool m_panelChosenInSidebar = false;  // the person moved the sidebar's row
    QWidget* sidebar();
    QWidget* detail();
    void showPage();
    void syncStatus();
    void syncNotice();
    void syncAlert();

    StationModel& m_station;
    Panel m_panel = Panel::overview;
    QListWidget* m_panels = nullptr;
    QVBoxLayout* m_pageHolder = nullptr;
    QWidget* m_page = nullptr;
    bool m_pageIsWelcome = false;
    bool m_shownOnce = false;
    QLabel* m_notice = nullptr;
    QScrollArea* m_scroll = nullptr;
    QWidget* m_busyBand = nullptr;
    QLabel* m_busyText = nullptr;
    QLabel* m_statusIcon = nullptr;
    std::optional<bool> m_statusIconShowsRunning;  // the state the dot was last drawn for
    QLabel* m_statusText = nullptr;
    QPointer<QMessageBox> m_alert;
};

}  // namespace plovik
