#pragma once
// An event counter for tests of what reaches a window and its widgets.

#include <QEvent>
#include <QObject>

#include <initializer_list>
#include <set>
#include <utility>

// Counts the events of the kinds asked for that reach the objects watched, from its making to
// its end; the events go on as if it were not there.
class Arrivals : public QObject {
public:
    Arrivals(std::initializer_list<QObject*> watched, std::set<QEvent::Type> kinds)
        : m_kinds(std::move(kinds)) {
        for (QObject* object : watched) {
            object->installEventFilter(this);
        }
    }
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        count += m_kinds.count(event->type()) ? 1 : 0;
        return false;
    }

private:
    std::set<QEvent::Type> m_kinds;
};
