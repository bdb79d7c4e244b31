#include "Classes/WobblestarAppDelegate.h"
#include "platform/CommandLine.h"
#include "platform/accel/Sources.h"

#include <QApplication>

#include <cstdio>

namespace {

QStringList argumentsOf(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

int listSources() {
    for (const platform::SourceInfo& info : platform::detectSources())
        std::printf("%s\t%s\t%s\t%s\n", qPrintable(info.kind), qPrintable(info.name),
                    qPrintable(info.path), qPrintable(info.rates));
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    platform::LaunchOptions options;
    QString error, output;
    switch (platform::parseLaunchOptions(argumentsOf(argc, argv), options, &error, &output)) {
    case platform::LaunchAction::ShowHelp:
    case platform::LaunchAction::ShowVersion:
        std::printf("%s\n", qPrintable(output));
        return 0;
    case platform::LaunchAction::Fail:
        std::fprintf(stderr, "wobblestar: %s\n", qPrintable(error));
        return 2;
    case platform::LaunchAction::Run:
        break;
    }
    if (options.listSources)
        return listSources();

    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Wobblestar"));
    QApplication::setApplicationName(QStringLiteral("Wobblestar"));

    std::unique_ptr<platform::AccelerometerDriver> driver =
        platform::createSource(options, &error);
    if (!driver) {
        std::fprintf(stderr, "wobblestar: %s\n", qPrintable(error));
        return 2;
    }
    platform::Accelerometer::sharedAccelerometer().setDriver(std::move(driver));

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
