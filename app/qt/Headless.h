// `tarvolin --headless`: the meter engine without a view or display. Recorders,
// connectors, the 24 level analyses (bar cores without widgets), the silence
// detector, the journal, the actions and the status endpoint run on a core
// application with the same settings file and restore sequence as the
// window, until SIGINT or SIGTERM (or --run-for), then the settings are saved
// like a normal close. No alarm sound is played.
#pragma once

class QCoreApplication;
struct CommandLine;

int RunHeadless(QCoreApplication& app, const CommandLine& cl);
