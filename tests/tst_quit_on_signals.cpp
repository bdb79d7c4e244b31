#include "desktop/QuitOnSignals.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <csignal>

using desktop::QuitOnSignals;

namespace {

void customHandler(int) {}

sighandler_t currentHandler(int number) {
    struct sigaction now {};
    sigaction(number, nullptr, &now);
    return now.sa_handler;
}

} // namespace

class QuitOnSignalsTest : public QObject {
    Q_OBJECT
private slots:
    void quitsTheEventLoopNormally_data();
    void quitsTheEventLoopNormally();
    void restoresThePreviousHandlers();
    void leavesAnIgnoredSignalIgnored();
    void onlyOneInstanceListens();
};

void QuitOnSignalsTest::quitsTheEventLoopNormally_data() {
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
}

// The signal arrives while the event loop runs; exec() returns normally after aboutToQuit, where
// the application stops and stores a running recording.
void QuitOnSignalsTest::quitsTheEventLoopNormally() {
    QFETCH(int, signalNumber);
    QuitOnSignals quitOnSignals;
    QVERIFY(quitOnSignals.isActive());
    QSignalSpy received(&quitOnSignals, &QuitOnSignals::received);
    int aboutToQuitCount = 0;
    auto connection = connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this,
                              [&] { ++aboutToQuitCount; });
    QTimer::singleShot(0, [signalNumber] { std::raise(signalNumber); });
    // A fallback so that a broken handler fails the test instead of hanging it.
    QTimer fallback;
    fallback.setSingleShot(true);
    connect(&fallback, &QTimer::timeout, QCoreApplication::instance(),
            [] { QCoreApplication::exit(99); });
    fallback.start(30000);

    const int status = QCoreApplication::exec();
    disconnect(connection);
    QCOMPARE(status, 0);
    QCOMPARE(aboutToQuitCount, 1);
    QCOMPARE(received.size(), 1);
    QCOMPARE(received.first().first().toInt(), signalNumber);
}

void QuitOnSignalsTest::restoresThePreviousHandlers() {
    auto saved = std::signal(SIGTERM, customHandler);
    {
        QuitOnSignals quitOnSignals;
        QVERIFY(currentHandler(SIGTERM) != customHandler);
    }
    QVERIFY(currentHandler(SIGTERM) == &customHandler);
    std::signal(SIGTERM, saved);
}

void QuitOnSignalsTest::leavesAnIgnoredSignalIgnored() {
    auto saved = std::signal(SIGINT, SIG_IGN);
    {
        QuitOnSignals quitOnSignals;
        QVERIFY(quitOnSignals.isActive());
        QVERIFY(currentHandler(SIGINT) == SIG_IGN);
        QVERIFY(currentHandler(SIGTERM) != SIG_DFL);
    }
    std::signal(SIGINT, saved);
}

void QuitOnSignalsTest::onlyOneInstanceListens() {
    QuitOnSignals first;
    QuitOnSignals second;
    QVERIFY(first.isActive());
    QVERIFY(!second.isActive());
}

QTEST_GUILESS_MAIN(QuitOnSignalsTest)
#include "tst_quit_on_signals.moc"
