#include "Arguments.h"
#include "Commands.h"
#include "Secret.h"

#include "audit/SystemLog.h"

#include <exception>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    int status = ExitDone;
    try {
        const Invocation invocation = parseArguments(arguments);
        if (invocation.help) {
            const CommandInfo* command = findCommand(invocation.command);
            std::cout << (command ? commandHelpText(*command) : helpText());
        } else if (invocation.version) {
            std::cout << versionText();
        } else {
            SecretReader secrets;
            const auto audit = makeSystemLogSink();
            status = runCommand(invocation, secrets, std::cout, std::cerr, audit.get());
        }
    } catch (const CliFailure& failure) {
        std::cout.flush();
        if (!failure.message.empty())
            std::cerr << ProgramName << ": " << failure.message << "\n";
        if (failure.usage)
            std::cerr << usageLine(failure.command);
        return failure.status;
    } catch (const std::exception& error) {
        std::cout.flush();
        std::cerr << ProgramName << ": " << error.what() << "\n";
        return ExitFileTrouble;
    }
    // Output that never arrived is a failure a script must see.
    std::cout.flush();
    if (!std::cout) {
        std::cerr << ProgramName << ": the output could not be written\n";
        return ExitFileTrouble;
    }
    return status;
}
