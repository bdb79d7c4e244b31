// Real machines' accelerometers, described as udev shows them, read lying flat and upright.
#include "UmockdevBed.h"
#include "sensors/Accelerometer.h"
#include "sensors/IioDriver.h"
#include "sensors/InputDriver.h"
#include "sensors/Sources.h"

#include <QDir>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTimer>
#include <QtEndian>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using sensors::Acceleration;
using sensors::Accelerometer;
using sensors::AccelerometerDriver;
using sensors::SourceRequest;

namespace {

using Triple = std::array<double, 3>;

class Collector : public sensors::AccelerometerDelegate {
public:
    void accelerometer(Accelerometer&, const Acceleration& acceleration) override {
        received.push_back(acceleration);
    }
    std::vector<Acceleration> received;
};

struct Running {
    explicit Running(std::unique_ptr<AccelerometerDriver> owned) : driver(owned.get()) {
        accelerometer.setDriver(std::move(owned));
        accelerometer.setUpdateInterval(0.005);
        accelerometer.setDelegate(&delegate);
    }
    Accelerometer accelerometer;
    Collector delegate;
    AccelerometerDriver* driver;
};

QByteArray describe(const Acceleration& a) {
    return QStringLiteral("(%1, %2, %3)").arg(a.x).arg(a.y).arg(a.z).toUtf8();
}

// A plain file stands in for the device node, which umockdev would emulate, holding `scans` as
// the kernel lays them out: three s32 axes, padding, the s64 timestamp.
void putScans(const UmockdevBed& bed, const std::vector<Triple>& scans) {
    QByteArray data;
    for (const Triple& raw : scans) {
        QByteArray scan(24, '\0');
        for (int axis = 0; axis < 3; ++axis)
            qToLittleEndian(static_cast<qint32>(raw[axis]), scan.data() + 4 * axis);
        qToLittleEndian(qint64(1'000'000'000), scan.data() + 16);
        data += scan;
    }
    const QString node = bed.root() + QStringLiteral("/dev/iio:device0");
    QFile file(node + QStringLiteral(".scan"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(data);
    file.close();
    QVERIFY(::rename(QFile::encodeName(file.fileName()).constData(),
                     QFile::encodeName(node).constData()) == 0);
}

} // namespace

class SensorDevicesTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void readsEachDeviceInOurAxes_data();
    void readsEachDeviceInOurAxes();
    void readsTheBufferOnlyForNewScans_data();
    void readsTheBufferOnlyForNewScans();
    void listsLocationAndMatrix_data();
    void listsLocationAndMatrix();
    void passesOverUnusableMatricesAndSaysWhy_data();
    void passesOverUnusableMatricesAndSaysWhy();
    void findsADeviceThatComesBackUnderAnotherNumber();
    void aStalledFileStallsOnlyItsSensor();
    void appliesAHandWrittenAxesSetting_data();
    void appliesAHandWrittenAxesSetting();
};

void SensorDevicesTest::initTestCase() {
    if (!UmockdevBed::available())
        QSKIP("needs umockdev-run");
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("WobblestarTest"));
    QCoreApplication::setApplicationName(
        QStringLiteral("tst_sensor_devices")); // its own settings file: tests run side by side
    QSettings().clear();
}

void SensorDevicesTest::readsEachDeviceInOurAxes_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("chosen"); // in the driver's description
    QTest::addColumn<QString>("why");    // in auto's one line
    QTest::addColumn<QString>("inputName");
    QTest::addColumn<int>("vendor");
    QTest::addColumn<int>("resolution");
    QTest::addColumn<Triple>("raw"); // what the chip or controller reports in this pose
    QTest::addColumn<Triple>("reads");

    const Triple flat{0, 0, -1};
    const Triple upright{0, -1, 0};
    const QString only = QStringLiteral("the only sensor found");
    // A BYT tablet whose hwdb entry swaps X and Y: the chip's Z then points into the screen.
    const QString byt = QStringLiteral("byt-bmc150-hwdb-swap.umockdev");
    QTest::newRow("BYT bmc150, hwdb swap, flat") << byt << "iio: bmc150_accel (iio:device0)" << only
                                                 << "" << 0 << 0 << Triple{0, 0, -1024} << flat;
    QTest::newRow("BYT bmc150, hwdb swap, upright")
        << byt << "iio: bmc150_accel" << only << "" << 0 << 0 << Triple{-1024, 0, 0} << upright;
    // The hwdb's identity matrix corrects the kernel's wrong one.
    const QString chuwi = QStringLiteral("chuwi-hi13-kernel-matrix-corrected.umockdev");
    QTest::newRow("Chuwi Hi13, flat")
        << chuwi << "iio: KIOX000A:00" << only << "" << 0 << 0 << Triple{0, 0, 1024} << flat;
    QTest::newRow("Chuwi Hi13, upright")
        << chuwi << "iio: KIOX000A:00" << only << "" << 0 << 0 << Triple{0, -1024, 0} << upright;
    // A Chromebook's EC: one `scale` for all channels, the lid's sensor chosen over the base's.
    const QString cros = QStringLiteral("chromebook-cros-ec-lid-base.umockdev");
    const QString overBase =
        QStringLiteral("preferred over the base's cros-ec-accel (iio:device0)");
    QTest::newRow("Chromebook lid, flat")
        << cros << "(iio:device1)" << overBase << "" << 0 << 0 << Triple{0, 0, 16384} << flat;
    QTest::newRow("Chromebook lid, upright")
        << cros << "(iio:device1)" << overBase << "" << 0 << 0 << Triple{0, -16384, 0} << upright;
    const QString convertible = QStringLiteral("convertible-display-base.umockdev");
    const QString overLabel =
        QStringLiteral("preferred over the base's bmc150_accel (iio:device0)");
    QTest::newRow("convertible accel-display, flat") << convertible << "(iio:device1)" << overLabel
                                                     << "" << 0 << 0 << Triple{0, 0, 1024} << flat;
    QTest::newRow("convertible accel-display, upright")
        << convertible << "(iio:device1)" << overLabel << "" << 0 << 0 << Triple{0, -1024, 0}
        << upright;
    // A HID sensor hub reports gravity itself, in milli-g counts.
    const QString hid = QStringLiteral("hid-sensor-hub-accel-3d.umockdev");
    QTest::newRow("HID accel_3d, flat")
        << hid << "iio: accel_3d" << only << "" << 0 << 0 << Triple{0, 0, -1000} << flat;
    QTest::newRow("HID accel_3d, upright")
        << hid << "iio: accel_3d" << only << "" << 0 << 0 << Triple{0, -1000, 0} << upright;
    // A hub that offers its channels only as whole scans from /dev/iio:device0.
    const QString buffered = QStringLiteral("hid-accel-3d-buffered.umockdev");
    QTest::newRow("buffered HID accel_3d, flat")
        << buffered << "iio: accel_3d" << only << "" << 0 << 0 << Triple{0, 0, -1000} << flat;
    QTest::newRow("buffered HID accel_3d, upright")
        << buffered << "iio: accel_3d" << only << "" << 0 << 0 << Triple{0, -1000, 0} << upright;
    // iio-sensor-proxy's own test: y -25.6 at scale 10 is "normal", upright.
    QTest::newRow("rotation service's test device, upright")
        << "proxy-test-device.umockdev"
        << "iio: kxcjk1013" << only << "" << 0 << 0 << Triple{0, -25.6, 0}
        << Triple{0, -256 / 9.80665, 0};
    // Input devices: udev marks them; umockdev answers libevdev's questions for the kernel.
    const QString lis3 = QStringLiteral("ST LIS3LV02DL Accelerometer");
    QTest::newRow("HP lis3lv02d in mg, flat")
        << "hp-lis3lv02d.umockdev"
        << "input: ST LIS3LV02DL" << only << lis3 << 0 << 0 << Triple{0, 0, 1000} << flat;
    // Upright it reads y < 0, as the desktop's rotation service expects ("normal").
    QTest::newRow("HP lis3lv02d in mg, upright")
        << "hp-lis3lv02d.umockdev"
        << "input: ST LIS3LV02DL" << only << lis3 << 0 << 0 << Triple{0, -1000, 0} << upright;
    const QString ds4 = QStringLiteral("Sony Interactive Entertainment Wireless Controller Motion "
                                       "Sensors");
    QTest::newRow("DualShock 4, flat")
        << "dualshock4.umockdev"
        << "input: Sony" << only << ds4 << 0x054c << 8192 << Triple{0, 8192, 0} << flat;
    QTest::newRow("DualShock 4, upright")
        << "dualshock4.umockdev"
        << "input: Sony" << only << ds4 << 0x054c << 8192 << Triple{0, 0, -8192} << upright;
    const QString pro = QStringLiteral("Nintendo Switch Pro Controller IMU");
    QTest::newRow("Switch Pro, flat")
        << "switch-pro.umockdev"
        << "input: Nintendo" << only << pro << 0x057e << 4096 << Triple{0, 0, 4096} << flat;
    QTest::newRow("Switch Pro, upright")
        << "switch-pro.umockdev"
        << "input: Nintendo" << only << pro << 0x057e << 4096 << Triple{4096, 0, 0} << upright;
}

void SensorDevicesTest::readsEachDeviceInOurAxes() {
    QFETCH(QString, file);
    QFETCH(QString, chosen);
    QFETCH(QString, why);
    QFETCH(QString, inputName);
    QFETCH(int, vendor);
    QFETCH(int, resolution);
    QFETCH(Triple, raw);
    QFETCH(Triple, reads);
    UmockdevBed bed;
    QVERIFY(bed.addFile(file));
    if (QFile::exists(QStringLiteral("/sys/bus/iio/devices/iio:device0/scan_elements"))) {
        putScans(bed, {raw});
    } else if (inputName.isEmpty()) {
        for (const QString& device : {QStringLiteral("iio:device0"), QStringLiteral("iio:device1")})
            for (int axis = 0; axis < 3; ++axis)
                if (QFile::exists(QStringLiteral("/sys/bus/iio/devices/") + device))
                    UmockdevBed::write(QStringLiteral("/sys/bus/iio/devices/") + device,
                                       QStringLiteral("in_accel_%1_raw").arg(QChar(u"xyz"[axis])),
                                       QString::number(raw[axis]));
    }
    if (!inputName.isEmpty()) {
        const QStringList nodes =
            QDir(bed.root() + QStringLiteral("/dev/input")).entryList(QDir::System | QDir::Files);
        QCOMPARE(nodes.size(), 1);
        QVERIFY(bed.addAccelerometerNode(QStringLiteral("/dev/input/") + nodes.front(), inputName,
                                         vendor, resolution,
                                         {int(raw[0]), int(raw[1]), int(raw[2])}));
    }
    QTest::ignoreMessage(QtInfoMsg, QRegularExpression(QRegularExpression::escape(why) + "$"));
    QString error;
    auto driver = sensors::createSource(SourceRequest{}, &error);
    QVERIFY2(driver, qPrintable(error));
    QVERIFY2(driver->description().contains(chosen), qPrintable(driver->description()));
    Running running(std::move(driver));
    QTRY_VERIFY(!running.delegate.received.empty());
    const Acceleration& r = running.delegate.received.back();
    QVERIFY2(std::abs(r.x - reads[0]) < 1e-3 && std::abs(r.y - reads[1]) < 1e-3 &&
                 std::abs(r.z - reads[2]) < 1e-3,
             describe(r));
}

void SensorDevicesTest::readsTheBufferOnlyForNewScans_data() {
    QTest::addColumn<std::vector<Triple>>("scans"); // what the buffer holds when reading starts
    QTest::addColumn<bool>("bufferRefused");        // its buffer cannot be turned on
    QTest::addColumn<bool>("deviceGoes");           // removed after the first reading
    QTest::addColumn<QString>("message");           // the only status message, if any
    const Triple old{100, 0, -1000}, newest{300, 0, -1000};
    QTest::newRow("newest of three, then lying still")
        << std::vector<Triple>{old, old, newest} << false << false << QString();
    // The kernel drops new scans while the buffer is full: what it holds is stale.
    std::vector<Triple> full(64, old);
    full.push_back(newest);
    QTest::newRow("a full buffer is passed over") << full << false << false << QString();
    // Its raw files, read instead, hold the newest reading.
    QTest::newRow("a buffer that cannot be had")
        << std::vector<Triple>{old} << true << false
        << "Sensor iio: accel_3d (iio:device0): cannot use its buffer: ";
    QTest::newRow("the device goes while it is quiet")
        << std::vector<Triple>{newest} << false << true
        << "Sensor iio: accel_3d (iio:device0) is gone";
}

void SensorDevicesTest::readsTheBufferOnlyForNewScans() {
    QFETCH(std::vector<Triple>, scans);
    QFETCH(bool, bufferRefused);
    QFETCH(bool, deviceGoes);
    QFETCH(QString, message);
    UmockdevBed bed;
    QVERIFY(bed.addFile(QStringLiteral("hid-accel-3d-buffered.umockdev")));
    putScans(bed, scans);
    const QString folder = QStringLiteral(
        "/sys/devices/pci0000:00/0000:00:12.0/{33AECD58-B679-4E54-9BD9-A04D34F0C226}/"
        "001F:8087:0AC2.0003/HID-SENSOR-200073.9.auto/iio:device0");
    if (bufferRefused) {
        // Writing buffer/enable fails (here: it is a folder), as it does when the chip refuses.
        const QString enable = bed.root() + folder + QStringLiteral("/buffer/enable");
        QVERIFY(QFile::remove(enable));
        QVERIFY(QDir().mkdir(enable));
        const Triple raw{300, 0, -1000};
        for (int axis = 0; axis < 3; ++axis)
            UmockdevBed::write(folder, QStringLiteral("in_accel_%1_raw").arg(QChar(u"xyz"[axis])),
                               QString::number(raw[axis]));
    }
    Running running(std::make_unique<sensors::IioDriver>(folder));
    QString error;
    QVERIFY2(running.driver->start(&error), qPrintable(error));
    QSignalSpy messages(&running.accelerometer, &Accelerometer::statusMessage);
    QTRY_VERIFY(!running.delegate.received.empty());
    QVERIFY2(std::abs(running.delegate.received.front().x - 0.3) < 1e-9,
             describe(running.delegate.received.front()));
    if (deviceGoes)
        bed.remove(folder);
    // A quiet buffer is a device lying still: its reading holds and nothing is said.
    QTest::qWait(1300);
    QCOMPARE(messages.size(), message.isEmpty() ? 0 : 1);
    if (!message.isEmpty())
        QVERIFY2(messages.at(0).at(0).toString().startsWith(message),
                 qPrintable(messages.at(0).at(0).toString()));
    else
        QVERIFY(std::abs(running.delegate.received.back().x - 0.3) < 1e-9);
}

void SensorDevicesTest::listsLocationAndMatrix_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("lines"); // each expected line starts with its text
    QTest::newRow("nothing") << QString()
                             << QStringList{"No sensor found. --source sim reads the built-in "
                                            "simulated accelerometer."};
    QTest::newRow("hwdb matrix")
        << "byt-bmc150-hwdb-swap.umockdev"
        << QStringList{"iio\tbmc150_accel\t/sys/devices/platform/80860F41:04/i2c-12/"
                       "i2c-BOSC0200:00/iio:device0\t15.62 31.26 62.5 125 250 500 1000 2000 "
                       "Hz\tlocation unknown\tmatrix 0, 1, 0; 1, 0, 0; 0, 0, 1 (udev hwdb)"};
    QTest::newRow("lid before base, rate range")
        << "chromebook-cros-ec-lid-base.umockdev"
        << QStringList{"iio\tcros-ec-accel\t/sys/devices/pci0000:00/0000:00:1f.0/PNP0C09:00/"
                       "GOOG0004:00/cros-ec-dev.1.auto/cros-ec-accel.1/iio:device1\t12.5 to 400 "
                       "Hz in steps of 0.001\tdisplay\tmatrix 1, 0, 0; 0, 1, 0; 0, 0, 1 "
                       "(identity)",
                       "iio\tcros-ec-accel\t/sys/devices/pci0000:00/0000:00:1f.0/PNP0C09:00/"
                       "GOOG0004:00/cros-ec-dev.1.auto/cros-ec-accel.0/iio:device0\t12.5 to 400 "
                       "Hz in steps of 0.001\tbase\tmatrix 1, 0, 0; 0, 1, 0; 0, 0, 1 (identity)"};
    QTest::newRow("kernel matrix under the hwdb's")
        << "chuwi-hi13-kernel-matrix-corrected.umockdev"
        << QStringList{"iio\tKIOX000A:00\t/sys/devices/pci0000:00/0000:00:15.1/"
                       "i2c_designware.1/i2c-11/i2c-KIOX000A:00/iio:device0\tany (polled)\t"
                       "location unknown\tmatrix 1, 0, 0; 0, 1, 0; 0, 0, 1 (udev hwdb)"};
}

