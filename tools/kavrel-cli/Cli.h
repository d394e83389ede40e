#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

class TStream;

// Runs one kavrel-cli command (arguments without the program name); returns the exit status.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// A command that lives outside the Qt-free core (the screen capture needs a display); the executable
// registers it before RunCli. Its failures are raised as Exception and reported like the core's.
struct CliCommand {
    std::string name;
    std::string usage;  // lines for the usage text, each ending in a newline
    std::function<int(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)> run;
};
void RegisterCliCommand(CliCommand command);

