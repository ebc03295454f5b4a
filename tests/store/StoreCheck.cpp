#include "StoreCheck.h"

#include "store/IoError.h"
#include "store/Scramble.h"
#include "store/TableFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>

#include <dirent.h>
#include <ftw.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace storecheck {

namespace {

struct Failure
{
};

int failuresInCase = 0;

int removeEntry(const char* path, const struct stat*, int, struct FTW*)
{
    ::chmod(path, 0700);
    return ::remove(path);
}

// Makes the tree deletable first: a case may leave a read-only folder behind.
int openUp(const char* path, const struct stat* st, int type, struct FTW*)
{
    if (type == FTW_D || type == FTW_DNR)
        ::chmod(path, 0700);
    (void)st;
    return 0;
}

void removeTree(const std::string& dir)
{
    ::nftw(dir.c_str(), openUp, 16, FTW_PHYS);
    ::nftw(dir.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

// Runs `body`, counting an exception that no check threw as a failure.
void runCounted(const std::function<void()>& body)
{
    try {
        body();
    } catch (const Failure&) {
    } catch (const std::exception& e) {
        std::fprintf(stderr, "  FAIL: unexpected exception: %s\n", e.what());
        ++failuresInCase;
    }
}

std::vector<ProgramCopy*>& programs()
{
    static std::vector<ProgramCopy*> programs;
    return programs;
}

std::map<std::string, std::string>& testDataFiles()
{
    static std::map<std::string, std::string> files;
    return files;
}

// A missing folder fails only the cases that ask for one of its files.
void readTestData()
{
    DIR* dir = ::opendir(LARK_STORE_TEST_DATA);
    if (dir == nullptr)
        return;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string path = std::string(LARK_STORE_TEST_DATA) + "/" + entry->d_name;
        struct stat st
        {
        };
        if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            testDataFiles()[entry->d_name] = readFile(path);
    }
    ::closedir(dir);
}

// Removes the folder of the copies when the run ends, however it ends; a
// child never gets here, as it leaves by _exit.
struct CopiesFolder
{
    std::string path;
    ~CopiesFolder()
    {
        if (!path.empty())
            removeTree(path);
    }
};

} // namespace

ProgramCopy::ProgramCopy(std::string original) : m_original(std::move(original))
{
    programs().push_back(this);
}

// Others may enter the folder and run the copies, not list it.
void copyPrograms(const std::string& folder)
{
    if (::chmod(folder.c_str(), 0711) != 0)
        throw std::runtime_error("cannot open up " + folder);
    for (ProgramCopy* program : programs()) {
        const std::size_t slash = program->m_original.rfind('/');
        const std::string copy = folder + "/" + program->m_original.substr(slash + 1);
        writeFile(copy, readFile(program->m_original));
        if (::chmod(copy.c_str(), 0755) != 0)
            throw std::runtime_error("cannot make " + copy + " runnable");
        program->m_path = copy;
    }
}

std::vector<Case>& registry()
{
    static std::vector<Case> cases;
    return cases;
}

std::string show(const std::string& value)
{
    constexpr std::size_t shown = 48;
    std::string out = "\"";
    static const char* hex = "0123456789abcdef";
    for (unsigned char c : value.substr(0, shown)) {
        if (c >= 32 && c < 127 && c != '\\' && c != '"') {
            out += static_cast<char>(c);
        } else {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    out += "\"";
    if (value.size() > shown)
        out += "... (" + std::to_string(value.size()) + " bytes)";
    return out;
}

std::string mismatch(const std::string& actual, const std::string& expected)
{
    std::size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at])
        ++at;
    std::string out = "got " + show(actual) + ", expected " + show(expected);
    if (actual.size() > 48 || expected.size() > 48)
        out += "; first difference at byte " + std::to_string(at) + ": got " +
               show(actual.substr(at, 16)) + ", expected " + show(expected.substr(at, 16));
    return out;
}

std::string show(const std::vector<std::string>& values)
{
    std::string out = "{";
    for (const std::string& value : values)
        out += (out.size() > 1 ? ", " : "") + show(value);
    return out + "}";
}

void runAsOrdinaryUser(const std::function<void()>& body)
{
    if (::geteuid() != 0) {
        body();
        return;
    }
    constexpr uid_t Nobody = 65534;
    for (const std::string& name : listEveryFile()) {
        if (::chown(name.c_str(), Nobody, Nobody) != 0)
            fail(__FILE__, __LINE__, "chown " + name);
    }
    if (::chown(".", Nobody, Nobody) != 0)
        fail(__FILE__, __LINE__, "chown of the working directory");
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0)
        fail(__FILE__, __LINE__, "fork");
    if (child == 0) {
        int status = 0;
        if (::setgroups(0, nullptr) != 0 || ::setgid(Nobody) != 0 || ::setuid(Nobody) != 0) {
            std::perror("dropping to nobody");
            status = 3;
        } else {
            runCounted(body);
            status = failuresInCase == 0 ? 0 : 1;
        }
        std::fflush(nullptr);
        ::_exit(status);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        fail(__FILE__, __LINE__, "the part run as nobody failed");
}

void fail(const char* file, int line, const std::string& message)
{
    std::fprintf(stderr, "  FAIL %s:%d: %s\n", file, line, message.c_str());
    ++failuresInCase;
    throw Failure{};
}

int runAll(int argc, char** argv)
{
    char* home = ::getcwd(nullptr, 0);
    if (home == nullptr) {
        std::perror("getcwd");
        return 2;
    }
    const std::string start(home);
    std::free(home);
    const char* tmp = std::getenv("TMPDIR");
    const std::string base = (tmp != nullptr && *tmp != '\0') ? tmp : "/tmp";

    CopiesFolder copies;
    try {
        readTestData();
        if (!programs().empty()) {
            std::string folder = base + "/larkprograms-XXXXXX";
            if (::mkdtemp(folder.data()) == nullptr)
                throw std::runtime_error("cannot make " + folder);
            copies.path = folder;
            copyPrograms(folder);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "before the first case: %s\n", e.what());
        return 2;
    }

    int failed = 0;
    int run = 0;
    for (const Case& c : registry()) {
        if (argc > 1 && std::find_if(argv + 1, argv + argc, [&](const char* want) {
                            return std::strcmp(want, c.name) == 0;
                        }) == argv + argc)
            continue;
        ++run;
        std::string dir = base + "/larkstore-XXXXXX";
        if (::mkdtemp(dir.data()) == nullptr || ::chdir(dir.c_str()) != 0) {
            std::perror("temporary working directory");
            return 2;
        }
        resetUserTable();
        failuresInCase = 0;
        runCounted(c.body);
        if (::chdir(start.c_str()) != 0) {
            std::perror("chdir back");
            return 2;
        }
        removeTree(dir);
        std::printf("%s %s\n", failuresInCase == 0 ? "PASS" : "FAIL", c.name);
        if (failuresInCase != 0)
            ++failed;
    }
    std::printf("%d of %d cases failed\n", failed, run);
    if (run == 0) {
        std::fprintf(stderr, "no case matched\n");
        return 2;
    }
    return failed == 0 ? 0 : 1;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string readFileStart(const std::string& path, std::size_t size)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::string bytes(size, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(size));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}

void writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

bool fileExists(const std::string& path)
{
    struct stat st
    {
    };
    return ::lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> listWorkingDir()
{
    std::vector<std::string> names;
    for (std::string& name : listEveryFile()) {
        if (name != WriterLockFile)
            names.push_back(std::move(name));
    }
    return names;
}

std::vector<std::string> listEveryFile()
{
    std::vector<std::string> names;
    DIR* dir = ::opendir(".");
    if (dir == nullptr)
        throw std::runtime_error("cannot list the working directory");
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

void clearWorkingDir()
{
    for (const std::string& name : listEveryFile())
        removeTree(name);
}

std::string testData(const std::string& name)
{
    const auto file = testDataFiles().find(name);
    if (file == testDataFiles().end())
        throw std::runtime_error("cannot read " + std::string(LARK_STORE_TEST_DATA) + "/" + name);
    return file->second;
}

ChildOutcome runInChild(uid_t uid, gid_t gid, const std::function<std::string()>& body)
{
    ChildOutcome outcome;
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        throw std::runtime_error("pipe");
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0)
        throw std::runtime_error("fork");
    if (child == 0) {
        ::close(pipeFds[0]);
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0))
            ::_exit(120);
        std::string report;
        try {
            report = body();
        } catch (const std::exception& e) {
            report = std::string("exception: ") + e.what();
            (void)!::write(pipeFds[1], report.data(), report.size());
            ::_exit(121);
        }
        (void)!::write(pipeFds[1], report.data(), report.size());
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    char buffer[512];
    for (;;) {
        const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        outcome.report.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipeFds[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return outcome;
}

ChildOutcome runInChild(const std::function<std::string()>& body)
{
    return runInChild(ordinaryUid(), ordinaryGid(), body);
}

uid_t ordinaryUid()
{
    return ::geteuid() == 0 ? uid_t{65534} : ::geteuid();
}

gid_t ordinaryGid()
{
    return ::geteuid() == 0 ? gid_t{65534} : ::getegid();
}

pid_t deadPid()
{
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0)
        throw std::runtime_error("fork");
    if (child == 0)
        ::_exit(0);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return child;
}

std::string saveReport(const std::string& path)
{
    try {
        if (const std::optional<int> lateFault = SaveUserTable(theTable(), path))
            return "saved with warning " + std::to_string(*lateFault);
        return "saved";
    } catch (const IoError& e) {
        return "error " + std::to_string(e.code());
    }
}

const std::string TableFile = UserTableFileName;

UserRecord plainRecord(const std::string& name, const std::string& password,
                       const std::string& path, const std::string& flags)
{
    UserRecord record{};
    record.LoginName.assign(name);
    record.Password.assign(password);
    record.DataPath.assign(path);
    for (std::size_t i = 0; i < AllRecordRights.size(); ++i)
        rightField(record, AllRecordRights[i]).assign(flags.substr(i, 1));
    return record;
}

std::string decodedRights(const UserRecord& record)
{
    std::string flags;
    for (RecordRight right : AllRecordRights)
        flags += decoded(rightField(record, right));
    return flags;
}

UserTable& theTable()
{
    static UserTable table;
    return table;
}

std::string table()
{
    return theTable().bytes();
}

} // namespace storecheck

int main(int argc, char** argv)
{
    return storecheck::runAll(argc, argv);
}
