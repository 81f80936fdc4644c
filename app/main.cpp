// Vorn: finds damaged JPEG files.

#include <csignal>

#include "app/main_sequence.h"
#include "components/termination_signals.h"

int main(int argc, char** argv) {
    // A write past the file-size limit then fails with an error the settings file reports, and
    // the old settings stay whole, instead of the signal ending the program mid-write.
    std::signal(SIGXFSZ, SIG_IGN);
    // A signal that asks the program to end, from its first moment on, ends it as Exit does.
    TTerminationSignals::Catch();
    return RunMainSequence(argc, argv);
}
