#include "AppFixture.h"
#include "features/RecordingOpener.h"
#include "features/StatusMessages.h"
#include "screens/DialogStyle.h"
#include "screens/LandscapeScreen.h"
#include "screens/StatusBar.h"

#include <QAction>
#include <QFileDialog>
#include <QInputDialog>
#include <QPaintEngine>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <cstdio>
#include <unistd.h>

using sensors::Acceleration;
using sensors::Accelerometer;
using sensors::AccelerometerDriver;
using Kind = AccelerometerDriver::MessageKind;

namespace {

// A source that says what the test tells it to.
class TalkingDriver : public AccelerometerDriver {
public:
    explicit TalkingDriver(QString name) : name_(std::move(name)) {}
    QString description() const override { return name_; }
    bool start(QString*) override { return true; }
    std::optional<Acceleration> read(double) override { return Acceleration{0, 0, -1, 0}; }
    void say(const QString& message, Kind kind) { emit statusMessage(message, kind); }

private:
    QString name_;
};

// A paint device that keeps the text drawn on it, so a test reads what the user sees.
class TextCapture : public QPaintDevice {
public:
    QStringList texts() const { return engine_.texts; }
    QPaintEngine* paintEngine() const override { return &engine_; }

protected:
    int metric(PaintDeviceMetric metric) const override {
        switch (metric) {
        case PdmWidth:
        case PdmHeight:
            return 1000;
        case PdmDpiX:
        case PdmDpiY:
        case PdmPhysicalDpiX:
        case PdmPhysicalDpiY:
            return 96;
        case PdmDepth:
            return 32;
        case PdmDevicePixelRatio:
            return 1;
        case PdmDevicePixelRatioScaled:
            return int(devicePixelRatioFScale());
        default:
            return 0;
        }
    }

private:
    struct Engine : QPaintEngine {
        bool begin(QPaintDevice*) override { return true; }
        bool end() override { return true; }
        void updateState(const QPaintEngineState&) override {}
        void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
        void drawPolygon(const QPointF*, int, PolygonDrawMode) override {}
        void drawTextItem(const QPointF&, const QTextItem& item) override { texts << item.text(); }
        Type type() const override { return User; }
        QStringList texts;
    };
    mutable Engine engine_;
};

QStringList drawnText(QWidget* widget) {
    TextCapture capture;
    widget->render(&capture);
    return capture.texts();
}

// Standard error of this process while it lives, read back as lines.
class StderrCapture {
public:
    StderrCapture() {
        std::fflush(stderr);
        saved_ = ::dup(2);
        file_ = std::tmpfile();
        ::dup2(::fileno(file_), 2);
    }
    ~StderrCapture() {
        restore();
        std::fclose(file_);
    }
    QStringList lines() {
        restore();
        std::rewind(file_);
        QByteArray bytes;
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file_)) > 0;)
            bytes.append(buffer, qsizetype(n));
        return QString::fromUtf8(bytes).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

private:
    void restore() {
        if (saved_ < 0)
            return;
        std::fflush(stderr);
        ::dup2(saved_, 2);
        ::close(saved_);
        saved_ = -1;
    }
    int saved_ = -1;
    std::FILE* file_ = nullptr;
};

