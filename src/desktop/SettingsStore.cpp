#include "desktop/SettingsStore.h"

#include "desktop/Files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QVariantHash>
#include <filesystem>
#include <memory>
#include <system_error>

namespace desktop {

namespace {

bool hasExpectedType(const QVariant& value, ExpectedKey::Kind kind) {
    const int type = value.typeId();
    if (kind == ExpectedKey::Kind::Text)
        return type == QMetaType::QString;
    if (type == QMetaType::Int || type == QMetaType::LongLong || type == QMetaType::Bool)
        return true;
    if (type != QMetaType::QString)
        return false;
    const QString text = value.toString().trimmed();
    if (kind == ExpectedKey::Kind::Flag && (text == u"true" || text == u"false"))
        return true;
    bool ok = false;
    text.toInt(&ok);
    return ok;
}

// The reader accepts almost anything; a file with NUL bytes or broken UTF-8 was never written
// by it and is no settings file.
bool isText(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    if (bytes.contains('\0'))
        return false;
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(bytes);
    return !decoder.hasError();
}

QString freeBadName(const QString& path) {
    QString candidate = path + QStringLiteral(".bad");
    for (int n = 2; QFileInfo::exists(candidate); ++n)
        candidate = QStringLiteral("%1.%2.bad").arg(path).arg(n);
    return candidate;
}

} // namespace

void setUpSettingsStore() {
    QCoreApplication::setOrganizationName(QStringLiteral("Wobblestar"));
    QCoreApplication::setApplicationName(QStringLiteral("Wobblestar"));
    const QString folder = qEnvironmentVariable("WOBBLESTAR_CONFIG_DIR");
    if (!folder.isEmpty())
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
}

QString settingsStorePath() {
    return QSettings().fileName();
}

bool syncSettings(QSettings& store, QString* error) {
    store.sync();
    if (store.status() == QSettings::NoError)
        return true;
    // About what the file would hold: every key and value as text.
    qint64 bytes = 1;
    for (const QString& key : store.allKeys())
        bytes += key.size() + store.value(key).toString().toUtf8().size() + 2;
    const QFileInfo file(store.fileName());
    std::error_code folder;
    std::filesystem::create_directories(file.path().toStdString(), folder);
    QString reason =
        folder ? QString::fromStdString(folder.message()) : whyCannotWrite(file.path(), bytes);
    if (reason.isEmpty())
        reason = QStringLiteral("the write failed, for a reason the system did not give");
    *error = reason;
    return false;
}

StoreCheck checkSettingsStore(const QList<ExpectedKey>& expected) {
    StoreCheck check;
    const QString path = settingsStorePath();
    if (!QFileInfo::exists(path))
        return check;

    QVariantHash sound;
    QStringList wrong;
    bool unreadable = false;
    {
        // QSettings reports a format error only to the first reader of a file in the process,
        // so the check reads a private copy: in the temporary folder, else beside the store.
        // Where neither can be written the file cannot be judged, and a sound file must not be
        // set aside for that.
        std::unique_ptr<QTemporaryDir> scratch = std::make_unique<QTemporaryDir>();
        if (!scratch->isValid())
            scratch = std::make_unique<QTemporaryDir>(path + QStringLiteral(".check-XXXXXX"));
        const QString copy = scratch->filePath(QStringLiteral("check.conf"));
        if (!scratch->isValid() || !QFile::copy(path, copy)) {
            qWarning("wobblestar: no room to check the settings in %s; read as they are",
                     qPrintable(QDir::toNativeSeparators(path)));
            return check;
        }
        QSettings store(copy, QSettings::IniFormat);
        unreadable = store.status() != QSettings::NoError || !isText(path);
        if (!unreadable) {
            for (const QString& key : store.allKeys())
                sound.insert(key, store.value(key));
            for (const ExpectedKey& entry : expected) {
                if (store.contains(entry.key) &&
                    !hasExpectedType(store.value(entry.key), entry.kind)) {
                    wrong << entry.key;
                    sound.remove(entry.key);
                }
            }
        }
    }
    if (!unreadable && wrong.isEmpty())
        return check;

    check.damaged = true;
    // A link (settings kept under version control, shared between machines) stays where it
    // is: the file it points to is set aside, and the new one is written through the link.
    const QFileInfo file(path);
    const QString damaged = file.isSymLink() ? file.canonicalFilePath() : path;
    check.keptAs = freeBadName(damaged);
    if (!QFile::rename(damaged, check.keptAs)) {
        check.message = QCoreApplication::translate(
                            "Settings", "The settings in %1 are damaged and could not be "
                                        "set aside; the defaults are used.")
                            .arg(QDir::toNativeSeparators(path));
        check.keptAs.clear();
        return check;
    }
    if (unreadable) {
        check.message = QCoreApplication::translate(
                            "Settings", "The settings file could not be read, so the defaults "
                                        "are used. It was kept as %1.")
                            .arg(QDir::toNativeSeparators(check.keptAs));
        return check;
    }
    // The sound values go back into a fresh file, so only the damaged ones are forgotten.
    {
        QSettings store;
        for (auto it = sound.cbegin(); it != sound.cend(); ++it)
            store.setValue(it.key(), it.value());
        store.sync();
    }
    check.message =
        QCoreApplication::translate("Settings",
                                    "Some settings held values of the wrong type (%1) and "
                                    "were reset. The old file was kept as %2.")
            .arg(wrong.join(QStringLiteral(", ")), QDir::toNativeSeparators(check.keptAs));
    return check;
}

} // namespace desktop
