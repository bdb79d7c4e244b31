#include "sensors/IioRates.h"

#include "sensors/IioDevice.h"
#include "sensors/SensorFiles.h"

#include <QFileInfo>
#include <QStringList>
#include <QtDebug>
#include <algorithm>
#include <cmath>

namespace sensors {

namespace sf = sensorfiles;
using iiofiles::pathIn;

namespace {

// Rates such as 1/120 s come back as 119.99999.
constexpr double kRateTolerance = 1e-6;

} // namespace

IioRates IioRates::read(const QString& folder) {
    QByteArray text, path;
    IioRates rates;
    if (iiofiles::readFirst(
            folder, {"sampling_frequency_available", "in_accel_sampling_frequency_available"},
            &text, &path) != 0)
        return rates;
    const QByteArray words = text.simplified();
    if (words.startsWith('[') && words.endsWith(']')) {
        const QList<QByteArray> parts = words.mid(1, words.size() - 2).simplified().split(' ');
        if (parts.size() == 3 && sf::parseNumber(parts[0], &rates.min) &&
            sf::parseNumber(parts[1], &rates.step) && sf::parseNumber(parts[2], &rates.max) &&
            rates.min > 0 && rates.max >= rates.min)
            rates.range = true;
        return rates;
    }
    for (const QByteArray& word : words.split(' ')) {
        double rate = 0.0;
        if (sf::parseNumber(word, &rate) && rate > 0.0)
            rates.list.push_back(rate);
    }
    std::sort(rates.list.begin(), rates.list.end());
    return rates;
}

double IioRates::choose(double wanted) const {
    const double tolerant = wanted * (1.0 - kRateTolerance);
    if (range) {
        if (tolerant <= min)
            return min;
        if (tolerant >= max || !(step > 0))
            return max;
        return std::min(max, min + std::ceil((tolerant - min) / step) * step);
    }
    const auto atLeast =
        std::find_if(list.begin(), list.end(), [&](double rate) { return rate >= tolerant; });
    return atLeast != list.end() ? *atLeast : list.back();
}

QByteArray IioRates::frequencyPath(const QString& folder) {
    for (const char* file : {"sampling_frequency", "in_accel_sampling_frequency"}) {
        const QByteArray path = pathIn(folder, file);
        if (QFileInfo::exists(QFile::decodeName(path)))
            return path;
    }
    return {};
}

// IIO parses a rate as a decimal with at most six places and rejects some longer ones; a rate
// cut to micro-hertz is never faster than the one chosen from the chip's own list.
QByteArray IioRates::text(double rate) {
    const double micro = std::floor(rate * 1e6 + 1e-3);
    QByteArray text = QByteArray::number(micro / 1e6, 'f', 6);
    while (text.endsWith('0'))
        text.chop(1);
    if (text.endsWith('.'))
        text.chop(1);
    return text;
}

QString IioRates::describe(const QString& folder) {
    const IioRates rates = read(folder);
    auto number = [](double rate) { return QString::number(rate, 'g', 6); };
    if (rates.range)
        return QStringLiteral("%1 to %2 Hz in steps of %3")
            .arg(number(rates.min), number(rates.max), number(rates.step));
    QStringList words;
    for (double rate : rates.list)
        words << number(rate);
    if (!words.isEmpty())
        return words.join(QLatin1Char(' ')) + QStringLiteral(" Hz");
    QByteArray text;
    double rate = 0.0;
    const QByteArray path = frequencyPath(folder);
    if (!path.isEmpty() && sf::read(path, &text) == 0 && sf::parseNumber(text, &rate))
        return QStringLiteral("%1 Hz").arg(number(rate));
    return QStringLiteral("any (polled)");
}

std::mutex& IioRates::changeLock() {
    static std::mutex lock;
    return lock;
}

void IioRates::raise(const QString& folder, double wanted, const QString& deviceDescription) {
    const std::lock_guard changing(changeLock());
    const QByteArray path = frequencyPath(folder);
    QByteArray current;
    double rate = 0.0;
    if (path.isEmpty() || sf::read(path, &current) != 0 || !sf::parseNumber(current, &rate))
        return;
    if (rate >= wanted * (1.0 - kRateTolerance))
        return;
    const IioRates rates = read(folder);
    if (rates.empty())
        return;
    const double choice = rates.choose(wanted);
    if (choice <= rate)
        return;
    if (const int status = sf::write(path, text(choice)); status != 0)
        qInfo("%s: cannot raise %s to %g Hz (%s); readings repeat between the chip's samples",
              qPrintable(deviceDescription), path.constData(), choice,
              qPrintable(sf::errorText(status)));
}

} // namespace sensors
