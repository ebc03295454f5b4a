// The launcher (packaging/launcher.sh, which tools/run.sh goes through too):
// it names the person's data folder to the program and passes the command
// line on as written, without changing directory. What the program then
// makes of the folders is tested with the program itself (tests/app).

#include "StoreCheck.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using storecheck::readFile;
using storecheck::writeFile;

namespace {

std::string here()
{
    char cwd[4096];
    if (::getcwd(cwd, sizeof cwd) == nullptr)
        throw std::runtime_error("getcwd");
    return cwd;
}

struct Environment
{
    const char* xdgDataHome = nullptr; // nullptr: unset
    const char* cdpath = nullptr;
    bool home = true;
};

// Runs the launcher with HOME in the case's folder, on a stand-in program
// that writes the folder it was started in to "started" and its arguments,
// one a line, to "arguments". Returns the launcher's exit status.
int launch(const Environment& environment, const std::vector<std::string>& arguments)
{
    const std::string here = ::here();
    const std::string program = here + "/program";
    writeFile(program, "#!/bin/sh\npwd -P >\"" + here + "/started\"\nprintf '%s\\n' \"$@\" >\"" +
                           here + "/arguments\"\n");
    if (::chmod(program.c_str(), 0755) != 0)
        throw std::runtime_error("chmod");
    const std::string home = here + "/home";
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0)
        throw std::runtime_error("fork");
    if (child == 0) {
        if (environment.home)
            ::setenv("HOME", home.c_str(), 1);
        else
            ::unsetenv("HOME");
        if (environment.xdgDataHome)
            ::setenv("XDG_DATA_HOME", environment.xdgDataHome, 1);
        else
            ::unsetenv("XDG_DATA_HOME");
        if (environment.cdpath) {
            ::setenv("CDPATH", environment.cdpath, 1);
            ::setenv("OLDPWD", environment.cdpath, 1);
        }
        ::setenv("LARK_PROGRAM", program.c_str(), 1);
        std::vector<const char*> argv = {"sh", LARK_LAUNCHER};
        for (const std::string& argument : arguments)
            argv.push_back(argument.c_str());
        argv.push_back(nullptr);
        ::execv("/bin/sh", const_cast<char* const*>(argv.data()));
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string lines(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

} // namespace

// Without a folder named, the program is told the data folder: under
// XDG_DATA_HOME when that is an absolute path, else under HOME. The launcher
// itself makes nothing: the program makes the folder without following a
// link.
TEST(TheDataFolderIsNamedToTheProgram)
{
    struct Row
    {
        const char* name;
        const char* xdg;
        const char* expected; // under the case's folder; nullptr: none
        bool home = true;
    };
    const Row rows[] = {
        {"XDG_DATA_HOME unset", nullptr, "/home/.local/share/larkledger-security"},
        {"XDG_DATA_HOME empty", "", "/home/.local/share/larkledger-security"},
        {"XDG_DATA_HOME relative, so ignored", "xdg", "/home/.local/share/larkledger-security"},
        {"XDG_DATA_HOME absolute", "@/xdg", "/xdg/larkledger-security"},
        {"XDG_DATA_HOME absolute, HOME unset", "@/xdg", "/xdg/larkledger-security", false},
        // The program says so, unless a folder is named.
        {"neither", nullptr, nullptr, false},
    };
    for (const Row& row : rows) {
        std::printf("  %s\n", row.name);
        storecheck::clearWorkingDir();
        CHECK(::mkdir("home", 0755) == 0);
        const std::string xdg = row.xdg && row.xdg[0] == '@' ? here() + (row.xdg + 1)
                                : row.xdg                    ? row.xdg
                                                             : "";
        CHECK_EQ(launch({row.xdg ? xdg.c_str() : nullptr, nullptr, row.home}, {}), 0);
        CHECK_EQ(readFile("arguments"),
                 lines({"--data-folder", row.expected ? here() + row.expected : ""}));
        CHECK_EQ(readFile("started"), here() + "\n");
        CHECK(storecheck::listEveryFile() ==
              (std::vector<std::string>{"arguments", "home", "program", "started"}));
        CHECK(!storecheck::fileExists("home/.local"));
    }
}

// The command line reaches the program as written, after the data folder:
// the launcher neither changes directory (CDPATH and OLDPWD are set to a
// folder of their own here) nor takes a folder named '-' or '-P', or a
// misspelt option, as its own.
TEST(TheCommandLineIsPassedOnAsWritten)
{
    const std::vector<std::vector<std::string>> rows = {
        {"shared"},
        {"-"},
        {"--folder", "-P"},
        {"--", "-P"},
        {"--foldr", "X"},
        {"--help"},
        {"--folder", "--help"},
        {"-style", "Fusion", "shared"},
        {"a b", "--", "c\nd"},
    };
    for (const std::vector<std::string>& arguments : rows) {
        std::printf("  %s\n", lines(arguments).c_str());
        storecheck::clearWorkingDir();
        for (const char* folder : {"home", "elsewhere", "elsewhere/shared", "shared"})
            CHECK(::mkdir(folder, 0755) == 0);
        const std::string elsewhere = here() + "/elsewhere";
        CHECK_EQ(launch({nullptr, elsewhere.c_str()}, arguments), 0);
        std::vector<std::string> expected = {"--data-folder",
                                             here() + "/home/.local/share/larkledger-security"};
        expected.insert(expected.end(), arguments.begin(), arguments.end());
        CHECK_EQ(readFile("arguments"), lines(expected));
        CHECK_EQ(readFile("started"), here() + "\n");
    }
}
