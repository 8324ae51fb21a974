#include "panel.hpp"

#include <QCoreApplication>
#include <QStyle>

#include "style.hpp"

namespace plovik {

QString title(Panel panel) {
    switch (panel) {
        case Panel::overview:
            return QCoreApplication::translate("plovik::Panel", "工作站");
        case Panel::knowledge:
            return QCoreApplication::translate("plovik::Panel", "知识库");
        case Panel::models:
            return QCoreApplication::translate("plovik::Panel", "模型连接");
        case Panel::services:
            return QCoreApplication::translate("plovik::Panel", "后台服务");
        case Panel::opening:
            return QCoreApplication::translate("plovik::Panel", "开通进度");
        case Panel::about:
            return QCoreApplication::translate("plovik::Panel", "版本与诊断");
    }
    return {};
}

QIcon icon(Panel panel) {
    switch (panel) {
        case Panel::overview:
            return style::icon("view-grid", QStyle::SP_DesktopIcon);
        case Panel::knowledge:
            return style::icon("accessories-dictionary", QStyle::SP_FileDialogContentsView);
        case Panel::models:
            return style::icon("applications-science", QStyle::SP_ComputerIcon);
        case Panel::services:
            return style::icon("network-server", QStyle::SP_DriveNetIcon);
        case Panel::opening:
            return style::icon("view-list-details", QStyle::SP_FileDialogListView);
        case Panel::about:
            return style::icon("help-about", QStyle::SP_MessageBoxInformation);
    }
    return {};
}

}  // namespace plovik
