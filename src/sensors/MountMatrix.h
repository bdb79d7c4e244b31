#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <array>
#include <optional>
#include <vector>

namespace sensors {

// How a sensor sits in the device: the rows map the sensor's axes onto the device's X, Y and Z,
// as udev's ACCEL_MOUNT_MATRIX and the kernel's mount_matrix write it:
// "m00, m01, m02; m10, m11, m12; m20, m21, m22", rows first.
using Matrix3 = std::array<std::array<double, 3>, 3>;

constexpr Matrix3 kIdentityMatrix{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};

// One place a matrix may come from, in the order they are tried: udev's hwdb, the kernel's file.
struct MountMatrixOffer {
    QString origin;   // "udev hwdb", "kernel"
    QByteArray text;  // as written there
    QString location; // where it was read, for messages (a property name or a file)
    QString problem;  // why it could not be read at all; empty when it was
};

// The matrix in use, where it came from, and the offers passed over on the way.
struct MountMatrix {
    Matrix3 rows = kIdentityMatrix;
    QString origin = QStringLiteral("identity");
    struct Rejected {
        QString origin;
        QString location;
        QString why; // "its X row is all zeros", "it is not nine numbers ..."
    };
    std::vector<Rejected> rejected;

    // The first offer that is a usable matrix; the identity when none is.
    static MountMatrix choose(const std::vector<MountMatrixOffer>& offers);
    // Nine finite numbers in three rows, no row all zeros (it would lose an axis); on failure
    // nothing and `why`.
    static std::optional<Matrix3> parse(const QByteArray& text, QString* why);
    // "1, 0, 0; 0, 1, 0; 0, 0, 1".
    static QString text(const Matrix3& rows);

    // The whole map from a sensor's axes to ours: X and Y are the matrix's first two rows as
    // they are; Z completes a right-handed frame. A sensor that reports gravity itself (a HID
    // sensor hub) is turned; one that reports the force holding it up (a chip, an input
    // accelerometer) is turned and flipped over.
    Matrix3 frame(bool reportsGravity) const;
};

} // namespace sensors
