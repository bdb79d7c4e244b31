// The recordings window with files large enough that reading one takes a noticeable while: the
// window keeps answering, summarises newest first, follows the user's last choice, holds a file
// beyond its memory at a coarser level (saying so, every peak kept), and ends at a signal
// without finishing the file it was reading.
#include "desktop/QuitOnSignals.h"
#include "features/analysis/AnalysisWindow.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <cmath>
#include <cstdio>
#include <memory>
#include <signal.h>

using namespace features::analysis;

namespace {

enum class Action { Show, SwitchMidway, QuitMidway, NewestUnreadable };

constexpr float kPeakG = 6.0f;

// A ride at 120 rows per second: a slow swell on X with one jolt of kPeakG on Z at 3/7 of the
// way, named by its start time as full-rate recordings are.
QString writeRecording(const QDir& dir, int index, int rows) {
    const QString path = dir.filePath(QStringLiteral("2026-01-0%1_10-00-00.csv").arg(index + 1));
    std::FILE* file = std::fopen(QFile::encodeName(path).constData(), "w");
    std::fputs("time,x,y,z\n", file);
    for (int i = 0; i < rows; ++i) {
        const bool jolt = i == rows * 3 / 7;
        std::fprintf(file, "%.4f,%.3f,%.3f,%.3f\n", i / 120.0, jolt ? 0.0 : 0.2 * ((i / 240) % 5),
                     jolt ? 0.0 : 0.01, jolt ? kPeakG : -1.0);
    }
    std::fclose(file);
    return path;
}

QString pathOf(const QTreeWidgetItem* item) {
    return item->data(0, Qt::UserRole).toString();
}

} // namespace

class TestHeavyRecordings : public QObject {
    Q_OBJECT
private slots:
    void windowAnswersWhileReading_data();
    void windowAnswersWhileReading();
};

void TestHeavyRecordings::windowAnswersWhileReading_data() {
    QTest::addColumn<int>("files");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QByteArray>("memory"); // bytes allowed for one recording; "" for the default
    QTest::addColumn<Action>("action");
    QTest::addColumn<bool>("coarse");

    QTest::newRow("held whole") << 1 << 200000 << QByteArray() << Action::Show << false;
    QTest::newRow("beyond the memory allowed: coarser")
        << 1 << 200000 << QByteArray("1000000") << Action::Show << true;
    QTest::newRow("just within the memory allowed")
        << 1 << 20000 << QByteArray("600000") << Action::Show << false;
    QTest::newRow("several files, newest first")
        << 3 << 80000 << QByteArray() << Action::Show << false;
    QTest::newRow("another chosen while reading")
        << 2 << 200000 << QByteArray() << Action::SwitchMidway << false;
    // A recording stopped before its first row: its row says so, the next is shown, no box.
    QTest::newRow("the newest unreadable")
        << 2 << 20000 << QByteArray() << Action::NewestUnreadable << false;
    QTest::newRow("a signal while reading")
        << 1 << 400000 << QByteArray() << Action::QuitMidway << false;
}

