#include "forms/event_pacer.h"

#include <QCoreApplication>

#include "forms/paint_throttle.h"

namespace vorn {

void EventPacer::BeginRun() {
    ++m_runs;
    m_sinceFullPass.invalidate();
}

void EventPacer::EndRun() {
    if (--m_runs > 0 || !m_window) {
        return;
    }
    m_sinceWindowPaint.invalidate();
    if (!m_window->updatesEnabled()) {
        m_window->setUpdatesEnabled(true);
        // A paint the window system asked for while updates were off is not asked again: paint
        // the whole window now rather than rely on the request turning them on makes.
        if (m_window->isVisible()) {
            m_window->repaint();
        }
    }
}

void EventPacer::ProcessEvents(PaintThrottle& throttle) {
    using std::chrono::nanoseconds;
    if (m_sinceFullPass.isValid() &&
        m_sinceFullPass.nsecsElapsed() <
            std::chrono::duration_cast<nanoseconds>(kInterval).count()) {
        // An event posted while these are delivered waits for the next step, as in a full pass.
        QCoreApplication::sendPostedEvents();
        return;
    }
    m_sinceFullPass.start();
    if (m_window && m_runs > 0) {
        if (!m_sinceWindowPaint.isValid() ||
            m_sinceWindowPaint.nsecsElapsed() >=
                std::chrono::duration_cast<nanoseconds>(PaintThrottle::kInterval).count()) {
            if (!m_window->updatesEnabled()) {
                m_window->setUpdatesEnabled(true);
            }
            m_sinceWindowPaint.start();
        } else if (m_window->updatesEnabled()) {
            m_window->setUpdatesEnabled(false);
        }
    }
    throttle.ProcessEvents();
}

} // namespace vorn