void SensorDevicesTest::listsLocationAndMatrix() {
    QFETCH(QString, file);
    QFETCH(QStringList, lines);
    UmockdevBed bed;
    if (!file.isEmpty())
        QVERIFY(bed.addFile(file));
    QCOMPARE(sensors::describeSources(sensors::detectSources()), lines);
}

void SensorDevicesTest::passesOverUnusableMatricesAndSaysWhy_data() {
    QTest::addColumn<QString>("hwdb");   // udev's ACCEL_MOUNT_MATRIX; empty when absent
    QTest::addColumn<QString>("kernel"); // the chip's mount_matrix; empty when absent
    QTest::addColumn<Triple>("raw");     // upright in portrait
    QTest::addColumn<QString>("listed"); // the end of its --list-sources line
    QTest::addColumn<QString>("warning");
    const QString notNine = QStringLiteral("it is not nine numbers written \"m00, m01, m02; m10, "
                                           "m11, m12; m20, m21, m22\"");
    QTest::newRow("hwdb row of zeros: the kernel's")
        << "0, 0, 0; 0, 1, 0; 0, 0, 1"
        << "0, 1, 0; 1, 0, 0; 0, 0, 1" << Triple{-1024, 0, 0}
        << "matrix 0, 1, 0; 1, 0, 0; 0, 0, 1 (kernel; udev hwdb's rejected: its X row is all "
           "zeros)"
        << "ignoring the udev hwdb mount matrix in udev's ACCEL_MOUNT_MATRIX: its X row is all "
           "zeros; using the kernel matrix";
    QTest::newRow("kernel matrix with two rows: the identity")
        << ""
        << "1, 0, 0; 0, 1, 0" << Triple{0, -1024, 0}
        << "matrix 1, 0, 0; 0, 1, 0; 0, 0, 1 (identity; kernel's rejected: " + notNine + ")"
        << "ignoring the kernel mount matrix in .*/mount_matrix: it is not nine numbers";
}

