#include "Arguments.h"

#include "session/Session.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

UsageMistake usage(const std::string& message, const std::string& command = {})
{
    return UsageMistake{message, command};
}

std::string rightList()
{
    std::string list;
    for (Right right : AllRights)
        list += std::string(list.empty() ? "" : " ") + rightName(right);
    return list;
}

std::string lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Adds to `rights` those "AddRecord,modifyrecord" names: names of rights in
// any letter case, one or several separated by commas; all of them or none.
std::optional<UsageMistake> addRights(std::vector<Right>& rights, const std::string& text)
{
    std::vector<Right> named;
    for (std::size_t at = 0, comma = 0; comma != std::string::npos; at = comma + 1) {
        comma = text.find(',', at);
        const std::string word = text.substr(at, comma == std::string::npos ? comma : comma - at);
        const auto found = std::find_if(AllRights.begin(), AllRights.end(), [&](Right right) {
            return lower(rightName(right)) == lower(word);
        });
        if (found == AllRights.end())
            return usage("unknown right '" + word + "': RIGHT is one of " + rightList());
        named.push_back(*found);
    }
    rights.insert(rights.end(), named.begin(), named.end());
    return std::nullopt;
}

// Sets `number` (an int, or an optional one) to `text`, a number from 0 to
// `most`.
template <class Number>
std::optional<UsageMistake> setNumber(Number& number, const std::string& text, const char* option,
                                      int most)
{
    if (text.empty() || text.size() > 4 ||
        text.find_first_not_of("0123456789") != std::string::npos || std::stoi(text) > most)
        return usage(std::string(option) + " takes a number from 0 to " + std::to_string(most));
    number = std::stoi(text);
    return std::nullopt;
}

std::string formatList(const char* last)
{
    std::string list;
    const auto& formats = formatTable();
    for (std::size_t i = 0; i < formats.size(); ++i)
        list += std::string(i == 0 ? "" : i + 1 == formats.size() ? last : ", ") + formats[i].first;
    return list;
}

std::optional<UsageMistake> setFormat(OutputFormat& format, const std::string& text)
{
    for (const auto& [name, named] : formatTable()) {
        if (text == name) {
            format = named;
            return std::nullopt;
        }
    }
    return usage("--format is one of " + formatList(", "));
}

std::optional<UsageMistake> setOnce(std::optional<std::string>& slot, const char* option,
                                    const std::string& value)
{
    if (slot)
        return usage(std::string(option) + " is given twice");
    slot = value;
    return std::nullopt;
}

// "--name, --password or --path"
std::string optionNames(unsigned options)
{
    std::vector<std::string> names;
    for (const OptionInfo& option : optionTable()) {
        if (options & option.option)
            names.push_back(option.name);
    }
    std::string list;
    for (std::size_t i = 0; i < names.size(); ++i)
        list += (i == 0 ? "" : i + 1 == names.size() ? " or " : ", ") + names[i];
    return list;
}

// "--path PATH", with or without the value.
std::string optionText(const OptionInfo& option)
{
    return std::string(option.name) + (option.value ? std::string(" ") + option.value : "");
}

// The commands that take `option` besides the common ones, "add, edit".
std::string commandsTaking(const OptionInfo& option)
{
    std::string list;
    for (const CommandInfo& command : commandTable()) {
        if ((command.required | command.optional) & option.option)
            list += (list.empty() ? "" : ", ") + std::string(command.name);
    }
    return list;
}

// `text` in lines of at most `width` characters, broken between words and
// at each '\n', each line after the first indented by `indent` blanks.
std::string wrapped(const std::string& text, std::size_t indent, std::size_t width)
{
    std::string wrapped;
    std::size_t column = indent;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find_first_of(" \n", at);
        const std::string word = text.substr(at, end == std::string::npos ? end : end - at);
        if (column > indent && column + 1 + word.size() > width) {
            wrapped += "\n" + std::string(indent, ' ');
            column = indent;
        }
        if (column > indent) {
            wrapped += ' ';
            ++column;
        }
        wrapped += word;
        column += word.size();
        if (end == std::string::npos)
            break;
        if (text[end] == '\n') {
            wrapped += "\n" + std::string(indent, ' ');
            column = indent;
        }
        at = end + 1;
    }
    return wrapped;
}

