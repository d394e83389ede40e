// kavrel-cli-qt: kavrel-cli with the parts that need Qt. kavrel-cli hands it the command lines that
// need them (QtHandOver.h); it takes every other one as kavrel-cli does.

#include "tools/kavrel-cli/CaptureCommand.h"
#include "tools/kavrel-cli/Cli.h"
#include "tools/kavrel-cli/QtParts.h"

#include <iostream>

int main(int argc, char** argv)
{
    InstallQtMetafileRenderer();
    RegisterCliCommand(CaptureCliCommand());
    return RunCli(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
