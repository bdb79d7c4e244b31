#include "screens/WindowPlacement.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <QSettings>
#include <QWidget>

namespace screens {

namespace {

QString key(const QString& name, const char* what) {
    return QStringLiteral("windows/%1/%2").arg(name, QLatin1String(what));
}

bool fitsSomeScreen(const QRect& rect) {
    for (const QScreen* screen : QGuiApplication::screens())
        if (screen->availableGeometry().contains(rect))
            return true;
    return false;
}

// Remembers the window as it closes; quitting by key or signal closes no window, so the
// application's end is watched as well.
class PlacementKeeper : public QObject {
public:
    PlacementKeeper(QWidget* window, QString name, std::function<bool()> worthKeeping)
        : QObject(window), window_(window), name_(std::move(name)),
          worthKeeping_(std::move(worthKeeping)) {
        window->installEventFilter(this);
        if (QCoreApplication* application = QCoreApplication::instance())
            connect(application, &QCoreApplication::aboutToQuit, this, &PlacementKeeper::save);
    }

    void save() {
        if (window_->isVisible() && (!worthKeeping_ || worthKeeping_()))
            WindowPlacement::remember(window_, name_);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == window_ && event->type() == QEvent::Close)
            save();
        return QObject::eventFilter(watched, event);
    }

private:
    QWidget* window_;
    QString name_;
    std::function<bool()> worthKeeping_;
};

} // namespace

void WindowPlacement::keep(QWidget* window, const QString& name,
                           std::function<bool()> worthKeeping) {
    restore(window, name);
    // A window no one sees (screenshots, headless runs) has no place worth keeping, and must
    // not overwrite the one the user's desktop window left.
    if (QGuiApplication::platformName() == u"offscreen")
        return;
    new PlacementKeeper(window, name, std::move(worthKeeping));
}

void WindowPlacement::remember(const QWidget* window, const QString& name) {
    QSettings store;
    const bool full = window->isFullScreen();
    const bool maximized = window->isMaximized();
    store.setValue(key(name, "geometry"),
                   full || maximized ? window->normalGeometry() : window->geometry());
    store.setValue(key(name, "fullScreen"), full);
    store.setValue(key(name, "maximized"), maximized);
}

bool WindowPlacement::restore(QWidget* window, const QString& name) {
    QSettings store;
    const QRect rect = store.value(key(name, "geometry")).toRect();
    if (!rect.isValid() || rect.width() < window->minimumWidth() ||
        rect.height() < window->minimumHeight() || !fitsSomeScreen(rect)) {
        store.remove(QStringLiteral("windows/") + name);
        return false;
    }
    window->setGeometry(rect);
    Qt::WindowStates state = Qt::WindowNoState;
    if (store.value(key(name, "fullScreen")).toBool())
        state |= Qt::WindowFullScreen;
    else if (store.value(key(name, "maximized")).toBool())
        state |= Qt::WindowMaximized;
    window->setWindowState(state);
    return true;
}

} // namespace screens
