#pragma once
// Closes every exception report (a modal message box) that opens while it lives, and keeps
// what each one showed.

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <vector>

struct ShownReport {
    QString title;
    QString text;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
    Qt::TextFormat format;
};

class ReportCloser {
public:
    ReportCloser() {
        // A modal box runs its own loop, in which this timer keeps firing.
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            auto box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible()) {
                return;
            }
            reports.push_back({box->windowTitle(), box->text(), box->icon(), box->standardButtons(),
                               box->textFormat()});
            box->button(QMessageBox::Ok)->click();
        });
        m_timer.start(1);
    }

    std::vector<ShownReport> reports;

private:
    QTimer m_timer;
};
