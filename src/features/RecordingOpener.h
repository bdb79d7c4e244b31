#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QAction;
class QWidget;

namespace features {

// Lets the user pick a recording to replay in a window: a "Replay a file…" entry (Ctrl+Shift+O,
// and the window's context menu) and dropping a file onto the window. Either hands the file's path
// to `open`; what happens then (checking, replaying, telling a refusal) is the caller's.
//
//   new RecordingOpener(window, [this](const QString& path) { openRecording(path); });
class RecordingOpener : public QObject {
    Q_OBJECT
public:
    RecordingOpener(QWidget* window, std::function<void(const QString&)> open);

    // The entry; triggering it shows the file dialog.
    QAction* action() const { return action_; }
    // Replaces the file dialog: returns the chosen file, or an empty string for none (tests).
    void setChooser(std::function<QString()> chooser) { chooser_ = std::move(chooser); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void choose();

    QWidget* window_;
    QAction* action_;
    std::function<void(const QString&)> open_;
    std::function<QString()> chooser_;
};

} // namespace features
