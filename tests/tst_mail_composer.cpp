#include "desktop/MailComposer.h"
#include "features/RecordingLog.h"

#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

using desktop::MailComposer;
using desktop::MailResult;

namespace {

QString fixedLog() {
    const QDateTime started(QDate(2026, 12, 8), QTime(14, 3, 22), QTimeZone::utc());
    return features::RecordingLog::header(QStringLiteral("0.10s"), started) +
           features::RecordingLog::sampleLine(0.01f, -0.02f, -1.0f) +
           features::RecordingLog::footer(started.addSecs(2));
}

// Splits "mailto:?subject=S&body=B" into its decoded fields; fails unless there are exactly two.
QStringList decodedFields(const QUrl& url) {
    const QByteArray encoded = url.toEncoded();
    if (!encoded.startsWith("mailto:?") || encoded.contains('#'))
        return {};
    QStringList fields;
    for (const QByteArray& pair : encoded.mid(8).split('&')) {
        const QList<QByteArray> parts = pair.split('=');
        if (parts.size() != 2)
            return {};
        fields << QString::fromLatin1(parts[0]) << QUrl::fromPercentEncoding(parts[1]);
    }
    return fields;
}

void writeScript(const QString& path, const QByteArray& body) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\nPATH=/usr/bin:/bin\n" + body);
    file.close();
    file.setPermissions(file.permissions() | QFile::ExeOwner);
}

} // namespace

class MailComposerTest : public QObject {
    Q_OBJECT
private slots:
    void escapesAKnownLog();
    void decodesBackUnchanged_data();
    void decodesBackUnchanged();
    void feedbackMail_data();
    void feedbackMail();
    void reportsEachFailure_data();
    void reportsEachFailure();
    void launcherFailureInWords_data();
    void launcherFailureInWords();
    void desktopWithoutLauncher();
    void desktopWithoutMailProgram();
    void desktopLauncherGetsTheUrl();

private:
    QByteArray savedPath_ = qgetenv("PATH");
};

void MailComposerTest::escapesAKnownLog() {
    QCOMPARE(desktop::recordMailUrl(fixedLog()).toEncoded(),
             QByteArray("mailto:?subject=iPhone%20Acceleration%20Measurement&body="
                        "Recording%20Frequency:%200.10s%20%0A%0ARecording%20Started:%0A"
                        "2026-12-08%2014:03:22%20%2B0000%0A"
                        "%0A%5BX%5D:%20%2B0.01%20%20%20%20%20%20%20%20%20%20%20%20%20%20"
                        "%5BY%5D:%20-0.02%20%20%20%20%20%20%20%20%20%20%20%20%20%20"
                        "%5BZ%5D:%20-1.00"
                        "%0A%0ARecording%20Ended:%0A2026-12-08%2014:03:24%20%2B0000"));
}

void MailComposerTest::decodesBackUnchanged_data() {
    QTest::addColumn<QString>("log");
    QTest::newRow("log") << fixedLog();
    QTest::newRow("added headers") << fixedLog() + "&to=someone@example.org&attach=/etc/passwd";
    QTest::newRow("query and fragment") << QString("a?b=c#d?e=f");
    QTest::newRow("percent signs") << QString("100% %0A %25 %");
    QTest::newRow("non-ASCII") << QString("Straßenbahn Köln → Zürich 😀, ½ g");
    QTest::newRow("line ends and tabs") << QString("a\r\nb\tc\n");
    QTest::newRow("plus and reserved") << QString("+1 ;/@!$'()*,[]<>\"\\^`{|}");
    QTest::newRow("empty") << QString();
}

void MailComposerTest::decodesBackUnchanged() {
    QFETCH(QString, log);
    const QUrl url = desktop::recordMailUrl(log);
    QVERIFY(url.isValid());
    const QStringList fields = decodedFields(url);
    QCOMPARE(fields, QStringList({"subject", "iPhone Acceleration Measurement", "body", log}));
    for (char c : url.toEncoded().mid(8)) {
        const bool allowed =
            std::isalnum(static_cast<unsigned char>(c)) || QByteArray("-._~:%&=").contains(c);
        QVERIFY2(allowed, QByteArray(1, c).constData());
    }
}

void MailComposerTest::feedbackMail_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("homepage");
    QTest::addColumn<bool>("readmeExists");
    QTest::addColumn<QString>("expected"); // "readme" for the local README
    QTest::newRow("address") << "fb@example.org"
                             << "https://example.org/w" << true
                             << "mailto:fb@example.org?subject=Wobblestar";
    QTest::newRow("homepage") << ""
                              << "https://example.org/w" << true
                              << "https://example.org/w#feedback";
    QTest::newRow("installed README") << ""
                                      << "" << true << "readme";
    QTest::newRow("nothing") << ""
                             << "" << false << "";
}

