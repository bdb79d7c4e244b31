#include "sensors/InputDriver.h"

#include <QSignalSpy>
#include <QTest>
#include <cstring>
#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

using sensors::Acceleration;
using sensors::AxisMap;
using sensors::InputDevice;
using sensors::InputDriver;

namespace {

constexpr int kUnitsPerG = 8192; // a game controller's motion sensor

// A device whose events come through a pipe that the test writes, described by the test. It
// answers as libevdev does: after SYN_DROPPED the torn report is skipped and the kernel's state
// follows as sync events.
class PipeDevice final : public InputDevice {
public:
    PipeDevice(int readEnd, std::array<int, 3> initial, int resolution)
        : state(initial), fd_(readEnd), resolution_(resolution) {}
    ~PipeDevice() override { ::close(fd_); }
    int fd() const override { return fd_; }
    QString name() const override { return QStringLiteral("Motion Sensor"); }
    std::optional<input_absinfo> axisInfo(unsigned code) const override {
        input_absinfo info{};
        info.value = state[code - ABS_X];
        info.minimum = -32768;
        info.maximum = 32767;
        info.resolution = resolution_;
        return info;
    }
    int nextEvent(unsigned flags, input_event* event) override {
        if (flags & LIBEVDEV_READ_FLAG_SYNC) {
            if (sync_.empty())
                return -EAGAIN;
            *event = sync_.front();
            sync_.erase(sync_.begin());
            return LIBEVDEV_READ_STATUS_SYNC;
        }
        sync_.clear();
        int status = 0;
        while (take(event, &status)) {
            const bool report = event->type == EV_SYN && event->code == SYN_REPORT;
            if (skipping_) {
                skipping_ = !report;
                continue;
            }
            if (event->type == EV_SYN && event->code == SYN_DROPPED) {
                skipping_ = true;
                for (unsigned code = ABS_X; code <= ABS_Z; ++code)
                    sync_.push_back(
                        input_event{{}, EV_ABS, static_cast<__u16>(code), state[code - ABS_X]});
                sync_.push_back(input_event{{}, EV_SYN, SYN_REPORT, 0});
                return LIBEVDEV_READ_STATUS_SYNC;
            }
            return LIBEVDEV_READ_STATUS_SUCCESS;
        }
        return status;
    }

    std::array<int, 3> state; // what the kernel would answer now

private:
    // One whole event from the pipe, which may split one; else the read's status.
    bool take(input_event* event, int* status) {
        char bytes[16 * sizeof(input_event)];
        while (partial_.size() < qsizetype(sizeof(input_event))) {
            const ssize_t count = ::read(fd_, bytes, sizeof bytes);
            if (count <= 0) {
                *status = count == 0 ? -ENODEV : -errno;
                return false;
            }
            partial_.append(bytes, count);
        }
        std::memcpy(event, partial_.constData(), sizeof(input_event));
        partial_.remove(0, sizeof(input_event));
        return true;
    }

