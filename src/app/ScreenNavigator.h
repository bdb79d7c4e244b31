#pragma once

#include "desktop/IdleInhibitor.h"
#include "drawing/Images.h"
#include "screens/AlignedImages.h"
#include "screens/ScreenNames.h"
#include "screens/ScreenTransition.h"

#include <QPixmap>
#include <functional>

class QLabel;
class QShortcut;
class QWidget;

namespace Ui {
class Wobblestar;
}

namespace screens {
class LandscapeScreen;
class FittedWindow;
class StatusBar;
} // namespace screens

namespace app {

// The five screens of the one window: which is shown, the transition between two of them, the
// skin each screen wears, and the turn of the window and status bar for the meters screen.
// The status bar and the transition are made with the window, the rest at start-up.
class ScreenNavigator {
public:
    // Which screen a window shows.
    using Screen = screens::ScreenId;

    ScreenNavigator(Ui::Wobblestar& ui, QWidget& window);

    // Keep the window portrait and show the meters screen turned inside it, instead of turning
    // the window to landscape. Set before start-up.
    void setFixedOrientation(bool fixed) { fixedOrientation_ = fixed; }
    // The shortcut that pauses a display; it works only where there is one to pause.
    void setPauseKey(QShortcut* key) { pauseKey_ = key; }

    // Loads the eight skin images by their file names ("carbon.png" ... "black90.png"); a
    // missing one is a null image, and leaves the views it would dress empty.
    void loadSkins(const std::function<QPixmap(const QString&)>& imageNamed =
                       [](const QString& name) { return drawing::imageNamed(name); });
    // Loads the skins again at the resolution nearest to `deviceScale` (device pixels per
    // point) and shows them where the old ones were shown.
    void reloadSkins(double deviceScale);
    // Tells the user why the graph is flat when every axis switch is off.
    void updateAxesHint();
    // Puts the meters screen into its landscape host.
    void layOutMetersScreen();
    // Hides every screen but the graph.
    void showFirstScreen();
    // Shrinks the dark plates under headings and hints to their text, so that they read on
    // every skin, light or dark, without covering the skin beside them.
    void fitPlatesToText();
    // Lets the words beside each switch flip it.
    void linkSwitchLabels();
    // Colours the desktop window's bars beside the scaled layout after the graph screen's skin.
    void letterbox(screens::FittedWindow* window) const;

    // Brings `incoming` in with the transition `kind`, in place of `outgoing`.
    void changeScreen(QWidget* outgoing, QWidget* incoming, screens::Transition kind, Screen shown);
    // Gives an image view the skin chosen in the settings; the meters screen's view (five)
    // wears the landscape version. No skin chosen leaves the view as it is.
    void dress(QLabel* imageView) const;
    // Turns the status bar and, unless the orientation is fixed, the window.
    void setStatusBarOrientation(int orientation);

    Screen shown() const { return shown_; }
    bool isChanging() const { return transition_->isRunning(); }
    screens::StatusBar* statusBar() const { return statusBar_; }
    screens::ScreenTransition* transition() const { return transition_; }
    screens::LandscapeScreen* metersHost() const { return metersHost_; }
    desktop::IdleInhibitor& idle() { return idle_; }

private:
    screens::AlignedImages alignedImages_;
    // The widget that stands for a screen among the window's children.
    QWidget* rootOf(QWidget* screen) const;

    Ui::Wobblestar& ui_;
    QWidget& window_;
    screens::StatusBar* statusBar_ = nullptr;
    screens::ScreenTransition* transition_ = nullptr;
    screens::LandscapeScreen* metersHost_ = nullptr;
    desktop::IdleInhibitor idle_;
    QShortcut* pauseKey_ = nullptr;
    Screen shown_ = Screen::Graph;
    bool fixedOrientation_ = false;

    // The skin images of the portrait screens and of the landscape meters screen, in the order
    // of the skin control: carbon, metal, ancient, black.
    QPixmap carbon, metal, ancient, black;
    QPixmap carbon90, metal90, ancient90, black90;
};

} // namespace app
