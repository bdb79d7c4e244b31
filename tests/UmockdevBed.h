#pragma once

// A udev and sysfs world of the test's making: the process runs under umockdev-run, and libudev
// and every open() of /sys and /dev see the devices added here.

// umockdev's GLib headers use `signals` as a name: they go before any Qt header.
// clang-format off
#include <umockdev.h>
// clang-format on

#include <QFile>
#include <QString>
#include <QTest>

class UmockdevBed {
public:
    UmockdevBed() : bed_(umockdev_testbed_new()) {}
    ~UmockdevBed() { g_object_unref(bed_); }
    UmockdevBed(const UmockdevBed&) = delete;
    UmockdevBed& operator=(const UmockdevBed&) = delete;

    static bool available() { return umockdev_in_mock_environment(); }

    // Adds the devices of a description file under tests/data/umockdev.
    bool addFile(const QString& name) {
        const QByteArray path = QFile::encodeName(qEnvironmentVariable("WOBBLESTAR_TEST_DATA") +
                                                  QStringLiteral("/umockdev/") + name);
        GError* error = nullptr;
        const bool ok = umockdev_testbed_add_from_file(bed_, path.constData(), &error);
        if (!ok) {
            qWarning("%s: %s", path.constData(), error->message);
            g_error_free(error);
        }
        return ok;
    }
    // Adds a device of `subsystem` with sysfs files and udev properties; returns its folder.
    QString add(const char* subsystem, const QString& name, const QStringList& attributes,
                const QStringList& properties = {}) {
        auto terminated = [](const QStringList& list, std::vector<QByteArray>& keep) {
            std::vector<const gchar*> pointers;
            for (const QString& item : list)
                keep.push_back(item.toUtf8());
            for (const QByteArray& item : keep)
                pointers.push_back(item.constData());
            pointers.push_back(nullptr);
            return pointers;
        };
        std::vector<QByteArray> keepA, keepP;
        const auto a = terminated(attributes, keepA);
        const auto p = terminated(properties, keepP);
        gchar* syspath = umockdev_testbed_add_devicev(bed_, subsystem, name.toUtf8().constData(),
                                                      nullptr, const_cast<gchar**>(a.data()),
                                                      const_cast<gchar**>(p.data()));
        const QString result = QString::fromUtf8(syspath);
        g_free(syspath);
        return result;
    }
    void remove(const QString& syspath) {
        umockdev_testbed_remove_device(bed_, syspath.toUtf8().constData());
    }
    void uevent(const QString& syspath, const char* action) {
        umockdev_testbed_uevent(bed_, syspath.toUtf8().constData(), action);
    }
    // The real folder behind /: for what umockdev cannot make itself (a FIFO).
    QString root() const {
        gchar* dir = umockdev_testbed_get_root_dir(bed_);
        const QString result = QString::fromUtf8(dir);
        g_free(dir);
        return result;
    }
    // Writes a sysfs file as the kernel would present it.
    static void write(const QString& folder, const QString& file, const QString& text) {
        QFile out(folder + QLatin1Char('/') + file);
        QVERIFY2(out.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(out.fileName()));
        out.write(text.toUtf8() + '\n');
    }
    static QString read(const QString& folder, const QString& file) {
        QFile in(folder + QLatin1Char('/') + file);
        return in.open(QIODevice::ReadOnly) ? QString::fromUtf8(in.readAll().trimmed()) : QString();
    }

private:
    UMockdevTestbed* bed_;
};