// An option's entry in --help: its name and value, then its help, indented
// under each other; the commands that take it, where not every one does.
std::string optionHelp(const std::string& head, const std::string& help)
{
    constexpr std::size_t Indent = 20;
    std::string text = "  " + head;
    if (text.size() + 1 > Indent)
        text += "\n" + std::string(Indent, ' ');
    else
        text.resize(Indent, ' ');
    return text + wrapped(help, Indent, 79) + "\n";
}

std::string optionHelp(const OptionInfo& option, bool withCommands)
{
    std::string head = optionText(option);
    if (option.shortName)
        head = option.shortName + (", " + head);
    const std::string commands = commandsTaking(option);
    const bool common = (option.option & (CommonOptions | SignInOptions)) != 0;
    return optionHelp(head, option.help + (withCommands && !common && !commands.empty()
                                               ? " (" + commands + ")"
                                               : std::string()));
}

} // namespace

const std::vector<OptionInfo>& optionTable()
{
    static const std::vector<OptionInfo> options = {
        {"--table", nullptr, TableOption, "FILE", ValueKind::File, false,
         "the user table; default ${XDG_DATA_HOME:-~/.local/share}/larkledger-security/"
         "Gatekeep.acl"},
        {"--user", nullptr, UserOption, "NAME", ValueKind::Text, false,
         "sign in as NAME; the password is read from the terminal without echo, or else as "
         "the first line of standard input"},
        {"--password-fd", nullptr, PasswordFdOption, "N", ValueKind::Text, false,
         "read the sign-in password from file descriptor N"},
        {"--name", nullptr, NameOption, "NEW", ValueKind::Text, false,
         "a new name for the user or the bank account"},
        {"--password", nullptr, PasswordOption, nullptr, ValueKind::None, false,
         "read a new password, asked twice on a terminal"},
        {"--path", nullptr, PathOption, "PATH", ValueKind::Folder, false,
         "a user's data path; for init an existing folder (default: the table's folder)"},
        {"--new-password-fd", nullptr, NewPasswordFdOption, "N", ValueKind::Text, false,
         "read new passwords from file descriptor N"},
        {"--description", nullptr, DescriptionOption, "TEXT", ValueKind::Text, false,
         "a bank account's description; line breaks are kept"},
        {"--grant", nullptr, GrantOption, "RIGHTS", ValueKind::Rights, true,
         "give rights: one or a comma list of " + rightList() + ", in any letter case"},
        {"--revoke", nullptr, RevokeOption, "RIGHTS", ValueKind::Rights, true,
         "take rights, named as for --grant"},
        {"--if-missing", nullptr, IfMissingOption, nullptr, ValueKind::None, false,
         "do nothing, successfully, when the user is there"},
        {"--if-present", nullptr, IfPresentOption, nullptr, ValueKind::None, false,
         "do nothing, successfully, when the user is not there"},
        {"--format", nullptr, FormatOption, "FORMAT", ValueKind::Format, false,
         formatList(" or ") + "; the first is the default"},
        {"--wait", nullptr, WaitOption, "SECONDS", ValueKind::Text, false,
         "how long a change waits for another copy that is writing the table (default 10); "
         "then nothing is written (exit status 4)"},
        {"--quiet", "-q", QuietOption, nullptr, ValueKind::None, false, "no notices, only errors"},
    };
    return options;
}

const OptionInfo& findOption(Option option)
{
    const std::vector<OptionInfo>& options = optionTable();
    return *std::find_if(options.begin(), options.end(),
                         [&](const OptionInfo& info) { return info.option == option; });
}

const std::vector<std::pair<const char*, OutputFormat>>& formatTable()
{
    static const std::vector<std::pair<const char*, OutputFormat>> formats = {
        {"text", OutputFormat::Text},
        {"json", OutputFormat::Json},
        {"tsv", OutputFormat::Tsv},
    };
    return formats;
}

CommandInfo CommandInfo::needing(unsigned options) const
{
    CommandInfo info = *this;
    info.required |= options;
    return info;
}

CommandInfo CommandInfo::taking(unsigned options) const
{
    CommandInfo info = *this;
    info.optional |= options;
    return info;
}

CommandInfo CommandInfo::changingOneOf(unsigned options) const
{
    CommandInfo info = taking(options);
    info.oneOf |= options;
    return info;
}

