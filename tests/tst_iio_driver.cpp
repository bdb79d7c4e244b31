#include "UmockdevBed.h"
#include "sensors/Accelerometer.h"
#include "sensors/IioDriver.h"
#include "sensors/Sources.h"

#include <QDir>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using sensors::Acceleration;
using sensors::Accelerometer;
using sensors::AccelerometerDelegate;
using sensors::AxisMap;
using sensors::IioDriver;

namespace {

// One g in the counts of a chip whose scale is 9.80665 / 1024 m/s² per count.
const QString kScale = QStringLiteral("0.009576806640625");

// IIO devices in umockdev's sysfs, which libudev and the drivers read as the real one.
class FakeSysfs {
public:
    QString folder(int number) const {
        return QStringLiteral("/sys/devices/iio:device%1").arg(number);
    }
    // A chip lying face up unless `files` say otherwise.
    QString addDevice(int number, const QVariantMap& files = {}) {
        QVariantMap all{{"name", "lis3dh"},
                        {"in_accel_x_raw", "0"},
                        {"in_accel_y_raw", "0"},
                        {"in_accel_z_raw", "1024"},
                        {"in_accel_scale", kScale}};
        for (auto it = files.begin(); it != files.end(); ++it)
            all[it.key()] = it.value();
        QStringList attributes;
        for (auto it = all.begin(); it != all.end(); ++it)
            if (!it.value().isNull())
                attributes << it.key() << it.value().toString();
        return bed_.add("iio", QStringLiteral("iio:device%1").arg(number), attributes);
    }
    static void write(const QString& folder, const QString& file, const QString& text) {
        UmockdevBed::write(folder, file, text);
    }
    static QString read(const QString& folder, const QString& file) {
        return UmockdevBed::read(folder, file);
    }
    UmockdevBed& bed() { return bed_; }

private:
    UmockdevBed bed_;
};

class Collector : public AccelerometerDelegate {
public:
    void accelerometer(Accelerometer&, const Acceleration& acceleration) override {
        received.push_back(acceleration);
    }
    std::vector<Acceleration> received;
};

// A driver running behind the accelerometer service, as the application runs it.
struct Running {
    explicit Running(std::unique_ptr<sensors::AccelerometerDriver> owned) : driver(owned.get()) {
        accelerometer.setDriver(std::move(owned));
        accelerometer.setUpdateInterval(0.005);
        accelerometer.setDelegate(&delegate);
    }
    Accelerometer accelerometer;
    Collector delegate;
    sensors::AccelerometerDriver* driver;
};

std::unique_ptr<IioDriver> started(const QString& folder, const AxisMap& axes = AxisMap()) {
    auto driver = std::make_unique<IioDriver>(folder, axes);
    QString error;
    if (!driver->start(&error))
        qWarning("%s", qPrintable(error));
    return driver;
}

bool near(double a, double b) {
    return std::abs(a - b) < 1e-9;
}

QByteArray describe(const Acceleration& a) {
    return QStringLiteral("(%1, %2, %3)").arg(a.x).arg(a.y).arg(a.z).toUtf8();
}

// A chip with a hardware FIFO as udev shows one: s16 axes and the s64 timestamp in each scan.
QByteArray bufferedChip(const QByteArray& available) {
    QByteArray text = "P: /devices/iio:device0\nN: iio:device0\nE: DEVNAME=/dev/iio:device0\n"
                      "E: SUBSYSTEM=iio\nA: name=adxl345\nA: in_accel_scale=0.038307\n"
                      "A: sampling_frequency=25\nA: buffer/enable=0\nA: buffer/length=2\n"
                      "A: buffer/watermark=1\nA: trigger/current_trigger=adxl345-dev0\n";
    if (!available.isEmpty())
        text += "A: sampling_frequency_available=" + available + "\n";
    for (const char* axis : {"x", "y", "z"})
        text += QByteArray("A: scan_elements/in_accel_") + axis +
                "_en=0\nA: scan_elements/in_accel_" + axis +
                "_index=" + QByteArray::number(axis[0] - 'x') + "\nA: scan_elements/in_accel_" +
                axis + "_type=le:s16/16>>0\n";
    text += "A: scan_elements/in_timestamp_en=0\nA: scan_elements/in_timestamp_index=3\n"
            "A: scan_elements/in_timestamp_type=le:s64/64>>0\n";
    return text;
}

// Stands in for the chip: fills the FIFO at `node` with scans at `rate` Hz, numbered on the
// kernel's clock, once the driver opens it. Like the kernel, it drops what does not fit.
class Feeder {
public:
    Feeder(const QByteArray& node, double rate)
        : thread_([this, node, rate] { run(node, rate); }) {}
    ~Feeder() {
        stop_ = true;
        thread_.join();
    }

private:
    void run(const QByteArray& node, double rate) {
        int fd = -1;
        while (!stop_ && fd < 0) {
            fd = ::open(node.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        const auto start = std::chrono::steady_clock::now();
        const auto period = static_cast<qint64>(1e9 / rate);
        qint64 next = 0;
        while (!stop_ && fd >= 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            const double elapsed =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            const auto due = static_cast<qint64>(elapsed * rate);
            // Pieces within PIPE_BUF: each goes whole or not at all.
            while (next < due) {
                QByteArray piece;
                for (; next < due && piece.size() < 4096 - 16; ++next) {
                    char scan[16] = {};
                    qToLittleEndian(qint16(next % 100), scan);
                    qToLittleEndian(qint16(256), scan + 4);
                    qToLittleEndian(qint64(1'000'000'000) + next * period, scan + 8);
                    piece.append(scan, 16);
                }
                if (::write(fd, piece.constData(), size_t(piece.size())) < 0 && errno == EPIPE)
                    stop_ = true;
            }
        }
        if (fd >= 0)
            ::close(fd);
    }
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace

class IioDriverTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void convertsToDeviceG_data();
    void convertsToDeviceG();
    void refusesUnusableDevices_data();
    void refusesUnusableDevices();
    void dropsValuesThatDoNotParse_data();
    void dropsValuesThatDoNotParse();
    void waitsForAVanishedDeviceAndResumes();
    void namesTheFileWhenAccessIsDenied();
    void raisesTheSamplingFrequency_data();
    void raisesTheSamplingFrequency();
    void takesTheAxisMapFromOptionOrSetting_data();
    void takesTheAxisMapFromOptionOrSetting();
    void autoTakesTheFirstSensorElseSimulated();
    void listsSourcesFromTheCommandLine();
    void listsAndExplainsAnUnreadableInputAccelerometer();
    void rejectsUnusableSourcesWithStatusTwo_data();
    void rejectsUnusableSourcesWithStatusTwo();
    void recordsEverySampleAtTheSensorsRate_data();
    void recordsEverySampleAtTheSensorsRate();
};

void IioDriverTest::initTestCase() {
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("WobblestarTest"));
    QCoreApplication::setApplicationName(
        QStringLiteral("tst_iio_driver")); // its own settings file: tests run side by side
    if (!UmockdevBed::available())
        QSKIP("needs umockdev-run");
    // A vanished device is looked for again quickly, so the tests need not wait long.
    sensors::Reconnector::setRetryInterval(std::chrono::milliseconds(20));
}

void IioDriverTest::convertsToDeviceG_data() {
    QTest::addColumn<QVariantMap>("files");
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("y");
    QTest::addColumn<double>("z");
    const QString twice = QStringLiteral("0.01915361328125");
    // A chip reads the force that holds it up: +1 g on its Z lying face up. Upright, X and Y
    // read as the desktop's rotation service reads them (y < 0 is upright).
    QTest::newRow("face up") << QVariantMap{} << 0.0 << 0.0 << -1.0;
    QTest::newRow("upright in portrait")
        << QVariantMap{{"in_accel_y_raw", "-1024"}, {"in_accel_z_raw", "0"}} << 0.0 << -1.0 << 0.0;
    QTest::newRow("per-axis scales") << QVariantMap{{"in_accel_scale", QVariant()},
                                                    {"in_accel_x_scale", twice},
                                                    {"in_accel_y_scale", kScale},
                                                    {"in_accel_z_scale", kScale},
                                                    {"in_accel_x_raw", "256"}}
                                     << 0.5 << 0.0 << -1.0;
    QTest::newRow("per-axis scale before shared")
        << QVariantMap{{"in_accel_x_scale", twice}, {"in_accel_x_raw", "-256"}} << -0.5 << 0.0
        << -1.0;
    QTest::newRow("one plain scale for all channels (ChromeOS EC)")
        << QVariantMap{{"in_accel_scale", QVariant()}, {"scale", kScale}} << 0.0 << 0.0 << -1.0;
    QTest::newRow("shared offset") << QVariantMap{{"in_accel_offset", "-24"},
                                                  {"in_accel_x_raw", "24"},
                                                  {"in_accel_y_raw", "24"},
                                                  {"in_accel_z_raw", "1048"}}
                                   << 0.0 << 0.0 << -1.0;
    QTest::newRow("per-axis offset")
        << QVariantMap{{"in_accel_z_offset", "512"}, {"in_accel_z_raw", "-1024"}} << 0.0 << 0.0
        << 0.5;
    QTest::newRow("mount matrix, chip a quarter turn off")
        << QVariantMap{{"mount_matrix", "0, -1, 0; 1, 0, 0; 0, 0, 1"},
                       {"in_accel_x_raw", "-1024"},
                       {"in_accel_z_raw", "0"}}
        << 0.0 << -1.0 << 0.0;
    QTest::newRow("accel mount matrix, chip upside down")
        << QVariantMap{{"in_accel_mount_matrix", "-1, 0, 0; 0, 1, 0; 0, 0, -1"},
                       {"in_accel_z_raw", "-1024"}}
        << 0.0 << 0.0 << -1.0;
    QTest::newRow("third row follows from the first two")
        << QVariantMap{{"in_mount_matrix", "1,0,0;0,1,0;0,0,0.5"}} << 0.0 << 0.0 << -1.0;
    // Without a scale file the counts have no unit: at rest they read 1 g.
    QTest::newRow("no scale: calibrated at rest")
        << QVariantMap{{"in_accel_scale", QVariant()}, {"in_accel_z_raw", "37"}} << 0.0 << 0.0
        << -1.0;
    QTest::newRow("HID sensor hub reads gravity")
        << QVariantMap{{"name", "accel_3d"}, {"in_accel_z_raw", "-1024"}} << 0.0 << 0.0 << -1.0;
}

void IioDriverTest::convertsToDeviceG() {
    QFETCH(QVariantMap, files);
    QFETCH(double, x);
    QFETCH(double, y);
    QFETCH(double, z);
    FakeSysfs sysfs;
    const QString folder = sysfs.addDevice(0, files);
    Running running(started(folder));
    QTRY_VERIFY(!running.delegate.received.empty());
    const Acceleration& reading = running.delegate.received.back();
    QVERIFY2(near(reading.x, x) && near(reading.y, y) && near(reading.z, z), describe(reading));
}

void IioDriverTest::refusesUnusableDevices_data() {
    QTest::addColumn<QVariantMap>("files");
    QTest::addColumn<QString>("message");
    QTest::newRow("scale of 0") << QVariantMap{{"in_accel_scale", "0"}}
                                << "has a scale of 0 for its X axis, so every reading would be 0 g";
    QTest::newRow("scale not a number")
        << QVariantMap{{"in_accel_scale", "0,0095"}} << "in_accel_scale holds '0,0095'";
    QTest::newRow("offset not a number")
        << QVariantMap{{"in_accel_y_offset", "twelve"}} << "in_accel_y_offset holds 'twelve'";
}

void IioDriverTest::refusesUnusableDevices() {
    QFETCH(QVariantMap, files);
    QFETCH(QString, message);
    FakeSysfs sysfs;
    IioDriver driver(sysfs.addDevice(0, files));
    QString error;
    QVERIFY(!driver.start(&error));
    QVERIFY2(error.contains(message), qPrintable(error));
    QVERIFY2(error.contains(sysfs.folder(0)), "the message names the device");
}

void IioDriverTest::dropsValuesThatDoNotParse_data() {
    QTest::addColumn<QString>("value");
    QTest::newRow("text") << "garbage";
    QTest::newRow("empty") << "";
    QTest::newRow("not a number") << "nan";
    QTest::newRow("infinite") << "inf";
    QTest::newRow("decimal comma") << "1,5";
}

void IioDriverTest::dropsValuesThatDoNotParse() {
    QFETCH(QString, value);
    FakeSysfs sysfs;
    const QString folder = sysfs.addDevice(0, {{"in_accel_y_raw", value}});
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("dropped a reading"));
    Running running(started(folder));
    auto* driver = static_cast<IioDriver*>(running.driver);
    QTRY_VERIFY(driver->droppedReadings() >= 3);
    QVERIFY(running.delegate.received.empty());

    FakeSysfs::write(folder, QStringLiteral("in_accel_y_raw"), QStringLiteral("512"));
    QTRY_VERIFY(!running.delegate.received.empty());
    QVERIFY(near(running.delegate.received.back().y, 0.5));
}

void IioDriverTest::waitsForAVanishedDeviceAndResumes() {
    FakeSysfs sysfs;
    const QString folder = sysfs.addDevice(0);
    Running running(started(folder));
    QSignalSpy messages(&running.accelerometer, &Accelerometer::statusMessage);
    QTRY_VERIFY(!running.delegate.received.empty());

    sysfs.bed().remove(folder);
    QTRY_COMPARE(messages.size(), 1);
    QVERIFY2(messages.at(0).at(0).toString().contains(QLatin1String("is gone")),
             qPrintable(messages.at(0).at(0).toString()));
    const size_t delivered = running.delegate.received.size();
    QTest::qWait(200); // past several looks for it: it is still missing, and says so only once
    QCOMPARE(messages.size(), 1);
    QCOMPARE(running.delegate.received.size(), delivered);

    // It comes back under another number, lying on its side now; udev says nothing this time.
    sysfs.addDevice(3, {{"in_accel_z_raw", "0"}, {"in_accel_x_raw", "1024"}});
    QTRY_COMPARE_WITH_TIMEOUT(messages.size(), 2, 3000);
    QVERIFY(messages.at(1).at(0).toString().contains(QLatin1String("is back")));
    QTRY_VERIFY(running.delegate.received.size() > delivered &&
                near(running.delegate.received.back().x, 1.0));
}

void IioDriverTest::namesTheFileWhenAccessIsDenied() {
    if (::geteuid() == 0)
        QSKIP("root reads files whatever their mode");
    FakeSysfs sysfs;
    const QString folder = sysfs.addDevice(0);
    QFile::setPermissions(folder + QStringLiteral("/in_accel_z_raw"), QFileDevice::WriteOwner);
    IioDriver driver(folder);
    QString error;
    QVERIFY(!driver.start(&error));
    QVERIFY2(error.contains(folder + QStringLiteral("/in_accel_z_raw")), qPrintable(error));
    QVERIFY2(error.contains(QLatin1String("udev rule")), qPrintable(error));
}

void IioDriverTest::raisesTheSamplingFrequency_data() {
    QTest::addColumn<QString>("available");
    QTest::addColumn<QString>("current");
    QTest::addColumn<double>("interval");
    QTest::addColumn<QString>("expected");
    QTest::newRow("smallest at or above") << "12.5 25 50 100 200"
                                          << "25" << 0.0125 << "100";
    QTest::newRow("exactly 120") << "60 120 240"
                                 << "60" << 1.0 / 120 << "120";
    QTest::newRow("fast enough already") << "12.5 25 50 100"
                                         << "100" << 0.0125 << "100";
    QTest::newRow("none fast enough: the fastest") << "10 50"
                                                   << "10" << 1.0 / 120 << "50";
    QTest::newRow("never lowered") << "10 50 400"
                                   << "400" << 0.025 << "400";
    QTest::newRow("no list: left alone") << QString() << "25" << 0.025 << "25";
    QTest::newRow("range: the next step") << "[12.5 0.5 400]"
                                          << "12.5" << 1.0 / 120 << "120";
    QTest::newRow("range: its top") << "[1 1 50]"
                                    << "10" << 1.0 / 120 << "50";
    QTest::newRow("list: written truncated") << "25 100.1234567891"
                                             << "25" << 0.0125 << "100.123456";
}

void IioDriverTest::raisesTheSamplingFrequency() {
    QFETCH(QString, available);
    QFETCH(QString, current);
    QFETCH(double, interval);
    QFETCH(QString, expected);
    FakeSysfs sysfs;
    const QString folder = sysfs.addDevice(
        0, {{"sampling_frequency", current},
            {"sampling_frequency_available", available.isNull() ? QVariant() : available}});
    IioDriver driver(folder);
    QString error;
    QVERIFY2(driver.start(&error), qPrintable(error));
    driver.setUpdateInterval(interval);
    QTRY_COMPARE(FakeSysfs::read(folder, QStringLiteral("sampling_frequency")), expected);
}

void IioDriverTest::takesTheAxisMapFromOptionOrSetting_data() {
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QString>("option");
    QTest::addColumn<double>("z");
    QTest::newRow("driver's default") << QString() << QString() << -1.0;
    QTest::newRow("setting") << "x,y,-z" << QString() << 1.0;
    QTest::newRow("option over setting") << "x,y,-z"
                                         << "x,y,z" << -1.0;
    QTest::newRow("bad setting ignored") << "up,down,z" << QString() << -1.0;
}

void IioDriverTest::takesTheAxisMapFromOptionOrSetting() {
    QFETCH(QString, setting);
    QFETCH(QString, option);
    QFETCH(double, z);
    FakeSysfs sysfs;
    sysfs.addDevice(0);
    QSettings settings;
    settings.clear();
    if (!setting.isEmpty())
        settings.setValue(QStringLiteral("axes/iio"), setting);
    settings.sync();
    if (setting.startsWith(QLatin1String("up")))
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Ignoring the setting axes/iio"));

    sensors::SourceRequest options;
    options.source = QStringLiteral("iio");
    options.axes = option;
    QString error;
    auto driver = sensors::createSource(options, &error);
    QVERIFY2(driver, qPrintable(error));
    Running running(std::move(driver));
    QTRY_VERIFY(!running.delegate.received.empty());
    QVERIFY2(near(running.delegate.received.back().z, z),
             describe(running.delegate.received.back()));
    settings.clear();
}

void IioDriverTest::autoTakesTheFirstSensorElseSimulated() {
    sensors::SourceRequest options; // auto
    QString error;
    {
        FakeSysfs sysfs;
        QTest::ignoreMessage(QtInfoMsg, QRegularExpression("simulated.*no sensor found"));
        auto driver = sensors::createSource(options, &error);
        QVERIFY(driver && driver->description().startsWith(QLatin1String("simulated")));
    }
    {
        FakeSysfs sysfs;
        sysfs.addDevice(1, {{"in_accel_scale", "0"}}); // unusable: skipped with reason
        sysfs.addDevice(2, {{"name", "bmc150"}});
        QTest::ignoreMessage(QtInfoMsg, QRegularExpression("^Reading from iio: bmc150.*: the "
                                                           "first of 2 sensors found"));
        auto driver = sensors::createSource(options, &error);
        QVERIFY(driver);
        QCOMPARE(driver->description(), QStringLiteral("iio: bmc150 (iio:device2)"));
    }
    {
        FakeSysfs sysfs;
        sysfs.addDevice(1, {{"in_accel_scale", "0"}});
        QTest::ignoreMessage(QtInfoMsg, QRegularExpression("simulated.*no usable sensor"));
        auto driver = sensors::createSource(options, &error);
        QVERIFY(driver && driver->description().startsWith(QLatin1String("simulated")));
        QSignalSpy notices(driver.get(), &sensors::AccelerometerDriver::statusMessage);
        QTRY_COMPARE(notices.size(), 1); // for the status bar, too
        QVERIFY2(notices.at(0).at(0).toString().contains(QLatin1String("scale of 0")),
                 qPrintable(notices.at(0).at(0).toString()));
    }
}

void IioDriverTest::listsSourcesFromTheCommandLine() {
    FakeSysfs sysfs;
    sysfs.addDevice(10, {{"name", "accel_3d"}, {"sampling_frequency", "50"}});
    sysfs.addDevice(2, {{"sampling_frequency_available", "12.5 25 50"}});
    // A light sensor beside them is not an accelerometer.
    sysfs.bed().add("iio", QStringLiteral("iio:device3"), {"in_illuminance_raw", "7"});

    QProcess process;
    process.start(QStringLiteral(WOBBLESTAR_BINARY), {QStringLiteral("--list-sources")});
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    const QStringList lines = QString::fromUtf8(process.readAllStandardOutput())
                                  .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const QString identity = QStringLiteral("\tlocation unknown\tmatrix 1, 0, 0; 0, 1, 0; 0, 0, 1 "
                                            "(identity)");
    QCOMPARE(lines,
             (QStringList{
                 QStringLiteral("iio\tlis3dh\t%1\t12.5 25 50 Hz").arg(sysfs.folder(2)) + identity,
                 QStringLiteral("iio\taccel_3d\t%1\t50 Hz").arg(sysfs.folder(10)) + identity,
             }));
}

void IioDriverTest::listsAndExplainsAnUnreadableInputAccelerometer() {
    if (::geteuid() == 0)
        QSKIP("root reads files whatever their mode");
    FakeSysfs sysfs;
    // event4 is a keyboard, event5 an accelerometer to udev; neither may be read.
    for (const char* node : {"event4", "event5"}) {
        const bool accelerometer = QLatin1String(node) == QLatin1String("event5");
        sysfs.bed().add("input", QLatin1String(node), {"name", "Motion Sensors"},
                        {"DEVNAME", QStringLiteral("/dev/input/") + QLatin1String(node),
                         "ID_INPUT_ACCELEROMETER", accelerometer ? "1" : "0"});
        QFile::setPermissions(QStringLiteral("/dev/input/") + QLatin1String(node),
                              QFileDevice::WriteOwner);
    }
    const std::vector<sensors::SourceInfo> found = sensors::detectSources();
    QCOMPARE(found.size(), size_t(1));
    QCOMPARE(found.front().path, QStringLiteral("/dev/input/event5"));
    QCOMPARE(found.front().problem, QStringLiteral("unreadable: permission denied"));

    // auto falls back, and its one log line says why.
    QTest::ignoreMessage(QtInfoMsg,
                         QRegularExpression("simulated.*event5: unreadable: permission denied"));
    QString error;
    QVERIFY(sensors::createSource(sensors::SourceRequest(), &error));
}

void IioDriverTest::rejectsUnusableSourcesWithStatusTwo_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("mentions");
    QTest::addColumn<QString>("choices");
    QTest::newRow("no such name") << QStringList{"--source", "iio:bmc150"} << "found lis3dh"
                                  << "sim[:SEED]";
    QTest::newRow("no input accelerometer") << QStringList{"--source", "input"} << "'input'"
                                            << "sim[:SEED]";
    QTest::newRow("unknown kind") << QStringList{"--source", "gyro"} << "Unknown source 'gyro'"
                                  << "sim[:SEED]";
    QTest::newRow("bad axis map") << QStringList{"--axes", "x,y"} << "axis map 'x,y'"
                                  << "x,y,-z";
}

void IioDriverTest::rejectsUnusableSourcesWithStatusTwo() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, mentions);
    QFETCH(QString, choices);
    FakeSysfs sysfs;
    sysfs.addDevice(0);
    QTemporaryDir input;
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), input.path());
    // Without it Qt says so on standard error, a line the program does not write.
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), input.path());
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(WOBBLESTAR_BINARY), arguments);
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitCode(), 2);
    const QStringList lines = QString::fromUtf8(process.readAllStandardError())
                                  .split(QLatin1Char('\n'), Qt::SkipEmptyParts)
                                  .filter(QStringLiteral("wobblestar:"));
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines.front().contains(mentions), qPrintable(lines.front()));
    QVERIFY2(lines.front().contains(choices), "the line names the choices");
}

