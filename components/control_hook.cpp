#include "components/control_hook.h"

#include <QAbstractScrollArea>
#include <QEvent>
#include <QPlatformSurfaceEvent>

#include "core/base/exceptions.h"

TControlHook::TControlHook(QObject* owner)
    : QObject(owner) {}

TControlHook::~TControlHook() {
    HookControl(false);
}

QWidget* TControlHook::Control() const {
    return m_control.data();
}

void TControlHook::SetControl(QWidget* control) {
    HookControl(false);
    m_control = control;
    HookControl(true);
}

void TControlHook::SetTarget(THookTarget target) {
    HookControl(false);
    m_target = target;
    HookControl(true);
}

void TControlHook::Loaded() {
    SetControl(Control());
}

void TControlHook::HandleChanged(THandleChange change) {
    if (change == hcDestroyed) {
        m_hookedHandle = 0;
    } else if (m_hookedControl) {
        m_hookedHandle = m_hookedControl->effectiveWinId();
    }
}

bool TControlHook::HookMessage(QObject* watched, QEvent* event) {
    (void)watched;
    (void)event;
    return false;
}

bool TControlHook::eventFilter(QObject* watched, QEvent* event) {
    // A widget being destroyed still sends events after its removal notification; by then the
    // hook has forgotten it and lets them pass untouched.
    if (!m_hookedControl || watched != m_hookedControl) {
        return QObject::eventFilter(watched, event);
    }
    // A native window's creation is announced before its id exists and followed by the id's
    // change; its destruction is announced while it still exists.
    if (event->type() == QEvent::PlatformSurface) {
        const auto surfaceEvent = static_cast<QPlatformSurfaceEvent*>(event)->surfaceEventType();
        if (surfaceEvent == QPlatformSurfaceEvent::SurfaceCreated) {
            m_hookedHandle = kAwaitingHandle;
        } else {
            HandleChanged(hcDestroyed);
        }
    } else if (m_hookedHandle == kAwaitingHandle && m_hookedControl->internalWinId() != 0) {
        HandleChanged(hcCreated);
    }
    // The handle changes above may have let the widget go (an override that rewrites Control).
    if (!m_hookedControl || watched != m_hookedControl) {
        return false;
    }
    return HookMessage(watched, event);
}

QWidget* TControlHook::FindOwnerForm(QObject* component) {
    while (component) {
        if (component->isWidgetType()) {
            // A form is a window; a control belongs to the window at the top of its parent
            // chain, and the walk does not go on to the control's owner. On Qt a widget without
            // a parent widget is always a window of its own.
            auto widget = static_cast<QWidget*>(component);
            while (!widget->isWindow() && widget->parentWidget()) {
                widget = widget->parentWidget();
            }
            return widget->isWindow() ? widget : nullptr;
        }
        component = component->parent();
    }
    return nullptr;
}

QWidget* TControlHook::GetTargetControl() const {
    if (m_target == htForm) {
        // With no Control the walk starts at the hook, which is neither form nor control.
        return FindOwnerForm(m_control ? m_control.data() : parent());
    }
    QWidget* control = m_control.data();
    // A scroll area's input arrives at its viewport.
    if (auto scrollArea = qobject_cast<QAbstractScrollArea*>(control)) {
        return scrollArea->viewport();
    }
    return control;
}

void TControlHook::HookControl(bool install) {
    if (!install) {
        if (!m_hookedControl) {
            return;
        }
        m_hookedControl->removeEventFilter(this);
        disconnect(m_destroyedConnection);
        m_hookedHandle = 0;
        m_hookedControl = nullptr;
        return;
    }
    QWidget* target = GetTargetControl();
    if (!target) {
        if (m_target == htForm) {
            throw vorn::Exception("フック先を特定できません。");
        }
        return;
    }
    // effectiveWinId() creates nothing: the hooked list stays an alien widget.
    m_hookedHandle = target->effectiveWinId();
    m_hookedControl = target;
    m_destroyedConnection =
        connect(target, &QObject::destroyed, this, &TControlHook::ControlDestroyed);
    target->installEventFilter(this);
}

void TControlHook::ControlDestroyed(QObject* control) {
    if (!m_hookedControl || control != m_hookedControl) {
        return;
    }
    // The widget is forgotten before HandleChanged runs, so that no override can reach the
    // departing widget; its filter list is left alone.
    m_hookedControl = nullptr;
    disconnect(m_destroyedConnection);
    HandleChanged(hcDestroyed);
}
