#include "sensors/AxisMap.h"

#include <QStringList>

namespace platform {

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

QString AxisMap::toString() const {
    QStringList parts;
    for (const Term& term : terms_)
        parts << (term.sign < 0 ? QStringLiteral("-") : QString()) + QLatin1Char("xyz"[term.axis]);
    return parts.join(QLatin1Char(','));
}

} // namespace platform