// WCAG relative luminance and contrast ratio.
double luminance(QRgb colour) {
    auto channel = [](int value) {
        const double c = value / 255.0;
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(qRed(colour)) + 0.7152 * channel(qGreen(colour)) +
           0.0722 * channel(qBlue(colour));
}

double contrast(QRgb a, QRgb b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The contrast of the text drawn in `area` against its ground: the ground is the commonest
// colour there, the text the pixel that stands out most from it (a glyph's stem is drawn in
// the full text colour).
double textContrast(const QImage& image, QRect area) {
    QHash<QRgb, int> counts;
    area &= image.rect();
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            ++counts[image.pixel(x, y)];
    QRgb ground = 0;
    int most = -1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (it.value() > most)
            most = it.value(), ground = it.key();
    double best = 1.0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        best = std::max(best, contrast(ground, it.key()));
    return best;
}

// The lowest text contrast over the dialog's visible labels and buttons that hold text.
double lowestTextContrast(QWidget* dialog, QStringList* where) {
    const QImage image = dialog->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const qreal ratio = image.devicePixelRatio();
    double lowest = 100.0;
    auto measure = [&](QWidget* widget, const QString& text) {
        // A control that cannot be used (Open before a file is chosen) is greyed on purpose.
        if (!widget->isVisible() || !widget->isEnabled() || text.trimmed().isEmpty())
            return;
        const QRect area(widget->mapTo(dialog, QPoint(0, 0)) * ratio, widget->size() * ratio);
        const double value = textContrast(image, area.adjusted(2, 2, -2, -2));
        if (value < lowest)
            *where = QStringList{text, QString::number(value)};
        lowest = std::min(lowest, value);
    };
    for (QLabel* label : dialog->findChildren<QLabel*>())
        measure(label, label->text());
    for (QAbstractButton* button : dialog->findChildren<QAbstractButton*>())
        measure(button, button->text());
    return lowest;
}

} // namespace

// How the application tells of what went wrong: the status bar and standard error, readable
// dialogs, settings that cannot be written, a mail opener that fails, and the displays that
// must say what their buttons do.
class FaultReportsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void statusMessages_data();
    void statusMessages();
    void dialogsReadable_data();
    void dialogsReadable();
    void settingsNotWritten_data();
    void settingsNotWritten();
    void settingsFileKept_data();
    void settingsFileKept();
    void mailOpenerFails_data();
    void mailOpenerFails();
    void pausedGaugesStayFrozen();
    void intervalFixedWhileRecording();

private:
    std::unique_ptr<app::WobblestarAppDelegate> makeApp();
    AppFixture fixture;
};

void FaultReportsTest::initTestCase() {
    fixture.makeSkins();
    screens::dressEveryDialog();
}

void FaultReportsTest::init() {
    Accelerometer::sharedAccelerometer().setDelegate(nullptr);
    Accelerometer::sharedAccelerometer().setUpdateInterval(0.0);
    // All axes on: with none, the status bar shows its hint instead of source and rate.
    fixture.useStore("[General]\nsegment=0\ndesign=1\nx=1\ny=1\nz=1\n");
}

std::unique_ptr<app::WobblestarAppDelegate> FaultReportsTest::makeApp() {
    auto app = std::make_unique<app::WobblestarAppDelegate>();
    app->applicationDidFinishLaunching();
    // The tests hand in every reading themselves.
    Accelerometer::sharedAccelerometer().setDelegate(nullptr);
    return app;
}

void FaultReportsTest::statusMessages_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<QList<int>>("kinds");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<bool>("noticeOver");
    QTest::addColumn<QString>("shown"); // the message on the bar, or empty: source and rate

    const QString sensor = QStringLiteral("iio: lis3dh (iio:device0)");
    QTest::newRow("a notice") << sensor << QList<int>{int(Kind::Notice)}
                              << QStringList{"Replay of ride.csv finished"} << false
                              << "Replay of ride.csv finished";
    QTest::newRow("a notice passes") << sensor << QList<int>{int(Kind::Notice)}
                                     << QStringList{"Replay of ride.csv finished"} << true << "";
    QTest::newRow("a lost source stays past a notice")
        << sensor << QList<int>{int(Kind::Lost), int(Kind::Notice)}
        << QStringList{"Sensor lis3dh is gone", "Looking again"} << true << "Sensor lis3dh is gone";
    QTest::newRow("back is told") << sensor << QList<int>{int(Kind::Lost), int(Kind::Back)}
                                  << QStringList{"Sensor lis3dh is gone", "Sensor lis3dh is back"}
                                  << false << "Sensor lis3dh is back";
    QTest::newRow("back ends the lost message")
        << sensor << QList<int>{int(Kind::Lost), int(Kind::Back)}
        << QStringList{"Sensor lis3dh is gone", "Sensor lis3dh is back"} << true << "";
    QTest::newRow("a long source name")
        << QStringLiteral("replay: a-recording-with-a-name-far-too-long-for-the-bar-2026-12-08.csv")
        << QList<int>{} << QStringList{} << false << "";
}

