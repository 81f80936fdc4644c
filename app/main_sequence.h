#pragma once
// The program's main sequence: create the windows, apply the settings, take the command line,
// run the event loop until the main window closes, write the settings.

#include <string>
#include <vector>

// Runs the whole program and returns its exit code. An exception that escapes the sequence
// outside the event loop is shown in the unhandled-error box and gives exit code 1; the steps
// after the failing one do not run.
int RunMainSequence(int argc, char** argv);

// The sequence after its first step, on the application object that already exists: the
// windows, the settings, the command-line parameters (the program's own path not included), the
// loop and the settings again. `settingsPath` names the settings file; empty means the file
// beside the executable. Failures end it as above.
int RunMainSequence(const std::vector<std::string>& parameters,
                    const std::string& settingsPath = {});
