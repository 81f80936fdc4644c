#pragma once
// The progress dialog shown while files are added: the folder being handled in the caption, the
// name in a label, and a bar. It has no button and the user cannot close it.

#include <QDialog>
#include <QPointer>

#include <memory>

class QLabel;
class QProgressBar;

namespace Ui {
class TProgressForm;
}

class TProgressForm : public QDialog {
    Q_OBJECT

public:
    // `mainForm` is the window the dialog centres over and locks while it is shown.
    explicit TProgressForm(QWidget* mainForm);
    ~TProgressForm() override;

    QLabel* FileNameLabel() const;
    QProgressBar* ProgressBar() const;

    // Handlers: placement and the main-window lock.
    void FormShow();
    void FormClose();

    // What close() does to this dialog (hides it and runs FormClose, also when it is hidden
    // already), without the close event's round trip through the native window: a walk closes
    // the dialog at the end of every folder.
    void CloseNow();

public slots:
    void reject() override; // Esc does not close this dialog

private:
    std::unique_ptr<Ui::TProgressForm> m_ui;
    // Borrowed; null once the main window has been destroyed.
    QPointer<QWidget> m_mainForm;
};
