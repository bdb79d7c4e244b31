#include "DesktopBed.h"

#include <QColor>
#include <QFile>
#include <QTest>
#include <QTransform>
#include <functional>

// The program in a real X server with a window manager, driven by real clicks, keys and window
// resizes, judged by pictures read back from the server: what a user sees, not what the
// widgets believe they drew.
class DesktopTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void screens_data();
    void screens();

private:
    QString recording_;
    QTemporaryDir folder_;
};

namespace {

// The interface is laid out in points for a 320 x 480 phone, the gauges for 480 x 320.
const QSizeF kPortrait(320, 480);
const QSizeF kLandscape(480, 320);

// Where a user taps, in points of the portrait layout or of the gauges' screen.
const QPointF kToolbarRecording(116, 457), kToolbarMeters(194, 457), kToolbarSettings(263, 457);
const QPointF kAbout(45, 42), kMetersDone(430, 298), kXAxisLabel(90, 182), kStart(41, 457);
// Inside the recording log's frame and padding, left of its scroll bar.
const QRectF kLogText(14, 138, 284, 262);
// Where a control shows its colour: beside its words, off a switch's knob.
const QPointF kTopRightDoneColour(247, 42), kMetersDoneColour(397, 298);
const QPointF kStartColour(13, 457), kXAxisSwitchColour(250, 182);
// The middle of the X axis switch's top edge, where its focus ring runs.
const QPointF kXAxisSwitchEdge(266.5, 168);
// The gauges' pivots, X, Y, Z, and the needle's length (app/GaugeLayout.h).
const QPointF kPivots[3] = {{241, 104}, {94, 194}, {386, 194}};
constexpr double kNeedle = 50.0;

bool isBlue(QColor c) {
    return c.blue() > 150 && c.blue() > c.red() + 80;
}
bool isGreen(QColor c) {
    return c.green() > 110 && c.green() > c.red() + 40 && c.green() > c.blue() + 30;
}
bool isRed(QColor c) {
    return c.red() > 180 && c.green() < 90 && c.blue() < 90;
}
bool isGrey(QColor c) {
    return c.lightness() > 60 && c.lightness() < 230 && c.hslSaturation() < 40;
}
// The focus ring's light blue, #9cc2ff.
bool isFocusRing(QColor c) {
    return c.blue() > 200 && c.red() > 110 && c.red() < c.blue() - 40;
}

// The window's inside, as the program scales its layout into it: the layout of `size` points,
// as large as fits, centred.
QTransform layoutToScreen(QRect window, QSizeF size) {
    const double scale = std::min(window.width() / size.width(), window.height() / size.height());
    return QTransform()
        .translate(window.x() + (window.width() - size.width() * scale) / 2.0,
                   window.y() + (window.height() - size.height() * scale) / 2.0)
        .scale(scale, scale);
}

// The gauges' screen turned into a portrait window: a quarter turn anticlockwise, shrunk into
// the room below the 20-point status bar.
QTransform metersInPortrait() {
    const double room = 480.0 - 20.0;
    return QTransform()
        .translate(160.0, 20.0 + room / 2.0)
        .rotate(270)
        .scale(room / 480.0, room / 480.0)
        .translate(-240, -160);
}

// The brightest pixel near `point`, `radius` pixels around.
QColor brightestNear(const QImage& picture, QPointF point, int radius) {
    QColor best(Qt::black);
    for (int dy = -radius; dy <= radius; ++dy)
        for (int dx = -radius; dx <= radius; ++dx) {
            const QPoint p = point.toPoint() + QPoint(dx, dy);
            if (picture.rect().contains(p) && picture.pixelColor(p).lightness() > best.lightness())
                best = picture.pixelColor(p);
        }
    return best;
}

struct Scene {
    const QImage& picture;
    QRect window;
    QTransform layout;
    double pointsToPixels;

