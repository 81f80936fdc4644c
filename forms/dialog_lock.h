#pragma once
// The placement and main-window lock that both dialogs follow. On show a dialog centres itself
// over the main window's outer frame (left first, then top) and locks the main window: it takes
// no mouse, keyboard, shortcut or drop until the lock ends. On close the dialog unlocks the
// main window again. The lock is a plain flag, not a count: whichever dialog closes unlocks the
// main window. A locked window's widgets keep their own enabled state and look (isEnabled()
// says what the program set, not the lock): ask IsMainFormLocked.
//
// The dialogs are windows without a parent widget: a child window would be locked together
// with the main window, and would lose Esc and Enter to the main window's shortcuts. The window
// system still learns that they belong to the main window (their transient parent).

#include <QEvent>
#include <QObject>

#include <functional>

#include "core/settings/window_bounds.h"

class QDialog;
class QWidget;

// The outer frame of a window in screen pixels.
vorn::WindowBounds OuterBounds(const QWidget* window);

// Whether a dialog has locked the main window.
bool IsMainFormLocked(const QWidget* mainForm);

// The event a main window receives at every lock and unlock, after the change.
QEvent::Type MainFormLockChange();

// The on-show step: ties the dialog to the main window, centres it over the main window and
// locks the main window. Call it from the dialog's show event, after
// the dialog's native window exists. A null main window is left alone, and the dialog then stays
// where it is.
void PlaceDialogAndLock(QWidget* dialog, QWidget* mainForm);

// Locks the main window, as a dialog's show does.
void LockMainForm(QWidget* mainForm);

// The on-close step: unlocks the main window and activates it when it is visible (with no
// window manager no window becomes active by itself after another one closes), unless the
// activation is held.
void UnlockMainForm(QWidget* mainForm);

// Holds the main window's activation for the length of a run that shows a dialog again and
// again (a walk shows the progress dialog once per folder): an unlock meanwhile does not ask
// for it, and the last release asks for it once, if the main window is unlocked and not
// active. Where showing a dialog activates it (the offscreen platform, some window systems),
// handing the activation back and forth made every widget of both windows follow the change
// twice per folder; under a window manager that leaves the main window active, nothing changes.
// Holds nest; each hold needs its release.
void HoldMainFormActivation(QWidget* mainForm);
void ReleaseMainFormActivation(QWidget* mainForm);

// Runs a dialog's show and close handlers from its events, the same way for both dialogs. The
// show handler runs when the hidden dialog is shown, not when the window system restores it. A
// close hides the dialog instead of being accepted, so that the dialog keeps its native window
// (Qt sends no close event to a window whose native window is gone, and a close of the hidden
// dialog must still run the close handler), and then runs the close handler; the dialog's own
// closeEvent is not called, so a close never becomes reject(). A dialog made with
// `refuseSystemClose` ignores a close from the window system: the user cannot close it.
class DialogEvents : public QObject {
public:
    DialogEvents(QDialog* dialog, std::function<void()> onShow, std::function<void()> onClose,
                 bool refuseSystemClose);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QDialog* m_dialog;
    std::function<void()> m_onShow;
    std::function<void()> m_onClose;
    bool m_refuseSystemClose;
};
