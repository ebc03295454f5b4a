#include "Arguments.h"

#include "session/Session.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

// Options every command takes.
enum CommonOption : unsigned
{
    TableOption = 1u << 16,
    UserOption = 1u << 17,
    WaitOption = 1u << 18,
    QuietOption = 1u << 19,
    PasswordFdOption = 1u << 20,
};

struct OptionInfo
{
    const char* name;
    const char* shortName;
    unsigned option;
    bool takesValue;
};

constexpr OptionInfo Options[] = {
    {"--table", nullptr, TableOption, true},
    {"--user", nullptr, UserOption, true},
    {"--wait", nullptr, WaitOption, true},
    {"--quiet", "-q", QuietOption, false},
    {"--password-fd", nullptr, PasswordFdOption, true},
    {"--path", nullptr, PathOption, true},
    {"--name", nullptr, NameOption, true},
    {"--password", nullptr, PasswordOption, false},
    {"--new-password-fd", nullptr, NewPasswordFdOption, true},
    {"--description", nullptr, DescriptionOption, true},
    {"--grant", nullptr, GrantOption, true},
    {"--revoke", nullptr, RevokeOption, true},
    {"--format", nullptr, FormatOption, true},
    {"--if-missing", nullptr, IfMissingOption, false},
    {"--if-present", nullptr, IfPresentOption, false},
};

[[noreturn]] void Usage(const std::string& message, const std::string& command = {})
{
    throw CliFailure{ExitBadInput, message, true, command};
}

std::string RightList()
{
    std::string list;
    for (Right right : AllRights)
        list += std::string(list.empty() ? "" : " ") + RightName(right);
    return list;
}

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// "AddRecord,modifyrecord": names of rights in any letter case, one or
// several separated by commas.
std::vector<Right> ParseRights(const std::string& text)
{
    std::vector<Right> rights;
    std::size_t at = 0;
    for (;;) {
        const std::size_t comma = text.find(',', at);
        const std::string word = text.substr(at, comma == std::string::npos ? comma : comma - at);
        const auto found = std::find_if(AllRights.begin(), AllRights.end(), [&](Right right) {
            return Lower(RightName(right)) == Lower(word);
        });
        if (found == AllRights.end())
            Usage("unknown right '" + word + "': RIGHT is one of " + RightList());
        rights.push_back(*found);
        if (comma == std::string::npos)
            return rights;
        at = comma + 1;
    }
}

int ParseNumber(const std::string& text, const char* option, int most)
{
    if (text.empty() || text.size() > 4 ||
        text.find_first_not_of("0123456789") != std::string::npos || std::stoi(text) > most)
        Usage(std::string(option) + " takes a number from 0 to " + std::to_string(most));
    return std::stoi(text);
}

OutputFormat ParseFormat(const std::string& text)
{
    if (text == "text")
        return OutputFormat::Text;
    if (text == "json")
        return OutputFormat::Json;
    if (text == "tsv")
        return OutputFormat::Tsv;
    Usage("--format is one of text, json, tsv");
}

void SetOnce(std::optional<std::string>& slot, const char* option, const std::string& value)
{
    if (slot)
        Usage(std::string(option) + " is given twice");
    slot = value;
}

std::string Synopsis(const CommandInfo& command)
{
    std::string line = command.name;
    if (command.operandCount > 0)
        line += std::string(" ") + command.operands;
    for (const OptionInfo& option : Options) {
        if (!(command.options & option.option))
            continue;
        line += std::string(" [") + option.name;
        if (option.takesValue) {
            std::string value = option.name + 2;
            for (char& c : value)
                c = c == '-' ? '_' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            line += " " + value;
        }
        line += "]";
    }
    return line;
}

} // namespace

