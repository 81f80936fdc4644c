#pragma once
// The check dialog: Files, Checked, Normal and Error of a check run. Its number labels are the
// only store of the run's counters. OK, Enter, Esc and the close box close it; closing it never
// stops a run.

#include <QDialog>
#include <QPointer>

#include <memory>

class QLabel;
class QPushButton;

namespace Ui {
class TCheckForm;
}

class TCheckForm : public QDialog {
    Q_OBJECT

public:
    // `mainForm` is the window the dialog centres over and disables while it is shown.
    explicit TCheckForm(QWidget* mainForm);
    ~TCheckForm() override;

    QLabel* FilesNumLabel() const;
    QLabel* CheckedNumLabel() const;
    QLabel* NormalNumLabel() const;
    QLabel* ErrorNumLabel() const;
    QPushButton* OkButton() const;

    // Handlers.
    void FormShow();
    void FormClose();
    void OkButtonClick();

public slots:
    void reject() override; // Esc closes the dialog like its close box

private:
    std::unique_ptr<Ui::TCheckForm> m_ui;
    // Borrowed; null once the main window has been destroyed.
    QPointer<QWidget> m_mainForm;
};
