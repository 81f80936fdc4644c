// The termination signals.

#include "components/termination_signals.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>

namespace {

constexpr std::array<int, 3> kSignals = {SIGTERM, SIGINT, SIGHUP};

// Made once and never closed: a handler may write to it at any time.
int g_pipe[2] = {-1, -1};
bool g_caught = false;
std::array<struct sigaction, kSignals.size()> g_previous{};

// Async-signal-safe: write() on a pipe that never blocks, errno kept for the code it interrupts.
// A full pipe loses nothing that counts: one byte waiting is enough to end the program.
void OnSignal(int signal) {
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

void TTerminationSignals::Catch() {
    if (g_caught) {
        return;
    }
    if (g_pipe[0] < 0 && ::pipe2(g_pipe, O_NONBLOCK | O_CLOEXEC) != 0) {
        return; // the signals then keep their default action
    }
    g_caught = true;
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        ::sigaction(kSignals[i], nullptr, &g_previous[i]);
        if (g_previous[i].sa_handler == SIG_IGN) {
            continue;
        }
        struct sigaction action {};
        action.sa_handler = OnSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(kSignals[i], &action, nullptr);
    }
}

TTerminationSignals::TTerminationSignals(std::function<void()> onSignal, QObject* parent)
    : QObject(parent)
    , m_onSignal(std::move(onSignal))
    , m_notifier(nullptr) {
    Catch();
    if (g_pipe[0] >= 0) {
        m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, [this] { Read(); });
    }
}

TTerminationSignals::~TTerminationSignals() {
    if (g_caught) {
        for (std::size_t i = 0; i < kSignals.size(); ++i) {
            ::sigaction(kSignals[i], &g_previous[i], nullptr);
        }
        g_caught = false;
    }
}

void TTerminationSignals::Read() {
    std::array<unsigned char, 64> bytes{};
    bool arrived = false;
    ssize_t got = 0;
    while ((got = ::read(g_pipe[0], bytes.data(), bytes.size())) > 0 ||
           (got < 0 && errno == EINTR)) {
        arrived = arrived || got > 0;
    }
    if (arrived) {
        m_onSignal();
    }
}
