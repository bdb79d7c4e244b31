#include "features/RecordingOpener.h"

#include <QAction>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QMimeData>
#include <QWidget>

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
    : QObject(window), window_(window), action_(new QAction(tr("Open recording…"), window)),
      open_(std::move(open)) {
    // Ctrl+O opens the recordings window, which lists and shows recordings; this replays one.
    action_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
    action_->setShortcutContext(Qt::ApplicationShortcut);
    window->addAction(action_);
    window->setContextMenuPolicy(Qt::ActionsContextMenu);
    window->setAcceptDrops(true);
    window->installEventFilter(this);
    connect(action_, &QAction::triggered, this, &RecordingOpener::choose);
}

void RecordingOpener::choose() {
    const QString path =
        chooser_
            ? chooser_()
            : QFileDialog::getOpenFileName(window_, tr("Open recording"), QString(),
                                           tr("Recordings (*.csv *.txt *.tsv);;All files (*)"));
    if (!path.isEmpty())
        open_(path);
}

bool RecordingOpener::eventFilter(QObject* watched, QEvent* event) {
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
