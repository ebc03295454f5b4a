// The command line is defined once, in its command table: --help and every
// usage line are made from it, the bash completion's word lists are written
// from it at build time, and the manual page is written by hand. These cases
// hold all three against the table, so a command or option added to the
// table and missing from any of them (or the other way round) fails here.

#include "../store/StoreCheck.h"

#include "cli/Arguments.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <sys/wait.h>
#include <vector>

using storecheck::readFile;
using storecheck::writeFile;

namespace {

std::string quoted(const std::string& word)
{
    std::string quoted = "'";
    for (char c : word)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// What the completion offers for the command line `words` (the last one is
// the word being completed), as bash-completion calls it; sorted.
std::vector<std::string> completed(const std::vector<std::string>& words)
{
    std::string command = "bash -c '. \"$1\" && shift && COMP_WORDS=(\"$@\") && "
                          "COMP_CWORD=$(($# - 1)) && _larkledger_security_cli && "
                          "printf \"%s\\n\" \"${COMPREPLY[@]}\"' sh " +
                          quoted(LARK_CLI_COMPLETION) + " larkledger-security-cli";
    for (const std::string& word : words)
        command += " " + quoted(word);
    FILE* pipe = ::popen(command.c_str(), "r");
    CHECK(pipe != nullptr);
    std::string out;
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, got);
    const int status = ::pclose(pipe);
    CHECK(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::vector<std::string> offered;
    for (std::size_t at = 0, end; (end = out.find('\n', at)) != std::string::npos; at = end + 1) {
        if (end > at)
            offered.push_back(out.substr(at, end - at));
    }
    std::sort(offered.begin(), offered.end());
    return offered;
}

std::vector<std::string> sorted(std::vector<std::string> words)
{
    std::sort(words.begin(), words.end());
    return words;
}

std::vector<std::string> commandNames()
{
    std::vector<std::string> names;
    for (const CommandInfo& command : commandTable())
        names.push_back(command.name);
    names.push_back(HelpCommand);
    return sorted(names);
}

std::string optionText(const OptionInfo& option)
{
    return std::string(option.name) + (option.value ? std::string(" ") + option.value : "");
}

// The words of one roff request line ("a b" quoted as one), its quotes gone.
std::vector<std::string> requestArguments(const std::string& line)
{
    std::vector<std::string> arguments;
    std::string word;
    bool quoted = false;
    bool inWord = false;
    for (char c : line) {
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (c == ' ' && !quoted) {
            if (inWord)
                arguments.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        arguments.push_back(word);
    return arguments;
}

// A man page's line as it reads: font requests and escapes gone.
std::string plain(const std::string& line)
{
    std::string text;
    if (line.rfind(".", 0) == 0) {
        const std::size_t space = line.find(' ');
        const std::string request = line.substr(1, space - 1);
        const std::vector<std::string> arguments =
            requestArguments(space == std::string::npos ? "" : line.substr(space + 1));
        // .B and .I set their words apart; .BI, .BR, .IR and the like join
        // theirs in alternating fonts.
        const bool apart = request.size() == 1;
        for (const std::string& argument : arguments)
            text += (apart && !text.empty() ? " " : "") + argument;
    } else {
        text = line;
    }
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            plain += text[i];
            continue;
        }
        const char next = text[++i];
        if (next == 'f')
            ++i; // \fB, \fI, \fR
        else if (next == '(' && text.compare(i + 1, 2, "dq") == 0)
            plain += '"', i += 2;
        else if (next != '&')
            plain += next; // \- and "\ "
    }
    return plain;
}

// The heads of the tagged paragraphs (.TP) in section `section` of the
// manual page, as they read.
std::vector<std::string> manualHeads(const std::string& section)
{
    const std::string page = readFile(LARK_CLI_MANUAL);
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; (end = page.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(page.substr(at, end - at));
    std::vector<std::string> heads;
    bool inSection = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].rfind(".SH ", 0) == 0)
            inSection = lines[i] == ".SH " + section;
        else if (inSection && lines[i] == ".TP" && i + 1 < lines.size())
            heads.push_back(plain(lines[i + 1]));
    }
    return heads;
}

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

} // namespace

TEST(HelpListsEveryCommandAndOptionOfTheTable)
{
    const std::string help = helpText();
    for (const CommandInfo& command : commandTable()) {
        // What it cannot do without, then its line.
        const std::string line = "\n  " + command.needs() + "  ";
        const std::size_t at = help.find(line);
        if (at == std::string::npos ||
            help.substr(at + 1, help.find('\n', at + 1) - at - 1).find(command.summary) ==
                std::string::npos)
            storecheck::fail(__FILE__, __LINE__, "--help lacks the line of " + line);
        const std::string usage = usageLine(command.name);
        CHECK_EQ(usage, "Usage: larkledger-security-cli [OPTION]... " + command.synopsis() + "\n");
        CHECK_EQ(commandHelpText(command).rfind(usage, 0), std::size_t(0));
    }
    for (const OptionInfo& option : optionTable()) {
        if (!contains(help, "\n  " + std::string(option.shortName ? option.shortName : "") +
                                (option.shortName ? ", " : "") + optionText(option)))
            storecheck::fail(__FILE__, __LINE__, "--help lacks " + optionText(option));
    }
}

