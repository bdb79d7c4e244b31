#include "Classes/WobblestarAppDelegate.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Wobblestar"));
    QApplication::setApplicationName(QStringLiteral("Wobblestar"));

    WobblestarAppDelegate delegate;
    delegate.ui.settingsView->hide();
    delegate.ui.metersView->hide();
    delegate.ui.xAxis->setOn(true);
    delegate.ui.yAxis->setOn(true);
    delegate.ui.zAxis->setOn(true);
    delegate.ui.segmentcontroller->setSelectedSegmentIndex(0);
    delegate.window()->setStyleSheet(QStringLiteral("background: #202020;"));
    delegate.window()->show();
    delegate.ui.graphView->setUpdatingIsEnabled(true);
    delegate.applySampleRate();

    QApplication::exec();
    return 0;
}
