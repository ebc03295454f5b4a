// The launcher (packaging/launcher.sh, which tools/run.sh goes through too):
// the data folder it makes and when it leaves the first-use marker.

#include "StoreCheck.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using storecheck::FileExists;
using storecheck::ReadFile;
using storecheck::WriteFile;

namespace {

const std::string Marker = "~first.log";

std::string Here()
{
    char cwd[4096];
    if (::getcwd(cwd, sizeof cwd) == nullptr)
        throw std::runtime_error("getcwd");
    return cwd;
}

// Runs the launcher with HOME (and XDG_DATA_HOME, when given) in the case's
// folder; the program it starts writes the folder it was started in to
// "started". Returns the launcher's exit status.
int Launch(mode_t mask, const std::string& xdgDataHome = "",
           const std::vector<std::string>& folderArguments = {})
{
    const std::string home = Here() + "/home";
    const std::string started = Here() + "/started";
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0)
        throw std::runtime_error("fork");
    if (child == 0) {
        ::umask(mask);
        ::setenv("HOME", home.c_str(), 1);
        if (xdgDataHome.empty())
            ::unsetenv("XDG_DATA_HOME");
        else
            ::setenv("XDG_DATA_HOME", xdgDataHome.c_str(), 1);
        ::unsetenv("DISPLAY");
        ::unsetenv("WAYLAND_DISPLAY");
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::setenv("LARK_PROGRAM", "/bin/sh", 1);
        std::vector<const char*> argv = {"sh", LARK_LAUNCHER};
        for (const std::string& argument : folderArguments)
            argv.push_back(argument.c_str());
        for (const char* argument : {"-c", "pwd -P >\"$1\"", "sh"})
            argv.push_back(argument);
        argv.push_back(started.c_str());
        argv.push_back(nullptr);
        ::execv("/bin/sh", const_cast<char* const*>(argv.data()));
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string RealPath(const std::string& path)
{
    char* real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr)
        return "(" + path + " not found)";
    std::string text = real;
    std::free(real);
    return text;
}

struct stat StatOf(const std::string& path)
{
    struct stat st
    {
    };
    if (::lstat(path.c_str(), &st) != 0)
        throw std::runtime_error("cannot stat " + path);
    return st;
}

} // namespace

// A first start makes the data folder private whatever the umask, and only
// then leaves the marker.
TEST(FirstStartMakesAPrivateFolderWithTheMarker)
{
    for (mode_t mask : {mode_t{0}, mode_t{022}, mode_t{077}}) {
        for (bool xdg : {false, true}) {
            storecheck::ClearWorkingDir();
            CHECK(::mkdir("home", 0755) == 0);
            const std::string data = xdg ? Here() + "/xdg/larkledger-security"
                                         : Here() + "/home/.local/share/larkledger-security";
            CHECK_EQ(Launch(mask, xdg ? Here() + "/xdg" : ""), 0);
            const struct stat st = StatOf(data);
            CHECK(S_ISDIR(st.st_mode));
            CHECK_EQ(st.st_mode & 07777, mode_t{0700});
            CHECK(FileExists(data + "/" + Marker));
            CHECK(!FileExists(data + "/" + UserTableFileName));
            CHECK_EQ(ReadFile("started"), RealPath(data) + "\n");
        }
    }
}

// A folder that is there already is no first use, whatever is or is not in
// it: a missing table, or a link to nothing in its place, gets no marker.
TEST(ExistingFolderGetsNoMarker)
{
    const std::string data = Here() + "/home/.local/share/larkledger-security";
    const std::string table = data + "/" + UserTableFileName;
    const std::pair<const char*, std::function<void()>> cases[] = {
        {"no table", [] {}},
        {"dangling link", [&] { CHECK(::symlink("elsewhere/table.acl", table.c_str()) == 0); }},
        {"table there", [&] { WriteFile(table, ""); }},
    };
    for (const auto& [name, prepare] : cases) {
        std::printf("  %s\n", name);
        storecheck::ClearWorkingDir();
        CHECK(::mkdir("home", 0755) == 0);
        CHECK_EQ(Launch(022), 0);
        CHECK(::unlink((data + "/" + Marker).c_str()) == 0); // the first start used it
        const struct stat st = StatOf(data);
        prepare();
        CHECK_EQ(Launch(022), 0);
        CHECK(!FileExists(data + "/" + Marker));
        CHECK_EQ(StatOf(data).st_mode, st.st_mode);
        CHECK(!FileExists(data + "/elsewhere"));
        CHECK_EQ(ReadFile("started"), RealPath(data) + "\n");
    }
}

// A folder named on the command line: the program starts there, and where
// no table is (or only the empty file a start without one leaves), the
// start offers the first login ID.
TEST(AFolderNamedIsStartedIn)
{
    struct Row
    {
        const char* name;
        const char* table; // nullptr: none
        bool marker;
    };
    const Row rows[] = {
        {"no table", nullptr, true},
        {"an empty file", "", true},
        {"a table", "not empty", false},
    };
    for (const Row& row : rows) {
        for (const bool option : {false, true}) {
            std::printf("  %s%s\n", row.name, option ? ", --folder" : "");
            storecheck::ClearWorkingDir();
            CHECK(::mkdir("home", 0755) == 0);
            CHECK(::mkdir("shared", 0755) == 0);
            if (row.table)
                WriteFile(std::string("shared/") + UserTableFileName, row.table);
            const std::string shared = Here() + "/shared";
            CHECK_EQ(Launch(022, "",
                            option ? std::vector<std::string>{"--folder", shared}
                                   : std::vector<std::string>{shared}),
                     0);
            CHECK_EQ(ReadFile("started"), RealPath(shared) + "\n");
            CHECK_EQ(FileExists("shared/" + Marker), row.marker);
            // The user's own data folder is left alone.
            CHECK(!FileExists("home/.local"));
        }
    }
    storecheck::ClearWorkingDir();
    CHECK(::mkdir("home", 0755) == 0);
    CHECK_EQ(Launch(022, "", {Here() + "/nowhere"}), 2);
}
