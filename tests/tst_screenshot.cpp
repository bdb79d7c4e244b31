#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

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
    program.start(QStringLiteral(WOBBLESTAR_BINARY),
                  QStringList{"--source", "sim", "--after", "0.3", "--screenshot", file} +
                      arguments);
    QVERIFY(program.waitForFinished(30000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), status);
    if (status == 0) {
        const QImage picture(file);
        QCOMPARE(picture.size(), size);
    } else {
        QVERIFY(program.readAllStandardError().contains("could not write"));
    }
}

QTEST_GUILESS_MAIN(ScreenshotTest)
#include "tst_screenshot.moc"