void MailComposerTest::feedbackMail() {
    QFETCH(QString, address);
    QFETCH(QString, homepage);
    QFETCH(bool, readmeExists);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    const QString readme = dir.filePath("README.md");
    if (readmeExists) {
        QFile file(readme);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    const QUrl url = desktop::feedbackUrl(address, homepage, {dir.filePath("missing.md"), readme});
    if (expected == u"readme") {
        QCOMPARE(url.toLocalFile(), readme);
        QCOMPARE(url.fragment(), QStringLiteral("feedback"));
    } else {
        QCOMPARE(url.toString(), expected);
    }
    // This build's own choice always leads somewhere: the source tree holds a README.
    QVERIFY(!desktop::feedbackUrl().isEmpty());
}

void MailComposerTest::reportsEachFailure_data() {
    QTest::addColumn<std::optional<bool>>("hasMailProgram");
    QTest::addColumn<bool>("launches");
    QTest::addColumn<int>("logBytes");
    QTest::addColumn<MailResult::Status>("status");
    QTest::addColumn<bool>("opened");
    using S = MailResult::Status;
    QTest::newRow("opened") << std::optional<bool>(true) << true << 100 << S::Opened << true;
    QTest::newRow("probe cannot tell") << std::optional<bool>() << true << 100 << S::Opened << true;
    QTest::newRow("no mail program")
        << std::optional<bool>(false) << true << 100 << S::NoMailProgram << false;
    QTest::newRow("launcher fails")
        << std::optional<bool>(true) << false << 100 << S::LaunchFailed << true;
    QTest::newRow("too long") << std::optional<bool>(true) << true
                              << int(MailComposer::kMaxUrlBytes) << S::TooLong << false;
}

// The opener is tried only when the mail can work, and every failure says why and offers the
// file instead.
void MailComposerTest::reportsEachFailure() {
    QFETCH(std::optional<bool>, hasMailProgram);
    QFETCH(bool, launches);
    QFETCH(int, logBytes);
    QFETCH(MailResult::Status, status);
    QFETCH(bool, opened);
    QList<QUrl> tried;
    const MailComposer composer(
        [&](const QUrl& url) {
            tried << url;
            return launches;
        },
        [&] { return hasMailProgram; });
    const QString log(logBytes, QLatin1Char('a'));
    const MailResult result = composer.mailLog(log);
    QCOMPARE(result.status, status);
    QCOMPARE(result.opened(), status == MailResult::Status::Opened);
    QCOMPARE(tried.size(), opened ? 1 : 0);
    if (opened)
        QCOMPARE(tried.first(), desktop::recordMailUrl(log));
    if (result.opened())
        QVERIFY(result.message.isEmpty());
    else
        QVERIFY(result.message.endsWith(QStringLiteral("Save the log to a file instead?")));
}

void MailComposerTest::desktopWithoutLauncher() {
    QTemporaryDir emptyBin;
    qputenv("PATH", emptyBin.path().toLocal8Bit());
    qunsetenv("BROWSER");
    qunsetenv("DEFAULT_BROWSER");
    const MailResult result = MailComposer().mailLog(fixedLog());
    qputenv("PATH", savedPath_);
    QVERIFY(!result.opened());
    QVERIFY(!result.message.isEmpty());
}

void MailComposerTest::desktopWithoutMailProgram() {
    QTemporaryDir bin;
    writeScript(bin.filePath("xdg-mime"), "exit 0\n"); // no default application: prints nothing
    writeScript(bin.filePath("xdg-open"), "touch \"$0.ran\"\n");
    qputenv("PATH", bin.path().toLocal8Bit());
    const MailResult result = MailComposer().mailLog(fixedLog());
    qputenv("PATH", savedPath_);
    QCOMPARE(result.status, MailResult::Status::NoMailProgram);
    QVERIFY(!QFile::exists(bin.filePath("xdg-open.ran")));
}

void MailComposerTest::desktopLauncherGetsTheUrl() {
    if (QGuiApplication::platformName() == QLatin1String("offscreen"))
        QSKIP("The offscreen platform opens no URLs; tst_mail_composer_xcb runs this case.");
    QTemporaryDir bin;
    writeScript(bin.filePath("xdg-mime"), "echo thunderbird.desktop\n");
    writeScript(bin.filePath("xdg-open"),
                "printf '%s' \"$1\" > \"$0.url.tmp\" && mv \"$0.url.tmp\" "
                "\"$0.url\"\n");
    qputenv("PATH", bin.path().toLocal8Bit());
    const MailResult result = MailComposer().mailLog(fixedLog());
    qputenv("PATH", savedPath_);
    QCOMPARE(result.status, MailResult::Status::Opened);
    // xdg-open runs detached; wait for it to have written what it received.
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(bin.filePath("xdg-open.url")), 10000);
    QFile received(bin.filePath("xdg-open.url"));
    QVERIFY(received.open(QIODevice::ReadOnly));
    QCOMPARE(received.readAll(), desktop::recordMailUrl(fixedLog()).toEncoded());
}

void MailComposerTest::launcherFailureInWords_data() {
    QTest::addColumn<QUrl>("url");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("words");
    const QUrl mail(QStringLiteral("mailto:?subject=x")),
        page(QStringLiteral("https://example.org/#feedback"));
    QTest::newRow("no mail program") << mail << 3 << "No mail program was found";
    QTest::newRow("mail program failed") << mail << 4 << "mail program could not open";
    QTest::newRow("no browser") << page << 3 << "No program to open web pages was found";
    QTest::newRow("browser failed") << page << 4 << "No program could open the page";
    QTest::newRow("unknown status") << page << 9 << "Opening the page";
}

void MailComposerTest::launcherFailureInWords() {
    QFETCH(QUrl, url);
    QFETCH(int, status);
    QFETCH(QString, words);
    const QString message = desktop::launcherFailure(url, status);
    QVERIFY2(message.contains(words), qPrintable(message));
}

QTEST_MAIN(MailComposerTest)
#include "tst_mail_composer.moc"
