// The placement and main-window lock of the dialogs.

#include "forms/dialog_lock.h"

#include <QDialog>
#include <QEvent>
#include <QMenu>
#include <QWidget>
#include <QWindow>

namespace {

// A menu follows its own enabled state into its menu action, and a menu bar lays out every
// title again (measuring each one's text) whenever one of its actions changes: locking and
// unlocking the main window once per folder of a walk spent most of the walk's time there. A
// disabled menu bar draws every title disabled and takes no input whatever its actions say, so
// while the main window's enabled state changes, its menus keep their actions as they are:
// the menus themselves are disabled and enabled with the window all the same.
class MenuActionsHold : public QObject {
public:
    static constexpr const char* kName = "MenuActionsHold";

    // The hold of a window, made at its first lock: it watches the menus the window has then.
    static MenuActionsHold& Of(QWidget* window) {
        auto* hold = window->findChild<MenuActionsHold*>(QString::fromLatin1(kName),
                                                         Qt::FindDirectChildrenOnly);
        return hold ? *hold : *new MenuActionsHold(window);
    }

    void SetEnabled(QWidget* window, bool enabled) {
        m_holding = true;
        window->setEnabled(enabled);
        m_holding = false;
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        return m_holding && event->type() == QEvent::EnabledChange;
    }

private:
    explicit MenuActionsHold(QWidget* window)
        : QObject(window) {
        setObjectName(QString::fromLatin1(kName));
        for (QMenu* const menu : window->findChildren<QMenu*>()) {
            menu->installEventFilter(this);
        }
    }

    bool m_holding = false;
};

void SetMainFormEnabled(QWidget* mainForm, bool enabled) {
    MenuActionsHold::Of(mainForm).SetEnabled(mainForm, enabled);
}

} // namespace

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
    // move() places the outer frame of a window. A dialog shown again where it already stands
    // (a walk shows it once per folder) is not moved: the move costs a geometry change of the
    // native window even when the place stays the same.
    const QPoint place(position.left, position.top);
    if (dialog->frameGeometry().topLeft() != place || !dialog->testAttribute(Qt::WA_Moved)) {
        dialog->move(place);
    }
    SetMainFormEnabled(mainForm, false);
}

void UnlockMainForm(QWidget* mainForm) {
    if (mainForm == nullptr) {
        return;
    }
    SetMainFormEnabled(mainForm, true);
    // Asking for the activation of the window that is active already would still be a request
    // to the window system (at every folder of a walk).
    if (mainForm->isVisible() && !mainForm->isActiveWindow()) {
        mainForm->activateWindow();
    }
}

DialogEvents::DialogEvents(QDialog* dialog, std::function<void()> onShow,
                           std::function<void()> onClose, bool refuseSystemClose)
    : QObject(dialog)
    , m_dialog(dialog)
    , m_onShow(std::move(onShow))
    , m_onClose(std::move(onClose))
    , m_refuseSystemClose(refuseSystemClose) {
    dialog->installEventFilter(this);
}

bool DialogEvents::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_dialog) {
        return false;
    }
    if (event->type() == QEvent::Show && !event->spontaneous()) {
        m_onShow();
    } else if (event->type() == QEvent::Close) {
        event->ignore();
        if (!(m_refuseSystemClose && event->spontaneous())) {
            m_dialog->hide();
            m_onClose();
        }
        return true;
    }
    return false;
}
