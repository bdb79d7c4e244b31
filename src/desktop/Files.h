#pragma once

#include <QByteArray>
#include <QString>

class QFileDevice;

namespace desktop {

// Writing files so that a failure says what the system said. A write that fills the disk stores
// part of its block, and Qt reports that as "Unknown error"; these keep writing until the system
// itself refuses, and pass on its reason ("No space left on device", "File too large").

// Writes all of `bytes` to `file`, which is open for writing with QIODevice::Unbuffered. On
// failure returns false and sets `*error` to the system's reason.
bool writeAll(QFileDevice& file, const QByteArray& bytes, QString* error);

// Replaces `path` with `bytes`, whole or not at all: an existing file stays as it was when the
// write fails. On failure returns false and sets `*error` to the system's reason. A path
// /proc/self/fd/N (a name that is not text, see the command line) is written in place.
bool saveFile(const QString& path, const QByteArray& bytes, QString* error);

// The system's reason why a file of `bytes` bytes cannot be written in `folder` now, found by
// writing one there and removing it again; empty when it can. For writers that say only that
// they failed (QSettings).
QString whyCannotWrite(const QString& folder, qint64 bytes);

} // namespace desktop
