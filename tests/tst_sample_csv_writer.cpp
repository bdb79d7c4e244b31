#include "sensors/SampleCsvWriter.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <charconv>
#include <csignal>
#include <cstring>
#include <limits>
#include <sys/resource.h>

using sensors::Acceleration;
using sensors::SampleCsvWriter;

namespace {

QList<QByteArray> linesOf(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> lines = file.readAll().split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

float parseFloat(const QByteArray& text) {
    float value = std::numeric_limits<float>::quiet_NaN();
    std::from_chars(text.constData(), text.constData() + text.size(), value);
    return value;
}

} // namespace

class SampleCsvWriterTest : public QObject {
    Q_OBJECT
private slots:
    void readsBackEveryFloat();
    void timesCountFromTheOrigin();
    void defaultPathAndNoOverwrite();
    void reachesTheDiskWithoutClosing();
    void reportsAFullDisk();
    void reportsAFileGrowingPastItsLimit();
    void reportsAnUncreatableFolder();

private:
    QTemporaryDir dir_;
};

void SampleCsvWriterTest::readsBackEveryFloat() {
    const float values[] = {0.0f,
                            -0.0f,
                            0.1f,
                            -0.98f,
                            1.0f / 3.0f,
                            9.80665f,
                            1e-40f /* subnormal */,
                            std::numeric_limits<float>::max(),
                            std::numeric_limits<float>::lowest(),
                            16.0f};
    const QString path = dir_.filePath("floats.csv");
    {
        SampleCsvWriter writer(path);
        QVERIFY2(writer.open(), qPrintable(writer.errorString()));
        for (int i = 0; i < int(std::size(values)); ++i)
            writer.append(i * 0.0125, values[i], -values[i], values[(i + 1) % std::size(values)]);
        QVERIFY(writer.close());
    }
    const QList<QByteArray> lines = linesOf(path);
    QCOMPARE(lines.size(), int(std::size(values)) + 1);
    QCOMPARE(lines[0], QByteArray("time,x,y,z"));
    for (int i = 0; i < int(std::size(values)); ++i) {
        const QList<QByteArray> fields = lines[i + 1].split(',');
        QCOMPARE(fields.size(), 4);
        QCOMPARE(fields[0].toDouble(), i * 0.0125);
        const float expected[] = {values[i], -values[i], values[(i + 1) % std::size(values)]};
        for (int a = 0; a < 3; ++a) {
            const float read = parseFloat(fields[a + 1]);
            QVERIFY2(std::memcmp(&read, &expected[a], sizeof read) == 0, lines[i + 1].constData());
        }
    }
}

void SampleCsvWriterTest::timesCountFromTheOrigin() {
    const QString path = dir_.filePath("origin.csv");
    SampleCsvWriter writer(path);
    QVERIFY(writer.open());
    writer.setTimeOrigin(100.0);
    writer.append(Acceleration{0.5, -0.25, -1.0, 100.0125});
    writer.append(Acceleration{0.0, 0.0, -1.0, 101.5});
    QVERIFY(writer.close());
    QCOMPARE(linesOf(path),
             QList<QByteArray>({"time,x,y,z", "0.012500,0.5,-0.25,-1", "1.500000,0,0,-1"}));
}

// Two recordings started in the same second keep both files.
void SampleCsvWriterTest::defaultPathAndNoOverwrite() {
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
    const QDateTime started(QDate(2026, 12, 8), QTime(14, 3, 22));
    const QString path = SampleCsvWriter::defaultPath(started);
    QCOMPARE(path, data.path() + "/Wobblestar/recordings/2026-12-08_14-03-22.csv");

    SampleCsvWriter first(path);
    QVERIFY(first.open());
    first.append(0.0, 1, 2, 3);
    QVERIFY(first.close());
    SampleCsvWriter second(path);
    QVERIFY(second.open());
    QCOMPARE(second.path(), data.path() + "/Wobblestar/recordings/2026-12-08_14-03-22_2.csv");
    QVERIFY(second.close());
    QCOMPARE(linesOf(path).size(), 2);
    qunsetenv("XDG_DATA_HOME");
}

void SampleCsvWriterTest::reachesTheDiskWithoutClosing() {
    const QString path = dir_.filePath("live.csv");
    SampleCsvWriter writer(path);
    writer.setFlushInterval(20);
    QVERIFY(writer.open());
    writer.append(0.0, 0.25f, 0.5f, -1.0f);
    QTRY_COMPARE(linesOf(path).size(), 2);
    QVERIFY(writer.isOpen());
}

void SampleCsvWriterTest::reportsAFullDisk() {
    SampleCsvWriter writer(QStringLiteral("/dev/full"), SampleCsvWriter::Existing::Replace);
    QSignalSpy failed(&writer, &SampleCsvWriter::failed);
    QVERIFY(!writer.open());
    QVERIFY(writer.hasFailed());
    QCOMPARE(failed.size(), 1);
    QVERIFY2(writer.errorString().contains("/dev/full"), qPrintable(writer.errorString()));
    QVERIFY2(writer.errorString().contains("space", Qt::CaseInsensitive),
             qPrintable(writer.errorString()));
    writer.append(0.0, 1, 2, 3); // ignored, no crash
    QVERIFY(!writer.close());
}

// A write error in the middle of a recording (as when the disk fills up): reported once, what
// reached the file stays, later readings are dropped quietly.
void SampleCsvWriterTest::reportsAFileGrowingPastItsLimit() {
    const QString path = dir_.filePath("limited.csv");
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN); // write() fails with EFBIG instead
    rlimit small = saved;
    small.rlim_cur = 4096;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);

    SampleCsvWriter writer(path);
    QSignalSpy failed(&writer, &SampleCsvWriter::failed);
    writer.setFlushInterval(0);
    QVERIFY(writer.open());
    for (int i = 0; i < 1000; ++i)
        writer.append(i * 0.01, 0.123456f, -0.987654f, 1.5f);
    const bool closed = writer.close();

    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    QVERIFY(!closed);
    QCOMPARE(failed.size(), 1);
    QVERIFY(!writer.errorString().isEmpty());
    const QList<QByteArray> lines = linesOf(path);
    QVERIFY(lines.size() > 10);
    QCOMPARE(lines[0], QByteArray("time,x,y,z"));
    QCOMPARE(lines[1], QByteArray("0.000000,0.123456,-0.987654,1.5"));
}

void SampleCsvWriterTest::reportsAnUncreatableFolder() {
    QFile blocker(dir_.filePath("not-a-folder"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    SampleCsvWriter writer(dir_.filePath("not-a-folder/recordings/a.csv"));
    QVERIFY(!writer.open());
    QVERIFY(writer.errorString().contains("not-a-folder"));
}

QTEST_MAIN(SampleCsvWriterTest)
#include "tst_sample_csv_writer.moc"
