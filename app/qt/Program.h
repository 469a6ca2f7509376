// The program: creates the eight windows in their order, runs the message
// loop and carries out --screenshot, --run-for and --stats. GUI thread.
#pragma once

#include "app/CommandLine.h"

class QApplication;
class TMainAudio;

// Runs until the main window closes; returns the exit code.
int RunProgram(QApplication& app, const CommandLine& cl, TMainAudio& audio);
