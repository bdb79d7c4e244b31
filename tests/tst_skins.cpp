#include <QImage>
#include <QTest>

// The skin images are embedded in the core library; the screens load them by these names.
class SkinsTest : public QObject {
    Q_OBJECT
private slots:
    void embeddedAtBothDensities_data();
    void embeddedAtBothDensities();
};

void SkinsTest::embeddedAtBothDensities_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("points");
    for (const char* skin : {"carbon", "metal", "ancient", "black"}) {
        const QString name = QString::fromLatin1(skin);
        QTest::newRow(skin) << name << QSize(320, 480);
        QTest::newRow(qPrintable(name + "90")) << name + "90" << QSize(480, 320);
    }
}

void SkinsTest::embeddedAtBothDensities() {
    QFETCH(QString, name);
    QFETCH(QSize, points);
    const QImage normal(QStringLiteral(":/skins/%1.png").arg(name));
    const QImage dense(QStringLiteral(":/skins/%1@2x.png").arg(name));
    QVERIFY2(!normal.isNull(), qPrintable(name));
    QVERIFY2(!dense.isNull(), qPrintable(name + "@2x"));
    QCOMPARE(normal.size(), points);
    QCOMPARE(dense.size(), points * 2);
    // Backgrounds must be opaque: the screens behind them would show through otherwise.
    QVERIFY(!normal.hasAlphaChannel());
    QVERIFY(!dense.hasAlphaChannel());
}

QTEST_GUILESS_MAIN(SkinsTest)
#include "tst_skins.moc"