void IioDriverTest::recordsEverySampleAtTheSensorsRate_data() {
    QTest::addColumn<QByteArray>("available"); // the chip's rates; "polled": no buffer
    QTest::addColumn<double>("feed");          // Hz the chip's scans come at
    QTest::addColumn<double>("rate");          // Hz of the file's rows
    QTest::addColumn<QString>("said");         // on standard error
    QTest::newRow("buffered at its fastest")
        << QByteArray("25 50 100 200 400 800 1600") << 1600.0 << 1600.0
        << "Recording every sample of iio: adxl345 "
           "(iio:device0) at 1600 Hz";
    QTest::newRow("buffered, rate fixed") << QByteArray() << 100.0 << 40.0
                                          << "iio: adxl345 (iio:device0) cannot record at its "
                                             "own rate: its sampling rate cannot be raised; "
                                             "recording at the live rate, 40 Hz";
    QTest::newRow("polled") << QByteArray("polled") << 0.0 << 40.0
                            << "iio: lis3dh (iio:device0) cannot record at its own rate: it is "
                               "read by polling its files";
}

void IioDriverTest::recordsEverySampleAtTheSensorsRate() {
    QFETCH(QByteArray, available);
    QFETCH(double, feed);
    QFETCH(double, rate);
    QFETCH(QString, said);
    std::signal(SIGPIPE, SIG_IGN);
    FakeSysfs sysfs;
    std::unique_ptr<Feeder> feeder;
    if (available == "polled") {
        sysfs.addDevice(
            0, {{"sampling_frequency", "25"}, {"sampling_frequency_available", "25 50 1600"}});
    } else {
        QVERIFY(sysfs.bed().addDescription(bufferedChip(available)));
        const QByteArray node = QFile::encodeName(sysfs.bed().root()) + "/dev/iio:device0";
        ::unlink(node.constData());
        QVERIFY(::mkfifo(node.constData(), 0600) == 0);
        feeder = std::make_unique<Feeder>(node, feed);
    }
    QTemporaryDir home;
    const QString csv = home.filePath(QStringLiteral("samples.csv"));
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path());
    process.setProcessEnvironment(environment);
    const double seconds = 2.0;
    process.start(QStringLiteral(WOBBLESTAR_BINARY),
                  {"--source", "iio", "--record", "0.10", "--duration", QString::number(seconds),
                   "--csv", csv, "--record-rate", "native"});
    QVERIFY(process.waitForFinished(30000));
    const QString errors = QString::fromUtf8(process.readAllStandardError());
    QCOMPARE(process.exitCode(), 0);
    QVERIFY2(errors.contains(said), qPrintable(errors));
    feeder.reset();

    QFile file(csv);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readLine().trimmed(), QByteArray("time,x,y,z"));
    std::vector<double> times;
    while (!file.atEnd())
        times.push_back(file.readLine().split(',').constFirst().toDouble());
    QVERIFY2(times.size() >= size_t(seconds * rate * 0.7) &&
                 times.size() <= size_t(seconds * rate * 1.3),
             qPrintable(QString::number(times.size())));
    // Rows count from the recording's start, never before it.
    QVERIFY2(times.front() >= 0.0, qPrintable(QString::number(times.front())));
    if (rate > 40.0) {
        // Every scan, in order, none missing: the kernel's clock steps by one period each row.
        for (size_t row = 1; row < times.size(); ++row)
            QVERIFY2(std::abs(times[row] - times[row - 1] - 1.0 / rate) < 2e-6,
                     qPrintable(QStringLiteral("row %1: %2 after %3")
                                    .arg(row)
                                    .arg(times[row])
                                    .arg(times[row - 1])));
        // The chip is back at a live rate, not left running at the capture's.
        const QString after = FakeSysfs::read(QStringLiteral("/sys/devices/iio:device0"),
                                              QStringLiteral("sampling_frequency"));
        QVERIFY2(after == u"25" || after == u"50", qPrintable(after));
    }
}

QTEST_GUILESS_MAIN(IioDriverTest)
#include "tst_iio_driver.moc"
