// The control hook on real widgets: what it hooks for each Target, the chain of several hooks,
// and the native window followed through destruction and re-creation.

#include <QDialog>
#include <QTableView>
#include <QWindow>
#include <QtTest>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "components/control_hook.h"
#include "core/base/exceptions.h"

namespace {

const QEvent::Type kProbe = static_cast<QEvent::Type>(QEvent::User + 1);

// A descendant that writes what it sees into a log shared by several hooks.
class RecordingHook : public TControlHook {
public:
    RecordingHook(QObject* owner, std::string name, std::vector<std::string>* log)
        : TControlHook(owner)
        , m_name(std::move(name))
        , m_log(log) {}

    std::vector<THandleChange> changes;
    std::vector<WId> handlesAfterChange;
    // Whether the hooked widget's window still existed when hcDestroyed arrived.
    std::vector<bool> windowAtDestroyed;

protected:
    void HandleChanged(THandleChange change) override {
        if (change == hcDestroyed) {
            windowAtDestroyed.push_back(HookedControl() && HookedControl()->internalWinId() != 0);
        }
        TControlHook::HandleChanged(change);
        changes.push_back(change);
        handlesAfterChange.push_back(HookedHandle());
        m_log->push_back(m_name + (change == hcCreated ? ":created" : ":destroyed"));
    }
    bool HookMessage(QObject* watched, QEvent* event) override {
        if (event->type() == kProbe) {
            m_log->push_back(m_name + ":probe");
        } else if (event->type() == QEvent::WinIdChange) {
            m_log->push_back(m_name + ":winidchange");
        }
        return TControlHook::HookMessage(watched, event);
    }

private:
    std::string m_name;
    std::vector<std::string>* m_log;
};

void Probe(QWidget* widget) {
    QEvent probe(kProbe);
    QCoreApplication::sendEvent(widget, &probe);
}

// A widget whose native window the test can destroy and create again.
class NativeWidget : public QWidget {
public:
    explicit NativeWidget(QWidget* parent)
        : QWidget(parent) {
        setAttribute(Qt::WA_NativeWindow);
    }
    void DestroyWindow() { destroy(); }
    void CreateWindow() { create(); }
};

} // namespace

class ControlHookTest : public QObject {
    Q_OBJECT

private slots:
    void noControlInstallsNothing();
    void targetPicksTheHookedWidget_data();
    void targetPicksTheHookedWidget();
    void formTargetWithoutAFormRaises();
    void rewritingTheControlHooksItOnce();
    void movingBetweenControlAndForm();
    void twoHooksChainNewestFirst();
    void hookedWidgetDestroyedWhileHooked();
    void controlDestroyedThenLoaded();
    void nativeWindowFollowed();
    void hookingKeepsTheListAlien();
};

void ControlHookTest::noControlInstallsNothing() {
    QWidget form;
    std::vector<std::string> log;
    RecordingHook hook(&form, "hook", &log);
    hook.SetTarget(htControl);
    hook.SetControl(nullptr);
    hook.Loaded();
    QCOMPARE(hook.HookedControl(), nullptr);
    QCOMPARE(hook.HookedHandle(), WId(0));
    Probe(&form);
    QVERIFY(log.empty());
}

void ControlHookTest::targetPicksTheHookedWidget_data() {
    QTest::addColumn<int>("target");
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("expected");
    // Widgets by name: "form" (a window), "list" (a table on the form), "button" (a plain child
    // of the form), "dialog" (a window whose parent is the form), "inner" (a child of the dialog).
    QTest::newRow("control: plain widget") << int(htControl) << "button"
                                           << "button";
    QTest::newRow("control: scroll area hooks its viewport") << int(htControl) << "list"
                                                             << "viewport";
    QTest::newRow("form: no control, the hook's owner") << int(htForm) << ""
                                                        << "form";
    QTest::newRow("form: control is a form") << int(htForm) << "form"
                                             << "form";
    QTest::newRow("form: control on a form") << int(htForm) << "list"
                                             << "form";
    QTest::newRow("form: control in a child window") << int(htForm) << "inner"
                                                     << "dialog";
    QTest::newRow("form: child window itself") << int(htForm) << "dialog"
                                               << "dialog";
}

