#pragma once

#include <QByteArray>
#include <QString>
#include <mutex>
#include <vector>

namespace sensors {

// The sampling rates an IIO device offers, from sampling_frequency_available: a list
// ("12.5 25 50") or, in the kernel's range form, "[min step max]".
struct IioRates {
    std::vector<double> list; // ascending
    bool range = false;
    double min = 0, step = 0, max = 0;

    static IioRates read(const QString& folder);
    bool empty() const { return !range && list.empty(); }
    // The slowest rate at or above `wanted` (a part in a million of rounding is not slower),
    // else the fastest.
    double choose(double wanted) const;

    // The rates as the user would write them: "12.5 25 50 Hz", "12.5 to 400 Hz in steps of
    // 0.001", the current rate, or "any (polled)".
    static QString describe(const QString& folder);
    // The device's writable rate file; empty when it has none.
    static QByteArray frequencyPath(const QString& folder);
    // The text that sets `rate`: at most six decimals, cut, never rounded up.
    static QByteArray text(double rate);
    // Raises the device's rate to the slowest it offers at or above `wanted` Hz, where it runs
    // slower; never lowers it. Reads and writes sysfs: call it off the main thread.
    static void raise(const QString& folder, double wanted, const QString& deviceDescription);
    // Held by whoever reads, decides and writes a chip's rate (the live rate's raise on the
    // reader thread, a capture's setup on another), so that one change cannot land in the
    // middle of the other and leave the chip at a rate nobody chose.
    static std::mutex& changeLock();
};

} // namespace sensors
