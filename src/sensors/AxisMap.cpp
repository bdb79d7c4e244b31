#include "sensors/AxisMap.h"

#include <QStringList>
#include <cmath>
#include <utility>

namespace sensors {

std::optional<AxisMap> AxisMap::parse(const QString& text, QString* error) {
    const QString compact = text.simplified().remove(QLatin1Char(' ')).toLower();
    const QStringList parts = compact.split(QLatin1Char(','));
    auto fail = [&](const QString& why) {
        *error = QStringLiteral("Unusable axis map '%1': %2 (write three of x, y, z, each once, "
                                "with an optional minus sign, e.g. x,y,-z)")
                     .arg(text, why);
        return std::nullopt;
    };
    if (parts.size() != 3)
        return fail(QStringLiteral("it needs three terms"));

    AxisMap map;
    bool used[3] = {false, false, false};
    for (int i = 0; i < 3; ++i) {
        QString term = parts[i];
        double sign = 1.0;
        if (term.startsWith(QLatin1Char('-')) || term.startsWith(QLatin1Char('+'))) {
            sign = term.startsWith(QLatin1Char('-')) ? -1.0 : 1.0;
            term.remove(0, 1);
        }
        const int axis = term == QLatin1String("x")   ? 0
                         : term == QLatin1String("y") ? 1
                         : term == QLatin1String("z") ? 2
                                                      : -1;
        if (axis < 0)
            return fail(QStringLiteral("'%1' is not an axis").arg(parts[i]));
        if (used[axis])
            return fail(QStringLiteral("%1 is used twice").arg(term));
        used[axis] = true;
        map.terms_[static_cast<size_t>(i)] = Term{axis, sign};
    }
    return map;
}

Acceleration AxisMap::apply(const Acceleration& reading) const {
    const double in[3] = {reading.x, reading.y, reading.z};
    auto out = [&](const Term& term) { return term.sign * in[term.axis]; };
    return Acceleration{out(terms_[0]), out(terms_[1]), out(terms_[2]), reading.timestamp};
}

AxisMap AxisMap::then(const AxisMap& outer) const {
    AxisMap result;
    for (size_t i = 0; i < 3; ++i) {
        const Term& o = outer.terms_[i];
        const Term& inner = terms_[static_cast<size_t>(o.axis)];
        result.terms_[i] = Term{inner.axis, o.sign * inner.sign};
    }
    return result;
}

int AxisMap::handedness() const {
    // The determinant of a signed permutation: the permutation's parity times the signs.
    const int a = terms_[0].axis, b = terms_[1].axis, c = terms_[2].axis;
    const int parity = (a - b) * (b - c) * (c - a) > 0 ? 1 : -1;
    return parity * static_cast<int>(terms_[0].sign * terms_[1].sign * terms_[2].sign);
}

namespace {

// Where a device held still in one pose feels gravity: the axis that carries it and its sign.
// A pose counts when about 1 g lies along one axis and little along the others; anything else
// means the device moved or was held askew.
std::optional<std::pair<int, double>> gravityAxis(const Acceleration& mean) {
    const double v[3] = {mean.x, mean.y, mean.z};
    int axis = 0;
    for (int i = 1; i < 3; ++i)
        if (std::abs(v[i]) > std::abs(v[axis]))
            axis = i;
    const double magnitude = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (!(magnitude > 0.7 && magnitude < 1.3) || std::abs(v[axis]) < 0.8 * magnitude)
        return std::nullopt;
    return std::pair{axis, v[axis] < 0 ? -1.0 : 1.0};
}

} // namespace

std::optional<AxisMap> AxisMap::fromPoses(const Acceleration& faceUp, const Acceleration& upright,
                                          QString* error) {
    const auto down = gravityAxis(faceUp);
    if (!down) {
        *error = QStringLiteral("Lying face up, the device did not feel gravity along one axis: "
                                "lay it flat on a table, screen up, and keep it still");
        return std::nullopt;
    }
    const auto portrait = gravityAxis(upright);
    if (!portrait) {
        *error = QStringLiteral("Held upright, the device did not feel gravity along one axis: "
                                "hold it straight up in portrait, screen towards you, and still");
        return std::nullopt;
    }
    if (portrait->first == down->first) {
        *error = QStringLiteral("Both poses felt gravity along the same axis: lay the device "
                                "face up first, then stand it upright in portrait");
        return std::nullopt;
    }
    // Z must read -1 face up and Y -1 upright; X takes the axis left over.
    AxisMap map;
    map.terms_[2] = Term{down->first, -down->second};
    map.terms_[1] = Term{portrait->first, -portrait->second};
    map.terms_[0] = Term{3 - down->first - portrait->first, 1.0};
    if (map.handedness() < 0)
        map.terms_[0].sign = -1.0;
    return map;
}

QString AxisMap::toString() const {
    QStringList parts;
    for (const Term& term : terms_)
        parts << (term.sign < 0 ? QStringLiteral("-") : QString()) + QLatin1Char("xyz"[term.axis]);
    return parts.join(QLatin1Char(','));
}

} // namespace sensors
