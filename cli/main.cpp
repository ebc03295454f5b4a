#include "Arguments.h"
#include "Commands.h"
#include "Secret.h"

#include "audit/SystemLog.h"

#include <exception>
#include <iostream>
#include <string>
#include <variant>
#include <vector>

namespace {

// Help, the version, or the command run; its exit status.
int run(const Invocation& invocation)
{
    if (invocation.help) {
        const CommandInfo* command = findCommand(invocation.command);
        std::cout << (command ? commandHelpText(*command) : helpText());
        return ExitDone;
    }
    if (invocation.version) {
        std::cout << versionText();
        return ExitDone;
    }
    SecretReader secrets;
    const auto audit = makeSystemLogSink();
    return runCommand(invocation, secrets, std::cout, std::cerr, audit.get());
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    int status = ExitDone;
    try {
        const std::variant<Invocation, UsageMistake> parsed = parseArguments(arguments);
        if (const auto* mistake = std::get_if<UsageMistake>(&parsed)) {
            std::cerr << ProgramName << ": " << visibleLines(mistake->message) << "\n"
                      << visibleLines(usageLine(mistake->command));
            return ExitBadInput;
        }
        status = run(std::get<Invocation>(parsed));
    } catch (const std::exception& error) {
        std::cout.flush();
        std::cerr << ProgramName << ": " << visibleLines(error.what()) << "\n";
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