CommandInfo CommandInfo::signingNoOneIn() const
{
    CommandInfo info = *this;
    info.signsIn = false;
    return info;
}

CommandInfo CommandInfo::writing() const
{
    CommandInfo info = *this;
    info.writes = true;
    return info;
}

bool CommandInfo::takes(Operand operand) const
{
    return std::find(operands.begin(), operands.end(), operand) != operands.end();
}

std::string CommandInfo::operandText() const
{
    std::string text;
    for (Operand operand : operands) {
        text += text.empty() ? "" : " ";
        switch (operand) {
        case Operand::User:
        case Operand::NewUser:
            text += "NAME";
            break;
        case Operand::Account:
        case Operand::NewAccount:
            text += "ACCOUNT";
            break;
        case Operand::File:
            text += "FILE";
            break;
        }
    }
    return text;
}

std::string CommandInfo::needs() const
{
    std::string line = name;
    if (!operands.empty())
        line += " " + operandText();
    for (const OptionInfo& option : optionTable()) {
        if (required & option.option)
            line += " " + optionText(option);
    }
    return line;
}

std::string CommandInfo::synopsis() const
{
    std::string line = needs();
    for (const OptionInfo& option : optionTable()) {
        if (optional & option.option)
            line += " [" + optionText(option) + "]" + (option.repeatable ? "..." : "");
    }
    return line;
}

const CommandInfo* findCommand(const std::string& name)
{
    for (const CommandInfo& command : commandTable()) {
        if (name == command.name)
            return &command;
    }
    return nullptr;
}

bool Invocation::signsIn() const
{
    const CommandInfo* info = findCommand(command);
    return info && info->signsIn;
}

namespace {

// One pass over the command line. It goes on past a mistake, as --help or
// --version further on wins over it; the first mistake is the one told.
class ArgumentParser
{
public:
    explicit ArgumentParser(const std::vector<std::string>& arguments) : m_arguments(arguments) {}

    std::variant<Invocation, UsageMistake> parse()
    {
        for (m_at = 0; m_at < m_arguments.size(); ++m_at) {
            std::optional<UsageMistake> mistake = take(m_arguments[m_at]);
            if (mistake && !m_mistake)
                m_mistake = std::move(mistake);
        }
        Invocation& invocation = m_invocation;
        // `help COMMAND` is `COMMAND --help`.
        if (invocation.command == HelpCommand && !invocation.version) {
            invocation.help = true;
            invocation.command =
                invocation.operands.empty() ? std::string() : invocation.operands[0];
            invocation.operands.clear();
        }
        // Help beats any mistake: a command it does not know gets the list.
        if (invocation.help && !findCommand(invocation.command))
            invocation.command.clear();
        if (invocation.help || invocation.version)
            return invocation;
        if (m_mistake)
            return *m_mistake;
        if (std::optional<UsageMistake> mistake = commandMistake())
            return *mistake;
        return invocation;
    }

private:
    std::optional<UsageMistake> take(const std::string& argument)
    {
        if (m_positionalOnly || argument.size() < 2 || argument[0] != '-') {
            if (!m_haveCommand) {
                m_invocation.command = argument;
                m_haveCommand = true;
            } else {
                m_invocation.operands.push_back(argument);
            }
        } else if (argument == "--") {
            m_positionalOnly = true;
        } else if (argument == "--help" || argument == "-h") {
            m_invocation.help = true;
        } else if (argument == "--version" || argument == "-V" || argument == "-v") {
            m_invocation.version = true;
        } else {
            return takeOption(argument);
        }
        return std::nullopt;
    }

    // An option, with its value: after '=', or the next argument.
    std::optional<UsageMistake> takeOption(const std::string& argument)
    {
        const std::size_t equals = argument.find('=');
        const std::string name = argument.substr(0, equals);
        const std::vector<OptionInfo>& options = optionTable();
        const auto known = std::find_if(options.begin(), options.end(), [&](const OptionInfo& o) {
            return name == o.name || (o.shortName && name == o.shortName);
        });
        if (known == options.end())
            return usage("unknown option '" + name + "'");
        std::string value;
        if (known->kind != ValueKind::None) {
            if (equals != std::string::npos)
                value = argument.substr(equals + 1);
            else if (m_at + 1 < m_arguments.size())
                value = m_arguments[++m_at];
            else
                return usage(name + " needs a value");
        } else if (equals != std::string::npos) {
            return usage(name + " takes no value");
        }
        m_given |= known->option;
        return setOption(*known, value);
    }

