#include "screens/DialogStyle.h"

#include <QCoreApplication>
#include <QDialog>
#include <QEvent>
#include <QGraphicsProxyWidget>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QPalette>
#include <QWidget>

namespace screens {

namespace {

// Every selector of the window's sheet that can match inside a dialog is answered here (a
// state it names and this sheet does not would still come through). Text #1d1d1f on #f4f4f6 is
// a contrast of about 16:1; the disabled text #6e6e73 still 4.9:1.
constexpr const char* kDialogSheet = R"(
QDialog, QMessageBox, QFileDialog, QInputDialog { background: #f4f4f6; }
QLabel { color: #1d1d1f; background: transparent; font-size: 13px; font-weight: normal; }
QPushButton, QToolButton {
    color: #1d1d1f; background: #e2e2e7; border: 1px solid #8e8e96; border-radius: 6px;
    padding: 4px 12px; font-size: 13px; font-weight: normal; min-width: 60px; }
QToolButton { min-width: 0px; padding: 3px; }
QPushButton:hover, QToolButton:hover { background: #d4d4dc; }
QPushButton:pressed, QToolButton:pressed { background: #c4c4ce; }
QPushButton:focus, QToolButton:focus { border-color: #1f5fcc; }
QPushButton:default { color: #ffffff; background: #1f5fcc; border-color: #174a9e; }
QPushButton:disabled, QToolButton:disabled {
    color: #6e6e73; background: #ececf0; border-color: #c4c4ca; }
QLineEdit, QComboBox, QListView, QTreeView, QPlainTextEdit, QTextEdit, QSpinBox {
    color: #1d1d1f; background: #ffffff; border: 1px solid #8e8e96; border-radius: 4px;
    selection-background-color: #1f5fcc; selection-color: #ffffff;
    font-family: sans-serif; font-size: 13px; padding: 2px; }
QHeaderView::section { color: #1d1d1f; background: #e2e2e7; border: none; padding: 3px; }
)";

// Runs before the dialog's own show handler, which sizes a message box for its text: dressed
// here, it is sized in its own font.
class DialogDresser : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && watched->isWidgetType()) {
            auto* dialog = qobject_cast<QDialog*>(watched);
            if (dialog && dialog->styleSheet().isEmpty())
                dressDialog(dialog);
        }
        return false;
    }
};

} // namespace

void dressEveryDialog() {
    QCoreApplication* application = QCoreApplication::instance();
    static constexpr const char* kInstalled = "wobblestarDialogsDressed";
    if (!application || application->property(kInstalled).toBool())
        return;
    application->setProperty(kInstalled, true);
    application->installEventFilter(new DialogDresser(application));
}

void dressDialog(QWidget* dialog) {
    QPalette palette = dialog->palette();
    palette.setColor(QPalette::Window, QColor(0xf4, 0xf4, 0xf6));
    palette.setColor(QPalette::WindowText, QColor(0x1d, 0x1d, 0x1f));
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::Text, QColor(0x1d, 0x1d, 0x1f));
    palette.setColor(QPalette::Button, QColor(0xe2, 0xe2, 0xe7));
    palette.setColor(QPalette::ButtonText, QColor(0x1d, 0x1d, 0x1f));
    palette.setColor(QPalette::Highlight, QColor(0x1f, 0x5f, 0xcc));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    dialog->setPalette(palette);
    dialog->setStyleSheet(QString::fromLatin1(kDialogSheet));
}

QWidget* dialogParent(QWidget* widget) {
    if (!widget)
        return nullptr;
    QWidget* window = widget->window();
    if (QGraphicsProxyWidget* proxy = window->graphicsProxyWidget();
        proxy && proxy->scene() && !proxy->scene()->views().isEmpty())
        return proxy->scene()->views().constFirst()->window();
    return window;
}

} // namespace screens
