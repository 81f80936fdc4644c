#pragma once
// A non-visual component that puts itself in front of the event handling of one widget, or of
// that widget's top-level form, so that a descendant can see and take the widget's events
// without the widget's class being changed. On Qt the hook is an event filter on the hooked
// widget; for a scroll area such as an item view that is its viewport, which receives the input.
// Several hooks on one widget chain newest first, as Qt's filters do, and have to be removed
// newest first.
//
// The hook follows the hooked widget's native window while it is destroyed and created again
// (HandleChanged), and forgets the widget when it is destroyed: from then on the hook never
// touches it.

#include <QObject>
#include <QPointer>
#include <QWidget>

enum THookTarget { htControl, htForm };
enum THandleChange { hcDestroyed, hcCreated };

class TControlHook : public QObject {
    Q_OBJECT

public:
    // HookedHandle from the creation of a new native window until its handle has been taken.
    static constexpr WId kAwaitingHandle = ~WId(0);

    // The owner is the form (or other object) the hook is placed on; the hook is not installed.
    explicit TControlHook(QObject* owner);
    ~TControlHook() override; // removes the hook

    QWidget* Control() const;
    // Both writes remove the hook, store the value and install the hook anew, also when the
    // value is the one already stored. With Target htForm and no form to hook they throw
    // vorn::Exception("フック先を特定できません。") and leave the hook unhooked; with htControl
    // and no Control they install nothing and report nothing.
    void SetControl(QWidget* control);
    THookTarget Target() const { return m_target; }
    void SetTarget(THookTarget target);

    // The after-load step: the owning form calls it once after its layout is built and Control
    // and Target are set; it installs the hook anew with their final values.
    virtual void Loaded();

    // The widget whose events pass through the hook; null while not installed.
    QWidget* HookedControl() const { return m_hookedControl; }
    // The hooked widget's native window as last known: 0 for none (also for a widget whose
    // window does not exist yet), kAwaitingHandle from a creation until the new window's handle
    // has been taken. Read without ever forcing a native window into being.
    WId HookedHandle() const { return m_hookedHandle; }

protected:
    // hcDestroyed: the hooked window is gone, or the hooked widget is being destroyed (it is
    // then already forgotten: HookedControl is null). hcCreated: a new window of the hooked
    // widget exists and HookedHandle has been set to it. Overrides call the base first.
    virtual void HandleChanged(THandleChange change);
    // Sees every event of the hooked widget after the handle tracking; returns true to take it
    // (it then goes no further), false to pass it on. The base passes everything on.
    virtual bool HookMessage(QObject* watched, QEvent* event);

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    static QWidget* FindOwnerForm(QObject* component);
    QWidget* GetTargetControl() const;
    void HookControl(bool install);
    void ControlDestroyed(QObject* control);

    THookTarget m_target = htControl;
    QPointer<QWidget> m_control;
    QWidget* m_hookedControl = nullptr;
    WId m_hookedHandle = 0;
    QMetaObject::Connection m_destroyedConnection;
};
