#pragma once
// Keeps a window responsive through a long run without letting painting dominate it.
//
// A run that handles one file per step sets the window's whole state on every step (label
// texts, caption, bar) and processes pending events after it. What makes such a loop slow is
// not the event processing (a few microseconds with nothing pending) but the repaint of every
// changed label, tens of microseconds each. Between paints the throttle keeps the window's
// updates off, so a change costs no painting; at most once per interval it lets the window
// paint, and that one paint shows the state of that moment. Events are processed on every
// step all the same, so input is served at once.
//
// All throttles share one clock, so nested runs (a folder walked inside a walk, a check run
// started from a menu in the middle of one) together paint at most once per interval.

#include <QPointer>
#include <QWidget>

#include <chrono>

namespace vorn {

class PaintThrottle {
public:
    static constexpr std::chrono::milliseconds kInterval{20};

    explicit PaintThrottle(QWidget* window);
    // Turns the window's updates back on: it paints its final state at the next event
    // processing (or not at all, when it is hidden by then).
    ~PaintThrottle();
    PaintThrottle(const PaintThrottle&) = delete;
    PaintThrottle& operator=(const PaintThrottle&) = delete;

    // Processes every pending event; the window paints in it only when the interval since the
    // last paint of any throttle has passed.
    void ProcessEvents();

private:
    QPointer<QWidget> m_window;
};

} // namespace vorn