// Whatever a source says reaches the bar, as long as it should, and standard error, once.
void FaultReportsTest::statusMessages() {
    QFETCH(QString, source);
    QFETCH(QList<int>, kinds);
    QFETCH(QStringList, messages);
    QFETCH(bool, noticeOver);
    QFETCH(QString, shown);

    Accelerometer& accelerometer = Accelerometer::sharedAccelerometer();
    auto owned = std::make_unique<TalkingDriver>(source);
    TalkingDriver* driver = owned.get();
    accelerometer.setDriver(std::move(owned));
    auto app = makeApp();
    const StatusMessages wiring(accelerometer, app->statusBar());

    StderrCapture standardError;
    for (int i = 0; i < kinds.size(); ++i)
        driver->say(messages[i], Kind(kinds[i]));
    QStringList expectedLines;
    for (const QString& message : messages)
        expectedLines << QStringLiteral("wobblestar: ") + message;
    QCOMPARE(standardError.lines(), expectedLines);

    screens::StatusBar* bar = app->statusBar();
    if (noticeOver)
        QTRY_VERIFY_WITH_TIMEOUT(!drawnText(bar).contains(messages.last()),
                                 (screens::StatusBar::kNoticeSeconds + 3) * 1000);
    const QStringList drawn = drawnText(bar);
    if (!shown.isEmpty()) {
        QVERIFY2(drawn.contains(shown), qPrintable(drawn.join(" | ")));
        return;
    }
    // Source and rate are back; a long name keeps both its ends.
    QVERIFY2(drawn.size() == 3, qPrintable(drawn.join(" | ")));
    const QString& left = drawn.at(1);
    QVERIFY2(left == source || (left.contains(QChar(0x2026)) && source.startsWith(left.left(8)) &&
                                source.endsWith(left.right(8))),
             qPrintable(left));
    QVERIFY(drawn.at(2).endsWith(QLatin1String("/s")));
}

void FaultReportsTest::dialogsReadable_data() {
    QTest::addColumn<int>("skin");
    QTest::addColumn<QString>("dialog");
    const char* skins[] = {"carbon", "metal", "ancient", "black"};
    for (int skin = 0; skin < 4; ++skin) {
        for (const char* dialog :
             {"warning", "save offer", "file dialog", "open recording", "input dialog"})
            QTest::addRow("%s, %s", skins[skin], dialog) << skin << QString::fromLatin1(dialog);
    }
}

// Every text of every dialog stands out from its own ground at 4.5:1 or more, on each skin,
// and every dialog is a window of its own over the desktop window.
void FaultReportsTest::dialogsReadable() {
    QFETCH(int, skin);
    QFETCH(QString, dialog);
    auto app = makeApp();
    app->settings();
    controls(*app).design->setSelectedSegmentIndex(skin);
    app->back();
    AppFixture::setMailComposer(*app,
                                desktop::MailComposer([](const QUrl&) { return false; },
                                                      [] { return std::optional<bool>(true); }));

    QStringList where;
    double lowest = 0.0;
    // A dialog belongs to the desktop window; parented to the scaled interface inside it, it
    // would be drawn into the interface, clipped and scaled with it.
    bool ownWindow = false;
    auto look = [&](QWidget* shown) {
        lowest = lowestTextContrast(shown, &where);
        ownWindow = !shown->graphicsProxyWidget() && shown->parentWidget() &&
                    shown->parentWidget()->window() == app->topLevelWindow();
    };
    if (dialog == u"file dialog" || dialog == u"open recording" || dialog == u"input dialog") {
        // The dialog runs its own loop; look for it from inside that loop until it shows.
        QTimer poll;
        poll.setInterval(20);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (auto* shown = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                poll.stop();
                look(shown);
                shown->reject();
            }
        });
        poll.start();
        if (dialog == u"file dialog")
            QVERIFY(!app->saveLog());
        else if (dialog == u"open recording")
            AppFixture::recordingOpener(*app)->action()->trigger();
        else // as any later part of the application would ask
            QInputDialog::getText(app->topLevelWindow(), QStringLiteral("Name"),
                                  QStringLiteral("Name of the recording:"));
    } else {
        if (dialog == u"warning")
            app->email();
        else
            app->emailrecord();
        QVERIFY(AppFixture::messageBox(*app));
        QTRY_VERIFY(AppFixture::messageBox(*app)->isVisible());
        look(AppFixture::messageBox(*app));
    }
    QVERIFY(ownWindow);
    QVERIFY2(lowest >= 4.5, qPrintable(where.join(QLatin1String(": "))));
}

