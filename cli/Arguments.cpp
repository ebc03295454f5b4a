#include "Arguments.h"

#include "session/Session.h"

#include <algorithm>
#include <cstring>

namespace {

enum Option : unsigned
{
    TableOption = 1u << 0,
    UserOption = 1u << 1,
    PathOption = 1u << 2,
    NameOption = 1u << 3,
    PasswordOption = 1u << 4,
    DescriptionOption = 1u << 5,
    GrantOption = 1u << 6,
    RevokeOption = 1u << 7,
    WaitOption = 1u << 8,
};

struct OptionInfo
{
    const char* name;
    Option option;
    bool takesValue;
};

constexpr OptionInfo Options[] = {
    {"--table", TableOption, true},        {"--user", UserOption, true},
    {"--path", PathOption, true},          {"--name", NameOption, true},
    {"--password", PasswordOption, false}, {"--description", DescriptionOption, true},
    {"--grant", GrantOption, true},        {"--revoke", RevokeOption, true},
    {"--wait", WaitOption, true},
};

struct CommandInfo
{
    const char* name;
    const char* synopsis;
    // One line of --help, after the command and its operands.
    const char* summary;
    std::size_t operands;
    unsigned options; // besides --table and --user
    bool signsIn;
};

constexpr CommandInfo Commands[] = {
    {"ls", "ls", "list the login names, one a line, as stored", 0, 0, true},
    {"show", "show NAME", "a user's details; the password shows only for yourself", 1, 0, true},
    {"add", "add NAME --path PATH [--grant RIGHT]...",
     "add a user: --path PATH [--grant RIGHT]...; password read next", 1, PathOption | GrantOption,
     true},
    {"edit",
     "edit NAME [--name NEW] [--password] [--path PATH] [--grant RIGHT]... [--revoke RIGHT]...",
     "change a user: --name, --password, --path, --grant, --revoke", 1,
     NameOption | PasswordOption | PathOption | GrantOption | RevokeOption, true},
    {"rm", "rm NAME", "delete a user", 1, 0, true},
    {"account-add", "account-add NAME ACCOUNT [--description TEXT]",
     "give a user a bank account: [--description TEXT]", 2, DescriptionOption, true},
    {"account-edit", "account-edit NAME ACCOUNT [--name NEW] [--description TEXT]",
     "change a bank account: --name NEW --description TEXT", 2, NameOption | DescriptionOption,
     true},
    {"account-rm", "account-rm NAME ACCOUNT", "delete a bank account", 2, 0, true},
    {"check", "check", "report the table's size, users and faults; signs no one in", 0, 0, false},
    {"init", "init NAME [--path PATH]",
     "create the table, NAME holding all six rights: [--path PATH]", 1, PathOption, false},
};

// The command and its operands, as --help lists them.
std::string CommandLine(const CommandInfo& command)
{
    std::string line = command.name;
    if (command.operands >= 1)
        line += " NAME";
    if (command.operands >= 2)
        line += " ACCOUNT";
    return line;
}

const CommandInfo* FindCommand(const std::string& name)
{
    for (const CommandInfo& command : Commands) {
        if (name == command.name)
            return &command;
    }
    return nullptr;
}

[[noreturn]] void Usage(const std::string& message)
{
    throw CliFailure{ExitBadInput, message, true};
}

std::string RightList()
{
    std::string list;
    for (Right right : AllRights)
        list += std::string(list.empty() ? "" : " ") + RightName(right);
    return list;
}

Right ParseRight(const std::string& text)
{
    for (Right right : AllRights) {
        if (text == RightName(right))
            return right;
    }
    Usage("unknown right '" + text + "': RIGHT is one of " + RightList());
}

int ParseSeconds(const std::string& text)
{
    if (text.empty() || text.size() > 4 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        Usage("--wait takes a number of seconds, 0 to 9999");
    return std::stoi(text);
}

void SetOnce(std::optional<std::string>& slot, const char* option, const std::string& value)
{
    if (slot)
        Usage(std::string(option) + " is given twice");
    slot = value;
}

} // namespace

bool Invocation::SignsIn() const
{
    const CommandInfo* info = FindCommand(command);
    return info && info->signsIn;
}

Invocation ParseArguments(const std::vector<std::string>& arguments)
{
    Invocation invocation;
    unsigned given = 0;
    // --help and --version win over any mistake beside them.
    std::optional<CliFailure> mistake;
    bool positionalOnly = false;
    bool haveCommand = false;

    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        try {
            if (positionalOnly || argument.size() < 2 || argument[0] != '-') {
                if (!haveCommand) {
                    invocation.command = argument;
                    haveCommand = true;
                } else {
                    invocation.operands.push_back(argument);
                }
                continue;
            }
            if (argument == "--") {
                positionalOnly = true;
                continue;
            }
            if (argument == "--help" || argument == "-h") {
                invocation.help = true;
                continue;
            }
            if (argument == "--version") {
                invocation.version = true;
                continue;
            }
            const std::size_t equals = argument.find('=');
            const std::string name = argument.substr(0, equals);
            const auto known = std::find_if(std::begin(Options), std::end(Options),
                                            [&](const OptionInfo& o) { return name == o.name; });
            if (known == std::end(Options))
                Usage("unknown option '" + name + "'");
            std::string value;
            if (known->takesValue) {
                if (equals != std::string::npos)
                    value = argument.substr(equals + 1);
                else if (i + 1 < arguments.size())
                    value = arguments[++i];
                else
                    Usage(name + " needs a value");
            } else if (equals != std::string::npos) {
                Usage(name + " takes no value");
            }
            given |= known->option;
            switch (known->option) {
            case TableOption:
                SetOnce(invocation.table, known->name, value);
                break;
            case UserOption:
                SetOnce(invocation.user, known->name, value);
                break;
            case PathOption:
                SetOnce(invocation.path, known->name, value);
                break;
            case NameOption:
                SetOnce(invocation.name, known->name, value);
                break;
            case DescriptionOption:
                SetOnce(invocation.description, known->name, value);
                break;
            case PasswordOption:
                invocation.newPassword = true;
                break;
            case GrantOption:
                invocation.grants.push_back(ParseRight(value));
                break;
            case RevokeOption:
                invocation.revokes.push_back(ParseRight(value));
                break;
            case WaitOption:
                invocation.waitSeconds = ParseSeconds(value);
                break;
            }
        } catch (const CliFailure& failure) {
            if (!mistake)
                mistake = failure;
        }
    }
    if (invocation.help || invocation.version)
        return invocation;
    if (mistake)
        throw *mistake;