TEST(AUsageLineShowsWhatTheCommandNeeds)
{
    // A required option stands bare, an optional one in brackets, one that
    // may be repeated with an ellipsis.
    CHECK_EQ(findCommand("add")->synopsis(),
             std::string("add NAME --path PATH [--new-password-fd N] [--grant RIGHTS]... "
                         "[--if-missing]"));
    CHECK_EQ(findCommand("account-rm")->synopsis(), std::string("account-rm NAME ACCOUNT"));
}

TEST(TheCompletionOffersTheTablesCommandsAndOptions)
{
    CHECK_EQ(completed({""}), commandNames());
    CHECK_EQ(completed({"help", ""}), commandNames());
    std::vector<std::string> options = {"--help", "--version"};
    for (const OptionInfo& option : optionTable())
        options.push_back(option.name);
    CHECK_EQ(completed({"--"}), sorted(options));
    CHECK_EQ(completed({"--user", "admin", "ls", "--"}), sorted(options));
    CHECK_EQ(completed({"acc"}),
             std::vector<std::string>({"account-add", "account-edit", "account-rm"}));
}

TEST(TheCompletionKnowsEachOptionsValue)
{
    writeFile("table.acl", "");
    for (const OptionInfo& option : optionTable()) {
        if (option.kind == ValueKind::None) {
            CHECK_EQ(completed({option.name, ""}), commandNames());
            continue;
        }
        // The value is skipped: the command comes after it.
        CHECK_EQ(completed({option.name, "x", ""}), commandNames());
        CHECK_EQ(completed({option.name, "=", "x", ""}), commandNames());
        const std::vector<std::string> offered = completed({option.name, ""});
        switch (option.kind) {
        case ValueKind::File:
            CHECK_EQ(completed({option.name, "tab"}), std::vector<std::string>({"table.acl"}));
            break;
        case ValueKind::Folder:
            CHECK_EQ(offered, std::vector<std::string>());
            CHECK_EQ(completed({option.name, "/us"}), std::vector<std::string>({"/usr"}));
            break;
        case ValueKind::Rights:
            CHECK_EQ(completed({option.name, "AddRecord,Mod"}),
                     std::vector<std::string>({"AddRecord,ModifyRecord", "AddRecord,ModifyUsers"}));
            break;
        case ValueKind::Format: {
            std::vector<std::string> formats;
            for (const auto& format : formatTable())
                formats.push_back(format.first);
            CHECK_EQ(offered, sorted(formats));
            break;
        }
        case ValueKind::Text:
            CHECK_EQ(offered, std::vector<std::string>());
            break;
        case ValueKind::None:
            break;
        }
    }
}

TEST(TheCompletionOffersFilesWhereACommandTakesAFile)
{
    writeFile("copy.acl", "");
    for (const CommandInfo& command : commandTable()) {
        const bool file = !command.operands.empty() && command.operands.front() == Operand::File;
        CHECK_EQ(completed({command.name, "cop"}),
                 file ? std::vector<std::string>({"copy.acl"}) : std::vector<std::string>());
    }
}

TEST(TheManualPageDescribesTheTablesCommandsAsTheyAre)
{
    std::set<std::string> described;
    for (const std::string& head : manualHeads("COMMANDS")) {
        const std::string name = head.substr(0, head.find(' '));
        described.insert(name);
        const CommandInfo* command = findCommand(name);
        if (name == HelpCommand)
            CHECK_EQ(head, std::string(HelpCommand) + " COMMAND");
        else if (!command)
            storecheck::fail(__FILE__, __LINE__,
                             "the manual page has a command " + name + " the program lacks");
        else
            CHECK_EQ(head, command->synopsis());
    }
    for (const std::string& name : commandNames()) {
        if (!described.count(name))
            storecheck::fail(__FILE__, __LINE__, "the manual page lacks the command " + name);
    }
}

TEST(TheManualPageDescribesTheTablesOptions)
{
    std::set<std::string> described;
    for (const std::string& head : manualHeads("OPTIONS")) {
        // "--grant RIGHTS, --revoke RIGHTS", "-q, --quiet"
        for (std::size_t at = 0, end = 0; end != std::string::npos; at = end + 2) {
            end = head.find(", ", at);
            described.insert(head.substr(at, end == std::string::npos ? end : end - at));
        }
    }
    std::set<std::string> options = {"-h", "--help", "-V", "-v", "--version"};
    for (const OptionInfo& option : optionTable()) {
        options.insert(optionText(option));
        if (option.shortName)
            options.insert(option.shortName);
    }
    for (const std::string& option : options) {
        if (!described.count(option))
            storecheck::fail(__FILE__, __LINE__, "the manual page lacks the option " + option);
    }
    for (const std::string& option : described) {
        if (!options.count(option))
            storecheck::fail(__FILE__, __LINE__,
                             "the manual page has an option " + option + " the program lacks");
    }
}