    std::optional<UsageMistake> setOption(const OptionInfo& option, const std::string& value)
    {
        Invocation& invocation = m_invocation;
        switch (option.option) {
        case TableOption:
            return setOnce(invocation.table, option.name, value);
        case UserOption:
            return setOnce(invocation.user, option.name, value);
        case PathOption:
            return setOnce(invocation.path, option.name, value);
        case NameOption:
            return setOnce(invocation.name, option.name, value);
        case DescriptionOption:
            return setOnce(invocation.description, option.name, value);
        case PasswordOption:
            invocation.newPassword = true;
            break;
        case GrantOption:
            return addRights(invocation.grants, value);
        case RevokeOption:
            return addRights(invocation.revokes, value);
        case WaitOption:
            return setNumber(invocation.waitSeconds, value, option.name, 9999);
        case QuietOption:
            invocation.quiet = true;
            break;
        case FormatOption:
            return setFormat(invocation.format, value);
        case PasswordFdOption:
            return setNumber(invocation.passwordFd, value, option.name, 9999);
        case NewPasswordFdOption:
            return setNumber(invocation.newPasswordFd, value, option.name, 9999);
        case IfMissingOption:
            invocation.ifMissing = true;
            break;
        case IfPresentOption:
            invocation.ifPresent = true;
            break;
        }
        return std::nullopt;
    }

    // What does not go with the command, once every argument is read.
    std::optional<UsageMistake> commandMistake() const
    {
        const Invocation& invocation = m_invocation;
        if (!m_haveCommand)
            return usage("no command given");
        const CommandInfo* command = findCommand(invocation.command);
        if (!command)
            return usage("unknown command '" + invocation.command + "'");
        const std::string name = command->name;
        const std::size_t operandCount = command->operands.size();
        if (invocation.operands.size() != operandCount)
            return usage(
                name + (invocation.operands.size() < operandCount
                            ? " needs " + command->operandText()
                            : " takes " + (operandCount ? command->operandText() : "no operands")),
                name);
        for (const OptionInfo& option : optionTable()) {
            if ((m_given & option.option) && !(command->allowed() & option.option))
                return usage(std::string(option.name) + " does not go with " + name, name);
        }
        if (command->signsIn && !invocation.user)
            return usage(name + " signs in first: give --user NAME", name);
        for (const OptionInfo& option : optionTable()) {
            if ((command->required & option.option) && !(m_given & option.option))
                return usage(name + " needs " + optionText(option), name);
        }
        for (Right right : invocation.grants) {
            if (std::find(invocation.revokes.begin(), invocation.revokes.end(), right) !=
                invocation.revokes.end())
                return usage(std::string("--grant and --revoke both name ") + rightName(right),
                             name);
        }
        if (command->oneOf && !(m_given & command->oneOf))
            return usage(name + ": nothing to change (give " + optionNames(command->oneOf) + ")",
                         name);
        return std::nullopt;
    }

    const std::vector<std::string>& m_arguments;
    std::size_t m_at = 0;
    Invocation m_invocation;
    unsigned m_given = 0;
    std::optional<UsageMistake> m_mistake;
    bool m_positionalOnly = false;
    bool m_haveCommand = false;
};

} // namespace

std::variant<Invocation, UsageMistake> parseArguments(const std::vector<std::string>& arguments)
{
    return ArgumentParser(arguments).parse();
}

std::string usageLine(const std::string& command)
{
    const CommandInfo* info = command.empty() ? nullptr : findCommand(command);
    if (!info)
        return std::string("Usage: ") + ProgramName +
               " [--table FILE] [--user NAME] COMMAND [ARGUMENT]...; '" + ProgramName +
               " --help' lists the commands\n";
    return std::string("Usage: ") + ProgramName + " [OPTION]... " + info->synopsis() + "\n";
}

