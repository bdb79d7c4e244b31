// Mount matrices as udev's hwdb and the kernel write them: which one is used, and why the
// others were passed over.
#include "sensors/MountMatrix.h"

#include <QTest>

using sensors::MountMatrix;
using sensors::MountMatrixOffer;

class MountMatrixTest : public QObject {
    Q_OBJECT
private slots:
    void choosesTheFirstUsableOffer_data();
    void choosesTheFirstUsableOffer();
    void completesTheFrame_data();
    void completesTheFrame();
};

void MountMatrixTest::choosesTheFirstUsableOffer_data() {
    QTest::addColumn<QByteArray>("hwdb");   // udev's ACCEL_MOUNT_MATRIX; null when absent
    QTest::addColumn<QByteArray>("kernel"); // the kernel's file; null when absent
    QTest::addColumn<QString>("origin");
    QTest::addColumn<QString>("rows");
    QTest::addColumn<QString>("rejected"); // "origin: why", joined by " | "
    const QString identity = QStringLiteral("1, 0, 0; 0, 1, 0; 0, 0, 1");
    const QString notNine = QStringLiteral("it is not nine numbers written \"m00, m01, m02; m10, "
                                           "m11, m12; m20, m21, m22\"");
    QTest::newRow("none") << QByteArray() << QByteArray() << "identity" << identity << "";
    QTest::newRow("hwdb before kernel") << QByteArray("0, 1, 0; 1, 0, 0; 0, 0, 1")
                                        << QByteArray("-1, 0, 0; 0, 1, 0; 0, 0, -1") << "udev hwdb"
                                        << "0, 1, 0; 1, 0, 0; 0, 0, 1"
                                        << "";
    QTest::newRow("kernel, no spaces, newline")
        << QByteArray() << QByteArray("0,-1,0;1,0,0;0,0,1\n") << "kernel"
        << "0, -1, 0; 1, 0, 0; 0, 0, 1"
        << "";
    QTest::newRow("decimals") << QByteArray("0.5, 0, 0; 0, -0.5, 0; 0, 0, 1") << QByteArray()
                              << "udev hwdb"
                              << "0.5, 0, 0; 0, -0.5, 0; 0, 0, 1"
                              << "";
    QTest::newRow("hwdb X row all zeros: kernel's")
        << QByteArray("0, 0, 0; 0, 1, 0; 0, 0, 1") << QByteArray("0, 1, 0; 1, 0, 0; 0, 0, 1")
        << "kernel"
        << "0, 1, 0; 1, 0, 0; 0, 0, 1"
        << "udev hwdb: its X row is all zeros";
    QTest::newRow("Z row all zeros too")
        << QByteArray("1, 0, 0; 0, 1, 0; 0, 0, 0") << QByteArray() << "identity" << identity
        << "udev hwdb: its Z row is all zeros";
    QTest::newRow("two rows") << QByteArray() << QByteArray("1, 0, 0; 0, 1, 0") << "identity"
                              << identity << "kernel: " + notNine;
    QTest::newRow("four in a row") << QByteArray("1, 0, 0, 0; 0, 1, 0; 0, 0, 1") << QByteArray()
                                   << "identity" << identity << "udev hwdb: " + notNine;
    QTest::newRow("not a number, then not finite")
        << QByteArray("x, 0, 0; 0, 1, 0; 0, 0, 1") << QByteArray("nan, 0, 0; 0, 1, 0; 0, 0, 1")
        << "identity" << identity << "udev hwdb: " + notNine + " | kernel: " + notNine;
    QTest::newRow("infinite") << QByteArray() << QByteArray("inf, 0, 0; 0, 1, 0; 0, 0, 1")
                              << "identity" << identity << "kernel: " + notNine;
    QTest::newRow("empty") << QByteArray("") << QByteArray() << "identity" << identity
                           << "udev hwdb: " + notNine;
}

void MountMatrixTest::choosesTheFirstUsableOffer() {
    QFETCH(QByteArray, hwdb);
    QFETCH(QByteArray, kernel);
    QFETCH(QString, origin);
    QFETCH(QString, rows);
    QFETCH(QString, rejected);
    std::vector<MountMatrixOffer> offers;
    if (!hwdb.isNull())
        offers.push_back(
            {QStringLiteral("udev hwdb"), hwdb, QStringLiteral("ACCEL_MOUNT_MATRIX"), QString()});
    if (!kernel.isNull())
        offers.push_back(
            {QStringLiteral("kernel"), kernel, QStringLiteral("mount_matrix"), QString()});
    const MountMatrix chosen = MountMatrix::choose(offers);
    QCOMPARE(chosen.origin, origin);
    QCOMPARE(MountMatrix::text(chosen.rows), rows);
    QStringList reasons;
    for (const MountMatrix::Rejected& r : chosen.rejected)
        reasons << r.origin + QStringLiteral(": ") + r.why;
    QCOMPARE(reasons.join(QStringLiteral(" | ")), rejected);
}

void MountMatrixTest::completesTheFrame_data() {
    QTest::addColumn<QByteArray>("matrix");
    QTest::addColumn<bool>("reportsGravity");
    QTest::addColumn<QString>("frame");
    // A chip reads the force that holds it up; a HID sensor hub reads gravity itself.
    QTest::newRow("chip, identity")
        << QByteArray("1, 0, 0; 0, 1, 0; 0, 0, 1") << false << "1, 0, 0; 0, 1, 0; 0, 0, -1";
    QTest::newRow("hub, identity")
        << QByteArray("1, 0, 0; 0, 1, 0; 0, 0, 1") << true << "1, 0, 0; 0, 1, 0; 0, 0, 1";
    // The hwdb's third row is tested by nothing: a reflection is turned into a rotation.
    QTest::newRow("BYT reflection")
        << QByteArray("0, -1, 0; -1, 0, 0; 0, 0, 1") << false << "0, -1, 0; -1, 0, 0; 0, 0, 1";
    QTest::newRow("quarter turn, chip")
        << QByteArray("0, -1, 0; 1, 0, 0; 0, 0, 1") << false << "0, -1, 0; 1, 0, 0; 0, 0, -1";
}

void MountMatrixTest::completesTheFrame() {
    QFETCH(QByteArray, matrix);
    QFETCH(bool, reportsGravity);
    QFETCH(QString, frame);
    const MountMatrix chosen = MountMatrix::choose({{QStringLiteral("kernel"), matrix, {}, {}}});
    QVERIFY(chosen.rejected.empty());
    QCOMPARE(MountMatrix::text(chosen.frame(reportsGravity)), frame);
}

QTEST_GUILESS_MAIN(MountMatrixTest)
#include "tst_mount_matrix.moc"