    QColor at(QPointF point) const { return picture.pixelColor(layout.map(point).toPoint()); }
    // Whether a white needle runs from `pivot` towards `tip` (both in points).
    bool needleAlong(QPointF pivot, QPointF tip) const {
        int white = 0;
        for (const double along : {0.35, 0.55, 0.75}) {
            const QColor c = brightestNear(picture, layout.map(pivot + (tip - pivot) * along),
                                           std::max(1, int(pointsToPixels)));
            white += std::min({c.red(), c.green(), c.blue()}) > 150;
        }
        return white == 3;
    }
};

using Check = std::function<QString(const Scene&)>;

// A run of pixels, first to last.
struct Span {
    int first, last;
    int length() const { return last - first + 1; }
};

// Runs of indices from `from` to `to` where `ink(i)` holds; up to `gap` indices without it are
// taken into a run.
std::vector<Span> inkRuns(int from, int to, int gap, const std::function<bool(int)>& ink) {
    std::vector<Span> runs;
    for (int i = from; i <= to; ++i) {
        if (!ink(i))
            continue;
        if (!runs.empty() && i - runs.back().last - 1 <= gap)
            runs.back().last = i;
        else
            runs.push_back({i, i});
    }
    return runs;
}

// Reads the recording log's lines of text from the picture: a sample line shows as three runs
// of ink (X, Y, Z), whole inside the log, its last glyph a zero at least `smallest` pixels
// high and, from 11 pixels up, not to be taken for an eight.
QString checkLog(const Scene& s, int smallest) {
    const QRect area = s.layout.mapRect(kLogText).toRect();
    auto lit = [&](int x, int y) { return s.picture.pixelColor(x, y).lightness() > 120; };
    const auto lines = inkRuns(area.top(), area.bottom(), 0, [&](int y) {
        for (int x = area.left(); x <= area.right(); ++x)
            if (lit(x, y))
                return true;
        return false;
    });
    for (const Span& line : lines) {
        auto inked = [&](int x) {
            for (int y = line.first; y <= line.last; ++y)
                if (lit(x, y))
                    return true;
            return false;
        };
        // Values stand further apart than the blank after a value's colon.
        const auto values = inkRuns(area.left(), area.right(), line.length() * 13 / 10, inked);
        if (values.size() != 3)
            continue;
        const Span z = values.back();
        // "[Z]: +0.00" as wide as "[X]: +1.00", not cut at the log's edge.
        if (z.last >= area.right() - 1 || z.length() < values.front().length() * 9 / 10)
            return QStringLiteral("the Z value cut short");
        // The last glyph, a tenth of "[Z]: +0.00".
        const Span glyph{z.last - z.length() * 7 / 100, z.last};
        const auto rows = inkRuns(line.first, line.last, 0, [&](int y) {
            for (int x = glyph.first; x <= glyph.last; ++x)
                if (lit(x, y))
                    return true;
            return false;
        });
        if (rows.empty())
            return QStringLiteral("no last glyph");
        const int height = rows.back().last - rows.front().first + 1;
        if (height < smallest)
            return QStringLiteral("glyphs %1 pixels high").arg(height);
        // Across its middle, a zero (DejaVu Sans Mono's has a dot) shows both sides apart; an
        // eight, or a blur, shows its waist alone.
        const int middle = (rows.front().first + rows.back().last) / 2;
        if (smallest >= 11 && inkRuns(z.last - z.length() / 8, z.last, 0, [&](int x) {
                                  return lit(x, middle);
                              }).size() < 2)
            return QStringLiteral("a zero drawn like an eight");
        return QString();
    }
    return QStringLiteral("no line of three values in the log");
}

QString expect(bool ok, const char* what) {
    return ok ? QString() : QString::fromLatin1(what);
}

// What must be seen of each screen, and where.
Check checkFor(const QString& screen, bool fixedOrientation) {
    if (screen == u"graph")
        return [](const Scene& s) {
            return expect(isGrey(s.at(kToolbarSettings)), "the toolbar's Settings button");
        };
    if (screen == u"settings")
        return [](const Scene& s) {
            return expect(isBlue(s.at(kTopRightDoneColour)), "the Done button") +
                   expect(isGreen(s.at(kXAxisSwitchColour)), "the X axis switch, on");
        };
    if (screen == u"info")
        return [](const Scene& s) { return expect(isBlue(s.at(kTopRightDoneColour)), "Done"); };
    if (screen == u"recording")
        return [](const Scene& s) {
            return expect(isBlue(s.at(kTopRightDoneColour)), "the Done button") +
                   expect(isGreen(s.at(kStartColour)), "the Start button");
        };
    return [fixedOrientation](const Scene& s) {
        const QTransform meters = fixedOrientation ? metersInPortrait() : QTransform();
        const Scene gauges{s.picture, s.window, meters * s.layout, s.pointsToPixels};
        QString missing = expect(isBlue(gauges.at(kMetersDoneColour)), "the Done button ");
        for (const QPointF& pivot : kPivots)
            missing += expect(isRed(gauges.at(pivot)), "a gauge's pivot cap ");
        // A reading of X = +1 g turns the needle 30 degrees clockwise, to the dial's +1.
        const QPointF up(0, -kNeedle * 0.866), right(kNeedle * 0.5, 0);
        missing +=
            expect(gauges.needleAlong(kPivots[0], kPivots[0] + up + right), "the X needle at +1 ");
        missing +=
            expect(!gauges.needleAlong(kPivots[0], kPivots[0] + up - right), "no X needle at -1 ");
        return missing;
    };
}

} // namespace