std::string commandHelpText(const CommandInfo& command)
{
    std::string text = usageLine(command.name);
    std::string summary = command.summary;
    summary[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(summary[0])));
    text += summary + ".\n";
    if (command.signsIn)
        text += "Signs in as --user NAME first; the password is read from the terminal without "
                "echo, from\nthe file descriptor --password-fd N, or as the first line of "
                "standard input.\n";
    if (command.required | command.optional) {
        text += "\nOptions:\n";
        for (const OptionInfo& option : optionTable()) {
            if ((command.required | command.optional) & option.option)
                text += optionHelp(option, false);
        }
    }
    text += std::string("Common options: --table FILE, --wait SECONDS, -q. See '") + ProgramName +
            " --help'.\n";
    return text;
}

std::string helpText()
{
    std::string text = std::string("Usage: ") + ProgramName +
                       " [OPTION]... COMMAND [ARGUMENT]...\n"
                       "Administers the Larkledger Security Manager's user table (Gatekeep.acl)\n"
                       "with the same rights, checks and saves as its windows.\n"
                       "\n";
    std::vector<std::string> withoutSignIn;
    for (const CommandInfo& command : commandTable()) {
        if (!command.signsIn)
            withoutSignIn.push_back(command.name);
    }
    text += "Commands (all but ";
    for (std::size_t i = 0; i < withoutSignIn.size(); ++i)
        text += (i == 0 ? "" : i + 1 == withoutSignIn.size() ? " and " : ", ") + withoutSignIn[i];
    text += " sign in as --user NAME first):\n";
    const auto commandLine = [&](std::string line, const std::string& summary) {
        line = "  " + line;
        line.resize(std::max<std::size_t>(line.size() + 2, 29), ' ');
        text += line + summary + "\n";
    };
    for (const CommandInfo& command : commandTable())
        commandLine(command.needs(), command.summary);
    commandLine(std::string(HelpCommand) + " COMMAND", "what one command takes");
    text += "\nOptions:\n";
    for (const OptionInfo& option : optionTable())
        text += optionHelp(option, true);
    text += optionHelp("-h, --help", "this text") +
            optionHelp("-V, --version", "the program's version") +
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

std::string versionText()
{
    return std::string(ProgramName) + " (Larkledger Security Manager) " + LARK_VERSION + "\n";
}

namespace {

std::string joined(const std::vector<std::string>& words)
{
    std::string text;
    for (const std::string& word : words)
        text += (text.empty() ? "" : " ") + word;
    return text;
}

std::string optionsOfKind(bool (*wanted)(ValueKind))
{
    std::vector<std::string> names;
    for (const OptionInfo& option : optionTable()) {
        if (wanted(option.kind))
            names.push_back(option.name);
    }
    return joined(names);
}

} // namespace

std::string fillCompletion(std::string script)
{
    std::vector<std::string> commands;
    std::vector<std::string> fileCommands;
    for (const CommandInfo& command : commandTable()) {
        commands.push_back(command.name);
        if (!command.operands.empty() && command.operands.front() == Operand::File)
            fileCommands.push_back(command.name);
    }
    commands.push_back(HelpCommand);
    std::vector<std::string> formats;
    for (const auto& format : formatTable())
        formats.push_back(format.first);
    const std::pair<const char*, std::string> words[] = {
        {"@COMMANDS@", joined(commands)},
        {"@FILE_COMMANDS@", joined(fileCommands)},
        {"@OPTIONS@", optionsOfKind([](ValueKind) { return true; }) + " --help --version"},
        {"@RIGHTS@", rightList()},
        {"@FORMATS@", joined(formats)},
        {"@FILE_OPTIONS@", optionsOfKind([](ValueKind k) { return k == ValueKind::File; })},
        {"@FOLDER_OPTIONS@", optionsOfKind([](ValueKind k) { return k == ValueKind::Folder; })},
        {"@RIGHTS_OPTIONS@", optionsOfKind([](ValueKind k) { return k == ValueKind::Rights; })},
        {"@FORMAT_OPTIONS@", optionsOfKind([](ValueKind k) { return k == ValueKind::Format; })},
        {"@VALUE_OPTIONS@", optionsOfKind([](ValueKind k) { return k != ValueKind::None; })},
    };
    for (const auto& [placeholder, list] : words) {
        for (std::size_t at = script.find(placeholder); at != std::string::npos;
             at = script.find(placeholder, at + list.size()))
            script.replace(at, std::strlen(placeholder), list);
    }
    return script;
}
