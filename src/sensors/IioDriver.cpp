#include "sensors/IioDriver.h"

#include "sensors/IioRates.h"
#include "sensors/SampleRates.h"
#include "sensors/Udev.h"

#include <QFileInfo>
#include <QMetaObject>
#include <QtDebug>
#include <algorithm>
#include <cerrno>
#include <cmath>

namespace sensors {

namespace sf = sensorfiles;

namespace {

// Without a fresh reading for this long the reader thread is taken to be stuck in the kernel.
constexpr double kStallSeconds = 1.0;

struct Loaded {
    bool ok = false;
    IioDevice device;
    QString error;
};

Loaded load(const QString& folder) {
    Loaded loaded;
    loaded.ok = IioDevice::load(folder, &loaded.device, &loaded.error);
    return loaded;
}

// The folder of the device the user named (its name, label or folder), or the first one.
QString folderNamed(const QString& argument, QString* error) {
    if (argument.startsWith(QLatin1Char('/')))
        return argument;
    const std::optional<std::vector<SourceInfo>> found =
        sf::withDeadline<std::vector<SourceInfo>>(&IioDriver::discover);
    if (!found) {
        *error = QStringLiteral("the IIO devices' files are not answering");
        return QString();
    }
    QStringList names;
    for (const SourceInfo& info : *found) {
        const QString sysname = QFileInfo(info.path).fileName();
        if (argument.isEmpty() || info.name == argument || info.label == argument ||
            sysname == argument)
            return info.path;
        names << QStringLiteral("%1 (%2)").arg(info.name, sysname);
    }
    *error = names.isEmpty()
                 ? QStringLiteral("no IIO accelerometer under /sys/bus/iio/devices")
                 : QStringLiteral("no IIO accelerometer of that name or label; found %1")
                       .arg(names.join(QStringLiteral(", ")));
    return QString();
}

} // namespace

std::vector<SourceInfo> IioDriver::discover() {
    std::vector<SourceInfo> found;
    for (const UdevDevice& device : udevdevices::enumerate("iio"))
        if (iiofiles::hasRawAxes(device.syspath) || iiofiles::hasScanAxes(device.syspath))
            found.push_back(IioDevice::describe(device));
    return found;
}

SourceKind IioDriver::sourceKind() {
    SourceKind kind;
    kind.kind = QStringLiteral("iio");
    kind.usage = QStringLiteral("iio[:NAME]");
    kind.takesAxes = true;
    kind.discover = &IioDriver::discover;
    kind.create = [](const QString& argument, const SourceRequest&, const AxisMap& axes,
                     QString* error) -> std::unique_ptr<AccelerometerDriver> {
        const QString folder = folderNamed(argument, error);
        if (folder.isEmpty())
            return nullptr;
        auto driver = std::make_unique<IioDriver>(folder, axes);
        if (!driver->start(error))
            return nullptr;
        return driver;
    };
    return kind;
}

IioDriver::IioDriver(const QString& folder, const AxisMap& axes, QObject* parent)
    : AccelerometerDriver(parent), folder_(folder), name_(QFileInfo(folder).fileName()),
      axes_(axes), shared_(std::make_shared<Shared>()) {
    connect(&reconnector_, &Reconnector::tryAgain, this, &IioDriver::lookAgain);
}

IioDriver::~IioDriver() {
    buffer_.close();
    {
        std::lock_guard lock(shared_->mutex);
        shared_->stopping = true;
        shared_->jobs.clear();
    }
    shared_->wake.notify_one();
    // The thread holds its own share of the state, so a thread stuck in a read that never
    // returns cannot keep the program from ending.
    if (reader_.joinable())
        reader_.detach();
}

QString IioDriver::description() const {
    return QStringLiteral("iio: %1 (%2)").arg(name_, QFileInfo(folder_).fileName());
}

bool IioDriver::start(QString* error) {
    const QString folder = folder_;
    const std::optional<Loaded> loaded =
        sf::withDeadline<Loaded>([folder] { return load(folder); });
    if (!loaded) {
        *error = QStringLiteral("Sensor %1 is not answering: its files gave nothing within %2 s")
                     .arg(folder)
                     .arg(double(sf::answerDeadline().count()) / 1000.0);
        return false;
    }
    if (!loaded->ok) {
        *error = loaded->error;
        return false;
    }
    name_ = loaded->device.name;
    IioDevice device = loaded->device;
    reader_ = std::thread(&IioDriver::readerLoop, shared_);
    QStringList notices;
    QString why;
    if (device.layout && !buffer_.open(folder_, device.name, *device.layout, &why)) {
        if (!device.hasRawFiles) {
            *error = QStringLiteral("Sensor %1 cannot be read: %2, and it has no files to poll")
                         .arg(description(), why);
            return false;
        }
        notices << QStringLiteral("Sensor %1: %2; reading it by polling instead")
                       .arg(description(), why);
        device.layout.reset();
    }
    if (!device.calibration.scaleKnown)
        notices << QStringLiteral("Sensor %1: scale unknown: calibrated at rest; keep it still "
                                  "for a second")
                       .arg(description());
    // Said once the service holds the driver and passes its messages on.
    for (const QString& notice : notices)
        QMetaObject::invokeMethod(
            this, [this, notice] { emit statusMessage(notice, MessageKind::Notice); },
            Qt::QueuedConnection);
    resume(folder_, device);
    warnOfRejectedMatrices();
    return true;
}

void IioDriver::warnOfRejectedMatrices() {
    for (const MountMatrix::Rejected& rejected : device_.calibration.mount.rejected)
        qWarning("Sensor %s: ignoring the %s mount matrix in %s: %s; using the %s matrix",
                 qPrintable(description()), qPrintable(rejected.origin),
                 qPrintable(rejected.location), qPrintable(rejected.why),
                 qPrintable(device_.calibration.mount.origin));
}

void IioDriver::post(std::function<void(Shared&)> job) {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->jobs.push_back(std::move(job));
    }
    shared_->wake.notify_one();
}

