#include "sensors/IioDriver.h"
#include "sensors/IioRates.h"
#include "sensors/SampleRates.h"

#include <algorithm>
#include <cmath>

// Recording at the chip's own rate: every scan of the buffer into the capture's sink, read a
// watermark at a time, while the live readings get the mean of each of their intervals.
namespace sensors {

namespace sf = sensorfiles;

namespace {

// Above the fastest live rate a chip is worth capturing from.
constexpr double kLiveRateTop = kSampleRates.back().perSecond;
// Seconds of scans the kernel keeps while capturing: room for the event loop to be held up.
constexpr double kCaptureSeconds = 4.0;

double fastestOf(const IioRates& rates) {
    if (rates.range)
        return rates.max;
    return rates.list.empty() ? 0.0 : rates.list.back();
}

} // namespace

double IioDriver::highestCaptureRate() const {
    if (!running_ || !buffer_.isOpen() || !device_.calibration.scaleKnown ||
        device_.ratePath.isEmpty())
        return 0.0;
    const double fastest = fastestOf(device_.rates);
    return fastest > kLiveRateTop ? fastest : 0.0;
}

QString IioDriver::whyNoCapture() const {
    if (!running_)
        return QStringLiteral("it is not being read");
    if (!buffer_.isOpen())
        return QStringLiteral("it is read by polling its files, without a buffer that keeps "
                              "every sample");
    if (!device_.calibration.scaleKnown)
        return QStringLiteral("its scale is unknown");
    if (device_.ratePath.isEmpty() || device_.rates.empty())
        return QStringLiteral("its sampling rate cannot be raised");
    return QStringLiteral("its fastest rate, %1 Hz, is no faster than the live rate")
        .arg(fastestOf(device_.rates), 0, 'g', 6);
}

bool IioDriver::startCapture(double wanted, double now, CaptureSink sink, double* rate,
                             QString* why) {
    if (capture_.on)
        stopCapture();
    if (highestCaptureRate() <= 0.0) {
        *why = whyNoCapture();
        return false;
    }
    const double chosen = wanted > 0.0 ? device_.rates.choose(wanted) : highestCaptureRate();
    const double live = interval_ > 0.0 ? interval_ : kSampleRates.front().interval;
    IioBuffer::Setup setup;
    // About two gatherings per live interval: the live view keeps its pace while the chip
    // interrupts once per watermark, not once per sample.
    setup.watermark = std::max(1, static_cast<int>(std::floor(chosen * live / 2.0)));
    setup.length = std::clamp(static_cast<int>(std::ceil(chosen * kCaptureSeconds)),
                              4 * setup.watermark, 1 << 18);
    setup.ratePath = device_.ratePath;
    setup.rateText = IioRates::text(chosen);
    IioBuffer::Applied applied;
    if (!buffer_.reconfigure(setup, &applied, why)) {
        // Back to what it was, so that the live readings go on.
        IioBuffer::Setup back;
        back.ratePath = applied.rateBefore.isEmpty() ? QByteArray() : device_.ratePath;
        back.rateText = applied.rateBefore;
        IioBuffer::Applied ignored;
        QString again;
        buffer_.reconfigure(back, &ignored, &again);
        return false;
    }
    capture_ = Capture();
    capture_.on = true;
    capture_.sink = std::move(sink);
    capture_.rate = applied.rate > 0.0 ? applied.rate : chosen;
    capture_.rateBefore = applied.rateBefore;
    capture_.startedAt = now;
    *rate = capture_.rate;
    return true;
}

void IioDriver::stopCapture() {
    if (!capture_.on)
        return;
    // What the kernel and the chip hold still belongs to the recording.
    readCaptured(lastNow_, true);
    const Capture ended = capture_;
    endCapture();
    if (ended.lost > 0)
        emit statusMessage(QStringLiteral("Sensor %1: %2 of %3 samples at %4 Hz were lost while "
                                          "recording (the program fell behind the chip)")
                               .arg(description())
                               .arg(ended.lost)
                               .arg(ended.count + ended.lost)
                               .arg(ended.rate, 0, 'g', 6),
                           MessageKind::Notice);
}

void IioDriver::endCapture() {
    if (!capture_.on)
        return;
    const QByteArray rateBefore = capture_.rateBefore;
    capture_ = Capture();
    scans_.clear();
    if (!buffer_.isOpen())
        return;
    IioBuffer::Setup back;
    back.ratePath = rateBefore.isEmpty() ? QByteArray() : device_.ratePath;
    back.rateText = rateBefore;
    IioBuffer::Applied applied;
    QString why;
    if (!buffer_.reconfigure(back, &applied, &why))
        qWarning("%s: after recording at its own rate: %s", qPrintable(description()),
                 qPrintable(why));
    applySamplingFrequency();
}

std::optional<Acceleration> IioDriver::readCaptured(double now, bool drain) {
    scans_.clear();
    if (const int error = buffer_.takeAll(&scans_, drain); error != 0) {
        lose(error, device_.layout ? device_.layout->devnode : QByteArray());
        return std::nullopt;
    }
    if (scans_.empty())
        return whileQuiet(now);
    Capture& c = capture_;
    const double period = 1.0 / c.rate;
    if (!c.anchored) {
        // The first scans came in since the last look: placed just before it, never before the
        // capture began.
        c.anchored = true;
        c.origin = std::max(c.startedAt, now - static_cast<double>(scans_.size() - 1) * period);
        c.firstTime = scans_.front().time;
        c.lastTime = c.firstTime - static_cast<std::int64_t>(std::llround(period * 1e9));
    }
    std::array<double, 3> sum{};
    for (const IioBuffer::Scan& scan : scans_) {
        double at = c.origin + static_cast<double>(c.count) * period;
        if (scan.time != 0) {
            // The kernel's clock says where a scan is missing.
            const double gap = static_cast<double>(scan.time - c.lastTime) * 1e-9;
            if (gap > 1.5 * period)
                c.lost += std::llround(gap / period) - 1;
            c.lastTime = scan.time;
            at = c.origin + static_cast<double>(scan.time - c.firstTime) * 1e-9;
        }
        ++c.count;
        const std::array<double, 3> g = device_.calibration.toG(scan.counts);
        const Acceleration reading = axes_.apply(Acceleration{g[0], g[1], g[2], at});
        sum[0] += reading.x;
        sum[1] += reading.y;
        sum[2] += reading.z;
        if (c.sink)
            c.sink(reading);
    }
    if (c.lost > 0 && !c.lossSaid) {
        c.lossSaid = true;
        emit statusMessage(QStringLiteral("Sensor %1: samples lost while recording at %2 Hz "
                                          "(the program fell behind the chip)")
                               .arg(description())
                               .arg(c.rate, 0, 'g', 6),
                           MessageKind::Notice);
    }
    latestTime_ = now;
    if (reportedStall_)
        emit statusMessage(QStringLiteral("Sensor %1 answers again").arg(name_), MessageKind::Back);
    reportedStall_ = false;
    const double n = static_cast<double>(scans_.size());
    latest_ = Acceleration{sum[0] / n, sum[1] / n, sum[2] / n, now};
    return latest_;
}

} // namespace sensors
