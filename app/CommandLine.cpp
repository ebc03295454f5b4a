#include "app/CommandLine.h"

#include "session/Session.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ostream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The name people type; argv[0] is the program behind the launcher.
constexpr const char* CommandName = "larkledger-security";
constexpr const char* UsageLine = "Usage: larkledger-security [FOLDER] [QT-OPTION...]";
// Beside the table; the session core looks for them under these names.
const char* const TableName = Session::TableFileName;
constexpr const char* MarkerName = "~first.log";

// Qt's options, as Qt spells them after dropping one '-' of a "--" start.
// Those of the first list take the next argument as their value; "style"
// and "stylesheet" also come as "-style=NAME".
constexpr const char* QtOptionsWithValue[] = {"platform", "platformpluginpath", "platformtheme",
                                              "plugin", "qwindowgeometry", "qwindowicon",
                                              "qwindowtitle", "session", "style", "stylesheet",
                                              // X11 only.
                                              "display", "geometry", "title", "icon"};
constexpr const char* QtFlags[] = {"reverse", "widgetcount"};

void printHelp(std::ostream& out)
{
    out << UsageLine << "\n"
        << "\n"
           "Larkledger Security Manager: keeps the users of the Larkledger accounting\n"
           "data in Gatekeep.acl (login names, passwords, data directories, bank\n"
           "accounts and rights). It works on the table in FOLDER (a shared folder,\n"
           "say), or else on the one in its current directory; the installed command\n"
           "starts it in ${XDG_DATA_HOME:-~/.local/share}/larkledger-security when no\n"
           "FOLDER is named. Where the folder holds no table yet, the start asks for\n"
           "the first login ID.\n"
           "\n"
           "Options:\n"
           "  --folder FOLDER       the same as FOLDER, taken as written, also when it\n"
           "                        starts with '-'\n"
           "  --data-folder FOLDER  where no FOLDER is named: the person's own data\n"
           "                        folder, made private (0700) when missing\n"
           "  --                    what follows is FOLDER, whatever it starts with\n"
           "  -h, --help            print this help and exit\n"
           "  -v, -V, --version     print the version and exit\n"
           "\n"
           "Qt's options: -platform NAME, -platformpluginpath PATH, -platformtheme NAME,\n"
           "-plugin NAME, -style NAME, -stylesheet FILE, -reverse, -widgetcount,\n"
           "-qwindowgeometry GEOMETRY, -qwindowtitle TITLE, -qwindowicon ICON,\n"
           "-session ID, and on X11 -display DISPLAY, -geometry GEOMETRY, -title TITLE,\n"
           "-icon ICON. Any other option is refused.\n"
           "See the manual page larkledger-security(1).\n";
}

void printVersion(std::ostream& out)
{
    out << CommandName << ' ' << LARK_VERSION << "\n"
        << "Copyright (c) 2026 The Larkledger developers\n"
           "MIT licence: this is free software; there is NO WARRANTY.\n";
}

// An argument or a path as it may be shown on a terminal: a control
// character in it would otherwise act on the terminal.
std::string shown(const std::string& text)
{
    std::string shown;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            shown += escaped;
        } else {
            shown += c;
        }
    }
    return shown;
}

int usageError(std::ostream& err, const std::string& what)
{
    err << CommandName << ": " << what << "\n"
        << UsageLine << "\n"
        << "Try '" << CommandName << " --help' for more.\n";
    err.flush();
    return 2;
}

bool is(const std::string& arg, const char* shortName, const char* longName)
{
    return arg == shortName || arg == longName;
}

bool listed(const std::string& name, const char* const* begin, const char* const* end)
{
    for (const char* const* it = begin; it != end; ++it) {
        if (name == *it)
            return true;
    }
    return false;
}

template <std::size_t N> bool listed(const std::string& name, const char* const (&list)[N])
{
    return listed(name, list, list + N);
}

int fail(std::ostream& err, const std::string& what, int status = 1)
{
    err << CommandName << ": " << what << "\n";
    err.flush();
    return status;
}

std::string errorText(int code)
{
    return std::strerror(code);
}

// Whether the working directory holds no table a start could sign in
// against: nothing at all in the table's place, or only the empty file a
// start without a table leaves. A link, even to nothing, is something.
bool noTableHere()
{
    struct stat st
    {
    };
    if (::lstat(TableName, &st) != 0)
        return errno == ENOENT;
    return S_ISREG(st.st_mode) && st.st_size == 0;
}

// Leaves the first-use marker in the working directory. Made new or not at
// all: whatever stands there already is never written, and only a plain
// file (a marker an earlier start left, of whoever) is taken as one.
std::optional<int> leaveMarker(const std::string& folder, std::ostream& err)
{
    const std::string where = shown(folder) + "/" + MarkerName;
    const int fd =
        ::open(MarkerName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
        return std::nullopt;
    }
    if (errno != EEXIST)
        return fail(err, "cannot leave the first-use marker " + where + ": " + errorText(errno));
    struct stat st
    {
    };
    if (::lstat(MarkerName, &st) == 0 && S_ISREG(st.st_mode))
        return std::nullopt;
    return fail(err, where + " is not a plain file (a link, say); nothing was written through it. "
                             "Remove it, then start again.");
}

