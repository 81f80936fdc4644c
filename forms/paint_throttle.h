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
// The window system's requests to paint are never lost: an expose that arrives while updates
// are held (the window just mapped, or uncovered) turns them back on before it is handled when
// the interval's paint is due, so the window paints what was exposed at once; otherwise it is
// kept, and the next paint the throttle lets through (at most an interval later, or when the
// throttle ends) paints the whole window anew. (Qt drops an expose of a window whose updates
// are off, and turning them back on later does not paint a window that was already marked for
// repainting: such a window would stay blank.) A walk of many small folders shows the progress
// dialog again for every folder; painting it whole at each of those exposes was a large part
// of such a walk's time.
//
// The throttles alive at one time share one clock, so nested runs (a folder walked inside a
// walk, a check run started from a menu in the middle of one) together paint at most once per
// interval. The clock starts afresh with the outermost throttle, so a run's first step paints
// (the window that was just shown draws its first state at once).

#include <QPointer>
#include <QWidget>

#include <chrono>
#include <memory>

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

    // Processes every pending event; the window paints in it when the interval since the last
    // paint of any live throttle has passed, or when the window system exposes it.
    void ProcessEvents();

private:
    class ExposeWatch;

    QPointer<QWidget> m_window;
    std::unique_ptr<ExposeWatch> m_exposeWatch;
};

} // namespace vorn
