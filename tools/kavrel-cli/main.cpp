#include "tools/kavrel-cli/Cli.h"

#ifdef KAVREL_CLI_CAPTURE
#include "tools/kavrel-cli/CaptureCommand.h"
#endif

#include <iostream>

int main(int argc, char** argv)
{
#ifdef KAVREL_CLI_CAPTURE
    RegisterCliCommand(CaptureCliCommand());
#endif
    return RunCli(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
