#include "forms/progress/progress_form.h"

#include <QLabel>
#include <QProgressBar>

#include "forms/design_font.h"
#include "forms/dialog_lock.h"
#include "ui_progress_form.h"

TProgressForm::TProgressForm(QWidget* mainForm)
    // A fixed dialog frame with a title bar and no buttons at all: no close box, no system menu.
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
    , m_ui(std::make_unique<Ui::TProgressForm>())
    , m_mainForm(mainForm) {
    m_ui->setupUi(this);
    SetDesignFont(this);
    setFixedSize(336, 48);
    // A label draws "&" as an access-key marker only when it has a buddy: a single "&" is hidden
    // and underlines the next character, "&&" draws one "&".
    m_ui->FileNameLabel->setBuddy(m_ui->ProgressBar);
    // The label keeps its designed size whatever its text (a long name is cut at its right
    // edge), which also spares a run a layout request for every path.
    m_ui->FileNameLabel->setFixedSize(m_ui->FileNameLabel->size());
    // Only the main window's closing ends the program.
    setAttribute(Qt::WA_QuitOnClose, false);
    // The dialog takes no input (no buttons, Esc does nothing), so it leaves the main window
    // active: a walk shows it again for every folder, and moving the activation to it and back
    // each time made every widget of both windows follow the change, twice per folder.
    setAttribute(Qt::WA_ShowWithoutActivating);
    new DialogEvents(
        this, [this] { FormShow(); }, [this] { FormClose(); }, true);
}

TProgressForm::~TProgressForm() = default;

QLabel* TProgressForm::FileNameLabel() const {
    return m_ui->FileNameLabel;
}

QProgressBar* TProgressForm::ProgressBar() const {
    return m_ui->ProgressBar;
}

void TProgressForm::FormShow() {
    PlaceDialogAndLock(this, m_mainForm);
}

void TProgressForm::FormClose() {
    UnlockMainForm(m_mainForm);
}

void TProgressForm::CloseNow() {
    hide();
    FormClose();
}

void TProgressForm::reject() {
    // Esc does not close this dialog: a run has no way to be cancelled.
}
