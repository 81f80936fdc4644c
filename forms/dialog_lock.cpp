// The placement and main-window lock of the dialogs.

#include "forms/dialog_lock.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QWidget>
#include <QWindow>

#include <vector>

namespace {

// The kinds of input a locked main window does not take: what the mouse, the keyboard (with
// its shortcuts), a pen, a touch or a drag would hand to it.
bool IsInput(QEvent::Type type) {
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::TabletMove:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::NativeGesture:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        return true;
    default:
        return false;
    }
}

// The lock of one main window. A window locked this way takes no input, but its widgets keep
// their own enabled state and look, as a disabled top-level window does on the desktops this
// design comes from. Qt's own setEnabled(false) on the window would instead disable every
// widget in it one by one (each told, restyled, repainted greyed and made known to assistive
// technology anew, the focus moved away and back): a walk locks and unlocks the main window
// once per folder, and that was about a quarter of the window's time on trees of small folders.
//
// While locked, an application-wide filter refuses every input event bound for a widget of the
// window and every shortcut of its actions and widgets (a shortcut of the window's menu goes to
// the action, not to a widget). A refused drag is ignored, so the drop is refused where it
// started.
class MainFormLock : public QObject {
public:
    // Found by a search of the few live locks (one per main window), not of the window's
    // children by name: a walk asks for the lock twice per folder.
    static MainFormLock* Find(const QWidget* window) {
        for (MainFormLock* const lock : Live()) {
            if (lock->m_window == window) {
                return lock;
            }
        }
        return nullptr;
    }
    static MainFormLock& Of(QWidget* window) {
        MainFormLock* const lock = Find(window);
        return lock ? *lock : *new MainFormLock(window);
    }

    ~MainFormLock() override { std::erase(Live(), this); }
    MainFormLock(const MainFormLock&) = delete;
    MainFormLock& operator=(const MainFormLock&) = delete;

    bool Locked() const { return m_locked; }

    // While held, an unlock leaves the activation where the window system put it; the last
    // release hands it back.
    void HoldActivation() { ++m_activationHolds; }
    void ReleaseActivation() {
        if (m_activationHolds > 0 && --m_activationHolds == 0) {
            ActivateIfUnlocked();
        }
    }
    void ActivateIfUnlocked() {
        // Asking for the activation of the window that is active already would still be a
        // request to the window system.
        if (m_activationHolds == 0 && !m_locked && m_window->isVisible() &&
            !m_window->isActiveWindow()) {
            m_window->activateWindow();
        }
    }

    void Set(bool locked) {
        if (locked == m_locked) {
            return;
        }
        m_locked = locked;
        if (locked) {
            qApp->installEventFilter(this);
        } else {
            qApp->removeEventFilter(this);
        }
        QEvent change(MainFormLockChange());
        QCoreApplication::sendEvent(m_window, &change);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::ShortcutOverride) {
            // A key pressed is first offered to the focus widget as an override of the
            // shortcuts. Taken here, it goes on as a plain key and no shortcut sees it: one
            // pressed in the locked window then reaches its widget and is refused below, and
            // one of the locked window's own shortcuts pressed in a dialog stays the dialog's
            // (Esc and Enter are the check dialog's, not the main window's Exit and Open).
            const auto* const key = static_cast<const QKeyEvent*>(event);
            if (BelongsToTheWindow(watched) || IsAShortcutOfTheWindow(key->keyCombination())) {
                event->accept();
                return true;
            }
            return false;
        }
        if (!IsInput(event->type()) || !BelongsToTheWindow(watched)) {
            return false;
        }
        event->ignore();
        return true;
    }

private:
    // A child of its window, so it ends with it.
    explicit MainFormLock(QWidget* window)
        : QObject(window)
        , m_window(window) {
        Live().push_back(this);
    }

    static std::vector<MainFormLock*>& Live() {
        static std::vector<MainFormLock*> locks;
        return locks;
    }

    // A widget of the window, or an action or shortcut owned by one. The dialogs and menus
    // are windows of their own.
    bool BelongsToTheWindow(const QObject* object) const {
        for (; object != nullptr; object = object->parent()) {
            if (object->isWidgetType()) {
                return static_cast<const QWidget*>(object)->window() == m_window;
            }
        }
        return false;
    }

    // Also without the keypad's modifier, as shortcuts are matched: the keypad's Enter is the
    // shortcut Enter.
    bool IsAShortcutOfTheWindow(QKeyCombination key) const {
        const QKeySequence pressed(key);
        const QKeySequence offTheKeypad(
            QKeyCombination(key.keyboardModifiers() & ~Qt::KeypadModifier, key.key()));
        for (const QAction* const action : m_window->findChildren<QAction*>()) {
            const QList<QKeySequence> shortcuts = action->shortcuts();
            if (shortcuts.contains(pressed) || shortcuts.contains(offTheKeypad)) {
                return true;
            }
        }
        return false;
    }

    QWidget* m_window;
    bool m_locked = false;
    int m_activationHolds = 0;
};

} // namespace

QEvent::Type MainFormLockChange() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

bool IsMainFormLocked(const QWidget* mainForm) {
    const MainFormLock* const lock = MainFormLock::Find(mainForm);
    return lock != nullptr && lock->Locked();
}

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
    LockMainForm(mainForm);
}

void LockMainForm(QWidget* mainForm) {
    MainFormLock::Of(mainForm).Set(true);
}

void UnlockMainForm(QWidget* mainForm) {
    if (mainForm == nullptr) {
        return;
    }
    MainFormLock& lock = MainFormLock::Of(mainForm);
    lock.Set(false);
    lock.ActivateIfUnlocked();
}

void HoldMainFormActivation(QWidget* mainForm) {
    MainFormLock::Of(mainForm).HoldActivation();
}

void ReleaseMainFormActivation(QWidget* mainForm) {
    MainFormLock::Of(mainForm).ReleaseActivation();
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
