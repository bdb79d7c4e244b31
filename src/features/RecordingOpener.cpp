#include "features/RecordingOpener.h"

#include "screens/DialogStyle.h"
#include "sensors/RecordingReader.h"
#include "sensors/SampleCsvWriter.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMimeData>
#include <QWidget>

namespace features {

namespace {

// The one local file a drag carries, or an empty string (several files, a web link, text).
QString droppedFile(const QMimeData* data) {
    if (!data || !data->hasUrls() || data->urls().size() != 1)
        return {};
    const QUrl url = data->urls().constFirst();
    return url.isLocalFile() ? url.toLocalFile() : QString();
}

} // namespace

RecordingOpener::RecordingOpener(QWidget* window, std::function<void(const QString&)> open)
    : QObject(window), window_(window), action_(new QAction(tr("Replay a file…"), window)),
      open_(std::move(open)) {
    // Ctrl+O opens the recordings window, which lists and shows recordings; this replays one.
    action_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
    action_->setShortcutContext(Qt::ApplicationShortcut);
    window->addAction(action_);
    window->setAcceptDrops(true);
    window->installEventFilter(this);
    connect(action_, &QAction::triggered, this, &RecordingOpener::choose);
}

void RecordingOpener::choose() {
    // Where Wobblestar keeps its own recordings, else the home folder: never the folder the
    // program happened to be started from.
    QString folder = sensors::SampleCsvWriter::defaultDirectory();
    if (!QFileInfo(folder).isDir())
        folder = QDir::homePath();
    const QString path =
        chooser_ ? chooser_()
                 : QFileDialog::getOpenFileName(screens::dialogParent(window_), tr("Replay a file"),
                                                folder, sensors::recordingFileFilter());
    if (!path.isEmpty())
        open_(path);
}

bool RecordingOpener::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_ && event->type() == QEvent::ContextMenu) {
        // A menu of the scaled layout would be drawn inside the window and cut at its edge; a
        // menu of its own is placed on the screen, where the pointer is.
        QMenu menu;
        menu.addActions(window_->actions());
        menu.exec(static_cast<QContextMenuEvent*>(event)->globalPos());
        return true;
    }
    if (watched == window_ && event->type() == QEvent::DragEnter) {
        auto* drag = static_cast<QDragEnterEvent*>(event);
        if (!droppedFile(drag->mimeData()).isEmpty())
            drag->acceptProposedAction();
        return true;
    }
    if (watched == window_ && event->type() == QEvent::Drop) {
        auto* drop = static_cast<QDropEvent*>(event);
        const QString path = droppedFile(drop->mimeData());
        if (!path.isEmpty()) {
            drop->acceptProposedAction();
            open_(path);
        }
        return true;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace features
