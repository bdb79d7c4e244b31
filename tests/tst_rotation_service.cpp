// Wobblestar beside the desktop's rotation service, iio-sensor-proxy, on a private system bus:
// both read the same device descriptions in the four upright poses, and Wobblestar's X and Y
// must name the pose the service names.
#include "UmockdevBed.h"
#include "sensors/Accelerometer.h"
#include "sensors/Sources.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cmath>

using sensors::Acceleration;
using sensors::Accelerometer;

namespace {

using Triple = std::array<int, 3>;

const QString kService = QStringLiteral("net.hadess.SensorProxy");
const QString kPath = QStringLiteral("/net/hadess/SensorProxy");

QString proxyProgram() {
    for (const char* path : {"/usr/libexec/iio-sensor-proxy", "/usr/sbin/iio-sensor-proxy"})
        if (QFileInfo(QLatin1String(path)).isExecutable())
            return QLatin1String(path);
    return QString();
}

// A description as udev would have it after the service's own rule, which names the driver
// for each sensor (IIO_SENSOR_PROXY_TYPE).
QByteArray withServiceTypes(const QByteArray& description) {
    QList<QByteArray> blocks = description.split('\n');
    QByteArray out;
    QByteArray block;
    auto flush = [&] {
        QByteArray type;
        if (block.contains("E: SUBSYSTEM=iio") && block.contains("A: in_accel_x_raw"))
            type = "iio-poll-accel";
        else if (block.contains("E: ID_INPUT_ACCELEROMETER=1") && block.contains("N: input/"))
            type = "input-accel";
        out += block;
        if (!type.isEmpty())
            out += "E: IIO_SENSOR_PROXY_TYPE=" + type + '\n';
        out += '\n';
        block.clear();
    };
    for (const QByteArray& line : blocks) {
        if (line.trimmed().isEmpty()) {
            if (!block.isEmpty())
                flush();
            continue;
        }
        block += line + '\n';
    }
    if (!block.isEmpty())
        flush();
    return out;
}

// The pose Wobblestar's reading names, as the service names poses: upright is y < 0, the left
// edge up x > 0.
QString poseOf(const Acceleration& a) {
    if (std::abs(a.y) >= std::abs(a.x))
        return a.y < 0 ? QStringLiteral("normal") : QStringLiteral("bottom-up");
    return a.x > 0 ? QStringLiteral("left-up") : QStringLiteral("right-up");
}

class Collector : public sensors::AccelerometerDelegate {
public:
    void accelerometer(Accelerometer&, const Acceleration& acceleration) override {
        received.push_back(acceleration);
    }
    std::vector<Acceleration> received;
};

} // namespace

class RotationServiceTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void agreesOnEveryUprightPose_data();
    void agreesOnEveryUprightPose();

private:
    QString readServiceOrientation();

    QTemporaryDir dir_;
    QProcess bus_;
    QString address_;
    int connections_ = 0;
};

void RotationServiceTest::initTestCase() {
    if (!UmockdevBed::available())
        QSKIP("needs umockdev-run");
    if (proxyProgram().isEmpty())
        QSKIP("needs iio-sensor-proxy");
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("WobblestarTest"));
    QCoreApplication::setApplicationName(
        QStringLiteral("tst_rotation_service")); // its own settings file: tests run side by side
    QSettings().clear();
    // A bus of the test's own stands in for the system bus; it lets the service own its name.
    address_ = QStringLiteral("unix:path=") + dir_.filePath(QStringLiteral("system_bus"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("LD_PRELOAD"));
    bus_.setProcessEnvironment(environment);
    bus_.start(QStringLiteral("dbus-daemon"),
               {QStringLiteral("--session"), QStringLiteral("--nofork"),
                QStringLiteral("--address=") + address_});
    QVERIFY2(bus_.waitForStarted(), "needs dbus-daemon");
    QTRY_VERIFY(QFileInfo::exists(dir_.filePath(QStringLiteral("system_bus"))));
}

void RotationServiceTest::cleanupTestCase() {
    bus_.terminate();
    bus_.waitForFinished();
}