void ControlHookTest::targetPicksTheHookedWidget() {
    QFETCH(int, target);
    QFETCH(QString, control);
    QFETCH(QString, expected);

    QWidget form;
    auto list = new QTableView(&form);
    auto button = new QWidget(&form);
    auto dialog = new QDialog(&form);
    auto inner = new QWidget(dialog);
    const std::map<QString, QWidget*> widgets = {
        {"form", &form},    {"list", list},     {"viewport", list->viewport()},
        {"button", button}, {"dialog", dialog}, {"inner", inner}};

    std::vector<std::string> log;
    RecordingHook hook(&form, "hook", &log);
    hook.SetTarget(static_cast<THookTarget>(target));
    hook.SetControl(control.isEmpty() ? nullptr : widgets.at(control));
    hook.Loaded();
    QCOMPARE(hook.HookedControl(), widgets.at(expected));

    Probe(widgets.at(expected));
    QCOMPARE(log, std::vector<std::string>{"hook:probe"});
}

void ControlHookTest::formTargetWithoutAFormRaises() {
    // Neither a control nor any owner of the hook is a widget: nothing to hook.
    QObject owner;
    std::vector<std::string> log;
    RecordingHook hook(&owner, "hook", &log);
    try {
        hook.SetTarget(htForm);
        QFAIL("no exception");
    } catch (const vorn::Exception& e) {
        QCOMPARE(std::string(e.what()), std::string("フック先を特定できません。"));
    }
    QCOMPARE(hook.HookedControl(), nullptr);
    QVERIFY_THROWS_EXCEPTION(vorn::Exception, hook.Loaded());

    // A hook that was installed is removed before the failing install.
    QWidget form;
    auto control = new QWidget(&form);
    hook.SetControl(control);
    QCOMPARE(hook.HookedControl(), &form);
    QVERIFY_THROWS_EXCEPTION(vorn::Exception, hook.SetControl(nullptr));
    QCOMPARE(hook.HookedControl(), nullptr);
    Probe(&form);
    QVERIFY(log.empty());
}

void ControlHookTest::rewritingTheControlHooksItOnce() {
    QWidget form;
    auto control = new QWidget(&form);
    std::vector<std::string> log;
    RecordingHook hook(&form, "hook", &log);
    hook.SetControl(control);
    hook.SetControl(control);
    hook.SetTarget(htControl);
    hook.Loaded();
    QCOMPARE(hook.HookedControl(), control);
    Probe(control);
    QCOMPARE(log, std::vector<std::string>{"hook:probe"});
}

void ControlHookTest::movingBetweenControlAndForm() {
    QWidget form;
    auto list = new QTableView(&form);
    std::vector<std::string> log;
    RecordingHook hook(&form, "hook", &log);
    hook.SetControl(list);
    hook.Loaded();

    struct Step {
        THookTarget target;
        QWidget* hooked;
        QWidget* unhooked;
    };
    const Step steps[] = {{htForm, &form, list->viewport()},
                          {htControl, list->viewport(), &form},
                          {htForm, &form, list->viewport()}};
    for (const Step& step : steps) {
        log.clear();
        hook.SetTarget(step.target);
        QCOMPARE(hook.HookedControl(), step.hooked);
        Probe(step.unhooked);
        QVERIFY(log.empty());
        Probe(step.hooked);
        QCOMPARE(log, std::vector<std::string>{"hook:probe"});
    }
}

void ControlHookTest::twoHooksChainNewestFirst() {
    QWidget form;
    auto control = new QWidget(&form);
    std::vector<std::string> log;
    auto older = std::make_unique<RecordingHook>(&form, "older", &log);
    auto newer = std::make_unique<RecordingHook>(&form, "newer", &log);
    older->SetControl(control);
    newer->SetControl(control);

    Probe(control);
    QCOMPARE(log, (std::vector<std::string>{"newer:probe", "older:probe"}));

    log.clear();
    newer.reset();
    Probe(control);
    QCOMPARE(log, std::vector<std::string>{"older:probe"});

    log.clear();
    older.reset();
    Probe(control);
    QVERIFY(log.empty());
}

