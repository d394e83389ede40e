#pragma once

#include <ostream>
#include <string>
#include <vector>

// Runs one kavrel-cli command (arguments without the program name); returns the exit status.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