bool IioDriver::runJobs(Shared& s, std::unique_lock<std::mutex>& lock) {
    bool ran = false;
    while (!s.jobs.empty() && !s.stopping) {
        std::function<void(Shared&)> job = std::move(s.jobs.front());
        s.jobs.pop_front();
        lock.unlock();
        job(s);
        lock.lock();
        ran = true;
    }
    return ran;
}

void IioDriver::readerLoop(std::shared_ptr<Shared> shared) {
    Shared& s = *shared;
    std::unique_lock lock(s.mutex);
    for (;;) {
        s.wake.wait(lock, [&] { return s.requested || s.stopping || !s.jobs.empty(); });
        if (s.stopping)
            return;
        if (runJobs(s, lock))
            continue;
        s.requested = false;
        const std::array<QByteArray, 3> paths = s.paths;
        PolledTexts polled;
        polled.generation = s.generation;
        lock.unlock();
        for (size_t axis = 0; axis < 3; ++axis) {
            polled.error = sf::read(paths[axis], &polled.text[axis]);
            if (polled.error != 0) {
                polled.failedPath = paths[axis];
                break;
            }
        }
        lock.lock();
        s.polled = std::move(polled);
        ++s.pollsDone;
    }
}

void IioDriver::setUpdateInterval(double seconds) {
    interval_ = seconds;
    if (running_)
        applySamplingFrequency();
}

void IioDriver::applySamplingFrequency() {
    if (!(interval_ > 0.0))
        return;
    const double wanted = 1.0 / interval_;
    const QString folder = folder_;
    const QString what = description();
    post([folder, wanted, what](Shared&) { IioRates::raise(folder, wanted, what); });
}

IioDriver::Sample IioDriver::takeScan() {
    const IioBuffer::Take take = buffer_.takeNewest();
    Sample sample;
    sample.fresh = take.fresh || take.error != 0;
    sample.counts = take.counts;
    sample.error = take.error;
    if (take.error != 0 && device_.layout)
        sample.failedPath = device_.layout->devnode;
    return sample;
}

IioDriver::Sample IioDriver::takePolled() {
    Sample sample;
    {
        std::lock_guard lock(shared_->mutex);
        if (shared_->pollsDone != pollsSeen_) {
            pollsSeen_ = shared_->pollsDone;
            // A poll of the folder before the device came back is not news.
            if (shared_->polled.generation == shared_->generation) {
                sample.fresh = true;
                sample.texts = shared_->polled.text;
                sample.error = shared_->polled.error;
                sample.failedPath = shared_->polled.failedPath;
            }
        }
        shared_->requested = true;
    }
    shared_->wake.notify_one();
    return sample;
}

bool IioDriver::parseTexts(Sample* sample) {
    if (!sample->texts)
        return true;
    for (size_t axis = 0; axis < 3; ++axis) {
        if (!sf::parseNumber((*sample->texts)[axis], &sample->counts[axis])) {
            if (dropped_++ == 0)
                qWarning("%s: dropped a reading: %s holds '%s'", qPrintable(description()),
                         device_.rawPaths[axis].constData(),
                         (*sample->texts)[axis].trimmed().constData());
            latest_.reset();
            return false;
        }
    }
    return true;
}

std::optional<Acceleration> IioDriver::read(double now) {
    lastNow_ = now;
    if (lookingAgain_)
        takeWhatTheLookFound();
    if (!running_)
        return std::nullopt;
    if (capture_.on)
        return readCaptured(now);
    Sample sample = buffer_.isOpen() ? takeScan() : takePolled();
    if (!sample.fresh)
        return whileQuiet(now);
    if (sample.error != 0) {
        lose(sample.error, sample.failedPath);
        return std::nullopt;
    }
    latestTime_ = now;
    if (reportedStall_)
        emit statusMessage(QStringLiteral("Sensor %1 answers again").arg(name_), MessageKind::Back);
    reportedStall_ = false;
    if (!parseTexts(&sample))
        return std::nullopt;
    return deliver(sample.counts, now);
}

