#include "forms/paint_throttle.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QWindow>

#include <utility>

namespace vorn {

namespace {

// The clock of the throttles alive at one time: the time of the last paint let through, invalid
// until the first.
struct SharedClock {
    QElapsedTimer sinceLastPaint;
    int throttles = 0;
};

SharedClock& Clock() {
    static SharedClock clock;
    return clock;
}

// Turns the window's updates back on and asks for a paint of everything marked meanwhile. Qt
// asks for that paint only when the first change after a paint is marked, and a request handled
// while updates were off is used up: without a request of its own the window would stay as it was
// until something else asks.
void ResumeUpdates(QWidget* window, bool exposedWhileHeld) {
    window->setUpdatesEnabled(true);
    if (exposedWhileHeld) {
        // Qt dropped that expose: the whole window is painted anew.
        window->update();
    }
    QCoreApplication::postEvent(window, new QEvent(QEvent::UpdateRequest), Qt::LowEventPriority);
}

bool PaintIsDue() {
    const QElapsedTimer& sincePaint = Clock().sinceLastPaint;
    return !sincePaint.isValid() || sincePaint.elapsed() >= PaintThrottle::kInterval.count();
}

} // namespace

// Sees the window system's events for the window's native window before the widget does.
class PaintThrottle::ExposeWatch : public QObject {
public:
    explicit ExposeWatch(QWidget* window)
        : m_window(window) {
        Watch();
    }

    // The native window can be made after the throttle (a window shown later) or made anew.
    void Watch() {
        QWindow* const handle = m_window ? m_window->windowHandle() : nullptr;
        if (handle != m_handle) {
            if (m_handle) {
                m_handle->removeEventFilter(this);
            }
            m_handle = handle;
            if (m_handle) {
                m_handle->installEventFilter(this);
            }
        }
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == m_handle && event->type() == QEvent::Expose && m_window &&
            !m_window->updatesEnabled()) {
            if (PaintIsDue()) {
                m_window->setUpdatesEnabled(true);
                Clock().sinceLastPaint.start();
            } else {
                m_exposedWhileHeld = true;
            }
        }
        return false;
    }

public:
    // Whether an expose was left unpainted; asking clears it.
    bool TakeExposedWhileHeld() { return std::exchange(m_exposedWhileHeld, false); }

private:
    QPointer<QWidget> m_window;
    QPointer<QWindow> m_handle;
    bool m_exposedWhileHeld = false;
};

PaintThrottle::PaintThrottle(QWidget* window)
    : m_window(window)
    , m_exposeWatch(std::make_unique<ExposeWatch>(window)) {
    if (Clock().throttles++ == 0) {
        Clock().sinceLastPaint.invalidate();
    }
}

PaintThrottle::~PaintThrottle() {
    --Clock().throttles;
    if (m_window && !m_window->updatesEnabled()) {
        ResumeUpdates(m_window, m_exposeWatch->TakeExposedWhileHeld());
    }
}

void PaintThrottle::ProcessEvents() {
    if (m_window) {
        m_exposeWatch->Watch();
        if (PaintIsDue()) {
            // The paint, in the event processing below, shows the whole window in its current
            // state; changes made while updates were on have asked for their own.
            if (!m_window->updatesEnabled()) {
                ResumeUpdates(m_window, m_exposeWatch->TakeExposedWhileHeld());
            }
            Clock().sinceLastPaint.start();
        } else if (m_window->updatesEnabled()) {
            m_window->setUpdatesEnabled(false);
        }
    }
    QCoreApplication::processEvents();
}

} // namespace vorn
