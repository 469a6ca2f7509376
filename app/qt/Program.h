// The program: creates the eight windows in their order, runs the message
// loop and carries out --screenshot, --run-for and --stats. GUI thread.
#pragma once

#include "app/CommandLine.h"

class QApplication;

// Runs until the main window closes; returns the exit code. The capture
// back end and the window route are installed by the caller.
int RunProgram(QApplication& app, const CommandLine& cl);
