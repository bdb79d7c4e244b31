#include "sensors/MountMatrix.h"

#include <cmath>

namespace sensors {

std::optional<Matrix3> MountMatrix::parse(const QByteArray& text, QString* why) {
    const QList<QByteArray> rows = text.trimmed().split(';');
    Matrix3 matrix{};
    bool numbers = rows.size() == 3;
    for (int r = 0; numbers && r < 3; ++r) {
        const QList<QByteArray> cells = rows[r].split(',');
        numbers = cells.size() == 3;
        for (int c = 0; numbers && c < 3; ++c) {
            bool ok = false;
            matrix[r][c] = cells[c].trimmed().toDouble(&ok);
            numbers = ok && std::isfinite(matrix[r][c]);
        }
    }
    if (!numbers) {
        *why = QStringLiteral("it is not nine numbers written "
                              "\"m00, m01, m02; m10, m11, m12; m20, m21, m22\"");
        return std::nullopt;
    }
    for (int r = 0; r < 3; ++r) {
        if (matrix[r][0] == 0.0 && matrix[r][1] == 0.0 && matrix[r][2] == 0.0) {
            *why = QStringLiteral("its %1 row is all zeros").arg(QLatin1Char("XYZ"[r]));
            return std::nullopt;
        }
    }
    return matrix;
}

MountMatrix MountMatrix::choose(const std::vector<MountMatrixOffer>& offers) {
    MountMatrix chosen;
    for (const MountMatrixOffer& offer : offers) {
        QString why = offer.problem;
        if (!why.isEmpty()) {
            chosen.rejected.push_back({offer.origin, offer.location, why});
            continue;
        }
        if (const std::optional<Matrix3> rows = parse(offer.text, &why)) {
            chosen.rows = *rows;
            chosen.origin = offer.origin;
            return chosen;
        }
        chosen.rejected.push_back({offer.origin, offer.location, why});
    }
    return chosen;
}

QString MountMatrix::text(const Matrix3& m) {
    QStringList rows;
    for (const auto& row : m)
        // Adding 0 turns -0 into 0, which reads the same to the user.
        rows << QStringLiteral("%1, %2, %3").arg(row[0] + 0.0).arg(row[1] + 0.0).arg(row[2] + 0.0);
    return rows.join(QStringLiteral("; "));
}

Matrix3 MountMatrix::frame(bool reportsGravity) const {
    // The map is plus or minus a rotation, and a rotation's third row is the cross product of
    // its first two; the hwdb's third row is tested by nothing, so it is not trusted.
    const double sign = reportsGravity ? 1.0 : -1.0;
    const auto& a = rows[0];
    const auto& b = rows[1];
    return Matrix3{{a,
                    b,
                    {sign * (a[1] * b[2] - a[2] * b[1]), sign * (a[2] * b[0] - a[0] * b[2]),
                     sign * (a[0] * b[1] - a[1] * b[0])}}};
}

} // namespace sensors
