#pragma once

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QRect>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <memory>

// A real X server (Xvfb) with a real window manager (openbox), the program started in it, real
// input events (xdotool) and pictures read back from the server (xwd). Everything is stopped
// when the bed goes.
class DesktopBed {
public:
    ~DesktopBed() { stop(); }

    // Starts a server with one screen of `size` pixels, and the window manager. Returns an
    // empty string, or what went wrong.
    QString start(QSize size) {
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (xvfb.isEmpty())
            return QStringLiteral("Xvfb is not installed (Debian package xvfb)");
        for (const char* tool : {"openbox", "xdotool", "xwd", "xprop", "xwininfo"})
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                return QStringLiteral("%1 is not installed").arg(QString::fromLatin1(tool));
        server_ = std::make_unique<QProcess>();
        // -displayfd 1: the server picks a free display and names it on standard output once it
        // accepts clients. -br: a black root, so that anything drawn outside a window shows.
        server_->start(xvfb, {"-displayfd", "1", "-screen", "0",
                              QStringLiteral("%1x%2x24").arg(size.width()).arg(size.height()),
                              "-br", "-nolisten", "tcp", "-noreset"});
        QByteArray said;
        for (int i = 0; i < 100 && !said.endsWith('\n'); ++i) {
            server_->waitForReadyRead(100);
            said += server_->readAllStandardOutput();
            if (server_->state() == QProcess::NotRunning)
                break;
        }
        if (said.endsWith('\n'))
            display_ = QStringLiteral(":") + QString::fromLatin1(said.trimmed());
        if (display_.isEmpty())
            return QStringLiteral("Xvfb did not start: %1")
                .arg(QString::fromLocal8Bit(server_->readAllStandardError()).trimmed());
        manager_ = std::make_unique<QProcess>();
        manager_->setProcessEnvironment(environment());
        manager_->start(QStringLiteral("openbox"), {"--sm-disable"});
        for (int i = 0; i < 100; ++i) {
            if (run("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"}).contains("window id"))
                return QString();
            QThread::msleep(50);
        }
        return QStringLiteral("openbox did not start on %1").arg(display_);
    }

    // Starts the program with `arguments` at Qt scale factor `scale`, with settings of its own.
    void launch(const QString& binary, const QStringList& arguments, double scale) {
        QProcessEnvironment env = environment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("QT_SCALE_FACTOR"), QString::number(scale));
        env.insert(QStringLiteral("WOBBLESTAR_ANIMATIONS"), QStringLiteral("0"));
        env.insert(QStringLiteral("WOBBLESTAR_CONFIG_DIR"), config_.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config_.path());
        env.insert(QStringLiteral("HOME"), config_.path());
        env.insert(QStringLiteral("XDG_DATA_HOME"), dataPath());
        program_ = std::make_unique<QProcess>();
        program_->setProcessEnvironment(env);
        program_->setStandardOutputFile(QProcess::nullDevice());
        program_->setStandardErrorFile(QProcess::nullDevice());
        program_->start(binary, arguments);
        program_->waitForStarted();
    }

    QString configPath() const { return config_.path(); }
    // Where the program keeps its files (its recordings beneath).
    QString dataPath() const { return config_.filePath(QStringLiteral("data")); }

    // The names of the program's visible top-level windows, dialogs included.
    QStringList windowNames() {
        QStringList names;
        for (const QString& id :
             run("xdotool", {"search", "--onlyvisible", "--pid",
                             QString::number(program_->processId()), "--name", "."})
                 .split('\n', Qt::SkipEmptyParts))
            names << run("xdotool", {"getwindowname", id}).trimmed();
        return names;
    }

    // The program's visible top-level window titled `title` (all of it, or its beginning); 0
    // when none appeared within a few seconds.
    QString window(const QString& title) {
        for (int i = 0; i < 100; ++i) {
            const QStringList ids =
                run("xdotool", {"search", "--onlyvisible", "--pid",
                                QString::number(program_->processId()), "--name", "^" + title})
                    .split('\n', Qt::SkipEmptyParts);
            if (!ids.isEmpty())
                return ids.last();
            QThread::msleep(50);
        }
        return QString();
    }

    // Where the window's inside lies on the screen, in pixels. (xwininfo, since xdotool's
    // position is off by the window manager's frame.)
    QRect geometry(const QString& window) {
        QRect rect;
        for (const QString& line :
             run("xwininfo", {"-id", window}).split('\n', Qt::SkipEmptyParts)) {
            const QString item = line.trimmed();
            const int value = item.section(':', 1).trimmed().toInt();
            if (item.startsWith(u"Absolute upper-left X:"))
                rect.moveLeft(value);
            else if (item.startsWith(u"Absolute upper-left Y:"))
                rect.moveTop(value);
            else if (item.startsWith(u"Width:"))
                rect.setWidth(value);
            else if (item.startsWith(u"Height:"))
                rect.setHeight(value);
        }
        return rect;
    }

    // The whole screen as the server holds it.
    QImage picture() {
        QProcess xwd;
        xwd.setProcessEnvironment(environment());
        xwd.start(QStringLiteral("xwd"), {"-root", "-silent"});
        xwd.waitForFinished(10000);
        return fromXwd(xwd.readAllStandardOutput());
    }

    QString run(const QString& tool, const QStringList& arguments) {
        QProcess process;
        process.setProcessEnvironment(environment());
        process.start(tool, arguments);
        process.waitForFinished(10000);
        return QString::fromLocal8Bit(process.readAllStandardOutput());
    }

    // Whether the program ended (within a few seconds).
    bool waitForProgramEnd() {
        return program_ &&
               (program_->state() == QProcess::NotRunning || program_->waitForFinished(10000));
    }

    bool programRunning() const { return program_ && program_->state() == QProcess::Running; }

    void stop() {
        for (auto* process : {program_.get(), manager_.get(), server_.get()}) {
            if (!process || process->state() == QProcess::NotRunning)
                continue;
            process->terminate();
            if (!process->waitForFinished(5000)) {
                process->kill();
                process->waitForFinished(2000);
            }
        }
        program_.reset();
        manager_.reset();
        server_.reset();
        display_.clear();
    }

