#include "features/RecordingLog.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>
#include <QTextCursor>
#include <QTimeZone>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <limits>

class RecordingLogTest : public QObject {
    Q_OBJECT
private slots:
    void periods_data();
    void periods();
    void sampleLine_data();
    void sampleLine();
    void sampleLineMatchesPrintf();
    void timeStamp_data();
    void timeStamp();
    void finishedLogReadsLineByLine();
    void appendEqualsRebuild_data();
    void appendEqualsRebuild();
    void appendKeepsTheUsersCursor();
    void appendFollowsTheEndWhenAtTheEnd_data();
    void appendFollowsTheEndWhenAtTheEnd();
};

void RecordingLogTest::periods_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("hasPeriod");
    QTest::addColumn<QString>("label");
    QTest::addColumn<double>("seconds");
    QTest::newRow("0") << 0 << true << "0.10s" << 0.1;
    QTest::newRow("1") << 1 << true << "0.25s" << 0.25;
    QTest::newRow("2") << 2 << true << "0.50s" << 0.5;
    QTest::newRow("3") << 3 << true << "0.75s" << 0.75;
    QTest::newRow("none selected") << -1 << false << "none" << 0.0;
    QTest::newRow("past the end") << 4 << false << "none" << 0.0;
}

void RecordingLogTest::periods() {
    QFETCH(int, index);
    QFETCH(bool, hasPeriod);
    QFETCH(QString, label);
    QFETCH(double, seconds);
    const auto period = features::RecordingLog::periodForIndex(index);
    QCOMPARE(period.has_value(), hasPeriod);
    QCOMPARE(features::RecordingLog::labelForIndex(index), label);
    if (period) {
        QCOMPARE(period->label, label);
        QCOMPARE(period->seconds, seconds);
    }
}

void RecordingLogTest::sampleLine_data() {
    QTest::addColumn<float>("x");
    QTest::addColumn<float>("y");
    QTest::addColumn<float>("z");
    QTest::addColumn<QString>("line");
    const QString blanks(14, QLatin1Char(' '));
    auto line = [&](const char* a, const char* b, const char* c) {
        return QStringLiteral("\n[X]: %1%4[Y]: %2%4[Z]: %3").arg(a, b, c, blanks);
    };
    QTest::newRow("no sample yet") << 0.0f << 0.0f << 0.0f << line("+0.00", "+0.00", "+0.00");
    QTest::newRow("lying flat") << 0.01f << -0.02f << -1.0f << line("+0.01", "-0.02", "-1.00");
    QTest::newRow("rounds to zero from below")
        << -0.004f << -0.0f << 0.004f << line("-0.00", "-0.00", "+0.00");
    QTest::newRow("two digits before the point")
        << 12.345f << -10.0f << 1.999f << line("+12.35", "-10.00", "+2.00");
}

void RecordingLogTest::sampleLine() {
    QFETCH(float, x);
    QFETCH(float, y);
    QFETCH(float, z);
    QFETCH(QString, line);
    QCOMPARE(features::RecordingLog::sampleLine(x, y, z), line);
    if (std::abs(x) < 9.995f && std::abs(y) < 9.995f && std::abs(z) < 9.995f)
        QCOMPARE(features::RecordingLog::sampleLine(x, y, z).size(), 59);
}

// The line must be what C's "%+.2f" writes in the C locale, ties and special values included,
// whatever locale the application runs in.
void RecordingLogTest::sampleLineMatchesPrintf() {
    std::setlocale(LC_NUMERIC, "C");
    const float values[] = {0.125f,
                            -0.125f,
                            0.375f,
                            2.675f,
                            0.005f,
                            -0.005f,
                            1e-30f,
                            -1e-30f,
                            3.4e38f,
                            -7.777f,
                            std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity(),
                            std::numeric_limits<float>::quiet_NaN()};
    for (float v : values) {
        char expected[512];
        std::snprintf(expected, sizeof expected,
                      "\n[X]: %+.2f              [Y]: %+.2f              [Z]: %+.2f", double(v),
                      double(-v), 0.0);
        QCOMPARE(features::RecordingLog::sampleLine(v, -v, 0.0f), QString::fromLatin1(expected));
    }
}

void RecordingLogTest::timeStamp_data() {
    QTest::addColumn<QDateTime>("moment");
    QTest::addColumn<QString>("text");
    const QDate day(2026, 12, 8);
    const QTime time(14, 3, 22);
    QTest::newRow("UTC") << QDateTime(day, time, QTimeZone::utc()) << "2026-12-08 14:03:22 +0000";
    QTest::newRow("east, half hour")
        << QDateTime(day, time, QTimeZone(5 * 3600 + 1800)) << "2026-12-08 14:03:22 +0530";
    QTest::newRow("west") << QDateTime(day, time, QTimeZone(-(3 * 3600 + 1800)))
                          << "2026-12-08 14:03:22 -0330";
    QTest::newRow("summer time") << QDateTime(QDate(2026, 7, 1), time, QTimeZone("Europe/Berlin"))
                                 << "2026-07-01 14:03:22 +0200";
}

void RecordingLogTest::timeStamp() {
    QFETCH(QDateTime, moment);
    QFETCH(QString, text);
    QCOMPARE(features::RecordingLog::timeStamp(moment), text);
}

