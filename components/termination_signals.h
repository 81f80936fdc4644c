#pragma once
// Turns the signals that ask a program to end (SIGTERM from kill or a shutdown, SIGINT from a
// terminal's Ctrl+C, SIGHUP from a closed terminal or a logout) into a call on the event loop,
// so that the program ends the way its own Exit command ends it.
//
// The handler only writes the signal's number into a pipe; the pipe's reading end wakes the event
// loop, which runs the callback. Nothing else happens inside the handler, so a signal can arrive
// at any moment, even in the middle of writing a file, without harm.

#include <QObject>

#include <functional>

class QSocketNotifier;

class TTerminationSignals : public QObject {
public:
    // Catches the three signals from now on, also before the application object exists: a
    // signal caught before a TTerminationSignals is made waits in the pipe for it. A signal the
    // program was started ignoring (SIGHUP under nohup) stays ignored. Calls after the first
    // do nothing.
    static void Catch();

    // Catches the signals (see Catch) and runs `onSignal` from the event loop when one or more
    // have arrived, before the object was made or while it lives. The dispositions the program had
    // before Catch come back when the object goes.
    explicit TTerminationSignals(std::function<void()> onSignal, QObject* parent = nullptr);
    ~TTerminationSignals() override;

private:
    void Read();

    std::function<void()> m_onSignal;
    QSocketNotifier* m_notifier;
};
