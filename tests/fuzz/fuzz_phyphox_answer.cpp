// Any bytes as an answer from the phone: the parser never crashes, says why it refuses, and
// hands out only finite readings.

#include "FuzzTarget.h"
#include "sensors/PhyphoxDriver.h"

#include <cmath>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QString error;
    const auto answer = platform::parsePhyphoxAnswer(
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size)), &error);
    if (!answer) {
        if (error.isEmpty())
            std::abort();
        return 0;
    }
    for (const platform::Acceleration& reading : answer->readings) {
        if (!std::isfinite(reading.x) || !std::isfinite(reading.y) || !std::isfinite(reading.z) ||
            !std::isfinite(reading.timestamp))
            std::abort();
    }
    return 0;
}
