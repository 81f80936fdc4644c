#pragma once
// An event-loop probe for tests of runs that process events as they go.

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

#include <functional>
#include <utility>

// Calls `tick` once at every event processing while it returns true. The probe posts itself an
// event; an event posted while posted events are being delivered waits for the next
// processEvents, so a run that processes events once per path ticks once per path.
class RunProbe : public QObject {
public:
    explicit RunProbe(std::function<bool()> tick)
        : m_tick(std::move(tick)) {
        Post();
    }
    void Stop() { m_active = false; }
    int Ticks() const { return m_ticks; }

protected:
    bool event(QEvent* event) override {
        if (event->type() != kType) {
            return QObject::event(event);
        }
        if (m_active) {
            ++m_ticks;
            if (m_tick()) {
                Post();
            } else {
                m_active = false;
            }
        }
        return true;
    }

private:
    static constexpr QEvent::Type kType = QEvent::Type(QEvent::User + 7);
    void Post() { QCoreApplication::postEvent(this, new QEvent(kType)); }

    std::function<bool()> m_tick;
    bool m_active = true;
    int m_ticks = 0;
};
