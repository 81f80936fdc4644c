// The placement and main-window lock of the dialogs.

#include "forms/dialog_lock.h"

#include <QWidget>
#include <QWindow>

vorn::WindowBounds OuterBounds(const QWidget* window) {
    const QRect frame = window->frameGeometry();
    return {frame.x(), frame.y(), frame.width(), frame.height()};
}

void PlaceDialogAndLock(QWidget* dialog, QWidget* mainForm) {
    if (mainForm == nullptr) {
        return;
    }
    QWindow* const dialogWindow = dialog->windowHandle();
    QWindow* const mainWindow = mainForm->window()->windowHandle();
    if (dialogWindow != nullptr && mainWindow != nullptr &&
        dialogWindow->transientParent() != mainWindow) {
        dialogWindow->setTransientParent(mainWindow);
    }
    const vorn::WindowBounds own = OuterBounds(dialog);
    const vorn::WindowPosition position =
        vorn::CentredOver(OuterBounds(mainForm->window()), own.width, own.height);
    // move() places the outer frame of a window.
    dialog->move(position.left, position.top);
    mainForm->setEnabled(false);
}

void UnlockMainForm(QWidget* mainForm) {
    if (mainForm == nullptr) {
        return;
    }
    mainForm->setEnabled(true);
    if (mainForm->isVisible()) {
        mainForm->activateWindow();
    }
}
