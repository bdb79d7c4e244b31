#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace screens {

// Keeps a top-level window's size, place and full-screen state between runs, in the settings
// group "windows" (keys "<name>/geometry", "<name>/fullScreen", "<name>/maximized"), apart from
// the preferences. A remembered place that no screen's free area holds any longer (a monitor
// unplugged, a smaller display) is dropped and the window keeps the size it was given.
//
//     auto* window = new QWidget;
//     screens::WindowPlacement::keep(window, QStringLiteral("main"));
//     window->show();
class WindowPlacement {
public:
    // Restores what was remembered under `name` (call before the window is shown) and
    // remembers it again whenever the window closes or the application quits. `worthKeeping`,
    // when given, is asked first: a window in a passing shape (the gauges' landscape turn)
    // is not remembered.
    static void keep(QWidget* window, const QString& name, std::function<bool()> worthKeeping = {});
    // Writes the window's placement under `name` now.
    static void remember(const QWidget* window, const QString& name);
    // Applies what was remembered under `name`; false when there was nothing that fits.
    static bool restore(QWidget* window, const QString& name);
};

} // namespace screens