const CommandInfo* FindCommand(const std::string& name)
{
    for (const CommandInfo& command : CommandTable()) {
        if (name == command.name)
            return &command;
    }
    return nullptr;
}

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
            if (argument == "--version" || argument == "-V" || argument == "-v") {
                invocation.version = true;
                continue;
            }
            const std::size_t equals = argument.find('=');
            const std::string name = argument.substr(0, equals);
            const auto known =
                std::find_if(std::begin(Options), std::end(Options), [&](const OptionInfo& o) {
                    return name == o.name || (o.shortName && name == o.shortName);
                });
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
                for (Right right : ParseRights(value))
                    invocation.grants.push_back(right);
                break;
            case RevokeOption:
                for (Right right : ParseRights(value))
                    invocation.revokes.push_back(right);
                break;
            case WaitOption:
                invocation.waitSeconds = ParseNumber(value, known->name, 9999);
                break;
            case QuietOption:
                invocation.quiet = true;
                break;
            case FormatOption:
                invocation.format = ParseFormat(value);
                break;
            case PasswordFdOption:
                invocation.passwordFd = ParseNumber(value, known->name, 9999);
                break;
            case NewPasswordFdOption:
                invocation.newPasswordFd = ParseNumber(value, known->name, 9999);
                break;
            case IfMissingOption:
                invocation.ifMissing = true;
                break;
            case IfPresentOption:
                invocation.ifPresent = true;
                break;
            }
        } catch (const CliFailure& failure) {
            if (!mistake)
                mistake = failure;
        }
    }
    // `help COMMAND` is `COMMAND --help`.
    if (invocation.command == "help" && !invocation.version) {
        invocation.help = true;
        invocation.command = invocation.operands.empty() ? std::string() : invocation.operands[0];
        invocation.operands.clear();
    }
    // Help beats any mistake: a command it does not know gets the list.
    if (invocation.help && !FindCommand(invocation.command))
        invocation.command.clear();
    if (invocation.help || invocation.version)
        return invocation;
    if (mistake)
        throw *mistake;

    if (!haveCommand)
        Usage("no command given");
    const CommandInfo* command = FindCommand(invocation.command);
    if (!command)
        Usage("unknown command '" + invocation.command + "'");
    const std::string name = command->name;
    if (invocation.operands.size() != command->operandCount)
        Usage(name + (invocation.operands.size() < command->operandCount
                          ? std::string(" needs ") + command->operands
                          : std::string(" takes ") +
                                (command->operandCount ? command->operands : "no operands")),
              name);
    const unsigned allowed = command->options | TableOption | WaitOption | QuietOption |
                             (command->signsIn ? UserOption | PasswordFdOption : 0u);
    for (const OptionInfo& option : Options) {
        if ((given & option.option) && !(allowed & option.option))
            Usage(std::string(option.name) + " does not go with " + name, name);
    }
    if (command->signsIn && !invocation.user)
        Usage(name + " signs in first: give --user NAME", name);
    if (name == "add" && !invocation.path)
        Usage("add needs --path PATH", name);
    for (Right right : invocation.grants) {
        if (std::find(invocation.revokes.begin(), invocation.revokes.end(), right) !=
            invocation.revokes.end())
            Usage(std::string("--grant and --revoke both name ") + RightName(right), name);
    }
    if (name == "edit" && !invocation.name && !invocation.newPassword && !invocation.path &&
        invocation.grants.empty() && invocation.revokes.empty())
        Usage("edit: nothing to change (give --name, --password, --path, --grant or --revoke)",
              name);
    if (name == "account-edit" && !invocation.name && !invocation.description)
        Usage("account-edit: nothing to change (give --name or --description)", name);
    return invocation;
}

std::string UsageLine(const std::string& command)
{
    const CommandInfo* info = command.empty() ? nullptr : FindCommand(command);
    if (!info)
        return std::string("Usage: ") + ProgramName +
               " [--table FILE] [--user NAME] COMMAND [ARGUMENT]...; '" + ProgramName +
               " --help' lists the commands\n";
    return std::string("Usage: ") + ProgramName + " [OPTION]... " + Synopsis(*info) + "\n";
}

