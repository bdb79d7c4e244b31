#pragma once

#include "sensors/IioBuffer.h"
#include "sensors/IioRates.h"
#include "sensors/MountMatrix.h"
#include "sensors/Sources.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <initializer_list>
#include <optional>

namespace sensors {

struct UdevDevice;

// Reading an IIO device's sysfs folder. Everything here may block on a stalled bus: call it
// off the main thread.
namespace iiofiles {

QByteArray pathIn(const QString& folder, const QByteArray& file);
// The first of `files` in `folder` that exists: 0 and its text, ENOENT when none does, or the
// error that stopped the read.
int readFirst(const QString& folder, std::initializer_list<QByteArray> files, QByteArray* text,
              QByteArray* path);
// The device's `name`, else its folder's name.
QString deviceName(const QString& folder);
bool hasRawAxes(const QString& folder);
bool hasScanAxes(const QString& folder);

} // namespace iiofiles

// How an IIO device's raw counts become g in the device's axes.
struct IioCalibration {
    std::array<double, 3> scale{};  // m/s² per count
    std::array<double, 3> offset{}; // counts
    // False for a device without any scale file: its counts are read with a scale of 1 and
    // scaled to 1 g at rest.
    bool scaleKnown = true;
    MountMatrix mount;
    // Rows: device X, Y, Z from the chip's m/s²; already divided by standard gravity.
    Matrix3 toDevice{};

    // The g of one reading in the device's axes, from raw counts.
    std::array<double, 3> toG(const std::array<double, 3>& counts) const;
};

// What the driver needs of an IIO device: its files, its calibration, and its buffer's layout.
struct IioDevice {
    QString name;
    std::array<QByteArray, 3> rawPaths; // in_accel_{x,y,z}_raw
    bool hasRawFiles = false;
    IioCalibration calibration;
    // Whole scans from /dev/iio:deviceN, where the device offers them.
    std::optional<ScanLayout> layout;
    // The sampling rates it offers, and the file that sets one.
    IioRates rates;
    QByteArray ratePath;

    // Everything the driver needs of the device in `folder`; false and why not when the device
    // cannot be used.
    static bool load(const QString& folder, IioDevice* device, QString* error);
    // The line --list-sources shows for `device`, with the reason when it cannot be used.
    static SourceInfo describe(const UdevDevice& device);
};

} // namespace sensors