void RotationServiceTest::agreesOnEveryUprightPose_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("inputName"); // for input devices: the name libevdev reads
    QTest::addColumn<QString>("hwdb");      // an ACCEL_MOUNT_MATRIX to add to an input device
    QTest::addColumn<int>("oneG");          // counts of 1 g
    QTest::addColumn<Triple>("raw");
    struct Device {
        const char* row;
        const char* file;
        const char* inputName;
        const char* hwdb;
        int oneG;
    };
    const Device devices[] = {
        {"BYT bmc150, hwdb swap", "byt-bmc150-hwdb-swap.umockdev", "", "", 1024},
        {"Chuwi Hi13, hwdb over kernel", "chuwi-hi13-kernel-matrix-corrected.umockdev", "", "",
         1024},
        {"kernel quarter turn", "kernel-quarter-turn.umockdev", "", "", 1024},
        {"HID accel_3d", "hid-sensor-hub-accel-3d.umockdev", "", "", 1000},
        {"Chromebook lid and base", "chromebook-cros-ec-lid-base.umockdev", "", "", 16384},
        {"convertible display and base", "convertible-display-base.umockdev", "", "", 1024},
        {"service's own test device", "proxy-test-device.umockdev", "", "", 26},
        {"HP lis3lv02d", "hp-lis3lv02d.umockdev", "ST LIS3LV02DL Accelerometer", "", 1000},
        // Resolution 0 and a name no table knows: scaled to 1 g at rest.
        {"input accelerometer of unknown unit", "hp-lis3lv02d.umockdev", "Motion accelerometer", "",
         256},
        {"input accelerometer, hwdb quarter turn", "hp-lis3lv02d.umockdev",
         "ST LIS3LV02DL Accelerometer", "0, 1, 0; -1, 0, 0; 0, 0, 1", 1000},
    };
    // Gravity along each of the chip's X and Y axes, both ways: each device's frame turns
    // these into the four upright poses.
    const Triple directions[] = {{0, -1, 0}, {0, 1, 0}, {1, 0, 0}, {-1, 0, 0}};
    const char* names[] = {"-y", "+y", "+x", "-x"};
    for (const Device& d : devices)
        for (int i = 0; i < 4; ++i)
            QTest::addRow("%s, %s", d.row, names[i])
                << d.file << d.inputName << d.hwdb << d.oneG
                << Triple{directions[i][0] * d.oneG, directions[i][1] * d.oneG,
                          directions[i][2] * d.oneG};
}

QString RotationServiceTest::readServiceOrientation() {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), address_);
    QProcess service;
    service.setProcessEnvironment(environment);
    service.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    service.start(proxyProgram(), QStringList());
    if (!service.waitForStarted())
        return QStringLiteral("(not started)");
    const QString name = QStringLiteral("rotation-%1").arg(++connections_);
    QString orientation = QStringLiteral("(no answer)");
    {
        QDBusConnection bus = QDBusConnection::connectToBus(address_, name);
        QElapsedTimer clock;
        clock.start();
        while (!bus.interface()->isServiceRegistered(kService) && clock.elapsed() < 5000)
            QTest::qWait(20);
        QDBusInterface proxy(kService, kPath, kService, bus);
        // The claim lasts as long as this connection: the service releases a vanished client's.
        proxy.call(QStringLiteral("ClaimAccelerometer"));
        while (clock.elapsed() < 8000) {
            orientation = proxy.property("AccelerometerOrientation").toString();
            if (!orientation.isEmpty() && orientation != u"undefined")
                break;
            QTest::qWait(50);
        }
        proxy.call(QStringLiteral("ReleaseAccelerometer"));
    }
    QDBusConnection::disconnectFromBus(name);
    service.terminate();
    service.waitForFinished();
    return orientation;
}

void RotationServiceTest::agreesOnEveryUprightPose() {
    QFETCH(QString, file);
    QFETCH(QString, inputName);
    QFETCH(QString, hwdb);
    QFETCH(int, oneG);
    QFETCH(Triple, raw);
    QFile source(qEnvironmentVariable("WOBBLESTAR_TEST_DATA") + QStringLiteral("/umockdev/") +
                 file);
    QVERIFY2(source.open(QIODevice::ReadOnly), qPrintable(source.fileName()));
    QByteArray description = source.readAll();
    if (!hwdb.isEmpty())
        description.replace("E: ID_INPUT_ACCELEROMETER=1\n",
                            "E: ID_INPUT_ACCELEROMETER=1\nE: ACCEL_MOUNT_MATRIX=" + hwdb.toUtf8() +
                                '\n');
    UmockdevBed bed;
    QVERIFY(bed.addDescription(withServiceTypes(description)));
    // Every accelerometer of the machine lies the same way (a lid and its base opened flat).
    const QString iio = QStringLiteral("/sys/bus/iio/devices/");
    for (const QString& device : QDir(iio).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        for (int axis = 0; axis < 3; ++axis)
            if (QFile::exists(iio + device + QStringLiteral("/in_accel_x_raw")))
                UmockdevBed::write(iio + device,
                                   QStringLiteral("in_accel_%1_raw").arg(QChar(u"xyz"[axis])),
                                   QString::number(raw[axis]));
    if (!inputName.isEmpty()) {
        const QStringList nodes =
            QDir(bed.root() + QStringLiteral("/dev/input")).entryList(QDir::System | QDir::Files);
        QCOMPARE(nodes.size(), 1);
        QVERIFY(bed.addAccelerometerNode(QStringLiteral("/dev/input/") + nodes.front(), inputName,
                                         0, 0, raw));
    }
    Q_UNUSED(oneG);

    const QString service = readServiceOrientation();

    QString error;
    auto driver = sensors::createSource(sensors::SourceRequest{}, &error);
    QVERIFY2(driver, qPrintable(error));
    Accelerometer accelerometer;
    Collector collector;
    accelerometer.setDriver(std::move(driver));
    accelerometer.setUpdateInterval(0.01);
    accelerometer.setDelegate(&collector);
    QTRY_VERIFY(!collector.received.empty());
    const Acceleration& reading = collector.received.back();
    const QString ours = poseOf(reading);
    qInfo("%s: service %s, Wobblestar %s (%.3f, %.3f, %.3f)", QTest::currentDataTag(),
          qPrintable(service), qPrintable(ours), reading.x, reading.y, reading.z);
    QCOMPARE(ours, service);
}

QTEST_GUILESS_MAIN(RotationServiceTest)
#include "tst_rotation_service.moc"
