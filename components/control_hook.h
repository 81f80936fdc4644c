#pragma once
// A non-visual component that puts itself in front of the event handling of one widget, or of
// that widget's top-level form, so that a descendant can see and take the widget's events
// without the widget's class being changed. On Qt the hook is an event filter on the hooked
// widget; for a scroll area such as an item view that is its viewport, which receives the input.
// Several hooks on one widget chain newest first, as Qt's filters do.

#include <QObject>
#include <QPointer>
#include <QWidget>

enum THookTarget { htControl, htForm };
enum THandleChange { hcDestroyed, hcCreated };

class TControlHook : public QObject {
    Q_OBJECT

public:
    // The owner is the form (or other object) the hook is placed on; the hook is not installed.
    explicit TControlHook(QObject* owner);
    ~TControlHook() override; // removes the hook

    QWidget* Control() const;
    void SetControl(QWidget* control); // remove, store, install
    THookTarget Target() const { return m_target; }
    void SetTarget(THookTarget target); // remove, store, install

    // The after-load step: the owning form calls it once after its layout is built and Control
    // and Target are set; it installs the hook anew with their final values.
    virtual void Loaded();

    // The widget whose events pass through the hook; null while not installed.
    QWidget* HookedControl() const { return m_hookedControl; }
    // The hooked widget's native window as last known: 0 for none, -1 (all bits set) from a
    // creation until the new window's handle has been taken. Read without forcing a native window.
    WId HookedHandle() const { return m_hookedHandle; }

protected:
    virtual void HandleChanged(THandleChange change);
    // Sees every event of the hooked widget; returns true to take it (it then goes no further),
    // false to pass it on. The base passes everything on.
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
