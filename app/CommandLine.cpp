#include "app/CommandLine.h"

#include <cstring>
#include <ostream>

namespace {

// The name people type; argv[0] is the program behind the launcher.
constexpr const char* CommandName = "larkledger-security";

void PrintHelp(std::ostream& out)
{
    out << "Usage: " << CommandName << " [FOLDER] [QT-OPTION...]\n"
        << "\n"
           "Larkledger Security Manager: keeps the users of the Larkledger accounting\n"
           "data in Gatekeep.acl (login names, passwords, data directories, bank\n"
           "accounts and rights). The installed command starts it on the table in\n"
           "FOLDER (a shared folder, say), or else in\n"
           "${XDG_DATA_HOME:-~/.local/share}/larkledger-security. Where the folder holds\n"
           "no table yet, the start asks for the first login ID.\n"
           "\n"
           "Options:\n"
           "  --folder FOLDER  the same as FOLDER first\n"
           "  -h, --help     print this help and exit\n"
           "  -v, -V, --version  print the version and exit\n"
           "\n"
           "Other options go to Qt (-platform NAME, -style NAME, -reverse, ...).\n"
           "See the manual page larkledger-security(1).\n";
}

void PrintVersion(std::ostream& out)
{
    out << CommandName << ' ' << LARK_VERSION << "\n"
        << "Copyright (c) 2026 The Larkledger developers\n"
           "MIT licence: this is free software; there is NO WARRANTY.\n";
}

bool Is(const char* arg, const char* shortName, const char* longName)
{
    return std::strcmp(arg, shortName) == 0 || std::strcmp(arg, longName) == 0;
}

} // namespace

std::optional<int> AnswerInfoOptions(int argc, const char* const* argv, std::ostream& out)
{
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--") == 0)
            break;
        if (Is(arg, "-h", "--help")) {
            PrintHelp(out);
            return out.flush() ? 0 : 1;
        }
        if (Is(arg, "-v", "--version") || std::strcmp(arg, "-V") == 0) {
            PrintVersion(out);
            return out.flush() ? 0 : 1;
        }
    }
    return std::nullopt;
}
