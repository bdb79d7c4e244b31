#pragma once

#include <QHash>
#include <QImage>
#include <QObject>

class QLabel;

namespace screens {

// Paints image views (the skins) pixel for pixel at any window scale. Through the scaled window
// a view's picture would be resampled on every frame the view is repainted under the graph, a
// cost that grows with the window; here it is scaled once to the device pixels it covers and
// then copied. Views under a turn (the gauges in a fixed orientation) paint as before.
class AlignedImages : public QObject {
public:
    using QObject::QObject;

    // Takes over painting `view`, which shows a picture filling it (or nothing).
    void watch(QLabel* view);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    static void keepOpaqueIfCovered(QLabel* view, bool covered);

    struct Scaled {
        qint64 source = 0;
        QImage image;
    };
    QHash<const QLabel*, Scaled> scaled_;
};

} // namespace screens
