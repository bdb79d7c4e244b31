#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTransform>

// The program writes a picture of any screen without a display and exits 0.
class ScreenshotTest : public QObject {
    Q_OBJECT
private slots:
    void screenshot_data();
    void screenshot();
};

void ScreenshotTest::screenshot_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("status");

    QTest::newRow("graph") << QStringList{"--screen", "graph"} << QSize(320, 480) << 0;
    QTest::newRow("info at scale 2")
        << QStringList{"--screen", "info", "--scale", "2"} << QSize(640, 960) << 0;
    QTest::newRow("meters turn the window")
        << QStringList{"--screen", "meters"} << QSize(480, 320) << 0;
    QTest::newRow("meters in fixed orientation")
        << QStringList{"--screen", "meters", "--fixed-orientation"} << QSize(320, 480) << 0;
    QTest::newRow("unwritable file")
        << QStringList{"--screen", "graph", "--screenshot", "/nonexistent-folder/shot.png"}
        << QSize() << 1;
}

void ScreenshotTest::screenshot() {
    QFETCH(QStringList, arguments);
    QFETCH(QSize, size);
    QFETCH(int, status);
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("shot.png"));
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    environment.remove(QStringLiteral("DISPLAY"));
    environment.insert(QStringLiteral("WOBBLESTAR_CONFIG_DIR"), folder.path());
    program.setProcessEnvironment(environment);
    // X = +1 g throughout, so the gauges' picture shows which way the X needle turns.
    const QString recording = folder.filePath(QStringLiteral("plus-one-x.csv"));
    QFile rows(recording);
    QVERIFY(rows.open(QIODevice::WriteOnly));
    rows.write("time,x,y,z\n0,1,0,0\n10,1,0,0\n");
    rows.close();
    program.start(
        QStringLiteral(WOBBLESTAR_BINARY),
        QStringList{"--source", "replay:" + recording, "--after", "0.3", "--screenshot", file} +
            arguments);
    QVERIFY(program.waitForFinished(30000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), status);
    if (status == 0) {
        const QImage picture(file);
        QCOMPARE(picture.size(), size);
        if (arguments.contains(u"meters")) {
            // The X needle leans to the dial's +1, right of straight up as the gauges are
            // read, in the window turned or not: the reading's side and the turn's sign.
            const bool turned = !arguments.contains(u"--fixed-orientation");
            const double k = turned ? 1.0 : 460.0 / 480.0;
            const QTransform meters =
                turned ? QTransform()
                       : QTransform().translate(160, 250).rotate(270).scale(k, k).translate(-240,
                                                                                            -160);
            auto white = [&](QPointF p) {
                int brightest = 0;
                for (int dx = -1; dx <= 1; ++dx)
                    for (int dy = -1; dy <= 1; ++dy) {
                        const QColor c =
                            picture.pixelColor(meters.map(p).toPoint() + QPoint(dx, dy));
                        brightest = std::max(brightest, std::min({c.red(), c.green(), c.blue()}));
                    }
                return brightest > 150;
            };
            const QPointF pivot(241, 104), up(0, -0.6 * 43.3), right(0.6 * 25, 0);
            QVERIFY(picture.pixelColor(meters.map(pivot).toPoint()).red() > 180);
            QVERIFY(white(pivot + up + right));
            QVERIFY(!white(pivot + up - right));
        }
    } else {
        QVERIFY(program.readAllStandardError().contains("could not write"));
    }
}

QTEST_GUILESS_MAIN(ScreenshotTest)
#include "tst_screenshot.moc"
