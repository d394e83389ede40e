#pragma once

#include "framework/Exception.h"

#include <functional>
#include <ostream>
#include <string>
#include <vector>

// Exit statuses of kavrel-cli.
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// Runs one kavrel-cli command (arguments without the program name); returns the exit status.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// A command line that the command cannot take. RunCli reports it on one line, with a pointer to the
// command's --help, and exits with kExitUsage; every other Exception is a failure (kExitFailure).
class UsageError : public Exception {
public:
    using Exception::Exception;
};

// A command that lives outside the Qt-free core (the screen capture needs a display); the executable
// registers it before RunCli. Its failures are raised as Exception and reported like the core's.
struct CliCommand {
    std::string name;
    std::string summary; // its lines in kavrel-cli --help, each ending in a newline
    std::string help; // kavrel-cli NAME --help: the usage line, what it does, every option
    std::function<int(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)> run;
};
void RegisterCliCommand(CliCommand command);