void SensorDevicesTest::passesOverUnusableMatricesAndSaysWhy() {
    QFETCH(QString, hwdb);
    QFETCH(QString, kernel);
    QFETCH(Triple, raw);
    QFETCH(QString, listed);
    QFETCH(QString, warning);
    UmockdevBed bed;
    QStringList files{"name", "lis3dh", "in_accel_scale", "0.009576806640625"};
    for (int axis = 0; axis < 3; ++axis)
        files << QStringLiteral("in_accel_%1_raw").arg(QChar(u"xyz"[axis]))
              << QString::number(raw[axis]);
    if (!kernel.isEmpty())
        files << "mount_matrix" << kernel;
    bed.add("iio", QStringLiteral("iio:device0"), files,
            hwdb.isEmpty() ? QStringList() : QStringList{"ACCEL_MOUNT_MATRIX", hwdb});
    const QStringList lines = sensors::describeSources(sensors::detectSources());
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines.front().endsWith(QLatin1Char('\t') + listed), qPrintable(lines.front()));

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(warning));
    QString error;
    auto driver = sensors::createSource(SourceRequest{QStringLiteral("iio"), {}, false}, &error);
    QVERIFY2(driver, qPrintable(error));
    Running running(std::move(driver));
    QTRY_VERIFY(!running.delegate.received.empty());
    const Acceleration& r = running.delegate.received.back();
    QVERIFY2(std::abs(r.x) < 1e-9 && std::abs(r.y + 1.0) < 1e-9 && std::abs(r.z) < 1e-9,
             describe(r));
}

