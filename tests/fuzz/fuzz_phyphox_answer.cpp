// Any bytes as an answer from the phone, to `/get` or to `/config`: the parsers never crash,
// say why they refuse, and hand out only finite readings.

#include "FuzzTarget.h"
#include "sensors/PhyphoxDriver.h"

#include <cmath>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray body =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    QString error;
    if (!sensors::parsePhyphoxConfig(body, &error) && error.isEmpty())
        std::abort();
    error.clear();
    const auto answer = sensors::parsePhyphoxAnswer(body, &error);
    if (!answer) {
        if (error.isEmpty())
            std::abort();
        return 0;
    }
    for (const sensors::Acceleration& reading : answer->readings) {
        if (!std::isfinite(reading.x) || !std::isfinite(reading.y) || !std::isfinite(reading.z) ||
            !std::isfinite(reading.timestamp))
            std::abort();
    }
    return 0;
}