void FaultReportsTest::settingsNotWritten_data() {
    QTest::addColumn<QString>("fault");
    QTest::newRow("the folder is a file") << "file";
    QTest::newRow("a read-only folder") << "read-only";
}

// Leaving the settings screen with a store that cannot be written: one message, and the
// choices hold for this run.
void FaultReportsTest::settingsNotWritten() {
    QFETCH(QString, fault);
    const QString store = desktop::settingsStorePath();
    const QString folder = QFileInfo(store).path();
    auto app = makeApp();
    if (fault == u"file") {
        QDir(folder).removeRecursively();
        QFile blocker(folder);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
    } else {
        if (::geteuid() == 0)
            QSKIP("root writes into read-only folders");
        QFile(folder).setPermissions(QFile::ReadOwner | QFile::ExeOwner);
    }

    app->settings();
    controls(*app).segmentcontroller->setSelectedSegmentIndex(2);
    controls(*app).design->setSelectedSegmentIndex(3);
    // The message, naming the file (a box shows it too where there is a screen).
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(QStringLiteral("^wobblestar: The settings could not be "
                                                           "written to .*Wobblestar.conf")));
    app->back();
    QFile(folder).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    QCOMPARE(Accelerometer::sharedAccelerometer().updateInterval(), 1.0 / 120.0);
    QCOMPARE(AppFixture::skinOf(controls(*app).one), QStringLiteral("black"));
}

void FaultReportsTest::settingsFileKept_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<bool>("setAside");
    QTest::newRow("sound file, temporary folder unusable")
        << "tmp" << QByteArray("[General]\ndesign=2\n") << false;
    QTest::newRow("damaged file behind a link")
        << "link" << QByteArray("[General]\ndesign=2\nsegment=fast\n") << true;
    QTest::newRow("sound file behind a link")
        << "link" << QByteArray("[General]\ndesign=2\n") << false;
}

// Only a file that does not parse or holds wrong types is set aside, and a link stays a link.
void FaultReportsTest::settingsFileKept() {
    QFETCH(QString, fault);
    QFETCH(QByteArray, contents);
    QFETCH(bool, setAside);
    QTemporaryDir elsewhere;
    const QString target = elsewhere.filePath(QStringLiteral("shared.conf"));
    const QByteArray savedTmp = qgetenv("TMPDIR");
    if (fault == u"tmp") {
        fixture.useStore(contents);
        qputenv("TMPDIR", elsewhere.filePath(QStringLiteral("not-a-folder")).toUtf8());
    } else {
        fixture.useStore();
        QFile file(target);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(contents);
        file.close();
        QDir().mkpath(QFileInfo(desktop::settingsStorePath()).path());
        QVERIFY(QFile::link(target, desktop::settingsStorePath()));
    }
    auto app = makeApp();
    qputenv("TMPDIR", savedTmp);

    QCOMPARE(!app->settingsMessage().isEmpty(), setAside);
    QCOMPARE(controls(*app).design->selectedSegmentIndex(), 2);
    const QDir storeFolder = QFileInfo(desktop::settingsStorePath()).dir();
    QVERIFY(storeFolder.entryList({"*.bad"}, QDir::Files).isEmpty());
    if (fault == u"link") {
        QVERIFY(QFileInfo(desktop::settingsStorePath()).isSymLink());
        QCOMPARE(QFileInfo::exists(target + QStringLiteral(".bad")), setAside);
    }
}

void FaultReportsTest::mailOpenerFails_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("status");
    QTest::newRow("log, opener fails") << "emailrecord" << 4;
    QTest::newRow("feedback, opener fails") << "email" << 3;
    QTest::newRow("log, opener succeeds") << "emailrecord" << 0;
}

