// Any bytes given to the recording parser: it never crashes, and either refuses with a line
// and an expectation or returns rows that can be played: finite, plausible (within ±1000 g),
// starting at 0, in time order, no step longer than an hour.

#include "FuzzTarget.h"
#include "sensors/RecordingFile.h"

#include <cmath>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    sensors::RecordingFault fault;
    const sensors::Recording recording = sensors::parseRecording(
        std::string_view(reinterpret_cast<const char*>(data), size), &fault);
    if (recording.rows.empty()) {
        if (fault.line < 1 || fault.expected.isEmpty())
            std::abort();
        return 0;
    }
    if (recording.rows.front().timestamp != 0.0)
        std::abort();
    double previous = 0.0;
    for (const sensors::Acceleration& row : recording.rows) {
        if (!std::isfinite(row.x) || !std::isfinite(row.y) || !std::isfinite(row.z) ||
            !std::isfinite(row.timestamp) || row.timestamp < previous)
            std::abort();
        if (std::abs(row.x) > sensors::kMostPlausibleG ||
            std::abs(row.y) > sensors::kMostPlausibleG ||
            std::abs(row.z) > sensors::kMostPlausibleG ||
            row.timestamp - previous > sensors::kLongestTimeStep + 1e-6)
            std::abort();
        previous = row.timestamp;
    }
    return 0;
}
