#include "forms/paint_throttle.h"

#include <QCoreApplication>
#include <QElapsedTimer>

namespace vorn {

namespace {

// The time of the last paint let through; invalid until the first, so a run's first step
// paints (the window that was just shown draws itself at once).
QElapsedTimer& SinceLastPaint() {
    static QElapsedTimer timer;
    return timer;
}

} // namespace

PaintThrottle::PaintThrottle(QWidget* window)
    : m_window(window) {}

PaintThrottle::~PaintThrottle() {
    if (m_window && !m_window->updatesEnabled()) {
        m_window->setUpdatesEnabled(true);
    }
}

void PaintThrottle::ProcessEvents() {
    if (m_window) {
        QElapsedTimer& sincePaint = SinceLastPaint();
        if (!sincePaint.isValid() || sincePaint.elapsed() >= kInterval.count()) {
            // Turning updates back on schedules a paint of the whole window in its current
            // state; changes made while they were on have scheduled their own.
            if (!m_window->updatesEnabled()) {
                m_window->setUpdatesEnabled(true);
            }
            sincePaint.start();
        } else if (m_window->updatesEnabled()) {
            m_window->setUpdatesEnabled(false);
        }
    }
    QCoreApplication::processEvents();
}

} // namespace vorn