    int fd_;
    int resolution_;
    bool skipping_ = false;
    QByteArray partial_;
    std::vector<input_event> sync_;
};

// Hands the driver a new pipe each time it opens the device, keeping the write end.
struct PipeOpener {
    std::unique_ptr<InputDevice> open(QString* error) {
        if (refuse) {
            *error = QStringLiteral("not there");
            return nullptr;
        }
        int ends[2];
        if (::pipe2(ends, O_NONBLOCK | O_CLOEXEC) != 0)
            return nullptr;
        if (writeEnd >= 0)
            ::close(writeEnd);
        writeEnd = ends[1];
        auto device = std::make_unique<PipeDevice>(ends[0], state, resolution);
        last = device.get();
        return device;
    }
    void send(const std::vector<input_event>& events) const {
        const auto size = static_cast<ssize_t>(events.size() * sizeof(input_event));
        QCOMPARE(::write(writeEnd, events.data(), static_cast<size_t>(size)), size);
    }
    void unplug() {
        ::close(writeEnd);
        writeEnd = -1;
        refuse = true;
    }
    ~PipeOpener() {
        if (writeEnd >= 0)
            ::close(writeEnd);
    }
    std::array<int, 3> state{0, 0, kUnitsPerG};
    int resolution = kUnitsPerG;
    int writeEnd = -1;
    bool refuse = false;
    PipeDevice* last = nullptr;
};

input_event inputEvent(unsigned type, unsigned code, int value) {
    input_event e{};
    e.type = static_cast<__u16>(type);
    e.code = static_cast<__u16>(code);
    e.value = value;
    return e;
}
input_event axis(unsigned code, int value) {
    return inputEvent(EV_ABS, code, value);
}
const input_event kReport = inputEvent(EV_SYN, SYN_REPORT, 0);
const input_event kDropped = inputEvent(EV_SYN, SYN_DROPPED, 0);

// Bytes in the pipe that the driver has not read yet.
int unread(int pipeEnd) {
    int count = -1;
    ::ioctl(pipeEnd, FIONREAD, &count);
    return count;
}

// Undoes the frame of a maker-less device without a mount matrix (Z turned over, since it
// reads the force that holds it up), so that the tests below see the counts as sent.
AxisMap identity() {
    QString unused;
    return *AxisMap::parse(QStringLiteral("x,y,-z"), &unused);
}

std::unique_ptr<InputDriver> startedDriver(PipeOpener& opener, const AxisMap& axes) {
    auto driver = std::make_unique<InputDriver>(
        QStringLiteral("/dev/input/event7"),
        [&opener](QString* error) { return opener.open(error); }, axes);
    QString error;
    if (!driver->start(&error))
        qWarning("%s", qPrintable(error));
    return driver;
}

} // namespace

using Events = std::vector<input_event>;
using KernelState = std::array<int, 3>;
Q_DECLARE_METATYPE(Events)
Q_DECLARE_METATYPE(KernelState)

class InputDriverTest : public QObject {
    Q_OBJECT
private slots:
    void decodesTheEventStream_data();
    void decodesTheEventStream();
    void startsFromTheDevicesStateAndDefaultsFaceUp();
    void scalesADeviceWithoutResolutionAtRest();
    void waitsForAVanishedDeviceAndResumes();
};

void InputDriverTest::decodesTheEventStream_data() {
    QTest::addColumn<Events>("events");
    QTest::addColumn<KernelState>("kernelState");
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("y");
    QTest::addColumn<double>("z");
    const std::array<int, 3> rest{0, 0, kUnitsPerG};
    QTest::newRow("one report") << std::vector{axis(ABS_X, 4096), axis(ABS_Y, -8192),
                                               axis(ABS_Z, 0), kReport}
                                << rest << 0.5 << -1.0 << 0.0;
    QTest::newRow("only changes are sent")
        << std::vector{axis(ABS_X, 2048), kReport, axis(ABS_Y, 2048), kReport} << rest << 0.25
        << 0.25 << 1.0;
    QTest::newRow("a report is not done before SYN_REPORT")
        << std::vector{axis(ABS_X, 2048), kReport, axis(ABS_X, 8192)} << rest << 0.25 << 0.0 << 1.0;
    QTest::newRow("gyroscope and timestamp events ignored")
        << std::vector{axis(ABS_RX, 999), inputEvent(EV_MSC, MSC_TIMESTAMP, 1234),
                       axis(ABS_Z, -8192), kReport}
        << rest << 0.0 << 0.0 << -1.0;
    // After SYN_DROPPED the events up to the next SYN_REPORT are a torn report: the state is
    // what the kernel says now.
    QTest::newRow("dropped events: state fetched afresh")
        << std::vector{axis(ABS_X, 2048), kReport, kDropped, axis(ABS_Y, 4096), kReport}
        << KernelState{-8192, 0, 0} << -1.0 << 0.0 << 0.0;
    QTest::newRow("after the resync, events count again")
        << std::vector{kDropped, axis(ABS_X, 1), kReport, axis(ABS_Y, 4096), kReport}
        << KernelState{8192, 0, 0} << 1.0 << 0.5 << 0.0;
}

