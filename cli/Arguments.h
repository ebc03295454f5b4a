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
    ExitExists = 5,      // the user or bank account to add is there already
    ExitNotFound = 6,    // the user or bank account named is not there
};

// Ends the program: `message` on stderr (after the program's name), then
// the command's one usage line when `usage` is set.
struct CliFailure
{
    int status;
    std::string message;
    bool usage = false;
    std::string command; // whose usage line to show; empty: the program's
};

enum class OutputFormat
{
    Text,
    Json,
    Tsv,
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
    bool newPassword = false;
    std::vector<Right> grants;
    std::vector<Right> revokes;
    // How long a change waits for another writer of the table to finish.
    int waitSeconds = 10;
    bool quiet = false;
    OutputFormat format = OutputFormat::Text;
    // Where passwords come from instead of the terminal or standard input.
    std::optional<int> passwordFd;
    std::optional<int> newPasswordFd;
    bool ifMissing = false;
    bool ifPresent = false;

    // Whether the command signs in first.
    bool SignsIn() const;
};

class Command;

// One command of the program, defined once (in Commands.cpp): its name, its
// operands and options, its line of --help, and what it does.
struct CommandInfo
{
    const char* name;
    const char* operands; // "NAME ACCOUNT", as the usage shows them
    std::size_t operandCount;
    unsigned options; // the Option bits it takes besides the common ones
    bool signsIn;
    const char* summary; // the line of --help
    int (*run)(Command&);
};

// The options, as bits of CommandInfo::options.
enum Option : unsigned
{
    PathOption = 1u << 0,
    NameOption = 1u << 1,
    PasswordOption = 1u << 2,
    DescriptionOption = 1u << 3,
    GrantOption = 1u << 4,
    RevokeOption = 1u << 5,
    FormatOption = 1u << 6,
    NewPasswordFdOption = 1u << 7,
    IfMissingOption = 1u << 8,
    IfPresentOption = 1u << 9,
};

const std::vector<CommandInfo>& CommandTable();
const CommandInfo* FindCommand(const std::string& name);

// Throws CliFailure (ExitBadInput, with usage) for anything it does not know
// or that does not go together.
Invocation ParseArguments(const std::vector<std::string>& arguments);

std::string HelpText();
// `help COMMAND` and `COMMAND --help`.
std::string CommandHelpText(const CommandInfo& command);
// One line: the command's usage, or the program's.
std::string UsageLine(const std::string& command = {});
std::string VersionText();
