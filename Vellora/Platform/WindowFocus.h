#pragma once

class QWindow;

// Gives the keyboard to a window the user asked to see (a menu command, the window toggle, another launch), as
// soon as it is on screen. Qt asks for the focus with the time of the last input event it saw; an X server
// ignores that when the focus moved to another application since, so on X11 the focus is set at the server's
// current time as well. Elsewhere Qt's own activation is all there is.
void giveKeyboardFocus(QWindow *window);
