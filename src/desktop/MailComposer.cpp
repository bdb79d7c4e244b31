#include "desktop/MailComposer.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

// Build settings; empty when the build names none.
#ifndef WOBBLESTAR_FEEDBACK_ADDRESS
#define WOBBLESTAR_FEEDBACK_ADDRESS ""
#endif
#ifndef WOBBLESTAR_HOMEPAGE
#define WOBBLESTAR_HOMEPAGE ""
#endif
#ifndef WOBBLESTAR_SOURCE_README
#define WOBBLESTAR_SOURCE_README ""
#endif

namespace desktop {

namespace {

std::optional<bool> desktopHasMailProgram() {
    const QString xdgMime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (xdgMime.isEmpty())
        return std::nullopt;
    QProcess query;
    query.start(xdgMime, {QStringLiteral("query"), QStringLiteral("default"),
                          QStringLiteral("x-scheme-handler/mailto")});
    if (!query.waitForFinished(3000) || query.exitStatus() != QProcess::NormalExit) {
        query.kill();
        query.waitForFinished(500);
        return std::nullopt;
    }
    return !query.readAllStandardOutput().trimmed().isEmpty();
}

} // namespace

QString launcherFailure(const QUrl& url, int code) {
    const bool mail = url.scheme() == u"mailto";
    const QString what = mail ? QStringLiteral("the mail")
                              : QStringLiteral("the page %1").arg(url.toDisplayString());
    switch (code) {
    case 3:
        return mail ? QStringLiteral("No mail program was found to open the mail.")
                    : QStringLiteral("No program to open web pages was found for %1.")
                          .arg(url.toDisplayString());
    case 4:
        return mail ? QStringLiteral("The mail program could not open the mail.")
                    : QStringLiteral("No program could open %1 (no web browser is set up, or it "
                                     "failed).")
                          .arg(what);
    case 2:
        return QStringLiteral("%1 does not exist.").arg(url.toDisplayString());
    default:
        return QStringLiteral("Opening %1 failed (xdg-open ended with status %2).")
            .arg(what)
            .arg(code);
    }
}

namespace {

// xdg-open returns once the mail program has taken the URL (or, with no desktop environment
// it knows, once the program ends) with status 0; 3 and 4 mean no program or a failed one.
// Its exit status is the only word of that, so it runs here rather than detached.
bool openWithDesktop(const QUrl& url, const std::shared_ptr<MailComposer::LateFailure>& late) {
    const QString xdgOpen = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (xdgOpen.isEmpty())
        return QDesktopServices::openUrl(url);
    auto* process = new QProcess(QCoreApplication::instance());
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QObject::connect(process, &QProcess::finished, process,
                     [process, late, url](int code, QProcess::ExitStatus status) {
                         process->deleteLater();
                         if ((status == QProcess::NormalExit && code == 0) || !*late)
                             return;
                         (*late)(url, status == QProcess::NormalExit
                                          ? launcherFailure(url, code)
                                          : QStringLiteral("The program that opens links "
                                                           "(xdg-open) crashed."));
                     });
    process->start(xdgOpen, {QString::fromUtf8(url.toEncoded())});
    // Starting is a fork and exec: done at once, or never.
    if (!process->waitForStarted(2000)) {
        delete process;
        return false;
    }
    return true;
}

} // namespace

QByteArray mailEscaped(const QString& text) {
    // toPercentEncoding leaves letters, digits and - . _ ~ alone; : is kept as well. A bare +
    // is read as a blank by mail programs that decode the query as a form, so it is escaped.
    return text.toUtf8().toPercentEncoding(":");
}

QUrl mailUrl(const QString& subject, const QString& body) {
    return QUrl::fromEncoded(
        "mailto:?subject=" + mailEscaped(subject) + "&body=" + mailEscaped(body), QUrl::StrictMode);
}

QUrl recordMailUrl(const QString& log) {
    return mailUrl(QStringLiteral("iPhone Acceleration Measurement"), log);
}

QUrl feedbackUrl(const QString& address, const QString& homepage,
                 const QStringList& readmeCandidates) {
    if (!address.isEmpty())
        return QUrl(QStringLiteral("mailto:") + address + QStringLiteral("?subject=Wobblestar"));
    QUrl readme;
    if (!homepage.isEmpty()) {
        readme = QUrl(homepage);
    } else {
        for (const QString& candidate : readmeCandidates) {
            if (QFileInfo(candidate).isFile()) {
                readme = QUrl::fromLocalFile(QFileInfo(candidate).absoluteFilePath());
                break;
            }
        }
    }
    if (readme.isValid() && !readme.isEmpty())
        readme.setFragment(QStringLiteral("feedback"));
    return readme;
}

QUrl feedbackUrl() {
    QStringList readmes;
    if (QCoreApplication::instance()) {
        // Installed: <prefix>/bin/wobblestar beside <prefix>/share/doc/wobblestar/README.md.
        readmes << QDir(QCoreApplication::applicationDirPath())
                       .filePath(QStringLiteral("../share/doc/wobblestar/README.md"));
    }
    readmes << QStringLiteral(WOBBLESTAR_SOURCE_README);
    return feedbackUrl(QStringLiteral(WOBBLESTAR_FEEDBACK_ADDRESS),
                       QStringLiteral(WOBBLESTAR_HOMEPAGE), readmes);
}

MailComposer::MailComposer()
    : opener_([late = lateFailure_](const QUrl& url) { return openWithDesktop(url, late); }),
      probe_(desktopHasMailProgram) {}

MailComposer::MailComposer(Opener opener, MailProgramProbe probe)
    : opener_(std::move(opener)), probe_(std::move(probe)) {}

MailResult MailComposer::open(const QUrl& url) const {
    using Status = MailResult::Status;
    const qsizetype bytes = url.toEncoded().size();
    if (bytes > kMaxUrlBytes) {
        return {Status::TooLong,
                QStringLiteral("The log is too long to hand to the mail program (%1 KB as a "
                               "mail link, at most %2 KB).")
                    .arg((bytes + 1023) / 1024)
                    .arg(kMaxUrlBytes / 1024)};
    }
    // Only a mail link needs a mail program; a web page or a file opens in its own.
    if (url.scheme() == u"mailto" && probe_ && probe_() == false) {
        return {Status::NoMailProgram,
                QStringLiteral("No mail program is set up on this computer.")};
    }
    if (!opener_(url)) {
        return {Status::LaunchFailed,
                url.scheme() == u"mailto"
                    ? QStringLiteral("The mail program could not be started.")
                    : QStringLiteral("%1 could not be opened.").arg(url.toDisplayString())};
    }
    return {};
}

MailResult MailComposer::mailLog(const QString& log) const {
    MailResult result = open(recordMailUrl(log));
    if (!result.opened())
        result.message += QStringLiteral(" Save the log to a file instead?");
    return result;
}

} // namespace desktop