void RecordingLogTest::finishedLogReadsLineByLine() {
    const QDateTime started(QDate(2026, 12, 8), QTime(14, 3, 22), QTimeZone::utc());
    const QDateTime ended = started.addSecs(1);
    const QString log =
        features::RecordingLog::header(features::RecordingLog::labelForIndex(1), started) +
        features::RecordingLog::sampleLine(0, 0, -1) + features::RecordingLog::footer(ended);
    QCOMPARE(log, QStringLiteral("Recording Frequency: 0.25s \n\nRecording Started:\n"
                                 "2026-12-08 14:03:22 +0000\n"
                                 "\n[X]: +0.00              [Y]: +0.00              [Z]: -1.00"
                                 "\n\nRecording Ended:\n2026-12-08 14:03:23 +0000"));
    // Stop before the first tick: the header runs straight into two empty lines.
    QCOMPARE(features::RecordingLog::header("0.10s", started) +
                 features::RecordingLog::footer(ended),
             QStringLiteral("Recording Frequency: 0.10s \n\nRecording Started:\n"
                            "2026-12-08 14:03:22 +0000\n\n\nRecording Ended:\n"
                            "2026-12-08 14:03:23 +0000"));
}

void RecordingLogTest::appendEqualsRebuild_data() {
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("typed"); // typed by the user at `position` before the ticks
    QTest::addColumn<int>("position");
    const QString header = features::RecordingLog::header(
        "0.10s", QDateTime(QDate(2026, 12, 8), QTime(14, 3, 22), QTimeZone::utc()));
    QTest::newRow("empty view") << QString() << QString() << 0;
    QTest::newRow("header only") << header << QString() << 0;
    QTest::newRow("typed into the header") << header << "note: bus ride" << 5;
    QTest::newRow("typed at the end") << header << "ü € 😀 & =" << int(header.size());
    QTest::newRow("empty lines and blanks at the end") << header + "\n\n   " << QString() << 0;
    QTest::newRow("tabs and non-breaking space") << QString("a\tb\u00a0c") << QString() << 0;
}

void RecordingLogTest::appendEqualsRebuild() {
    QFETCH(QString, before);
    QFETCH(QString, typed);
    QFETCH(int, position);

    QPlainTextEdit appended;
    QPlainTextEdit rebuilt;
    for (QPlainTextEdit* view : {&appended, &rebuilt}) {
        view->setPlainText(before);
        QTextCursor cursor = view->textCursor();
        cursor.setPosition(position);
        view->setTextCursor(cursor);
        view->insertPlainText(typed); // as typing or pasting does
        QTest::keyClick(view, Qt::Key_Backspace);
    }
    QCOMPARE(appended.toPlainText(), rebuilt.toPlainText());

    const float values[][3] = {{0, 0, 0}, {0.5f, -0.25f, -1}, {-0.004f, 3, 9.99f}};
    for (const auto& v : values) {
        const QString line = features::RecordingLog::sampleLine(v[0], v[1], v[2]);
        features::RecordingLog::appendToView(&appended, line);
        rebuilt.setPlainText(rebuilt.toPlainText() + line);
        QCOMPARE(appended.toPlainText(), rebuilt.toPlainText());
    }
    const QString footer = features::RecordingLog::footer(QDateTime::currentDateTime());
    features::RecordingLog::appendToView(&appended, footer);
    rebuilt.setPlainText(rebuilt.toPlainText() + footer);
    QCOMPARE(appended.toPlainText(), rebuilt.toPlainText());
    QVERIFY(appended.toPlainText().endsWith(footer));
}

void RecordingLogTest::appendKeepsTheUsersCursor() {
    QPlainTextEdit view;
    view.setPlainText(QStringLiteral("Recording Frequency: 0.10s \n"));
    QTextCursor cursor = view.textCursor();
    cursor.setPosition(3);
    cursor.setPosition(7, QTextCursor::KeepAnchor);
    view.setTextCursor(cursor);

    features::RecordingLog::appendToView(&view, features::RecordingLog::sampleLine(1, 2, 3));
    QCOMPARE(view.textCursor().anchor(), 3);
    QCOMPARE(view.textCursor().position(), 7);
    // Like replacing the whole text, a tick leaves no undo step behind: a long recording must
    // not pile up one per line.
    QCOMPARE(view.document()->availableUndoSteps(), 0);
    // Typing goes on where the user was, not at the end.
    QTest::keyClicks(&view, QStringLiteral("X"));
    QVERIFY(view.toPlainText().startsWith(QStringLiteral("RecXng Frequency")));
}

void RecordingLogTest::appendFollowsTheEndWhenAtTheEnd_data() {
    QTest::addColumn<bool>("atEnd");
    QTest::newRow("scrolled to the end follows the new line") << true;
    QTest::newRow("scrolled back stays put") << false;
}

void RecordingLogTest::appendFollowsTheEndWhenAtTheEnd() {
    QFETCH(bool, atEnd);
    QPlainTextEdit view;
    view.resize(300, 120);
    QString log = features::RecordingLog::header("0.10s", QDateTime::currentDateTime());
    for (int i = 0; i < 50; ++i)
        log += features::RecordingLog::sampleLine(i, 0, 0);
    view.setPlainText(log);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QScrollBar* bar = view.verticalScrollBar();
    QVERIFY(bar->maximum() > 10);
    bar->setValue(atEnd ? bar->maximum() : 3);

    features::RecordingLog::appendToView(&view, features::RecordingLog::sampleLine(1, 1, 1));
    if (atEnd)
        QCOMPARE(bar->value(), bar->maximum());
    else
        QCOMPARE(bar->value(), 3);
}

QTEST_MAIN(RecordingLogTest)
#include "tst_recording_log.moc"