void SensorDevicesTest::findsADeviceThatComesBackUnderAnotherNumber() {
    // The look-again timer is out of the way: only udev's announcement can bring it back.
    sensors::Reconnector::setRetryInterval(std::chrono::hours(1));
    UmockdevBed bed;
    const QStringList chip{
        "name", "lis3dh",         "in_accel_x_raw",   "0", "in_accel_y_raw", "0", "in_accel_z_raw",
        "1024", "in_accel_scale", "0.009576806640625"};
    const QString first = bed.add("iio", QStringLiteral("iio:device0"), chip);
    Running running(std::make_unique<sensors::IioDriver>(first));
    QString error;
    QVERIFY2(running.driver->start(&error), qPrintable(error));
    QSignalSpy messages(&running.accelerometer, &Accelerometer::statusMessage);
    QTRY_VERIFY(!running.delegate.received.empty());

    bed.remove(first);
    QTRY_COMPARE(messages.size(), 1);
    QCOMPARE(messages.at(0).at(1).value<AccelerometerDriver::MessageKind>(),
             AccelerometerDriver::MessageKind::Lost);

    QStringList onItsSide = chip;
    onItsSide[5] = QStringLiteral("-1024"); // y
    onItsSide[7] = QStringLiteral("0");     // z
    const QString second = bed.add("iio", QStringLiteral("iio:device3"), onItsSide);
    bed.uevent(second, "add");
    QTRY_COMPARE_WITH_TIMEOUT(messages.size(), 2, 5000);
    QVERIFY(messages.at(1).at(0).toString().contains(QLatin1String("is back")));
    QTRY_VERIFY(std::abs(running.delegate.received.back().y + 1.0) < 1e-9);
    sensors::Reconnector::setRetryInterval(std::chrono::seconds(5));
}

