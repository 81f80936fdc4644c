#include "app/main_sequence.h"

#include <QCloseEvent>
#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>

#include <cstdio>
#include <exception>
#include <memory>

#include "components/application.h"
#include "components/display_text.h"
#include "components/termination_signals.h"
#include "core/os/executable_path.h"
#include "core/paths/path_rules.h"
#include "core/program/error_texts.h"
#include "core/settings/settings_location.h"
#include "forms/check/check_form.h"
#include "forms/main/vorn_form.h"
#include "forms/progress/progress_form.h"

namespace {

// Ends the event loop when the main window has closed. The dialogs may still be on screen then,
// so the application's own "last window closed" rule does not serve.
class MainFormCloseWatch : public QObject {
public:
    explicit MainFormCloseWatch(QWidget* mainForm)
        : m_mainForm(mainForm) {
        mainForm->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == m_mainForm && event->type() == QEvent::Close) {
            // The close event is seen before the window handles it: whether it closed is
            // known once the event has been delivered.
            QMetaObject::invokeMethod(
                this,
                [this] {
                    if (m_mainForm != nullptr && !m_mainForm->isVisible()) {
                        QCoreApplication::quit();
                    }
                },
                Qt::QueuedConnection);
        }
        return false;
    }

private:
    QPointer<QWidget> m_mainForm;
};

// The unhandled-error box: no owner window, an error icon and OK.
void ShowUnhandledError(std::exception_ptr error) {
    std::string text;
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& exception) {
        const vorn::ExceptionFacts facts = vorn::FactsOf(exception);
        text = vorn::UnhandledErrorText(facts.className, facts.moduleName, facts.offset,
                                        facts.message);
    } catch (...) {
        text = vorn::UnhandledErrorText("Exception",
                                        std::string(vorn::NamePart(vorn::ExecutablePath())), 0, "");
    }
    if (QCoreApplication::instance() == nullptr) {
        std::fprintf(stderr, "%.*s\n%s\n", static_cast<int>(vorn::kUnhandledErrorTitle.size()),
                     vorn::kUnhandledErrorTitle.data(), text.c_str());
        return;
    }
    QMessageBox box(QMessageBox::Critical, DisplayText(vorn::kUnhandledErrorTitle),
                    DisplayText(text), QMessageBox::Ok);
    box.exec();
}

int RunSteps(const std::vector<std::string>& parameters, const std::string& settingsPath) {
    // Declared before the dialogs, so that they go first when the sequence ends.
    const auto vornForm = std::make_unique<TVornForm>();
    const auto checkForm = std::make_unique<TCheckForm>(vornForm.get());
    const auto progressForm = std::make_unique<TProgressForm>(vornForm.get());
    vornForm->AttachDialogs(checkForm.get(), progressForm.get());
    if (!settingsPath.empty()) {
        vornForm->SetSettingsPath(settingsPath);
    }
    // The main window's closing ends the loop, not the last window's.
    QApplication::setQuitOnLastWindowClosed(false);
    const MainFormCloseWatch closeWatch(vornForm.get());
    // SIGTERM, SIGINT and SIGHUP close the program as its Exit command does, so the settings are
    // written below as after any close. A message box's loop would hold the close up: open boxes
    // are closed first. A run in progress stops at its next step once the window has closed.
    const TTerminationSignals terminationSignals([form = vornForm.get()] {
        for (int boxes = 0; boxes < 16; ++boxes) {
            QWidget* const modal = QApplication::activeModalWidget();
            if (modal == nullptr || !modal->close()) {
                break;
            }
        }
        form->MenuExitClick();
    });

    vornForm->LoadSettings();
    vornForm->ProcessCommandLine(parameters);
    // A window closed while the command line was processed has ended the program already.
    if (vornForm->isVisible()) {
        QApplication::exec();
    }
    vornForm->SaveSettings();
    return 0;
}

} // namespace

int RunMainSequence(const std::vector<std::string>& parameters, const std::string& settingsPath) {
    std::exception_ptr error;
    try {
        return RunSteps(parameters, settingsPath);
    } catch (...) {
        error = std::current_exception();
    }
    // Shown outside the handler, after the windows are gone.
    ShowUnhandledError(error);
    return 1;
}

int RunMainSequence(int argc, char** argv) {
    // Every parameter is a path: the application object sees the program's own path alone, so
    // that a path spelt like one of the toolkit's options (-reverse, -qwindowtitle, -platform)
    // is not taken as that option.
    const std::vector<std::string> parameters(argv + (argc > 0 ? 1 : 0), argv + argc);
    int ownArgc = argc > 0 ? 1 : 0;
    std::unique_ptr<TApplication> application;
    try {
        application = std::make_unique<TApplication>(ownArgc, argv);
    } catch (...) {
        ShowUnhandledError(std::current_exception());
        return 1;
    }
    // Chosen once, for the read at start and the write at exit alike.
    return RunMainSequence(parameters, vorn::SettingsLocation(vorn::ExecutablePath()));
}