void ControlHookTest::hookedWidgetDestroyedWhileHooked() {
    // A plain child and a native one (whose window announces its destruction as well).
    for (bool native : {false, true}) {
        QWidget form;
        QWidget* control = native ? new NativeWidget(&form) : new QWidget(&form);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));

        std::vector<std::string> log;
        auto hook = std::make_unique<RecordingHook>(&form, "hook", &log);
        hook->SetControl(control);
        hook->Loaded();
        QCOMPARE(hook->HookedControl(), control);

        delete control;
        QCOMPARE(hook->changes, std::vector<THandleChange>{hcDestroyed});
        QCOMPARE(hook->HookedControl(), nullptr);
        QCOMPARE(hook->HookedHandle(), WId(0));
        QCOMPARE(hook->Control(), nullptr);
        // Destroying the hook now touches nothing (a sanitizer build would see it).
        hook.reset();
    }
}

void ControlHookTest::controlDestroyedThenLoaded() {
    for (THookTarget target : {htControl, htForm}) {
        QWidget form;
        auto list = new QTableView(&form);
        std::vector<std::string> log;
        RecordingHook hook(&form, "hook", &log);
        hook.SetTarget(target);
        hook.SetControl(list);
        delete list;
        // The stale control is never reached; under htForm the hook falls back to its owner.
        hook.Loaded();
        QCOMPARE(hook.HookedControl(), target == htForm ? &form : nullptr);
    }
}

void ControlHookTest::nativeWindowFollowed() {
    QWidget form;
    form.resize(200, 200);
    auto control = new NativeWidget(&form);
    control->setGeometry(10, 10, 50, 50);
    std::vector<std::string> log;
    RecordingHook hook(&form, "hook", &log);
    hook.SetControl(control);
    hook.Loaded();
    // Not shown yet: no window, and installing created none.
    QCOMPARE(hook.HookedHandle(), WId(0));
    QCOMPARE(control->internalWinId(), WId(0));

    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY(control->internalWinId() != 0);
    QCOMPARE(hook.changes, std::vector<THandleChange>{hcCreated});
    QCOMPARE(hook.HookedHandle(), control->internalWinId());
    // The new handle is taken before the event that revealed it reaches the widget.
    QCOMPARE(std::vector<std::string>(log.begin(), log.begin() + 2),
             (std::vector<std::string>{"hook:created", "hook:winidchange"}));

    // Destroyed and created again, twice over two ways of doing it.
    control->DestroyWindow();
    QCOMPARE(hook.HookedHandle(), WId(0));
    control->CreateWindow();
    QCOMPARE(hook.HookedHandle(), control->internalWinId());
    control->hide();
    control->windowHandle()->destroy();
    QCOMPARE(hook.HookedHandle(), WId(0));
    control->show();
    QVERIFY(control->internalWinId() != 0);
    QCOMPARE(hook.HookedHandle(), control->internalWinId());

    QCOMPARE(hook.changes, (std::vector<THandleChange>{hcCreated, hcDestroyed, hcCreated,
                                                       hcDestroyed, hcCreated}));
    QCOMPARE(hook.windowAtDestroyed, (std::vector<bool>{true, true}));
    for (std::size_t i = 0; i < hook.changes.size(); ++i) {
        QCOMPARE(hook.handlesAfterChange[i] == 0, hook.changes[i] == hcDestroyed);
    }
}

void ControlHookTest::hookingKeepsTheListAlien() {
    // Hooking the list must not give it (or its siblings) a native window of its own.
    QWidget form;
    auto list = new QTableView(&form);
    auto sibling = new QWidget(&form);
    std::vector<std::string> log;
    RecordingHook hook(&form, "hook", &log);
    hook.SetControl(list);
    hook.Loaded();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    hook.SetTarget(htForm);
    hook.SetTarget(htControl);
    QCOMPARE(list->internalWinId(), WId(0));
    QCOMPARE(list->viewport()->internalWinId(), WId(0));
    QCOMPARE(sibling->internalWinId(), WId(0));
    QVERIFY(!hook.HookedControl()->testAttribute(Qt::WA_NativeWindow));
}

QTEST_MAIN(ControlHookTest)
#include "control_hook_test.moc"
