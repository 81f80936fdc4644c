#pragma once
// Paces a long run's event processing and the main window's painting.
//
// A full pass over the event loop costs a system call even with nothing pending (about 1.5 us
// here), which a run over 100,000 files paid twice per file. The pacer makes that pass at a
// run's first step and then at most once per interval, far below what a person can notice; at
// every other step it delivers only the events posted meanwhile (queued calls, the program's own
// requests), which costs a lock when there are none. So a step still serves what the program
// itself asked for at once, and the window system's input (a click on the dialog, a drop, a
// close) waits at most one interval.
//
// While a run goes on, the main window paints at most once per paint interval, at a full pass:
// a walk of many small folders changes the status bar at the end of every folder, and painting
// each of those changes would be most of the run's time. The window paints its final state
// when the outermost run ends.
//
// One pacer serves every run of a window, nested ones included, so a drop or a check run that
// starts in the middle of a walk keeps the same pace.

#include <QElapsedTimer>
#include <QPointer>
#include <QWidget>

#include <chrono>

namespace vorn {

class PaintThrottle;

class EventPacer {
public:
    static constexpr std::chrono::microseconds kInterval{1000};

    explicit EventPacer(QWidget* window)
        : m_window(window) {}

    // A run starts: its first step makes the full pass, so that a dialog just shown is served
    // before the run goes on. Every BeginRun has its EndRun.
    void BeginRun();
    // A run ends; at the end of the outermost one the window paints itself whole, at once.
    void EndRun();

    // One step of a run: the full pass through `throttle` (which decides whether the dialog
    // paints) when it is due, else the delivery of the posted events.
    void ProcessEvents(PaintThrottle& throttle);

private:
    QPointer<QWidget> m_window;
    int m_runs = 0;
    QElapsedTimer m_sinceFullPass;
    QElapsedTimer m_sinceWindowPaint;
};

} // namespace vorn
