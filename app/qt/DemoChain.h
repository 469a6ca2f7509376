// The live-path demo window (tarvolin --demo-chain): one recorder feeding a
// connector with two level bars and two oscilloscopes.
#pragma once

struct CommandLine;
class QApplication;

// Shows the window and runs the application; honours --run-for and
// --screenshot/--after. Returns the exit code.
int RunDemoChain(QApplication& app, const CommandLine& cl);
