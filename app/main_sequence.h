#pragma once
// The program's main sequence: create the windows, apply the settings, take the command line,
// run the event loop until the main window closes, write the settings.

// Runs the whole program and returns its exit code. An exception that escapes the sequence
// outside the event loop is shown in the unhandled-error box and gives exit code 1; the steps
// after the failing one do not run.
int RunMainSequence(int argc, char** argv);
