#pragma once

#include "session/UserValues.h"

#include <optional>
#include <string>
#include <utility>
#include <variant>
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

// How a command ends: its exit status and its words on standard error (for
// one that did its work, a notice; empty when there is nothing to say).
struct Ending
{
    int status = ExitDone;
    std::string message;
};

// A command line that will not do (ExitBadInput): `message` on standard
// error after the program's name, then the one usage line of `command`
// (empty: the program's).
struct UsageMistake
{
    std::string message;
    std::string command;
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
    bool signsIn() const;
};

class Command;

// The options, as bits of a command's option sets.
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
    // Every command takes these.
    TableOption = 1u << 16,
    WaitOption = 1u << 17,
    QuietOption = 1u << 18,
    // Every command that signs in takes these.
    UserOption = 1u << 19,
    PasswordFdOption = 1u << 20,
};

constexpr unsigned CommonOptions = TableOption | WaitOption | QuietOption;
constexpr unsigned SignInOptions = UserOption | PasswordFdOption;

// What an option's value is: the completion offers files, folders, rights
// or formats, and nothing where it cannot know (a name, a text, a number).
enum class ValueKind
{
    None, // the option takes no value
    Text,
    File,
    Folder,
    Rights,
    Format,
};

// One option of the program, defined once (in Arguments.cpp).
struct OptionInfo
{
    const char* name;      // "--path"
    const char* shortName; // "-q", or nullptr
    unsigned option;
    const char* value; // "PATH", as usage lines show it; nullptr with ValueKind::None
    ValueKind kind;
    bool repeatable;  // given more than once, each adds to the others
    std::string help; // its text in --help, lines split by '\n'
};

const std::vector<OptionInfo>& optionTable();
const OptionInfo& findOption(Option option);

// What a command's operand names: the table checks a new login or account
// name before anyone signs in; the completion offers files for a FILE.
enum class Operand
{
    User,       // NAME, a user of the table
    NewUser,    // NAME, a user it makes
    Account,    // ACCOUNT, a bank account of that user
    NewAccount, // ACCOUNT, a bank account it makes
    File,       // FILE, a path
};

// One command of the program, defined once (in Commands.cpp): its operands
// and options, its line of --help, and what it does. The usage lines,
// --help, the parser's checks and the bash completion's word lists all
// come from here, so a new command is one more entry:
//
//   CommandInfo("add", {Operand::NewUser}, "add a user", &Command::Add)
//       .needing(PathOption)
//       .taking(GrantOption)
//       .writing()
struct CommandInfo
{
    CommandInfo(const char* commandName, std::vector<Operand> commandOperands,
                const char* commandSummary, Ending (Command::*commandRun)())
        : name(commandName), operands(std::move(commandOperands)), summary(commandSummary),
          run(commandRun)
    {
    }

    const char* name;
    std::vector<Operand> operands;
    const char* summary; // the line of --help
    Ending (Command::*run)();
    unsigned required = 0; // the options it cannot do without
    unsigned optional = 0; // the options it takes besides those and the common ones
    // Where it changes what is given, it needs at least one of these
    // options (edit needs something to change); 0: none needed.
    unsigned oneOf = 0;
    bool signsIn = true;
    // It changes the table: signed in, it holds the writer lock from its
    // read of the table to its write.
    bool writes = false;

    CommandInfo needing(unsigned options) const;
    CommandInfo taking(unsigned options) const;
    // Taking them, and needing one of them.
    CommandInfo changingOneOf(unsigned options) const;
    CommandInfo signingNoOneIn() const;
    CommandInfo writing() const;

    unsigned allowed() const
    {
        return required | optional | CommonOptions | (signsIn ? SignInOptions : 0u);
    }
    bool takes(Operand operand) const;
    // "NAME ACCOUNT", as usage lines and messages show the operands.
    std::string operandText() const;
    // "add NAME --path PATH [--grant RIGHTS]...": what the command needs
    // and takes besides the common options.
    std::string synopsis() const;
    // "add NAME --path PATH": what it cannot do without.
    std::string needs() const;
};

// `help COMMAND`: no command of the table, as it runs nothing.
constexpr const char* HelpCommand = "help";

// The words of --format, in the order --help lists them.
const std::vector<std::pair<const char*, OutputFormat>>& formatTable();

const std::vector<CommandInfo>& commandTable();
const CommandInfo* findCommand(const std::string& name);

// The invocation, or the first mistake: anything it does not know or that
// does not go together.
std::variant<Invocation, UsageMistake> parseArguments(const std::vector<std::string>& arguments);

std::string helpText();
// `help COMMAND` and `COMMAND --help`.
std::string commandHelpText(const CommandInfo& command);
// One line: the command's usage, or the program's.
std::string usageLine(const std::string& command = {});
std::string versionText();

// The bash completion script: `script` with each @WORDS@ placeholder
// (@COMMANDS@, @OPTIONS@, @RIGHTS@, @FORMATS@, @FILE_OPTIONS@,
// @FOLDER_OPTIONS@, @RIGHTS_OPTIONS@, @FORMAT_OPTIONS@, @VALUE_OPTIONS@,
// @FILE_COMMANDS@) replaced by its words from the tables above.
std::string fillCompletion(std::string script);
