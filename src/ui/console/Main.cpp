// tolvane-cli: the tool without a window, for automation and production-line batch work.

#include "CommandLine.h"
#include "ConsoleFrontEnd.h"
#include "DeviceList.h"

#include <cstdio>
#include <iostream>
#include <string>

int main(int argc, char** argv)
{
    const console::TCommandLine line = console::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    switch (line.Command) {
    case console::TCommand::Help:
    case console::TCommand::Version: std::cout << line.Output; return console::ExitDone;
    case console::TCommand::UsageError:
        std::cerr << "tolvane-cli: " << line.Error << "\nRun with --help for more.\n";
        return console::ExitUsage;
    case console::TCommand::List: return console::ListDevices(std::cout, std::cerr, line.Json, line.Options.Devices);
    case console::TCommand::Station: return console::RunStation(line.Options, std::cout, std::cerr);
    case console::TCommand::Sessions: break;
    }
    return console::RunSessions(line.Options, std::cout, std::cerr);
}