void TestHeavyRecordings::windowAnswersWhileReading() {
    QFETCH(int, files);
    QFETCH(int, rows);
    QFETCH(QByteArray, memory);
    QFETCH(Action, action);
    QFETCH(bool, coarse);

    QTemporaryDir dir;
    QStringList paths;
    for (int i = 0; i < files; ++i)
        paths << writeRecording(QDir(dir.path()), i, rows);
    const QString unreadable =
        action == Action::NewestUnreadable ? writeRecording(QDir(dir.path()), 8, 0) : QString();
    if (memory.isEmpty())
        qunsetenv("WOBBLESTAR_RECORDING_MEMORY");
    else
        qputenv("WOBBLESTAR_RECORDING_MEMORY", memory);
    const desktop::QuitOnSignals quitOnSignals;

    // A timer the event loop must keep turning while files are read.
    int ticks = 0;
    QTimer ticker;
    ticker.setInterval(5);
    connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
    ticker.start();

    auto window = std::make_unique<AnalysisWindow>(dir.path());
    QSignalSpy summarized(&window->loader(), &RecordingLoader::summarized);
    QSignalSpy loaded(&window->loader(), &RecordingLoader::loaded);
    // The newest is chosen at once and read on a worker.
    const QString newest = paths.constLast();
    QCOMPARE(window->loader().loading(), unreadable.isEmpty() ? newest : unreadable);
    QVERIFY(window->recording().isEmpty());
    QVERIFY(window->findChild<QLabel*>(QStringLiteral("analysisInfo"))
                ->text()
                .startsWith(QLatin1String("Reading ")));

    QString shown = newest;
    if (action == Action::SwitchMidway) {
        shown = paths.constFirst();
        QVERIFY(window->open(shown));
    }
    if (action == Action::QuitMidway) {
        QTimer::singleShot(0, [] { ::raise(SIGTERM); });
        QApplication::exec();
        QCOMPARE(desktop::QuitOnSignals::pendingSignal(), SIGTERM);
        // The quit did not wait for the file, and the window's end abandons it.
        QCOMPARE(window->loader().loading(), newest);
        window.reset();
        QCOMPARE(loaded.count(), 0);
        return;
    }

    const int loads = unreadable.isEmpty() ? 1 : 2;
    QTRY_COMPARE_WITH_TIMEOUT(loaded.count(), loads, 60000);
    QVERIFY2(ticks > 0, "the event loop stood still while a file was read");
    QCOMPARE(loaded.last().at(0).toString(), shown);
    const RecordingSeries& recording = window->recording();
    QCOMPARE(recording.path(), shown);
    QCOMPARE(recording.fileRows(), std::size_t(rows));
    QCOMPARE(recording.isCoarse(), coarse);
    QVERIFY(std::abs(recording.meanRate() - 120.0) < 0.01);
    if (!memory.isEmpty())
        QVERIFY(recording.memoryBytes() <= memory.toULongLong());
    // Whatever the level, the jolt is there.
    QCOMPARE(recording.extremes(0, recording.size()).series[2].max, kPeakG);
    // The numbers are worked out on a worker at the lowest priority: on a busy machine, a while.
    QTRY_VERIFY_WITH_TIMEOUT(window->statistics().samples > 0, 60000);
    QCOMPARE(window->statistics().series[2].max, double(kPeakG));
    const QString info = window->findChild<QLabel*>(QStringLiteral("analysisInfo"))->text();
    QVERIFY2(info.contains(QLatin1String("coarser level")) == coarse, qPrintable(info));

    // Every file is summarised, in the list's order: newest first.
    const int first = unreadable.isEmpty() ? 1 : 2;
    QTRY_COMPARE_WITH_TIMEOUT(summarized.count(), files + first - 1, 30000);
    auto* list = window->findChild<QTreeWidget*>(QStringLiteral("recordingList"));
    // The live entry stands first, above the files.
    for (int i = 0; i < files; ++i) {
        QCOMPARE(summarized.at(i + first - 1).at(0).toString(),
                 pathOf(list->topLevelItem(i + first)));
        QCOMPARE(list->topLevelItem(i + first)->text(3),
                 QStringLiteral("%1 g").arg(kPeakG, 0, 'f', 2));
    }
    if (!unreadable.isEmpty()) {
        const QTreeWidgetItem* item = list->topLevelItem(1);
        QCOMPARE(pathOf(item), unreadable);
        QCOMPARE(item->text(1), QStringLiteral("unreadable"));
        QVERIFY2(item->toolTip(1).contains(QLatin1String("expected a row")),
                 qPrintable(item->toolTip(1)));
        // The window's own files raise no message.
        QCOMPARE(window->message(), QString());
    }
}

QTEST_MAIN(TestHeavyRecordings)
#include "tst_heavy_recordings.moc"
