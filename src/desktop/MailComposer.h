#pragma once

#include <QString>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>

namespace desktop {

// The subject and body of a mailto: URL, percent-escaped as UTF-8. Every character other than
// letters, digits and - . _ ~ : becomes escapes of its UTF-8 octets, so a body holding
// "&to=..." or "#" cannot add mail headers or cut the URL short. The log's own text keeps
// - . : and letters and digits; blanks become %20, line ends %0A, + %2B, brackets %5B and %5D.
QByteArray mailEscaped(const QString& text);

// "mailto:?subject=<subject>&body=<body>", both escaped: a new mail without recipient.
QUrl mailUrl(const QString& subject, const QString& body);

// The recording log as a mail with the subject "iPhone Acceleration Measurement".
QUrl recordMailUrl(const QString& log);

// Where "Send feedback" goes: "mailto:<address>?subject=Wobblestar" when the build names an
// address (WOBBLESTAR_FEEDBACK_ADDRESS); otherwise the README's feedback section, on the
// project's homepage (WOBBLESTAR_HOMEPAGE) or else the first of `readmeCandidates` that exists.
// Empty when there is none of these.
QUrl feedbackUrl(const QString& address, const QString& homepage,
                 const QStringList& readmeCandidates);
// The same for this build: its settings, then the installed README, then the source tree's.
QUrl feedbackUrl();

// What an exit status of xdg-open given `url` means, as one sentence for the user: 3 is "no
// program found for this kind of link", 4 "the program found failed" (xdg-utils' own manual).
QString launcherFailure(const QUrl& url, int exitStatus);

// What became of a request to open a mail.
struct MailResult {
    enum class Status {
        Opened,        // handed to the desktop's mail program
        NoMailProgram, // no launcher, or no program registered for mailto: links
        TooLong,       // the URL is longer than a program argument may be
        LaunchFailed,  // the launcher refused or could not be started
    };
    Status status = Status::Opened;
    // A clear message for the user; empty when opened. From mailLog it ends by offering to
    // save the log to a file, which the caller does when the user accepts.
    QString message;

    bool opened() const { return status == Status::Opened; }
};

// Hands mailto: URLs to the desktop (QDesktopServices::openUrl, which runs xdg-open) and says
// honestly whether that can have worked. The opener and the mail-program probe can be replaced
// for tests.
class MailComposer {
public:
    // Opens a URL; false when no launcher could be started.
    using Opener = std::function<bool(const QUrl&)>;
    // Whether a program is registered for mailto: links; nullopt when that cannot be told.
    using MailProgramProbe = std::function<std::optional<bool>()>;

    // The longest URL handed on, in bytes. The URL reaches the mail program as one command-line
    // argument of xdg-open and then of the mail program (thunderbird -compose, evolution,
    // kmail ...); Linux refuses any single argument longer than MAX_ARG_STRLEN, 32 pages =
    // 131,072 bytes including its terminating zero, and the launch fails with E2BIG out of
    // sight. Some launchers rewrite the URL into a longer argument (thunderbird's
    // "body='...'"), so stay 10% below. That is about 880 log lines, 88 s at 0.10 s.
    static constexpr qsizetype kMaxUrlBytes = 118'000;

    // The desktop's opener and probe: xdg-open, watched until it ends (else
    // QDesktopServices::openUrl), and
    // "xdg-mime query default x-scheme-handler/mailto" where xdg-mime exists.
    MailComposer();
    MailComposer(Opener opener, MailProgramProbe probe);

    // Told when an opener that had started reports afterwards that it failed (xdg-open ended
    // with an error status): the URL it was given and one sentence for the user.
    using LateFailure = std::function<void(const QUrl& url, const QString& message)>;
    void setLateFailureHandler(LateFailure handler) { *lateFailure_ = std::move(handler); }

    // Opens a mailto: URL (the feedback mail) or any other URL (the feedback page). On failure
    // the message says why.
    MailResult open(const QUrl& url) const;
    // Opens the recording log as a mail (recordMailUrl). On failure the message says why and
    // offers to save the log to a file instead.
    MailResult mailLog(const QString& log) const;

private:
    // Shared with the desktop opener, which reports after open() has returned.
    std::shared_ptr<LateFailure> lateFailure_ = std::make_shared<LateFailure>();
    Opener opener_;
    MailProgramProbe probe_;
};

} // namespace desktop
