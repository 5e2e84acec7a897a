#pragma once

class QApplication;

// The look the whole program shares with the window's skin: a dark palette for the
// menus, dialogs and message boxes, and the program's icon for every window.
void ApplySkinLook(QApplication& app);
