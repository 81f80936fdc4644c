#include "forms/check/check_form.h"

#include <QLabel>
#include <QPushButton>

#include "forms/design_font.h"
#include "forms/dialog_lock.h"
#include "ui_check_form.h"

TCheckForm::TCheckForm(QWidget* mainForm)
    // A fixed dialog frame whose title bar holds a close box only.
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint)
    , m_ui(std::make_unique<Ui::TCheckForm>())
    , m_mainForm(mainForm) {
    m_ui->setupUi(this);
    SetDesignFont(this);
    setFixedSize(216, 72);
    // The name labels size themselves to their text; the number labels keep their designed size.
    for (QLabel* label :
         {m_ui->FilesLabel, m_ui->CheckedLabel, m_ui->NormalLabel, m_ui->ErrorLabel}) {
        label->adjustSize();
    }
    // Fixed sizes also spare a run a layout request on every new figure.
    for (QLabel* label :
         {m_ui->FilesNumLabel, m_ui->CheckedNumLabel, m_ui->NormalNumLabel, m_ui->ErrorNumLabel}) {
        label->setFixedSize(label->size());
    }
    connect(m_ui->OkButton, &QPushButton::clicked, this, &TCheckForm::OkButtonClick);
    // Only the main window's closing ends the program.
    setAttribute(Qt::WA_QuitOnClose, false);
    new DialogEvents(
        this, [this] { FormShow(); }, [this] { FormClose(); }, false);
}

TCheckForm::~TCheckForm() = default;

QLabel* TCheckForm::FilesNumLabel() const {
    return m_ui->FilesNumLabel;
}

QLabel* TCheckForm::CheckedNumLabel() const {
    return m_ui->CheckedNumLabel;
}

QLabel* TCheckForm::NormalNumLabel() const {
    return m_ui->NormalNumLabel;
}

QLabel* TCheckForm::ErrorNumLabel() const {
    return m_ui->ErrorNumLabel;
}

QPushButton* TCheckForm::OkButton() const {
    return m_ui->OkButton;
}

void TCheckForm::FormShow() {
    // Files is left alone: the run sets it before it shows the dialog.
    m_ui->CheckedNumLabel->setText(QStringLiteral("0"));
    m_ui->NormalNumLabel->setText(QStringLiteral("0"));
    m_ui->ErrorNumLabel->setText(QStringLiteral("0"));
    PlaceDialogAndLock(this, m_mainForm);
    // The dialog takes the keyboard (OK, Enter, Esc) from the main window it has just locked,
    // also where no window manager activates new windows. The progress dialog does not: it takes
    // no keys, and an activation asked for a dialog that is hidden again before it is mapped can
    // leave no window active under a window manager.
    activateWindow();
}

void TCheckForm::FormClose() {
    UnlockMainForm(m_mainForm);
}

void TCheckForm::OkButtonClick() {
    close();
}

void TCheckForm::reject() {
    close();
}
