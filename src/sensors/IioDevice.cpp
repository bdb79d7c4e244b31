#include "sensors/IioDevice.h"

#include "sensors/IioRates.h"
#include "sensors/SensorFiles.h"
#include "sensors/Udev.h"

#include <QFileInfo>
#include <cerrno>

namespace sensors {

namespace sf = sensorfiles;

namespace {

const char* const kAxisNames[3] = {"x", "y", "z"};

QString readText(const QString& folder, const char* file) {
    QByteArray text;
    if (sf::read(iiofiles::pathIn(folder, file), &text) != 0)
        return QString();
    return QString::fromUtf8(text.trimmed());
}

int readNumber(const QString& folder, std::initializer_list<QByteArray> files, double* value,
               QString* error) {
    QByteArray text, path;
    const int status = iiofiles::readFirst(folder, files, &text, &path);
    if (status == ENOENT)
        return status;
    if (status != 0) {
        *error = sf::cannotRead(path, status);
        return status;
    }
    if (!sf::parseNumber(text, value)) {
        *error = QStringLiteral("%1 holds '%2', which is not a number")
                     .arg(QFile::decodeName(path), QString::fromUtf8(text.trimmed()));
        return EINVAL;
    }
    return 0;
}

// The hwdb's entry comes first: it exists to correct machines whose firmware states a wrong
// matrix (the desktop's rotation service reads it the same way).
MountMatrix mountOf(const QString& folder) {
    std::vector<MountMatrixOffer> offers;
    const std::optional<UdevDevice> udev = udevdevices::fromSyspath(folder);
    const QString hwdb =
        udev ? udev->properties.value(QStringLiteral("ACCEL_MOUNT_MATRIX")) : QString();
    if (!hwdb.isEmpty())
        offers.push_back({QStringLiteral("udev hwdb"), hwdb.toUtf8(),
                          QStringLiteral("udev's ACCEL_MOUNT_MATRIX"), QString()});
    QByteArray text, path;
    const int status = iiofiles::readFirst(
        folder, {"mount_matrix", "in_accel_mount_matrix", "in_mount_matrix"}, &text, &path);
    if (status != ENOENT)
        offers.push_back({QStringLiteral("kernel"), text, QFile::decodeName(path),
                          status == 0 ? QString() : sf::cannotRead(path, status)});
    return MountMatrix::choose(offers);
}

// A HID sensor hub reports gravity itself; chips report the force that holds them up.
bool reportsGravity(const QString& name) {
    return name == QLatin1String("accel_3d");
}

// The screen's sensor or the keyboard base's, from udev (ACCEL_LOCATION), the kernel's label
// ("accel-display", "accel-base") or a ChromeOS EC's location ("lid", "base").
QString locationOf(const QString& folder, const QMap<QString, QString>& properties,
                   const QString& label) {
    const QString udevLocation = properties.value(QStringLiteral("ACCEL_LOCATION"));
    if (udevLocation == u"display" || udevLocation == u"base")
        return udevLocation;
    if (label == u"accel-display")
        return QStringLiteral("display");
    if (label == u"accel-base")
        return QStringLiteral("base");
    const QString location = readText(folder, "location");
    if (location == u"lid")
        return QStringLiteral("display");
    if (location == u"base")
        return QStringLiteral("base");
    return QString();
}

// Scales and offsets of the three axes. Without any scale file the counts have no known unit:
// they are read as they are and scaled at rest. A scale of 0 would show every reading as 0 g.
bool loadScales(const QString& folder, IioCalibration* calibration, QString* error) {
    for (size_t axis = 0; axis < 3; ++axis) {
        const QByteArray name = kAxisNames[axis];
        const QByteArray axisScale = "in_accel_" + name + "_scale";
        // A ChromeOS EC's sensors share one plain `scale` file.
        int status = readNumber(folder, {axisScale, "in_accel_scale", "scale"},
                                &calibration->scale[axis], error);
        if (status == ENOENT) {
            calibration->scale[axis] = 1.0;
            calibration->scaleKnown = false;
        } else if (status != 0) {
            return false;
        } else if (calibration->scale[axis] == 0.0) {
            *error = QStringLiteral("%1 has a scale of 0 for its %2 axis, so every reading would "
                                    "be 0 g")
                         .arg(folder, QString::fromLatin1(name.toUpper()));
            return false;
        }
        calibration->offset[axis] = 0.0;
        status = readNumber(folder, {"in_accel_" + name + "_offset", "in_accel_offset"},
                            &calibration->offset[axis], error);
        if (status != 0 && status != ENOENT)
            return false;
    }
    return true;
}

} // namespace

namespace iiofiles {

QByteArray pathIn(const QString& folder, const QByteArray& file) {
    return QFile::encodeName(folder) + '/' + file;
}

int readFirst(const QString& folder, std::initializer_list<QByteArray> files, QByteArray* text,
              QByteArray* path) {
    for (const QByteArray& file : files) {
        *path = pathIn(folder, file);
        const int error = sf::read(*path, text);
        if (error != ENOENT)
            return error;
    }
    return ENOENT;
}

QString deviceName(const QString& folder) {
    const QString name = readText(folder, "name");
    return name.isEmpty() ? QFileInfo(folder).fileName() : name;
}

bool hasScanAxes(const QString& folder) {
    for (const char* axis : kAxisNames)
        if (!QFileInfo::exists(folder + QStringLiteral("/scan_elements/in_accel_%1_en").arg(axis)))
            return false;
    return true;
}

bool hasRawAxes(const QString& folder) {
    for (const char* axis : kAxisNames)
        if (!QFileInfo::exists(folder + QStringLiteral("/in_accel_%1_raw").arg(axis)))
            return false;
    return true;
}

} // namespace iiofiles

bool IioDevice::load(const QString& folder, IioDevice* device, QString* error) {
    device->name = iiofiles::deviceName(folder);
    IioCalibration& calibration = device->calibration;
    calibration.mount = mountOf(folder);
    for (size_t axis = 0; axis < 3; ++axis)
        device->rawPaths[axis] =
            iiofiles::pathIn(folder, QByteArray("in_accel_") + kAxisNames[axis] + "_raw");
    if (!loadScales(folder, &calibration, error))
        return false;
    calibration.toDevice = calibration.mount.frame(reportsGravity(device->name));
    for (auto& row : calibration.toDevice)
        for (double& cell : row)
            cell /= kStandardGravity;
    device->hasRawFiles = iiofiles::hasRawAxes(folder);
    device->rates = IioRates::read(folder);
    device->ratePath = IioRates::frequencyPath(folder);
    if (iiofiles::hasScanAxes(folder)) {
        QString problem;
        device->layout = ScanLayout::read(folder, &problem);
        if (!device->layout && !device->hasRawFiles) {
            *error = !problem.isEmpty() ? problem
                                        : QStringLiteral("%1 has no device node to read its "
                                                         "buffer from, and no files to poll")
                                              .arg(folder);
            return false;
        }
    }
    if (device->layout)
        return true;
    QByteArray text;
    for (const QByteArray& path : device->rawPaths) {
        if (const int status = sf::read(path, &text); status != 0) {
            *error = sf::cannotRead(path, status);
            return false;
        }
    }
    return true;
}

std::array<double, 3> IioCalibration::toG(const std::array<double, 3>& counts) const {
    double ms2[3];
    for (size_t axis = 0; axis < 3; ++axis)
        ms2[axis] = (counts[axis] + offset[axis]) * scale[axis];
    std::array<double, 3> g{};
    for (size_t row = 0; row < 3; ++row)
        g[row] = toDevice[row][0] * ms2[0] + toDevice[row][1] * ms2[1] + toDevice[row][2] * ms2[2];
    return g;
}

SourceInfo IioDevice::describe(const UdevDevice& udev) {
    const QString& folder = udev.syspath;
    const QString label = readText(folder, "label");
    IioDevice device;
    QString problem;
    const bool usable = load(folder, &device, &problem);
    SourceInfo info;
    info.kind = QStringLiteral("iio");
    info.name = udev.name.isEmpty() ? udev.sysname : udev.name;
    info.path = folder;
    info.rates = IioRates::describe(folder);
    info.label = label;
    info.location = locationOf(folder, udev.properties, label);
    const MountMatrix& mount = device.calibration.mount;
    info.matrix = MountMatrix::text(mount.rows);
    info.matrixOrigin = mount.origin;
    for (const MountMatrix::Rejected& rejected : mount.rejected)
        info.matrixRejected
            << QStringLiteral("%1's rejected: %2").arg(rejected.origin, rejected.why);
    if (!usable)
        info.problem = problem;
    else if (!device.calibration.scaleKnown)
        info.note = QStringLiteral("scale unknown: calibrated at rest");
    return info;
}

} // namespace sensors