void SensorDevicesTest::aStalledFileStallsOnlyItsSensor() {
    UmockdevBed bed;
    const QString folder = bed.add("iio", QStringLiteral("iio:device0"),
                                   {"name", "lis3dh", "in_accel_x_raw", "0", "in_accel_y_raw", "0",
                                    "in_accel_z_raw", "1024", "in_accel_scale", "0.0095768"});
    Running running(std::make_unique<sensors::IioDriver>(folder));
    QString error;
    QVERIFY2(running.driver->start(&error), qPrintable(error));
    QSignalSpy messages(&running.accelerometer, &Accelerometer::statusMessage);
    QTRY_VERIFY(!running.delegate.received.empty());

    // The chip's bus stalls: a read of its file waits for data that does not come. The test
    // holds the FIFO open from the start, so that only the read waits, never the open.
    const QByteArray real = QFile::encodeName(bed.root() + folder + "/in_accel_y_raw");
    QVERIFY(::mkfifo(real + ".stalled", 0644) == 0);
    const int bus = ::open(real + ".stalled", O_RDWR | O_CLOEXEC);
    QVERIFY(bus >= 0);
    QVERIFY(::rename(real + ".stalled", real) == 0);
    int ticks = 0;
    QTimer timer;
    connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(10);
    QTRY_COMPARE_WITH_TIMEOUT(messages.size(), 1, 5000);
    QVERIFY(messages.at(0).at(0).toString().contains(QLatin1String("not answering")));
    QCOMPARE(messages.at(0).at(1).value<AccelerometerDriver::MessageKind>(),
             AccelerometerDriver::MessageKind::Lost);
    const int before = ticks;
    QTRY_VERIFY(ticks > before + 5); // the event loop turns on

    // The bus answers again, and from then on as a plain file.
    {
        QFile plain(QFile::decodeName(real + ".plain"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.write("0\n");
    }
    QVERIFY(::rename(real + ".plain", real) == 0);
    QVERIFY(::write(bus, "0\n", 2) == 2);
    QTRY_COMPARE_WITH_TIMEOUT(messages.size(), 2, 5000);
    QCOMPARE(messages.at(1).at(1).value<AccelerometerDriver::MessageKind>(),
             AccelerometerDriver::MessageKind::Back);
    ::close(bus);
}

void SensorDevicesTest::appliesAHandWrittenAxesSetting_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("warning");
    QTest::addColumn<double>("x");
    QTest::newRow("unquoted, read as a list") << "iio=-z,x,y" << QString() << 1.0;
    QTest::newRow("quoted") << "iio=\"-z,x,y\"" << QString() << 1.0;
    QTest::newRow("does not parse") << "iio=up,x,y"
                                    << "Ignoring the setting axes/iio" << 0.0;
}

void SensorDevicesTest::appliesAHandWrittenAxesSetting() {
    QFETCH(QString, line);
    QFETCH(QString, warning);
    QFETCH(double, x);
    const QString fileName = QSettings().fileName();
    {
        QFile file(fileName);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("[axes]\n" + line.toUtf8() + "\n");
    }
    UmockdevBed bed;
    bed.add("iio", QStringLiteral("iio:device0"),
            {"name", "lis3dh", "in_accel_x_raw", "0", "in_accel_y_raw", "0", "in_accel_z_raw",
             "1024", "in_accel_scale", "0.009576806640625"});
    if (!warning.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(warning));
    QString error;
    auto driver =
        sensors::createSource(SourceRequest{QStringLiteral("iio"), QString(), false}, &error);
    QVERIFY2(driver, qPrintable(error));
    Running running(std::move(driver));
    QTRY_VERIFY(!running.delegate.received.empty());
    QVERIFY2(std::abs(running.delegate.received.back().x - x) < 1e-9,
             describe(running.delegate.received.back()));
    QFile::remove(fileName);
}

QTEST_GUILESS_MAIN(SensorDevicesTest)
#include "tst_sensor_devices.moc"
