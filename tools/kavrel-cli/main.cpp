#include "tools/kavrel-cli/Cli.h"

#ifdef KAVREL_CLI_QT_TOOL
#include "tools/kavrel-cli/QtHandOver.h"
#endif

#include <iostream>

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
#ifdef KAVREL_CLI_QT_TOOL
    if (NeedsQtTool(args)) {
        const std::string failure = RunQtTool(argv);
        if (!AsksOnlyForHelp(args)) {
            std::cerr << "kavrel-cli: " << failure << '\n';
            return kExitFailure;
        }
    }
#endif
    return RunCli(args, std::cout, std::cerr);
}
