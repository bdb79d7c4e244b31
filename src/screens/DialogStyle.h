#pragma once

class QWidget;

namespace platform {

// Gives a dialog (message box, file dialog, input dialog) a light look of its own: dark text
// on a light ground, buttons and fields to match. The window's style sheet is written for the
// dark screens and would otherwise reach every dialog parented to it (light text on the box's
// light ground); the dialog's own sheet wins over it, whatever the skin.
void dressDialog(QWidget* dialog);

} // namespace platform
