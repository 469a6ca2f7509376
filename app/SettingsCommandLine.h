// --settings FILE and --set NAME=VALUE: choose the store file and write values before start.
// Qt-free; called once from main() before any window exists.
#pragma once

#include "app/CommandLine.h"
#include "app/Settings.h"
#include "audio/MMNetWaveIn.h"
#include "base/SettingsAccess.h"

#include <ostream>
#include <string>

// How a --set VALUE is stored for NAME: a name the program keeps as text (a label, a file)
// takes the text as given; one it keeps as an integer or a boolean needs a decimal integer
// (booleans also take true/false); any other name stores an integer when VALUE parses as a
// 32-bit one, else text. False with `error` set when VALUE does not fit the name's kind.
bool SettingFromCommandLine(const std::string& name, const std::string& value, TSettingValue& out,
                            std::string& error);

// Selects the store file (--settings, else the default file) as the process's store and
// applies the --set writes in order, under the name spelling the program writes. False, with
// a line on `err`, when a --set value is refused; nothing is written then.
bool ApplySettingsOptions(const CommandLine& cl, std::ostream& err);

// The network streams' options: --net-interface, else the stored "Network
// Interface" (SAP is listened for only on a named interface; "" and "none":
// not at all); the stored "SDP Files" (';'-separated) and then every --sdp.
TMMNetWaveIn::TOptions NetworkOptions(const CommandLine& cl, TSettingsAccess& store);