void DesktopTest::initTestCase() {
    // Constant readings of X = +1 g, over and over.
    recording_ = folder_.filePath(QStringLiteral("plus-one-x.csv"));
    QFile file(recording_);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("time,x,y,z\n");
    for (int i = 0; i < 600; ++i)
        file.write(QByteArray::number(i * 0.05, 'f', 2) + ",1,0,0\n");
}

void DesktopTest::screens_data() {
    QTest::addColumn<QSize>("screen");
    QTest::addColumn<double>("scale");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("shown");

    const QSize big(1920, 1080), laptop(1366, 768);
    const QStringList none, fixed{"--fixed-orientation"};
    // The first window: the phone screen at the largest whole scale that fits with its frame.
    QTest::newRow("graph") << big << 1.0 << none << QStringList() << "graph 640x960";
    QTest::newRow("graph, laptop at 2x") << laptop << 2.0 << none << QStringList() << "graph";
    // A first start has every axis off; the words beside a switch flip it.
    QTest::newRow("settings at 2x, a label clicked")
        << big << 2.0 << none << QStringList{"settings", "x axis label"} << "settings";
    QTest::newRow("info, tall window")
        << laptop << 1.0 << none << QStringList{"size 400 700", "settings", "about"} << "info";
    QTest::newRow("recording, wide window")
        << big << 1.0 << none << QStringList{"size 1200 700", "recording"} << "recording";
    // The log at the first window: digits at least 11 pixels high; X, Y and Z of a line
    // together and whole at any size.
    QTest::newRow("log") << big << 1.0 << none << QStringList{"recording", "start"} << "log 11";
    QTest::newRow("log at 2x, laptop")
        << laptop << 2.0 << none << QStringList{"recording", "start"} << "log 11";
    QTest::newRow("log, laptop") << laptop << 1.0 << none << QStringList{"recording", "start"}
                                 << "log 8";
    QTest::newRow("log, small window")
        << big << 1.0 << none << QStringList{"size 240 360", "recording", "start"} << "log 6";
    // Tab from the window's start to the X axis switch: About, Done, Check axes, X.
    QTest::newRow("a switch flipped by Space")
        << big << 1.0 << none << QStringList{"settings", "Tab", "Tab", "Tab", "Tab", "space"}
        << "settings focused";
    QTest::newRow("settings left by Escape")
        << big << 1.0 << none << QStringList{"settings", "Escape"} << "graph";
    QTest::newRow("meters") << big << 1.0 << none << QStringList{"meters"} << "meters";
    QTest::newRow("meters at 2x") << big << 2.0 << none << QStringList{"meters"} << "meters";
    QTest::newRow("meters, 900 x 1000")
        << big << 1.0 << none << QStringList{"size 900 1000", "meters"} << "meters";
    QTest::newRow("meters, laptop at 2x")
        << laptop << 2.0 << none << QStringList{"meters"} << "meters";
    QTest::newRow("meters, full screen")
        << laptop << 1.0 << none << QStringList{"F11", "meters"} << "meters";
    QTest::newRow("meters a second time")
        << big << 1.0 << none << QStringList{"meters", "Escape", "meters"} << "meters";
    QTest::newRow("meters, done") << big << 1.0 << none << QStringList{"meters", "done"} << "graph";
    QTest::newRow("meters, fixed orientation")
        << big << 1.0 << fixed << QStringList{"meters"} << "meters";
    QTest::newRow("meters, fixed orientation at 2x")
        << laptop << 2.0 << fixed << QStringList{"meters"} << "meters";
    QTest::newRow("size remembered")
        << big << 1.0 << none << QStringList{"size 500 750", "ctrl+q", "relaunch"}
        << "graph 500x750";
    QTest::newRow("recordings, laptop")
        << laptop << 1.0 << none << QStringList{"ctrl+o"} << "recordings";
    QTest::newRow("recordings, laptop at 2x")
        << laptop << 2.0 << none << QStringList{"ctrl+o"} << "recordings";
}

