#pragma once

#include "store/UserRecord.h"

#include <optional>
#include <string>
#include <vector>

constexpr const char* ProgramName = "larkledger-security-cli";

// The exit statuses, as --help and the manual page list them.
enum ExitStatus : int
{
    ExitDone = 0,
    ExitBadInput = 1, // usage, a text the table cannot hold, an unsound table (check)
    ExitSignInRefused = 2,
    ExitRefused = 3,     // the signed-in user's rights or the session core's rules
    ExitFileTrouble = 4, // the table could not be read or written, or changed meanwhile
};

// Ends the program: `message` on stderr (after the program's name), then
// the short usage when `usage` is set.
struct CliFailure
{
    int status;
    std::string message;
    bool usage = false;
};

// What the command line asks for; texts are still UTF-8.
struct Invocation
{
    bool help = false;
    bool version = false;
    std::string command;
    std::vector<std::string> operands;
    std::optional<std::string> table;
    std::optional<std::string> user;
    std::optional<std::string> path;
    std::optional<std::string> name;
    std::optional<std::string> description;
    // How long a change waits for another writer of the table to finish.
    int waitSeconds = 10;
    bool newPassword = false;
    std::vector<Right> grants;
    std::vector<Right> revokes;

    // Whether the command signs in first.
    bool SignsIn() const;
};

// Throws CliFailure (ExitBadInput, with usage) for anything it does not know
// or that does not go together.
Invocation ParseArguments(const std::vector<std::string>& arguments);

std::string HelpText();
std::string UsageText();
std::string VersionText();
