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

using storecheck::ReadFile;
using storecheck::WriteFile;

namespace {

std::string Quoted(const std::string& word)
{
    std::string quoted = "'";
    for (char c : word)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// What the completion offers for the command line `words` (the last one is
// the word being completed), as bash-completion calls it; sorted.
std::vector<std::string> Completed(const std::vector<std::string>& words)
{
    std::string command = "bash -c '. \"$1\" && shift && COMP_WORDS=(\"$@\") && "
                          "COMP_CWORD=$(($# - 1)) && _larkledger_security_cli && "
                          "printf \"%s\\n\" \"${COMPREPLY[@]}\"' sh " +
                          Quoted(LARK_CLI_COMPLETION) + " larkledger-security-cli";
    for (const std::string& word : words)
        command += " " + Quoted(word);
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

std::vector<std::string> Sorted(std::vector<std::string> words)
{
    std::sort(words.begin(), words.end());
    return words;
}

std::vector<std::string> CommandNames()
{
    std::vector<std::string> names;
    for (const CommandInfo& command : CommandTable())
        names.push_back(command.name);
    names.push_back(HelpCommand);
    return Sorted(names);
}

std::string OptionText(const OptionInfo& option)
{
    return std::string(option.name) + (option.value ? std::string(" ") + option.value : "");
}

// The words of one roff request line ("a b" quoted as one), its quotes gone.
std::vector<std::string> RequestArguments(const std::string& line)
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
std::string Plain(const std::string& line)
{
    std::string text;
    if (line.rfind(".", 0) == 0) {
        const std::size_t space = line.find(' ');
        const std::string request = line.substr(1, space - 1);
        const std::vector<std::string> arguments =
            RequestArguments(space == std::string::npos ? "" : line.substr(space + 1));
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
std::vector<std::string> ManualHeads(const std::string& section)
{
    const std::string page = ReadFile(LARK_CLI_MANUAL);
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; (end = page.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(page.substr(at, end - at));
    std::vector<std::string> heads;
    bool inSection = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].rfind(".SH ", 0) == 0)
            inSection = lines[i] == ".SH " + section;
        else if (inSection && lines[i] == ".TP" && i + 1 < lines.size())
            heads.push_back(Plain(lines[i + 1]));
    }
    return heads;
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

} // namespace

TEST(HelpListsEveryCommandAndOptionOfTheTable)
{
    const std::string help = HelpText();
    for (const CommandInfo& command : CommandTable()) {
        // What it cannot do without, then its line.
        const std::string line = "\n  " + command.needs() + "  ";
        const std::size_t at = help.find(line);
        if (at == std::string::npos ||
            help.substr(at + 1, help.find('\n', at + 1) - at - 1).find(command.summary) ==
                std::string::npos)
            storecheck::Fail(__FILE__, __LINE__, "--help lacks the line of " + line);
        const std::string usage = UsageLine(command.name);
        CHECK_EQ(usage, "Usage: larkledger-security-cli [OPTION]... " + command.synopsis() + "\n");
        CHECK_EQ(CommandHelpText(command).rfind(usage, 0), std::size_t(0));
    }
    for (const OptionInfo& option : OptionTable()) {
        if (!Contains(help, "\n  " + std::string(option.shortName ? option.shortName : "") +
                                (option.shortName ? ", " : "") + OptionText(option)))
            storecheck::Fail(__FILE__, __LINE__, "--help lacks " + OptionText(option));
    }
}

TEST(AUsageLineShowsWhatTheCommandNeeds)
{
    // A required option stands bare, an optional one in brackets, one that
    // may be repeated with an ellipsis.
    CHECK_EQ(FindCommand("add")->synopsis(),
             std::string("add NAME --path PATH [--new-password-fd N] [--grant RIGHTS]... "
                         "[--if-missing]"));
    CHECK_EQ(FindCommand("account-rm")->synopsis(), std::string("account-rm NAME ACCOUNT"));
}

TEST(TheCompletionOffersTheTablesCommandsAndOptions)
{
    CHECK_EQ(Completed({""}), CommandNames());
    CHECK_EQ(Completed({"help", ""}), CommandNames());
    std::vector<std::string> options = {"--help", "--version"};
    for (const OptionInfo& option : OptionTable())
        options.push_back(option.name);
    CHECK_EQ(Completed({"--"}), Sorted(options));
    CHECK_EQ(Completed({"--user", "admin", "ls", "--"}), Sorted(options));
    CHECK_EQ(Completed({"acc"}),
             std::vector<std::string>({"account-add", "account-edit", "account-rm"}));
}

TEST(TheCompletionKnowsEachOptionsValue)
{
    WriteFile("table.acl", "");
    for (const OptionInfo& option : OptionTable()) {
        if (option.kind == ValueKind::None) {
            CHECK_EQ(Completed({option.name, ""}), CommandNames());
            continue;
        }
        // The value is skipped: the command comes after it.
        CHECK_EQ(Completed({option.name, "x", ""}), CommandNames());
        CHECK_EQ(Completed({option.name, "=", "x", ""}), CommandNames());
        const std::vector<std::string> offered = Completed({option.name, ""});
        switch (option.kind) {
        case ValueKind::File:
            CHECK_EQ(Completed({option.name, "tab"}), std::vector<std::string>({"table.acl"}));
            break;
        case ValueKind::Folder:
            CHECK_EQ(offered, std::vector<std::string>());
            CHECK_EQ(Completed({option.name, "/us"}), std::vector<std::string>({"/usr"}));
            break;
        case ValueKind::Rights:
            CHECK_EQ(Completed({option.name, "AddRecord,Mod"}),
                     std::vector<std::string>({"AddRecord,ModifyRecord", "AddRecord,ModifyUsers"}));
            break;
        case ValueKind::Format: {
            std::vector<std::string> formats;
            for (const auto& format : FormatTable())
                formats.push_back(format.first);
            CHECK_EQ(offered, Sorted(formats));
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
    WriteFile("copy.acl", "");
    for (const CommandInfo& command : CommandTable()) {
        const bool file = !command.operands.empty() && command.operands.front() == Operand::File;
        CHECK_EQ(Completed({command.name, "cop"}),
                 file ? std::vector<std::string>({"copy.acl"}) : std::vector<std::string>());
    }
}

TEST(TheManualPageDescribesTheTablesCommandsAsTheyAre)
{
    std::set<std::string> described;
    for (const std::string& head : ManualHeads("COMMANDS")) {
        const std::string name = head.substr(0, head.find(' '));
        described.insert(name);
        const CommandInfo* command = FindCommand(name);
        if (name == HelpCommand)
            CHECK_EQ(head, std::string(HelpCommand) + " COMMAND");
        else if (!command)
            storecheck::Fail(__FILE__, __LINE__,
                             "the manual page has a command " + name + " the program lacks");
        else
            CHECK_EQ(head, command->synopsis());
    }
    for (const std::string& name : CommandNames()) {
        if (!described.count(name))
            storecheck::Fail(__FILE__, __LINE__, "the manual page lacks the command " + name);
    }
}

TEST(TheManualPageDescribesTheTablesOptions)
{
    std::set<std::string> described;
    for (const std::string& head : ManualHeads("OPTIONS")) {
        // "--grant RIGHTS, --revoke RIGHTS", "-q, --quiet"
        for (std::size_t at = 0, end = 0; end != std::string::npos; at = end + 2) {
            end = head.find(", ", at);
            described.insert(head.substr(at, end == std::string::npos ? end : end - at));
        }
    }
    std::set<std::string> options = {"-h", "--help", "-V", "-v", "--version"};
    for (const OptionInfo& option : OptionTable()) {
        options.insert(OptionText(option));
        if (option.shortName)
            options.insert(option.shortName);
    }
    for (const std::string& option : options) {
        if (!described.count(option))
            storecheck::Fail(__FILE__, __LINE__, "the manual page lacks the option " + option);
    }
    for (const std::string& option : described) {
        if (!options.count(option))
            storecheck::Fail(__FILE__, __LINE__,
                             "the manual page has an option " + option + " the program lacks");
    }
}