void DesktopTest::screens() {
    QFETCH(QSize, screen);
    QFETCH(double, scale);
    QFETCH(QStringList, options);
    QFETCH(QStringList, steps);
    QFETCH(QString, shown);

    DesktopBed bed;
    const QString failed = bed.start(screen);
    if (!failed.isEmpty())
        QFAIL(qPrintable(QStringLiteral("No desktop to test in: ") + failed));
    const QStringList arguments =
        QStringList{"--source", "replay:" + recording_, "--loop"} + options;
    if (shown == u"recordings") {
        // The newest recording stopped before its first row: said in its row, never in a box.
        const QString folder = bed.dataPath() + QStringLiteral("/Wobblestar/recordings");
        QDir().mkpath(folder);
        QFile early(folder + QStringLiteral("/2026-12-09_09-00-00.csv"));
        QVERIFY(early.open(QIODevice::WriteOnly));
        early.write("time,x,y,z\n");
    }
    bed.launch(QStringLiteral(WOBBLESTAR_BINARY), arguments, scale);
    QString window = bed.window(QStringLiteral("Wobblestar"));
    QVERIFY2(!window.isEmpty(), "the program's window did not appear");
    bed.run("xdotool", {"windowactivate", "--sync", window});

    const bool fixedOrientation = options.contains(u"--fixed-orientation");
    bool meters = false;
    auto tap = [&](QPointF point) {
        const QRect inside = bed.geometry(window);
        const QPointF at =
            layoutToScreen(inside, meters && !fixedOrientation ? kLandscape : kPortrait)
                .map((meters && fixedOrientation ? metersInPortrait() : QTransform()).map(point));
        bed.run("xdotool", {"mousemove", QString::number(int(at.x())), QString::number(int(at.y())),
                            "click", "1"});
    };
    for (const QString& step : steps) {
        if (step == u"settings") {
            tap(kToolbarSettings);
        } else if (step == u"recording") {
            tap(kToolbarRecording);
        } else if (step == u"start") {
            tap(kStart);
        } else if (step == u"meters") {
            tap(kToolbarMeters);
            meters = true;
        } else if (step == u"x axis label") {
            tap(kXAxisLabel);
        } else if (step == u"about") {
            tap(kAbout);
        } else if (step == u"done") {
            tap(kMetersDone);
            meters = false;
        } else if (step == u"relaunch") {
            QVERIFY(bed.waitForProgramEnd());
            bed.launch(QStringLiteral(WOBBLESTAR_BINARY), arguments, scale);
            window = bed.window(QStringLiteral("Wobblestar"));
            QVERIFY2(!window.isEmpty(), "the program's window did not appear again");
        } else if (step.startsWith(u"size ")) {
            bed.run("xdotool", {"windowsize", "--sync", window, step.section(' ', 1, 1),
                                step.section(' ', 2, 2)});
        } else {
            bed.run("xdotool", {"key", step});
            if (step == u"Escape")
                meters = false;
        }
        QTest::qWait(300);
    }

    if (shown == u"recordings") {
        // The whole window, title bar and all, on the screen, at most nine tenths of it.
        const QString recordings = bed.window(QStringLiteral("Recordings"));
        QVERIFY2(!recordings.isEmpty(), "the recordings window did not appear");
        const QRect inside = bed.geometry(recordings);
        // The title bar above the inside is about 20 pixels high.
        QVERIFY2(QRect(0, 20, screen.width(), screen.height() - 20).contains(inside),
                 qPrintable(QStringLiteral("recordings window at %1,%2 %3x%4")
                                .arg(inside.x())
                                .arg(inside.y())
                                .arg(inside.width())
                                .arg(inside.height())));
        QVERIFY2(inside.width() <= screen.width() * 0.9 && inside.height() <= screen.height() * 0.9,
                 qPrintable(QStringLiteral("%1x%2").arg(inside.width()).arg(inside.height())));
        // The main window and the recordings window, no box; a moment for one to come up.
        QTest::qWait(1000);
        QCOMPARE(bed.windowNames().size(), 2);
        return;
    }
    // After the screen's name: the window's size ("640x960"), or the log's smallest glyph.
    const QString detail = shown.section(' ', 1);
    const QSize expectedSize = detail.contains('x') ? QSize(detail.section('x', 0, 0).toInt(),
                                                            detail.section('x', 1).toInt())
                                                    : QSize();
    const Check check =
        shown.startsWith(u"log")
            ? Check([smallest = detail.toInt()](const Scene& s) { return checkLog(s, smallest); })
        : detail == u"focused" ? Check([](const Scene& s) {
              return checkFor(QStringLiteral("settings"), false)(s) +
                     expect(isFocusRing(s.at(kXAxisSwitchEdge)), "the focus ring");
          })
                               : checkFor(shown.section(' ', 0, 0), fixedOrientation);
    shown = shown.section(' ', 0, 0);
    if (expectedSize.isValid())
        QCOMPARE(bed.geometry(window).size(), expectedSize);
    QString missing;
    QImage picture;
    // The picture settles within a few frames; give a slow machine a few seconds.
    for (int attempt = 0; attempt < 20; ++attempt) {
        const QRect inside = bed.geometry(window);
        picture = bed.picture();
        QVERIFY2(!picture.isNull(), "xwd gave no picture of the screen");
        const QSizeF layout = shown == u"meters" && !fixedOrientation ? kLandscape : kPortrait;
        const QTransform toScreen = layoutToScreen(inside, layout);
        const Scene scene{picture, inside, toScreen, toScreen.m11()};
        missing = QRect(QPoint(0, 0), screen).contains(inside)
                      ? check(scene)
                      : QStringLiteral("the window lies partly off the screen");
        if (missing.isEmpty())
            break;
        QTest::qWait(250);
    }
    if (!missing.isEmpty()) {
        const QString file = QDir::temp().filePath(
            QStringLiteral("wobblestar-desktop-%1.png")
                .arg(QString::fromLatin1(QTest::currentDataTag()).replace(' ', '-')));
        picture.save(file);
        QFAIL(qPrintable(QStringLiteral("Not seen: %1 (picture: %2)").arg(missing, file)));
    }
    QVERIFY(bed.programRunning());
}

QTEST_GUILESS_MAIN(DesktopTest)
#include "tst_desktop.moc"