std::string CommandHelpText(const CommandInfo& command)
{
    std::string text = UsageLine(command.name);
    std::string summary = command.summary;
    summary[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(summary[0])));
    text += summary + ".\n";
    if (command.signsIn)
        text += "Signs in as --user NAME first; the password is read from the terminal without "
                "echo, from\nthe file descriptor --password-fd N, or as the first line of "
                "standard input.\n";
    text += std::string("Common options: --table FILE, --wait SECONDS, -q. See '") + ProgramName +
            " --help'.\n";
    return text;
}

std::string HelpText()
{
    std::string text = std::string("Usage: ") + ProgramName +
                       " [OPTION]... COMMAND [ARGUMENT]...\n"
                       "Administers the Larkledger Security Manager's user table (Gatekeep.acl)\n"
                       "with the same rights, checks and saves as its windows.\n"
                       "\n"
                       "Commands (all but check, backup and init sign in as --user NAME first):\n";
    for (const CommandInfo& command : CommandTable()) {
        std::string line = std::string("  ") + command.name;
        if (command.operandCount > 0)
            line += std::string(" ") + command.operands;
        line.resize(29, ' ');
        text += line + command.summary + "\n";
    }
    text += "  help COMMAND               what one command takes\n"
            "\n"
            "Options:\n"
            "  --table FILE   the user table; default\n"
            "                 ${XDG_DATA_HOME:-~/.local/share}/larkledger-security/Gatekeep.acl\n"
            "  --user NAME    sign in as NAME; the password is read from the terminal without\n"
            "                 echo, or else as the first line of standard input\n"
            "  --password-fd N  read the sign-in password from file descriptor N\n"
            "  --path PATH    a user's data path; for init an existing folder (default:\n"
            "                 the table's folder)\n"
            "  --grant RIGHTS, --revoke RIGHTS\n"
            "                 give or take rights: a comma list of " +
            RightList() +
            ",\n"
            "                 in any letter case\n"
            "  --name NEW     the new login name (edit) or account name (account-edit)\n"
            "  --password     read a new password (asked twice on a terminal)\n"
            "  --new-password-fd N  read new passwords from file descriptor N\n"
            "  --description TEXT\n"
            "                 a bank account's description; line breaks are kept\n"
            "  --if-missing   add: do nothing, successfully, when the user is there\n"
            "  --if-present   rm: do nothing, successfully, when the user is not there\n"
            "  --format FORMAT  text (the default), json or tsv, for ls, show and check\n"
            "  --wait SECONDS how long a change waits for another copy that is writing the\n"
            "                 table (default 10); then nothing is written (exit status 4)\n"
            "  -q, --quiet    no notices, only errors\n"
            "  -h, --help     this text\n"
            "  -V, --version  the program's version\n"
            "\n"
            "Texts are UTF-8; the table holds Windows-1252, so a text with another\n"
            "character, or longer than its field, is refused and nothing is written.\n"
            "So is a new text with a control character (a tab, an escape; only a\n"
            "description keeps its line breaks). What ls, show and check print for\n"
            "people shows a control character a table holds as \\r, \\x1b and so on.\n"
            "\n"
            "Exit status:\n"
            "  0  done; for check, the table is sound\n"
            "  1  a usage mistake, a text the table cannot hold, a data folder that is not\n"
            "     there (init); for check, the table is not sound\n"
            "  2  the sign-in was refused\n"
            "  3  refused by the signed-in user's rights or the Security Manager's rules\n"
            "  4  the table could not be read or written, or it changed on disk while the\n"
            "     command ran; nothing was written\n"
            "  5  the user or bank account to add is there already\n"
            "  6  the user or bank account named is not there\n";
    return text;
}

std::string VersionText()
{
    return std::string(ProgramName) + " (Larkledger Security Manager) " + LARK_VERSION + "\n";
}
