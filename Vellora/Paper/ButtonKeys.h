#pragma once

class QAbstractButton;
class QKeyEvent;

// The keys of a focused paper button beside Space, which Qt's button handles itself.
namespace ButtonKeys {

// Return and Enter press the button, as they press a focused button on the desktops; true when the key was used.
bool pressOnReturn(QAbstractButton *button, QKeyEvent *event);

} // namespace ButtonKeys