// Between the device's readings the last one holds, as a chip's output register does, until
// the device has said nothing for too long.
std::optional<Acceleration> IioDriver::whileQuiet(double now) {
    if (latestTime_ < 0.0)
        latestTime_ = now; // the first request: the clock of an answer starts now
    if (now - latestTime_ <= kStallSeconds)
        return latest_;
    if (buffer_.isOpen() && latest_) {
        // A sensor hub sends a scan only when a reading moves by more than its hysteresis:
        // a quiet buffer is a device lying still, unless the device has gone.
        latestTime_ = now;
        if (!QFileInfo::exists(folder_)) {
            lose(ENODEV, device_.layout ? device_.layout->devnode : QByteArray());
            return std::nullopt;
        }
        return latest_;
    }
    if (!reportedStall_)
        emit statusMessage(QStringLiteral("Sensor %1 is not answering").arg(name_),
                           MessageKind::Lost);
    reportedStall_ = true;
    return std::nullopt;
}

std::optional<Acceleration> IioDriver::deliver(const std::array<double, 3>& counts, double now) {
    const std::array<double, 3> g = device_.calibration.toG(counts);
    if (!device_.calibration.scaleKnown)
        return scaleAtRest(g, now);
    latest_ = axes_.apply(Acceleration{g[0], g[1], g[2], now});
    return latest_;
}

std::optional<Acceleration> IioDriver::scaleAtRest(const std::array<double, 3>& g, double now) {
    bool moved = false;
    const std::optional<std::array<double, 3>> inG = restScale_.inG(g, now, &moved);
    if (moved)
        emit statusMessage(RestScale::movedMessage(description()), MessageKind::Notice);
    if (!inG)
        return std::nullopt;
    latest_ = axes_.apply(Acceleration{(*inG)[0], (*inG)[1], (*inG)[2], now});
    return latest_;
}

void IioDriver::lose(int error, const QByteArray& failedPath) {
    endCapture();
    running_ = false;
    buffer_.close();
    latest_.reset();
    const QString why =
        error == EACCES || error == EPERM
            ? accessDeniedMessage(QFile::decodeName(failedPath))
            : QStringLiteral("Sensor %1 is gone (%2)").arg(description(), sf::errorText(error));
    emit statusMessage(why + QStringLiteral("; waiting for it to come back"), MessageKind::Lost);
    reconnector_.start();
}

void IioDriver::lookAgain() {
    if (lookingAgain_ || running_)
        return;
    lookingAgain_ = true;
    // A device that comes back may get another number; its name stays.
    const QString folder = folder_;
    const QString name = name_;
    post([folder, name](Shared& shared) {
        QStringList candidates{folder};
        for (const UdevDevice& device : udevdevices::enumerate("iio"))
            if (device.syspath != folder && device.name == name)
                candidates << device.syspath;
        std::optional<std::pair<QString, IioDevice>> found;
        for (const QString& candidate : candidates) {
            if (!(iiofiles::hasRawAxes(candidate) || iiofiles::hasScanAxes(candidate)) ||
                iiofiles::deviceName(candidate) != name)
                continue;
            Loaded loaded = load(candidate);
            if (loaded.ok) {
                found.emplace(candidate, loaded.device);
                break;
            }
        }
        std::lock_guard lock(shared.mutex);
        shared.found = std::move(found);
        shared.lookFinished = true;
    });
}

void IioDriver::takeWhatTheLookFound() {
    std::optional<std::pair<QString, IioDevice>> found;
    {
        std::lock_guard lock(shared_->mutex);
        if (!shared_->lookFinished)
            return;
        shared_->lookFinished = false;
        found = std::move(shared_->found);
        shared_->found.reset();
    }
    lookingAgain_ = false;
    if (!found)
        return;
    reconnector_.stop();
    folder_ = found->first;
    IioDevice device = found->second;
    QString why;
    if (!device_.layout || !device.layout) {
        device.layout.reset(); // the polling reader goes on
    } else if (!buffer_.open(folder_, device.name, *device.layout, &why)) {
        // The old buffer went with the device.
        emit statusMessage(
            QStringLiteral("Sensor %1: %2; reading it by polling instead").arg(description(), why),
            MessageKind::Notice);
        device.layout.reset();
    }
    resume(found->first, device);
    emit statusMessage(QStringLiteral("Sensor %1 is back").arg(description()), MessageKind::Back);
}

void IioDriver::resume(const QString& folder, const IioDevice& device) {
    folder_ = folder;
    device_ = device;
    {
        std::lock_guard lock(shared_->mutex);
        shared_->paths = device.rawPaths;
        ++shared_->generation; // a poll of the old folder may still be in flight
        pollsSeen_ = shared_->pollsDone;
    }
    running_ = true;
    reportedStall_ = false;
    latestTime_ = -1.0;
    applySamplingFrequency();
}

} // namespace sensors
