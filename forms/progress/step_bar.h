#pragma once
// The progress dialog's bar, advanced once per path. The dialog shows no text on it, yet a
// plain progress bar formats its text (the value and the maximum in the locale's digits) at
// every change of value to decide whether to repaint; this one has no text while none is shown.

#include <QProgressBar>

class TStepBar : public QProgressBar {
public:
    using QProgressBar::QProgressBar;

    QString text() const override { return isTextVisible() ? QProgressBar::text() : QString(); }
};
