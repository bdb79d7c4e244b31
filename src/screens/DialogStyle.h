#pragma once

class QWidget;

namespace screens {

// Gives a dialog (message box, file dialog, input dialog) a light look of its own: dark text
// on a light ground, buttons and fields to match. The window's style sheet is written for the
// dark screens and would otherwise reach every dialog parented to it (light text on the box's
// light ground); the dialog's own sheet wins over it, whatever the skin.
void dressDialog(QWidget* dialog);

// Dresses every dialog of the application as it is first shown, including those Qt's static
// helpers (QInputDialog::getText, QFileDialog::getOpenFileName) create out of reach. A dialog
// given a style sheet of its own by its maker is left as it is. Call once, after the
// application object exists.
void dressEveryDialog();

// The window a dialog for `widget` should belong to. A widget shown scaled inside a graphics
// view (the desktop window shows the whole interface so) is a window of its own in the
// scene's eyes: a dialog parented to it is drawn into the scene, clipped and scaled with the
// interface. Its dialogs belong to the view's window instead.
QWidget* dialogParent(QWidget* widget);

} // namespace screens