void InputDriverTest::decodesTheEventStream() {
    QFETCH(Events, events);
    QFETCH(KernelState, kernelState);
    QFETCH(double, x);
    QFETCH(double, y);
    QFETCH(double, z);
    PipeOpener opener;
    auto driver = startedDriver(opener, identity());
    opener.last->state = kernelState;
    // Sent in two writes, split inside an event, as a reader may see them.
    const auto* bytes = reinterpret_cast<const char*>(events.data());
    const size_t size = events.size() * sizeof(input_event);
    const size_t split = size / 2 + 3;
    QCOMPARE(::write(opener.writeEnd, bytes, split), ssize_t(split));
    QTest::qWait(10);
    QCOMPARE(::write(opener.writeEnd, bytes + split, size - split), ssize_t(size - split));
    QTRY_COMPARE(unread(opener.writeEnd), 0);
    const int expectedResyncs =
        std::count_if(events.begin(), events.end(), [](const input_event& e) {
            return e.type == EV_SYN && e.code == SYN_DROPPED;
        });
    QCOMPARE(driver->resyncs(), expectedResyncs);
    const std::optional<Acceleration> reading = driver->read(1.0);
    QVERIFY(reading);
    QCOMPARE(reading->x, x);
    QCOMPARE(reading->y, y);
    QCOMPARE(reading->z, z);
    QCOMPARE(reading->timestamp, 1.0);
}

void InputDriverTest::startsFromTheDevicesStateAndDefaultsFaceUp() {
    PipeOpener opener; // lying face up, silent: the kernel sends nothing until a value changes
    auto driver = startedDriver(opener, AxisMap());
    const std::optional<Acceleration> reading = driver->read(0.5);
    QVERIFY(reading);
    QCOMPARE(reading->x, 0.0);
    QCOMPARE(reading->y, 0.0);
    QCOMPARE(reading->z, -1.0);
    QCOMPARE(driver->description(), QStringLiteral("input: Motion Sensor (/dev/input/event7)"));
}

void InputDriverTest::scalesADeviceWithoutResolutionAtRest() {
    PipeOpener opener; // lying face up, in a unit of its own
    opener.resolution = 0;
    opener.state = {0, 0, 300};
    auto driver = startedDriver(opener, AxisMap());
    QSignalSpy messages(driver.get(), &InputDriver::statusMessage);
    QVERIFY(!driver->read(0.0));              // measuring the rest
    opener.send({axis(ABS_Z, 500), kReport}); // picked up
    QTRY_COMPARE(unread(opener.writeEnd), 0);
    QVERIFY(!driver->read(1.0));
    QCOMPARE(messages.size(), 2); // scale unknown; it moved
    QVERIFY2(messages.at(1).at(0).toString().contains(QLatin1String("moved")),
             qPrintable(messages.at(1).at(0).toString()));
    QVERIFY(!driver->read(1.5)); // a still second from here
    const std::optional<Acceleration> reading = driver->read(2.0);
    QVERIFY(reading);
    QCOMPARE(reading->z, -1.0);
    opener.send({axis(ABS_X, 250), axis(ABS_Z, 0), kReport});
    QTRY_COMPARE(driver->read(2.5)->x, 0.5);
}

void InputDriverTest::waitsForAVanishedDeviceAndResumes() {
    sensors::Reconnector::setRetryInterval(std::chrono::milliseconds(20));
    PipeOpener opener;
    auto driver = startedDriver(opener, identity());
    QSignalSpy messages(driver.get(), &InputDriver::statusMessage);
    opener.unplug();
    QTRY_COMPARE(messages.size(), 1);
    QVERIFY(messages.at(0).at(0).toString().contains(QLatin1String("is gone")));
    QVERIFY(!driver->read(1.0));
    QTest::qWait(200); // several looks later: still gone, said once
    QCOMPARE(messages.size(), 1);

    opener.refuse = false;
    opener.state = {kUnitsPerG, 0, 0};
    QTRY_COMPARE_WITH_TIMEOUT(messages.size(), 2, 3000);
    QVERIFY(messages.at(1).at(0).toString().contains(QLatin1String("is back")));
    QVERIFY(driver->read(2.0));
    QCOMPARE(driver->read(2.0)->x, 1.0);
    opener.send({axis(ABS_X, 0), axis(ABS_Y, 8192), kReport});
    QTRY_COMPARE(driver->read(3.0)->y, 1.0);
}

QTEST_GUILESS_MAIN(InputDriverTest)
#include "tst_input_driver.moc"
