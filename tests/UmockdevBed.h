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
#include <array>

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
    // Adds the devices of a description given as text, in umockdev's format.
    bool addDescription(const QByteArray& text) {
        GError* error = nullptr;
        const bool ok = umockdev_testbed_add_from_string(bed_, text.constData(), &error);
        if (!ok) {
            qWarning("%s", error->message);
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
    // Makes the input node `devnode` answer libevdev's questions as an accelerometer named `name`
    // whose axes stand at `values` (umockdev's record of evdev ioctls).
    bool addAccelerometerNode(const QString& devnode, const QString& name, int vendor,
                              int resolution, const std::array<int, 3>& values) {
        auto hex = [](QByteArray bytes, int size) {
            bytes.resize(size, '\0');
            return bytes.toHex().toUpper();
        };
        auto little = [](std::initializer_list<qint32> words, int width) {
            QByteArray bytes;
            for (qint32 word : words)
                for (int i = 0; i < width; ++i)
                    bytes += char((word >> (8 * i)) & 0xff);
            return bytes;
        };
        QByteArray record = "@DEV " + devnode.toUtf8() + "\n";
        record += "EVIOCGBIT(0) 8 " + hex("\x09", 8) + "\n"; // EV_SYN, EV_ABS
        record += "EVIOCGNAME(0) " + QByteArray::number(name.toUtf8().size() + 1) + ' ' +
                  hex(name.toUtf8(), 255) + "\n";
        record += "EVIOCGID 0 " + little({3, vendor, 0, 0}, 2).toHex().toUpper() + "\n";
        record += "EVIOCGVERSION 0 01000100\n";
        record += "EVIOCGPROP(0) 8 " + hex("\x40", 8) + "\n"; // INPUT_PROP_ACCELEROMETER
        record += "EVIOCGBIT(3) 8 " + hex("\x07", 8) + "\n";  // ABS_X, ABS_Y, ABS_Z
        for (int type : {1, 2, 4, 5, 17, 18, 21})
            record += "EVIOCGBIT(" + QByteArray::number(type) + ") " +
                      (type == 1    ? "96 " + hex({}, 96)
                       : type == 21 ? "16 " + hex({}, 16)
                                    : "8 " + hex({}, 8)) +
                      "\n";
        record += "EVIOCGKEY(0) 96 " + hex({}, 96) + "\nEVIOCGLED(0) 8 " + hex({}, 8) +
                  "\nEVIOCGSW(0) 8 " + hex({}, 8) + "\n";
        for (int axis = 0; axis < 3; ++axis)
            record += (axis == 0 ? QByteArray("EVIOCGABS")
                                 : "EVIOCGABS(" + QByteArray::number(axis) + ")") +
                      " 0 " +
                      little({values[axis], -32768, 32767, 0, 0, resolution}, 4).toHex().toUpper() +
                      "\n";
        const QByteArray file = QFile::encodeName(root()) + "/evdev-" +
                                QFile::encodeName(devnode).replace('/', '-') + ".ioctl";
        QFile out(QFile::decodeName(file));
        if (!out.open(QIODevice::WriteOnly) || out.write(record) != record.size())
            return false;
        out.close();
        GError* error = nullptr;
        const bool ok = umockdev_testbed_load_ioctl(bed_, devnode.toUtf8().constData(),
                                                    file.constData(), &error);
        if (!ok) {
            qWarning("%s: %s", file.constData(), error->message);
            g_error_free(error);
        }
        return ok;
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