    if (!haveCommand)
        Usage("no command given");
    const CommandInfo* command = FindCommand(invocation.command);
    if (!command)
        Usage("unknown command '" + invocation.command + "'");
    if (invocation.operands.size() != command->operands)
        Usage(std::string("usage: ") + ProgramName + " " + command->synopsis);
    for (const OptionInfo& option : Options) {
        const unsigned allowed = command->options | TableOption | WaitOption |
                                 (command->signsIn ? unsigned{UserOption} : 0u);
        if ((given & option.option) && !(allowed & option.option))
            Usage(std::string(option.name) + " does not go with " + command->name);
    }
    if (command->signsIn && !invocation.user)
        Usage(std::string(command->name) + " signs in first: give --user NAME");
    if (invocation.command == "add" && !invocation.path)
        Usage(std::string("usage: ") + ProgramName + " " + command->synopsis);
    for (Right right : invocation.grants) {
        if (std::find(invocation.revokes.begin(), invocation.revokes.end(), right) !=
            invocation.revokes.end())
            Usage(std::string("--grant and --revoke both name ") + RightName(right));
    }
    if (invocation.command == "edit" && !invocation.name && !invocation.newPassword &&
        !invocation.path && invocation.grants.empty() && invocation.revokes.empty())
        Usage("edit: nothing to change (give --name, --password, --path, --grant or --revoke)");
    if (invocation.command == "account-edit" && !invocation.name && !invocation.description)
        Usage("account-edit: nothing to change (give --name or --description)");
    return invocation;
}

std::string UsageText()
{
    return std::string("Usage: ") + ProgramName +
           " [--table FILE] [--user NAME] COMMAND [ARGUMENT]...\n"
           "Try '" +
           ProgramName + " --help' for the commands.\n";
}

std::string HelpText()
{
    std::string text = std::string("Usage: ") + ProgramName +
                       " [--table FILE] [--user NAME] COMMAND [ARGUMENT]...\n"
                       "Administers the Larkledger Security Manager's user table (Gatekeep.acl)\n"
                       "with the same rights, checks and saves as its windows.\n"
                       "\n"
                       "Commands (all but check and init sign in as --user NAME first):\n";
    for (const CommandInfo& command : Commands) {
        std::string line = "  " + CommandLine(command);
        line.resize(29, ' ');
        text += line + command.summary + "\n";
    }
    text += "\n"
            "Options:\n"
            "  --table FILE   the user table; default\n"
            "                 ${XDG_DATA_HOME:-~/.local/share}/larkledger-security/Gatekeep.acl\n"
            "  --user NAME    sign in as NAME; the password is read from the terminal without\n"
            "                 echo, or else as the first line of standard input\n"
            "  --path PATH    a user's data path; for init an existing folder (default:\n"
            "                 the table's folder)\n"
            "  --grant RIGHT, --revoke RIGHT\n"
            "                 give or take a right; RIGHT is one of\n"
            "                 " +
            RightList() +
            "\n"
            "  --name NEW     the new login name (edit) or account name (account-edit)\n"
            "  --password     read a new password, as the next line or a second prompt\n"
            "  --description TEXT\n"
            "                 a bank account's description; line breaks are kept\n"
            "  --wait SECONDS how long a change waits for another copy that is writing the\n"
            "                 table (default 10); then nothing is written (exit status 4)\n"
            "  --help         this text\n"
            "  --version      the program's version\n"
            "\n"
            "Texts are UTF-8; the table holds Windows-1252, so a text with another\n"
            "character, or longer than its field, is refused and nothing is written.\n"
            "\n"
            "Exit status:\n"
            "  0  done; for check, the table is sound\n"
            "  1  a usage mistake, a text the table cannot hold, a data folder that is not\n"
            "     there (init); for check, the table is not sound\n"
            "  2  the sign-in was refused\n"
            "  3  refused by the signed-in user's rights or the Security Manager's rules\n"
            "  4  the table could not be read or written, or it changed on disk while the\n"
            "     command ran; nothing was written\n";
    return text;
}

std::string VersionText()
{
    return std::string(ProgramName) + " (Larkledger Security Manager) " + LARK_VERSION + "\n";
}
