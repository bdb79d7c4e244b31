#include "AppFixture.h"
#include "app/GraphView.h"
#include "screens/SegmentedControl.h"

#include <QAbstractButton>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextBrowser>
#include <QToolBar>
#include <QToolButton>
#include <algorithm>
#include <cmath>

using sensors::Accelerometer;
using Screen = app::WobblestarAppDelegate::Screen;

namespace {

double channel(double c) {
    c /= 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double luminance(QRgb rgb) {
    return 0.2126 * channel(qRed(rgb)) + 0.7152 * channel(qGreen(rgb)) +
           0.0722 * channel(qBlue(rgb));
}

double contrast(QRgb a, QRgb b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QImage shot(QWidget* screen) {
    return screen->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Draws the widget once more without its text, leaving everything under the text as it was.
struct TextHidden {
    explicit TextHidden(QWidget* widget) : widget_(widget), sheet_(widget->styleSheet()) {
        if (auto* edit = qobject_cast<QPlainTextEdit*>(widget)) {
            text_ = edit->toPlainText();
            placeholder_ = edit->placeholderText();
            edit->setPlainText(QString());
            edit->setPlaceholderText(QString());
        } else if (auto* browser = qobject_cast<QTextBrowser*>(widget)) {
            text_ = browser->toHtml();
            browser->setHtml(QString());
        } else {
            widget->setStyleSheet(sheet_ + QStringLiteral("; color: transparent;"));
        }
    }
    ~TextHidden() {
        if (auto* edit = qobject_cast<QPlainTextEdit*>(widget_)) {
            edit->setPlainText(text_);
            edit->setPlaceholderText(placeholder_);
        } else if (auto* browser = qobject_cast<QTextBrowser*>(widget_)) {
            browser->setHtml(text_);
        } else {
            widget_->setStyleSheet(sheet_);
        }
    }
    QWidget* widget_;
    QString sheet_, text_, placeholder_;
};

bool showsText(QWidget* widget) {
    if (auto* label = qobject_cast<QLabel*>(widget))
        return !label->text().isEmpty();
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        return !button->text().isEmpty();
    return qobject_cast<QPlainTextEdit*>(widget) || qobject_cast<QTextBrowser*>(widget);
}

} // namespace

// Every text the user can read, on every skin and screen, against what is drawn under it, as
// the contrast of the text's colour with the pixels under its glyphs in a rendered screen.
class ContrastTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void everyTextReads_data();
    void everyTextReads();
    void zTraceStandsOut_data();
    void zTraceStandsOut();
    void chosenSegmentStandsOut_data();
    void chosenSegmentStandsOut();

private:
    std::unique_ptr<app::WobblestarAppDelegate> appOnScreen(int skin, Screen screen);
    AppFixture fixture;
};

void ContrastTest::initTestCase() {
    // The application's own skins; no test images.
    QDir::setSearchPaths(QStringLiteral("skins"), {QStringLiteral(":/skins")});
}

void ContrastTest::init() {
    Accelerometer::sharedAccelerometer().setDelegate(nullptr);
}

std::unique_ptr<app::WobblestarAppDelegate> ContrastTest::appOnScreen(int skin, Screen screen) {
    fixture.useStore(QStringLiteral("[General]\ndesign=%1\nx=1\ny=1\nz=1\n").arg(skin).toUtf8());
    auto app = std::make_unique<app::WobblestarAppDelegate>();
    app->applicationDidFinishLaunching();
    switch (screen) {
    case Screen::Graph:
        break;
    case Screen::Settings:
        app->settings();
        break;
    case Screen::Info:
        app->settings();
        app->info();
        break;
    case Screen::Recording:
        app->recordMenu();
        break;
    case Screen::Meters:
        app->meterMenu();
        break;
    }
    return app;
}

namespace {
void addSkinsAndScreens() {
    QTest::addColumn<int>("skin");
    QTest::addColumn<Screen>("screen");
    const std::pair<const char*, Screen> screens[] = {{"graph", Screen::Graph},
                                                      {"settings", Screen::Settings},
                                                      {"info", Screen::Info},
                                                      {"recording", Screen::Recording},
                                                      {"meters", Screen::Meters}};
    for (int skin = 0; skin < 4; ++skin)
        for (const auto& [name, screen] : screens)
            QTest::addRow("%s %s", AppFixture::kSkinNames[skin], name) << skin << screen;
}
} // namespace

void ContrastTest::everyTextReads_data() {
    addSkinsAndScreens();
}

void ContrastTest::everyTextReads() {
    QFETCH(int, skin);
    QFETCH(Screen, screen);
    auto app = appOnScreen(skin, screen);
    QWidget* root = screen == Screen::Graph       ? app->window()
                    : screen == Screen::Settings  ? controls(*app).settingsView
                    : screen == Screen::Info      ? controls(*app).infoView
                    : screen == Screen::Recording ? controls(*app).RecordView
                                                  : controls(*app).metersView;
    const QImage with = shot(root);
    QStringList failures;
    int measured = 0;
    for (QWidget* widget : root->findChildren<QWidget*>()) {
        // Disabled controls are meant to recede; a transition's overlay shows no text.
        if (!widget->isVisibleTo(root) || !widget->isEnabled() || !showsText(widget))
            continue;
        QImage without;
        {
            TextHidden hidden(widget);
            without = shot(root);
        }
        const QRect area(widget->mapTo(root, QPoint(0, 0)) * with.devicePixelRatio(),
                         widget->size() * with.devicePixelRatio());
        // The text's colour is read where it changes the picture most, the core of a stem;
        // style sheets colour text by state (checked, hovered), which the palette does not say.
        const auto change = [&](int x, int y) {
            const QRgb a = with.pixel(x, y), b = without.pixel(x, y);
            return std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) +
                   std::abs(qBlue(a) - qBlue(b));
        };
        const QRect inside = area & with.rect();
        QRgb colour = 0;
        int strongest = 0;
        for (int y = inside.top(); y <= inside.bottom(); ++y)
            for (int x = inside.left(); x <= inside.right(); ++x)
                if (const int c = change(x, y); c > strongest) {
                    strongest = c;
                    colour = with.pixel(x, y);
                }
        std::vector<double> ratios;
        for (int y = inside.top(); y <= inside.bottom(); ++y)
            for (int x = inside.left(); x <= inside.right(); ++x)
                // Glyph cores, not the faint antialiased fringe.
                if (change(x, y) > 90)
                    ratios.push_back(contrast(colour, without.pixel(x, y)));
        if (ratios.empty())
            continue;
        ++measured;
        // The worst twentieth of the glyph pixels, so that one bright fleck of a texture does
        // not decide.
        std::nth_element(ratios.begin(), ratios.begin() + ratios.size() / 20, ratios.end());
        const double ratio = ratios[ratios.size() / 20];
        if (ratio < 4.5)
            failures << QStringLiteral("%1 (%2) %3:1")
                            .arg(widget->objectName(), QColor(colour).name())
                            .arg(ratio, 0, 'f', 2);
    }
    QVERIFY(measured > 0);
    QVERIFY2(failures.isEmpty(), qPrintable(failures.join(QStringLiteral(", "))));
}

void ContrastTest::zTraceStandsOut_data() {
    // The skins under which the translucent strips are dark; over the light metal and
    // parchment they are mid-grey.
    QTest::addColumn<int>("skin");
    QTest::newRow("carbon") << 0;
    QTest::newRow("black") << 3;
}

void ContrastTest::zTraceStandsOut() {
    QFETCH(int, skin);
    auto app = appOnScreen(skin, Screen::Graph);
    app::GraphView* graph = controls(*app).graphView;
    // A trace a little above +1.5 g in each strip, over the strip's own background.
    for (int i = 0; i < 150; ++i)
        graph->updateHistoryWithX(1.6f, 1.6f, 1.6f);
    // The strips are translucent: the graph is seen over the skin, in the window.
    const QImage picture = shot(app->window()).copy(graph->geometry());
    // The Z strip is the lowest third; compare the trace's colour with the strip around it.
    const int height = picture.height();
    const int top = 2 * height / 3, bottom = height - 1;
    // The trace's row is where its blue is strongest: the line's core, not its soft edge.
    QRgb trace = 0;
    int traceRow = -1;
    int strongest = 0;
    for (int y = top; y < bottom; ++y) {
        const QRgb p = picture.pixel(picture.width() / 2, y);
        const int blueness = qBlue(p) - qRed(p);
        if (blueness > 60 && blueness > strongest) {
            strongest = blueness;
            trace = p;
            traceRow = y;
        }
    }
    QVERIFY2(traceRow >= 0, "no Z trace found");
    // Between the +1 and +2 g lines, a few pixels off the trace.
    double worst = 100.0;
    for (int x = 10; x < picture.width() - 10; x += 7) {
        const QRgb under = picture.pixel(x, traceRow + 6 * picture.devicePixelRatio());
        worst = std::min(worst, contrast(trace, under));
    }
    QVERIFY2(worst >= 3.0, qPrintable(QStringLiteral("Z trace %1 on its strip: %2:1")
                                          .arg(QColor(trace).name())
                                          .arg(worst, 0, 'f', 2)));
}

void ContrastTest::chosenSegmentStandsOut_data() {
    QTest::addColumn<int>("skin");
    QTest::addColumn<Screen>("screen");
    for (int skin = 0; skin < 4; ++skin) {
        QTest::addRow("%s settings", AppFixture::kSkinNames[skin]) << skin << Screen::Settings;
        QTest::addRow("%s recording", AppFixture::kSkinNames[skin]) << skin << Screen::Recording;
    }
}

// The chosen rate, skin and interval are seen at a glance: the checked segment's plate, drawn
// by the interface's style sheet, against its neighbours'.
void ContrastTest::chosenSegmentStandsOut() {
    QFETCH(int, skin);
    QFETCH(Screen, screen);
    auto app = appOnScreen(skin, screen);
    QWidget* root =
        screen == Screen::Settings ? controls(*app).settingsView : controls(*app).RecordView;
    const auto plate = [root](QToolButton* button) {
        TextHidden hidden(button);
        const QImage image = shot(button);
        // The middle of the plate, away from its border and rounded corners.
        const QRect middle(image.width() / 4, image.height() / 4, image.width() / 2,
                           image.height() / 2);
        double r = 0, g = 0, b = 0;
        for (int y = middle.top(); y <= middle.bottom(); ++y)
            for (int x = middle.left(); x <= middle.right(); ++x) {
                const QRgb p = image.pixel(x, y);
                r += qRed(p), g += qGreen(p), b += qBlue(p);
            }
        const double n = double(middle.width()) * middle.height();
        return qRgb(int(r / n), int(g / n), int(b / n));
    };
    int segmented = 0;
    for (auto* control : root->findChildren<screens::SegmentedControl*>()) {
        if (!control->isVisibleTo(root))
            continue;
        ++segmented;
        QToolButton *checked = nullptr, *other = nullptr;
        for (auto* button : control->findChildren<QToolButton*>())
            (button->isChecked() ? checked : other) = button;
        QVERIFY2(checked && other, qPrintable(control->objectName()));
        const double ratio = contrast(plate(checked), plate(other));
        QVERIFY2(ratio >= 2.0,
                 qPrintable(QStringLiteral("%1: %2 against %3, %4:1")
                                .arg(control->objectName(), QColor(plate(checked)).name(),
                                     QColor(plate(other)).name())
                                .arg(ratio, 0, 'f', 2)));
    }
    QVERIFY(segmented > 0);
}

QTEST_MAIN(ContrastTest)
#include "tst_contrast.moc"