private:
    QProcessEnvironment environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), display_);
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        return env;
    }

    // An X window dump in ZPixmap format, 24 or 32 bits a pixel (Xvfb's 24-bit screen gives
    // three bytes a pixel in rows padded to four).
    static QImage fromXwd(const QByteArray& dump) {
        auto field = [&](int index) -> quint32 {
            const auto* p = reinterpret_cast<const uchar*>(dump.constData()) + 4 * index;
            return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3];
        };
        if (dump.size() < 100)
            return QImage();
        const int width = int(field(4)), height = int(field(5)), stride = int(field(12));
        const int bytes = int(field(11)) / 8;
        if (field(2) != 2 || (bytes != 3 && bytes != 4) || stride < width * bytes)
            return QImage();
        const qsizetype offset = qsizetype(field(0)) + qsizetype(field(19)) * 12;
        if (dump.size() < offset + qsizetype(stride) * height)
            return QImage();
        const bool msbFirst = field(7) == 1;
        QImage image(width, height, QImage::Format_RGB32);
        for (int y = 0; y < height; ++y) {
            const auto* row =
                reinterpret_cast<const uchar*>(dump.constData()) + offset + qsizetype(stride) * y;
            auto* out = reinterpret_cast<quint32*>(image.scanLine(y));
            for (int x = 0; x < width; ++x) {
                const uchar* p = row + bytes * x;
                out[x] =
                    msbFirst
                        ? (quint32(p[bytes - 3]) << 16 | quint32(p[bytes - 2]) << 8 | p[bytes - 1])
                        : (quint32(p[2]) << 16 | quint32(p[1]) << 8 | p[0]);
                out[x] |= 0xff000000u;
            }
        }
        return image;
    }

    QTemporaryDir config_;
    QString display_;
    std::unique_ptr<QProcess> server_, manager_, program_;
};
