#pragma once

#include <string>
#include <vector>

// kavrel-cli itself stays free of Qt, ICU and X11, so that convert, info and formats start quickly.
// The command lines that need Qt go to kavrel-cli-qt, the same tool with those parts: the capture
// command, converting a metafile (drawn with Qt), and the help that lists every command.

// Whether the command line (without the program name) needs kavrel-cli-qt.
bool NeedsQtTool(const std::vector<std::string>& args);
// Whether it asks for nothing but help, which kavrel-cli can give itself, leaving out the commands
// that need Qt.
bool AsksOnlyForHelp(const std::vector<std::string>& args);

// Runs kavrel-cli-qt with the same arguments in place of this process. Returns only when it cannot,
// with the reason.
std::string RunQtTool(char** argv);
