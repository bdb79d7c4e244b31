#include "app/Recorder.h"

#include "app/SettingsTable.h"
#include "desktop/Files.h"
#include "features/RecordingLog.h"
#include "screens/DialogStyle.h"
#include "screens/StatusBar.h"
#include "sensors/Accelerometer.h"
#include "ui_Wobblestar.h"

#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStandardPaths>
#include <QTimer>
#include <cmath>
#include <cstdio>

namespace app {

using sensors::SampleCsvWriter;

Recorder::Recorder(Ui::Wobblestar& ui, QWidget* window, std::function<void()> tick, QObject* parent)
    : QObject(parent), ui_(ui), window_(window), tick_(std::move(tick)) {
    watchLateMailFailures();
    ui_.sampleFileLabel->installEventFilter(this);
    ui_.sampleFileLabel->setCursor(Qt::PointingHandCursor);
    connect(ui_.sourceRate, &QCheckBox::toggled, this,
            [this](bool on) { recordRate_ = on ? std::optional(chosenRate_) : std::nullopt; });
    connect(&sensors::Accelerometer::sharedAccelerometer(), &sensors::Accelerometer::statusMessage,
            this, [this](const QString&, sensors::AccelerometerDriver::MessageKind kind) {
                if (kind == sensors::AccelerometerDriver::MessageKind::Lost)
                    sourceLost_ = true;
            });
}

void Recorder::record(const sensors::Acceleration& acceleration) {
    sinceReading_.start();
    lastReadingAt_ = QDateTime::currentDateTime();
    sourceLost_ = false;
    if (silenceShown_ && statusBar_)
        statusBar_->clearLost();
    silenceShown_ = false;
    // While capturing, the file takes the source's own samples instead.
    if (recording_ && sampleWriter_ && !captureDriver_) {
        sampleWriter_->append(acceleration);
        ++rowsWritten_;
    }
}

bool Recorder::sourceIsSilent() const {
    return sourceLost_ || (sinceReading_.isValid() && sinceReading_.elapsed() > kSilenceMs);
}

void Recorder::tell(const QString& message, bool lasting) {
    const QByteArray line = QStringLiteral("wobblestar: %1\n").arg(message).toLocal8Bit();
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
    if (!statusBar_)
        return;
    if (lasting)
        statusBar_->showLost(message);
    else
        statusBar_->showNotice(message);
}

void Recorder::setMailComposer(desktop::MailComposer composer) {
    mailComposer_ = std::move(composer);
    watchLateMailFailures();
}

void Recorder::watchLateMailFailures() {
    mailComposer_.setLateFailureHandler([this](const QUrl& url, const QString& message) {
        if (url == desktop::feedbackUrl())
            showLink(tr("Send feedback"), message, url);
        else
            showMessage(tr("Mail not sent"), message + tr(" Save the log to a file instead?"),
                        true);
    });
}

void Recorder::setSampleFile(SampleFile kind, const QString& path) {
    sampleFile_ = kind;
    sampleFilePath_ = path;
}

void Recorder::setRecordRate(std::optional<double> hz) {
    recordRate_ = hz;
    if (hz)
        chosenRate_ = *hz;
    const QSignalBlocker quiet(ui_.sourceRate);
    ui_.sourceRate->setChecked(hz.has_value());
}

void Recorder::offerSourceRate() {
    const sensors::AccelerometerDriver* driver =
        sensors::Accelerometer::sharedAccelerometer().driver();
    const double highest = driver ? driver->highestCaptureRate() : 0.0;
    const bool offered = highest > 0.0 && !headless_;
    if (offered == !ui_.sourceRate->isHidden() && !offered)
        return;
    // The log makes room for the choice only where there is one.
    const int room = ui_.sourceRate->height() + 4;
    if (offered != !ui_.sourceRate->isHidden()) {
        QRect log = ui_.recordingText->geometry();
        log.setHeight(log.height() + (offered ? -room : room));
        ui_.recordingText->setGeometry(log);
    }
    ui_.sourceRate->setVisible(offered);
    ui_.sourceRate->setText(tr("Every sample at the sensor's rate (%1 Hz)")
                                .arg(chosenRate_ > 0.0 ? chosenRate_ : highest, 0, 'g', 6));
}

void Recorder::start() {
    // A recording of a source that gives nothing would repeat its last reading as if it were
    // live, and leave a full-rate file of a header alone.
    if (!headless_ && sourceIsSilent()) {
        tell(lastReadingAt_.isValid()
                 ? tr("Not recording: no reading has come since %1")
                       .arg(lastReadingAt_.toString(QStringLiteral("HH:mm:ss")))
                 : tr("Not recording: the source gives no readings"),
             false);
        return;
    }
    const QDateTime started = QDateTime::currentDateTime();
    const int index = ui_.segment->selectedSegmentIndex();
    ui_.recordingText->setPlainText(
        features::RecordingLog::header(features::RecordingLog::labelForIndex(index), started));
    ui_.graphView->setUpdatingIsEnabled(false);
    ui_.start->setEnabled(false);
    ui_.closerecord->setEnabled(false);
    ui_.emailrecord->setEnabled(false);
    // The log keeps the interval it started with.
    ui_.segment->setEnabled(false);
    ui_.sourceRate->setEnabled(false);
    ui_.stop->setEnabled(true);
    if (!headless_)
        SettingsTable::storePeriod(index); // written by stop at the latest

    // Only a call from code can start twice; never leave two timers ticking into one log.
    stopTimers();
    recording_ = true;
    rowsWritten_ = 0;
    startSampleFile(started);
    if (const auto period = features::RecordingLog::periodForIndex(index)) {
        auto* timer = new QTimer(this);
        timer->setObjectName(QStringLiteral("myTimer%1").arg(index + 1));
        // Lines at even steps: the default coarse timer may drift by 5% of the period.
        timer->setTimerType(Qt::PreciseTimer);
        timer->setInterval(int(std::lround(period->seconds * 1000.0)));
        connect(timer, &QTimer::timeout, this, [this] { tick_(); });
        QTimer** fields[] = {&myTimer1, &myTimer2, &myTimer3, &myTimer4};
        *fields[index] = timer;
        timer->start();
    }
}

void Recorder::appendSample(float x, float y, float z) {
    if (recording_ && !silenceShown_ && sourceIsSilent() && lastReadingAt_.isValid()) {
        silenceShown_ = true;
        tell(tr("No reading since %1; the log repeats the last one")
                 .arg(lastReadingAt_.toString(QStringLiteral("HH:mm:ss"))),
             true);
    }
    // Appending leaves the text exactly as rebuilding it would, at a cost that does not grow
    // with the log.
    features::RecordingLog::appendToView(ui_.recordingText,
                                         features::RecordingLog::sampleLine(x, y, z));
}

void Recorder::stop() {
    const QDateTime ended = QDateTime::currentDateTime();
    features::RecordingLog::appendToView(ui_.recordingText, features::RecordingLog::footer(ended));

    QString storeError;
    const bool stored =
        headless_ || SettingsTable::storeLog(ui_.recordingText->toPlainText(), &storeError);

    stopTimers();
    ui_.graphView->setUpdatingIsEnabled(true);
    ui_.start->setEnabled(true);
    ui_.closerecord->setEnabled(true);
    ui_.emailrecord->setEnabled(true);
    ui_.segment->setEnabled(true);
    ui_.sourceRate->setEnabled(true);
    ui_.stop->setEnabled(false);
    recording_ = false;

    stopCapture();
    if (sampleWriter_) {
        sampleWriter_->close(); // a failure is reported through its failed() signal
        // A file of the header alone is no recording; in the recordings folder it would only
        // be listed as one that cannot be replayed.
        if (sampleFile_ == SampleFile::Default && rowsWritten_ == 0 &&
            !sampleWriter_->hasFailed() && QFile::remove(sampleWriter_->path())) {
            tell(tr("No reading came during the recording: %1 removed")
                     .arg(QFileInfo(sampleWriter_->path()).fileName()),
                 false);
            ui_.sampleFileLabel->clear();
            ui_.sampleFileLabel->hide();
        }
    }

    if (!stored)
        showMessage(tr("Log not stored"), storeError, true);
}

void Recorder::finish() {
    if (recording_)
        stop();
}

void Recorder::stopTimers() {
    for (QTimer** field : {&myTimer1, &myTimer2, &myTimer3, &myTimer4}) {
        if (*field) {
            (*field)->stop();
            delete *field;
        }
        *field = nullptr;
    }
}

void Recorder::startSampleFile(const QDateTime& started) {
    sampleWriter_.reset();
    if (sampleFile_ == SampleFile::None) {
        ui_.sampleFileLabel->clear();
        ui_.sampleFileLabel->hide();
        return;
    }
    sampleWriter_ = sampleFile_ == SampleFile::Named
                        ? std::make_unique<sensors::SampleCsvWriter>(
                              sampleFilePath_, sensors::SampleCsvWriter::Existing::Replace)
                        : std::make_unique<sensors::SampleCsvWriter>(
                              sensors::SampleCsvWriter::defaultPath(started));
    connect(sampleWriter_.get(), &sensors::SampleCsvWriter::failed, this,
            [this](const QString& message) {
                showSampleFile();
                showMessage(tr("Full-rate recording stopped"), message);
            });
    // Times count from the start, not from the first reading after it.
    sampleWriter_->setTimeOrigin(sensors::Accelerometer::sharedAccelerometer().now());
    sampleWriter_->open();
    showSampleFile();
    startCapture();
}

void Recorder::startCapture() {
    captureDriver_.clear();
    if (!recordRate_ || !sampleWriter_ || sampleWriter_->hasFailed())
        return;
    sensors::Accelerometer& accelerometer = sensors::Accelerometer::sharedAccelerometer();
    sensors::AccelerometerDriver* driver = accelerometer.driver();
    const double live =
        accelerometer.updateInterval() > 0.0 ? 1.0 / accelerometer.updateInterval() : 0.0;
    QString why;
    double rate = 0.0;
    if (!driver) {
        why = tr("there is no source");
    } else if (driver->startCapture(
                   *recordRate_, accelerometer.now(),
                   [this](const sensors::Acceleration& reading) {
                       if (sampleWriter_) {
                           sampleWriter_->append(reading);
                           ++rowsWritten_;
                       }
                   },
                   &rate, &why)) {
        captureDriver_ = driver;
        tell(tr("Recording every sample of %1 at %2 Hz").arg(driver->description()).arg(rate),
             false);
        return;
    }
    tell(tr("%1 cannot record at its own rate: %2; recording at the live rate, %3 Hz")
             .arg(driver ? driver->description() : tr("The source"), why)
             .arg(std::round(live)),
         false);
}

void Recorder::stopCapture() {
    if (captureDriver_)
        captureDriver_->stopCapture();
    captureDriver_.clear();
}

void Recorder::showSampleFile() {
    if (!sampleWriter_) {
        ui_.sampleFileLabel->clear();
        ui_.sampleFileLabel->hide();
        return;
    }
    QString shown = QDir::toNativeSeparators(sampleWriter_->path());
    const QString home = QDir::toNativeSeparators(QDir::homePath());
    if (shown.startsWith(home + QDir::separator()))
        shown.replace(0, home.size(), QStringLiteral("~"));
    const QString prefix = sampleWriter_->hasFailed() ? tr("Not written: ") : tr("Samples: ");
    const int room = ui_.sampleFileLabel->contentsRect().width() -
                     ui_.sampleFileLabel->fontMetrics().horizontalAdvance(prefix) - 8;
    ui_.sampleFileLabel->show();
    ui_.sampleFileLabel->setText(
        prefix + ui_.sampleFileLabel->fontMetrics().elidedText(shown, Qt::ElideMiddle, room));
    ui_.sampleFileLabel->setToolTip(sampleWriter_->hasFailed()
                                        ? sampleWriter_->errorString()
                                        : QDir::toNativeSeparators(sampleWriter_->path()));
}

bool Recorder::eventFilter(QObject* watched, QEvent* event) {
    if (watched != ui_.sampleFileLabel || !sampleWriter_)
        return QObject::eventFilter(watched, event);
    QPoint at;
    if (event->type() == QEvent::ContextMenu)
        at = static_cast<QContextMenuEvent*>(event)->globalPos();
    else if (event->type() == QEvent::MouseButtonRelease)
        at = static_cast<QMouseEvent*>(event)->globalPosition().toPoint();
    else
        return QObject::eventFilter(watched, event);
    // A menu of its own, on the screen: one of the scaled layout would be cut at its edge.
    const QString path = QDir::toNativeSeparators(sampleWriter_->path());
    QMenu menu;
    menu.addAction(tr("Show in folder"), this, [this, path] {
        const QString folder = QFileInfo(path).absolutePath();
        if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
            showLink(tr("Show in folder"), tr("No program to show folders was found."),
                     QUrl::fromLocalFile(folder));
    });
    menu.addAction(tr("Copy path"), this, [path] { QGuiApplication::clipboard()->setText(path); });
    menu.exec(at);
    return true;
}

void Recorder::mailLog() {
    const desktop::MailResult result = mailComposer_.mailLog(ui_.recordingText->toPlainText());
    if (!result.opened())
        showMessage(tr("Mail not sent"), result.message, true);
}

void Recorder::mailFeedback() {
    const QUrl url = desktop::feedbackUrl();
    if (url.isEmpty()) {
        showMessage(tr("Feedback"), tr("This build names no feedback address or page."));
        return;
    }
    const desktop::MailResult result = mailComposer_.open(url);
    if (!result.opened())
        showLink(tr("Send feedback"), result.message, url);
}

void Recorder::showLink(const QString& title, const QString& text, const QUrl& url) {
    // Where nothing opens the link, the user can still take it elsewhere.
    const QString link = url.scheme() == u"mailto" ? url.path() : url.toDisplayString();
    showMessage(title,
                text + tr("\n\n%1 it by hand:\n%2")
                           .arg(url.scheme() == u"mailto" ? tr("Write to") : tr("Open"), link));
    if (!messageBox_)
        return;
    messageBox_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QPushButton* copy = messageBox_->addButton(tr("Copy"), QMessageBox::ActionRole);
    // An action button would close the box; the user may still want to read the address.
    QObject::disconnect(copy, &QAbstractButton::clicked, nullptr, nullptr);
    connect(copy, &QPushButton::clicked, this,
            [link] { QGuiApplication::clipboard()->setText(link); });
}

namespace {

// A text file's lines each end in a line end, the last one too; tools that read line by line
// (wc -l, read, diff) would otherwise miss or flag the last line of the log.
QByteArray textFileContents(const QString& text) {
    QByteArray bytes = text.toUtf8();
    if (!bytes.isEmpty() && !bytes.endsWith('\n'))
        bytes += '\n';
    return bytes;
}

} // namespace

bool Recorder::saveLog() {
    QString path;
    if (chooseLogFile_) {
        path = chooseLogFile_();
    } else {
        // The documents folder is named even where it does not exist; the dialog would then
        // open in the working folder, wherever the program was started from.
        QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        if (folder.isEmpty() || !QFileInfo(folder).isDir())
            folder = QDir::homePath();
        QFileDialog dialog(screens::dialogParent(window_), tr("Save log"),
                           QDir(folder).filePath(QStringLiteral("recording.txt")),
                           tr("Text files (*.txt);;All files (*)"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(QStringLiteral("txt"));
        screens::dressDialog(&dialog);
        if (dialog.exec() == QDialog::Accepted)
            path = dialog.selectedFiles().value(0);
    }
    if (path.isEmpty())
        return false;
    // A failed write leaves an existing file as it was instead of half-written.
    QString error;
    if (!desktop::saveFile(path, textFileContents(ui_.recordingText->toPlainText()), &error)) {
        showMessage(
            tr("Log not saved"),
            tr("The log could not be saved to %1: %2.").arg(QDir::toNativeSeparators(path), error));
        return false;
    }
    return true;
}

void Recorder::showMessage(const QString& title, const QString& text, bool offerSave) {
    qWarning("wobblestar: %s", qPrintable(text));
    if (headless_)
        return;
    if (messageBox_)
        messageBox_->close();
    // Not modal in the blocking sense: the event loop, the samples and a running recording go on.
    auto* box = new QMessageBox(QMessageBox::Warning, title, text, QMessageBox::NoButton,
                                screens::dialogParent(window_));
    screens::dressDialog(box);
    box->setAttribute(Qt::WA_DeleteOnClose);
    if (offerSave) {
        QPushButton* save = box->addButton(tr("Save Log..."), QMessageBox::AcceptRole);
        box->addButton(QMessageBox::Cancel);
        box->setDefaultButton(save);
        connect(save, &QPushButton::clicked, this, &Recorder::saveLog, Qt::QueuedConnection);
    } else {
        box->addButton(QMessageBox::Ok);
    }
    messageBox_ = box;
    box->open();
}

} // namespace app