std::optional<int> enterNamedFolder(const std::string& folder, std::ostream& err)
{
    if (::chdir(folder.c_str()) != 0) {
        const int code = errno;
        if (code == ENOENT || code == ENOTDIR)
            return fail(err, shown(folder) + ": no such folder", 2);
        return fail(err, shown(folder) + ": " + errorText(code));
    }
    if (noTableHere())
        return leaveMarker(folder, err);
    return std::nullopt;
}

// Makes each missing folder above `path`, as mkdir -p would: writable and
// searchable by its owner whatever the umask, so the next one fits in.
void makeParents(const std::string& path)
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        const std::string parent = path.substr(0, slash);
        if (::mkdir(parent.c_str(), 0700) == 0)
            ::chmod(parent.c_str(), (0777 & ~mask) | 0300);
    }
}

std::optional<int> enterDataFolder(const std::string& folder, std::ostream& err)
{
    // The installed command names none without a home folder.
    if (folder.empty())
        return fail(err, "no data folder: neither HOME nor XDG_DATA_HOME is set; name a FOLDER");
    makeParents(folder);
    if (::mkdir(folder.c_str(), 0700) != 0) {
        // One that is there already is no first use, whatever it holds: a
        // table missing later must not offer anyone an all-rights user.
        if (errno != EEXIST)
            return fail(err,
                        "cannot make the data folder " + shown(folder) + ": " + errorText(errno));
        if (::chdir(folder.c_str()) != 0)
            return fail(err, shown(folder) + ": " + errorText(errno));
        return std::nullopt;
    }
    // The folder just made, not whatever may have taken its name since:
    // ours, a folder, no link. Its mode is set whatever the umask.
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st
    {
    };
    const bool ours = fd >= 0 && ::fstat(fd, &st) == 0 && st.st_uid == ::geteuid();
    const bool entered = ours && ::fchmod(fd, 0700) == 0 && ::fchdir(fd) == 0;
    const int code = errno;
    if (fd >= 0)
        ::close(fd);
    if (!entered)
        return fail(err, "cannot make the data folder " + shown(folder) + ": " +
                             (ours ? errorText(code) : "it was replaced meanwhile"));
    return leaveMarker(folder, err);
}

} // namespace

std::optional<int> readCommandLine(int argc, const char* const* argv, std::ostream& out,
                                   std::ostream& err, StartRequest& request)
{
    request = StartRequest{};
    const auto takeFolder = [&](const std::string& folder) -> std::optional<int> {
        if (request.folder)
            return usageError(err, "one folder only: " + shown(*request.folder) + " and " +
                                       shown(folder));
        request.folder = folder;
        return std::nullopt;
    };
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasNext = i + 1 < argc;
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            if (const auto status = takeFolder(arg))
                return status;
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (is(arg, "-h", "--help")) {
            printHelp(out);
            return out.flush() ? 0 : 1;
        }
        if (is(arg, "-v", "--version") || arg == "-V") {
            printVersion(out);
            return out.flush() ? 0 : 1;
        }
        if (arg == "--folder" || arg == "--data-folder") {
            if (!hasNext)
                return usageError(err, arg + " needs a folder");
            const std::string folder = argv[++i];
            if (arg == "--data-folder") {
                request.dataFolder = folder;
            } else if (const auto status = takeFolder(folder)) {
                return status;
            }
            continue;
        }
        if (arg.rfind("--folder=", 0) == 0) {
            if (const auto status = takeFolder(arg.substr(std::strlen("--folder="))))
                return status;
            continue;
        }
        if (arg.rfind("--data-folder=", 0) == 0) {
            request.dataFolder = arg.substr(std::strlen("--data-folder="));
            continue;
        }
        // Qt takes "--name" as "-name".
        const std::string name = arg.substr(arg.rfind("--", 0) == 0 ? 2 : 1);
        if (listed(name, QtFlags) || name.rfind("style=", 0) == 0 ||
            name.rfind("stylesheet=", 0) == 0) {
            request.qtArguments.push_back(arg);
            continue;
        }
        if (listed(name, QtOptionsWithValue)) {
            if (!hasNext)
                return usageError(err, "option " + shown(arg) + " needs a value");
            request.qtArguments.push_back(arg);
            request.qtArguments.push_back(argv[++i]);
            if (name == "platform" || name == "display")
                request.platformChosen = true;
            continue;
        }
        return usageError(err, "unknown option '" + shown(arg) + "'");
    }
    return std::nullopt;
}

bool displayAvailable()
{
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0')
            return true;
    }
    return false;
}

std::optional<int> enterStartFolder(const StartRequest& request, std::ostream& err)
{
    if (request.folder)
        return enterNamedFolder(*request.folder, err);
    if (request.dataFolder)
        return enterDataFolder(*request.dataFolder, err);
    return std::nullopt;
}