// The desktop's opener (xdg-open) ending with an error is said, with the offer to save the log
// when it was the log.
void FaultReportsTest::mailOpenerFails() {
    QFETCH(QString, action);
    QFETCH(int, status);
    QTemporaryDir bin;
    const QString ran = bin.filePath(QStringLiteral("ran"));
    auto script = [&](const QString& name, const QString& body) {
        QFile file(bin.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(("#!/bin/sh\n" + body + "\n").toUtf8());
        file.setPermissions(file.permissions() | QFile::ExeOwner);
    };
    script(QStringLiteral("xdg-mime"), QStringLiteral("echo mail.desktop"));
    script(QStringLiteral("xdg-open"), QStringLiteral("touch '%1'; exit %2").arg(ran).arg(status));
    const QByteArray savedPath = qgetenv("PATH");
    qputenv("PATH", bin.path().toUtf8() + ":" + savedPath);

    auto app = makeApp();
    QVERIFY(QMetaObject::invokeMethod(app.get(), action.toLatin1().constData()));
    QTRY_VERIFY(QFileInfo::exists(ran));
    qputenv("PATH", savedPath);
    if (status == 0) {
        QTest::qWait(300); // the opener's end is read in the event loop
        QVERIFY(!AppFixture::messageBox(*app));
        return;
    }
    QTRY_VERIFY(AppFixture::messageBox(*app));
    // What failed, in words: not the opener's exit status alone.
    const QString said = AppFixture::messageBox(*app)->text();
    QVERIFY2(said.contains(QLatin1String("could not")) ||
                 said.contains(QLatin1String("No program")),
             qPrintable(said));
    QVERIFY2(!said.contains(QStringLiteral("status %1").arg(status)), qPrintable(said));
    bool offersSave = false;
    for (QAbstractButton* button : AppFixture::messageBox(*app)->buttons())
        offersSave = offersSave || button->text().startsWith(QLatin1String("Save"));
    QCOMPARE(offersSave, action == u"emailrecord");
}

// Paused, the gauges show the reading they were paused on, whatever repaints them (a hover
// over a button on the gauges redraws what lies under it).
void FaultReportsTest::pausedGaugesStayFrozen() {
    auto app = makeApp();
    app->meterMenu();
    auto deliver = [&](double x, double y, double z) {
        app->accelerometer(Accelerometer::sharedAccelerometer(), Acceleration{x, y, z, 0.0});
        QCoreApplication::processEvents();
    };
    QWidget* gauges = controls(*app).meterView;
    deliver(0.5, -0.5, -1.0);
    const QImage paused = gauges->grab().toImage();
    app->toggleRunMeters();
    deliver(2.0, 1.0, 1.5);
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QCoreApplication::sendEvent(controls(*app).metersPause, &enter);
    QCoreApplication::processEvents();
    QCOMPARE(gauges->grab().toImage(), paused);

    // Running again, they show the newest reading.
    app->toggleRunMeters();
    deliver(2.0, 1.0, 1.5);
    QVERIFY(gauges->grab().toImage() != paused);
}

// The log keeps the interval it started with, so the control cannot show another one.
void FaultReportsTest::intervalFixedWhileRecording() {
    auto app = makeApp();
    app->setSampleFile(app::Recorder::SampleFile::None);
    app->recordMenu();
    controls(*app).segment->setSelectedSegmentIndex(1);
    app->start();
    QVERIFY(!controls(*app).segment->isEnabled());
    const QList<QToolButton*> segments = controls(*app).segment->findChildren<QToolButton*>();
    QVERIFY(segments.size() >= 4);
    QTest::mouseClick(segments.at(3), Qt::LeftButton);
    QCOMPARE(controls(*app).segment->selectedSegmentIndex(), 1);
    QVERIFY(controls(*app).recordingText->toPlainText().startsWith(
        QLatin1String("Recording Frequency: 0.25s")));
    app->stop();
    QVERIFY(controls(*app).segment->isEnabled());
    QTest::mouseClick(segments.at(3), Qt::LeftButton);
    QCOMPARE(controls(*app).segment->selectedSegmentIndex(), 3);
}

QTEST_MAIN(FaultReportsTest)
#include "tst_fault_reports.moc"
