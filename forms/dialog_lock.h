#pragma once
// The placement and main-window lock that both dialogs follow. On show a dialog centres itself
// over the main window's outer frame (left first, then top) and disables the main window; on
// close it enables the main window again. The lock is a plain enabled flag, not a count:
// whichever dialog closes enables the main window.
//
// The dialogs are windows without a parent widget: a child window would be disabled together
// with the main window, and would lose Esc and Enter to the main window's shortcuts. The window
// system still learns that they belong to the main window (their transient parent).

#include "core/window_bounds.h"

class QWidget;

// The outer frame of a window in screen pixels.
vorn::WindowBounds OuterBounds(const QWidget* window);

// The on-show step: ties the dialog to the main window, centres it over the main window and
// disables the main window. Call it from the dialog's show event, after
// the dialog's native window exists. A null main window is left alone, and the dialog then stays
// where it is.
void PlaceDialogAndLock(QWidget* dialog, QWidget* mainForm);

// The on-close step: enables the main window and activates it when it is visible (with no
// window manager no window becomes active by itself after another one closes).
void UnlockMainForm(QWidget* mainForm);
