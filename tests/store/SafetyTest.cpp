// A table that stays private, follows links, refuses what is no table, keeps
// its owner, writes in place where it must and leaves nothing behind.

#include "StoreCheck.h"

#include "store/FileOps.h"
#include "store/IoError.h"
#include "store/TableFile.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using storecheck::fileExists;
using storecheck::listWorkingDir;
using storecheck::ordinaryGid;
using storecheck::ordinaryUid;
using storecheck::readFile;
using storecheck::runInChild;
using storecheck::saveReport;
using storecheck::table;
using storecheck::TableFile;
using storecheck::writeFile;
using tablefile_testing::SaveStep;

namespace {

struct stat statOf(const std::string& path)
{
    struct stat st
    {
    };
    if (::lstat(path.c_str(), &st) != 0)
        throw std::runtime_error("cannot stat " + path);
    return st;
}

mode_t modeOf(const std::string& path)
{
    return statOf(path).st_mode & 07777;
}

std::vector<std::string> listDir(const std::string& dir)
{
    char home[4096];
    if (::getcwd(home, sizeof home) == nullptr || ::chdir(dir.c_str()) != 0)
        throw std::runtime_error("cannot list " + dir);
    const std::vector<std::string> names = listWorkingDir();
    if (::chdir(home) != 0)
        throw std::runtime_error("cannot return from " + dir);
    return names;
}

// A table file of `users` records, users "old1", "old2", ...
std::string oldTable(int users)
{
    UserTable table;
    for (int i = 1; i <= users; ++i) {
        UserRecord plain = BlankUser;
        plain.LoginName.assign("old" + std::to_string(i));
        table.StoreNewUser(plain);
    }
    return table.bytes().substr(0, static_cast<std::size_t>(users) * UserRecordSize);
}

void fillTable(const std::vector<std::string>& names)
{
    for (const std::string& name : names) {
        UserRecord plain = BlankUser;
        plain.LoginName.assign(name);
        plain.Password.assign("pw");
        StoreNewUser(plain);
    }
}

std::string errorOf(const std::function<void()>& step)
{
    try {
        step();
        return "no error";
    } catch (const IoError& e) {
        return "error " + std::to_string(e.code());
    }
}

// Fails the test, rather than hanging it, when a step blocks.
class Deadline
{
public:
    explicit Deadline(unsigned seconds)
    {
        struct sigaction action
        {
        };
        action.sa_handler = [](int) {
            const char text[] = "  FAIL: a step blocked\n";
            (void)!::write(2, text, sizeof text - 1);
            ::_exit(1);
        };
        ::sigaction(SIGALRM, &action, &m_old);
        ::alarm(seconds);
    }
    ~Deadline()
    {
        ::alarm(0);
        ::sigaction(SIGALRM, &m_old, nullptr);
    }

private:
    struct sigaction m_old
    {
    };
};

class Umask
{
public:
    explicit Umask(mode_t mask) : m_old(::umask(mask)) {}
    ~Umask() { ::umask(m_old); }

private:
    mode_t m_old;
};

class Hook
{
public:
    explicit Hook(int (*hook)(SaveStep, const std::string&)) { tablefile_testing::SaveHook = hook; }
    ~Hook() { tablefile_testing::SaveHook = nullptr; }
};

std::string tempPrefix()
{
    return "." + TableFile + "." + fileops::hostTag() + ".";
}

std::string tempName(long pid, const std::string& hex = "0123456789abcdef")
{
    return tempPrefix() + std::to_string(pid) + "." + hex + ".lktmp";
}

// Lets an ordinary user reach the case's folder.
void openCaseFolder()
{
    CHECK(::chmod(".", 0755) == 0);
}

// A folder of the ordinary user holding their table (bytes, 0600), then
// closed to new files.
std::string refusingFolderWithTable(const std::string& bytes, mode_t tableMode = 0600)
{
    openCaseFolder();
    const std::string folder = "shared";
    const std::string table = folder + "/" + TableFile;
    CHECK(::mkdir(folder.c_str(), 0755) == 0);
    writeFile(table, bytes);
    CHECK(::chown(folder.c_str(), ordinaryUid(), ordinaryGid()) == 0);
    CHECK(::chown(table.c_str(), ordinaryUid(), ordinaryGid()) == 0);
    CHECK(::chmod(table.c_str(), tableMode) == 0);
    CHECK(::chmod(folder.c_str(), 0555) == 0);
    return table;
}

constexpr off_t ThreeGiB = off_t{3} << 30;

// `head` and then a hole up to `size` bytes: a large file that takes no disk.
void makeSparseFile(const std::string& path, const std::string& head, off_t size)
{
    writeFile(path, head);
    CHECK(::truncate(path.c_str(), size) == 0);
}

// What a large file in the table's place still is after the steps: as large,
// the same inode, the same first bytes.
struct LargeFile
{
    off_t size;
    ino_t inode;
    std::string head;
};

LargeFile largeFileAt(const std::string& path, std::size_t headSize)
{
    const struct stat st = statOf(path);
    return {st.st_size, st.st_ino, storecheck::readFileStart(path, headSize)};
}

void checkLargeFileKept(const std::string& path, const LargeFile& before)
{
    const LargeFile now = largeFileAt(path, before.head.size());
    CHECK_EQ(now.size, before.size);
    CHECK_EQ(now.inode, before.inode);
    CHECK_EQ(now.head, before.head);
}

} // namespace

// The temporary file is the new table in full: no one but its owner may open
// it while it exists, so no descriptor to it can be kept by anyone else.
TEST(TemporaryFileIsPrivateFromTheStart)
{
    static struct stat seen;
    static std::string seenName;
    const Hook hook([](SaveStep step, const std::string& file) {
        if (step == SaveStep::TempWritten) {
            seenName = file;
            ::lstat(file.c_str(), &seen);
        }
        return 0;
    });
    const Umask mask(0);
    fillTable({"a", "b"});
    // No old table, then old tables of wider, equal and stricter modes; root
    // alone may write the read-only one.
    std::vector<std::pair<mode_t, mode_t>> cases = {
        {0, 0600}, {0644, 0600}, {0666, 0600}, {0640, 0600}, {0600, 0600}};
    if (::geteuid() == 0)
        cases.push_back({0400, 0400});
    for (const auto& [oldMode, tempMode] : cases) {
        CHECK(::unlink(TableFile.c_str()) == 0 || errno == ENOENT);
        if (oldMode != 0) {
            writeFile(TableFile, oldTable(3));
            CHECK(::chmod(TableFile.c_str(), oldMode) == 0);
        }
        seenName.clear();
        SaveUserTable();
        CHECK_EQ(seenName.compare(0, tempPrefix().size(), tempPrefix()), 0);
        CHECK(seenName.find("." + std::to_string(::getpid()) + ".") != std::string::npos);
        CHECK(S_ISREG(seen.st_mode));
        CHECK_EQ(seen.st_mode & 07777, tempMode);
        CHECK_EQ(seen.st_uid, ::geteuid());
        CHECK_EQ(seen.st_size, off_t{6565});
        CHECK_EQ(modeOf(TableFile), oldMode != 0 ? oldMode : mode_t{0600});
        CHECK_EQ(readFile(TableFile), table());
        CHECK_EQ(listWorkingDir(), std::vector<std::string>{TableFile});
    }
}

// Names are unguessable: two saves never use the same temporary file.
TEST(TemporaryNamesDiffer)
{
    static std::vector<std::string> names;
    names.clear();
    const Hook hook([](SaveStep step, const std::string& file) {
        if (step == SaveStep::TempWritten)
            names.push_back(file);
        return 0;
    });
    SaveUserTable();
    SaveUserTable();
    CHECK_EQ(names.size(), std::size_t{2});
    CHECK(names[0] != names[1]);
}

TEST(SymlinkedTableIsSavedThroughToItsTarget)
{
    char cwd[4096];
    CHECK(::getcwd(cwd, sizeof cwd) != nullptr);
    const std::string absolute = std::string(cwd) + "/real/table.acl";
    struct Links
    {
        const char* name;
        std::vector<std::pair<std::string, std::string>> links; // link, target
    };
    const Links cases[] = {
        {"relative", {{TableFile, "real/table.acl"}}},
        {"absolute", {{TableFile, absolute}}},
        {"chain", {{TableFile, "hop"}, {"hop", "real/../real/step"}, {"real/step", "table.acl"}}},
    };
    for (const Links& c : cases) {
        std::printf("  %s\n", c.name);
        for (const auto& [link, target] : c.links)
            ::unlink(link.c_str());
        ::unlink("real/table.acl");
        ::rmdir("real");
        CHECK(::mkdir("real", 0700) == 0);
        writeFile("real/table.acl", oldTable(2));
        CHECK(::chmod("real/table.acl", 0640) == 0);
        for (const auto& [link, target] : c.links)
            CHECK(::symlink(target.c_str(), link.c_str()) == 0);
        const std::vector<std::string> names = listWorkingDir();

        resetUserTable();
        LoadUserTable();
        CHECK_EQ(FindUser("old2"), 2);
        fillTable({"new"});
        SaveUserTable();
        CHECK_EQ(readFile("real/table.acl"), table());
        CHECK_EQ(peekTableFile(TableFile).value_or(std::string()), table());
        CHECK_EQ(modeOf("real/table.acl"), mode_t{0640});
        for (const auto& [link, target] : c.links) {
            CHECK(S_ISLNK(statOf(link).st_mode));
            char text[4096] = {};
            CHECK(::readlink(link.c_str(), text, sizeof text - 1) > 0);
            CHECK_EQ(std::string(text), target);
        }
        CHECK_EQ(listWorkingDir(), names);
        std::vector<std::string> inReal = {"table.acl"};
        if (c.links.size() > 1)
            inReal.insert(inReal.begin(), "step");
        CHECK_EQ(listDir("real"), inReal);
    }
}

// What stands in the table's place and is no table is reported and left as it
// is: nothing is created through it and nothing waits on it.
TEST(OddThingsInTheTablesPlaceAreRefused)
{
    struct Odd
    {
        const char* name;
        std::function<void()> make;
        int code;
    };
    const Odd cases[] = {
        {"dangling link", [] { CHECK(::symlink("gone/table.acl", TableFile.c_str()) == 0); }, 2},
        {"dangling link in the folder",
         [] { CHECK(::symlink("missing.acl", TableFile.c_str()) == 0); }, 2},
        {"link to a dangling link",
         [] {
             CHECK(::symlink("missing.acl", "hop") == 0);
             CHECK(::symlink("hop", TableFile.c_str()) == 0);
         },
         2},
        {"FIFO", [] { CHECK(::mkfifo(TableFile.c_str(), 0600) == 0); }, 5},
        {"link to a FIFO",
         [] {
             CHECK(::mkfifo("pipe", 0600) == 0);
             CHECK(::symlink("pipe", TableFile.c_str()) == 0);
         },
         5},
        {"directory", [] { CHECK(::mkdir(TableFile.c_str(), 0700) == 0); }, 5},
        {"link to a directory",
         [] {
             CHECK(::mkdir("folder", 0700) == 0);
             CHECK(::symlink("folder", TableFile.c_str()) == 0);
         },
         5},
        {"link to a device", [] { CHECK(::symlink("/dev/null", TableFile.c_str()) == 0); }, 5},
        {"link loop",
         [] {
             CHECK(::symlink(TableFile.c_str(), "hop") == 0);
             CHECK(::symlink("hop", TableFile.c_str()) == 0);
         },
         ioCodeFromErrno(ELOOP)},
    };
    fillTable({"a"});
    const std::string before = table();
    for (const Odd& odd : cases) {
        std::printf("  %s\n", odd.name);
        for (const char* name : {"hop", "pipe", "missing.acl"})
            ::unlink(name);
        ::unlink(TableFile.c_str());
        ::rmdir(TableFile.c_str());
        ::rmdir("folder");
        odd.make();
        const mode_t type = statOf(TableFile).st_mode & S_IFMT;
        const std::vector<std::string> names = listWorkingDir();
        const std::string expected = "error " + std::to_string(odd.code);

        const Deadline deadline(10);
        CHECK_EQ(errorOf([] { LoadUserTable(); }), expected);
        CHECK_EQ(errorOf([] { peekTableFile(TableFile); }), expected);
        CHECK_EQ(errorOf([] { SaveUserTable(); }), expected);
        CHECK_EQ(errorOf([] { CreateUserTableFile(); }), expected);
        CHECK_EQ(listWorkingDir(), names);
        CHECK_EQ(statOf(TableFile).st_mode & S_IFMT, type);
        CHECK(!fileExists("gone") && !fileExists("missing.acl"));
        CHECK_EQ(table(), before);
    }
}

// A file far larger than a table is something else given in its place: it
// is refused as a FIFO is, and no step reads it through or cuts it down to a
// table.
TEST(FileFarLargerThanATableIsRefusedAndKept)
{
    struct Large
    {
        const char* name;
        off_t size;
        bool linked;
    };
    const Large cases[] = {
        {"3 GiB", ThreeGiB, false},
        {"a byte more than the limit", static_cast<off_t>(MaxTableFileSize) + 1, false},
        {"link to 3 GiB", ThreeGiB, true},
    };
    const std::string head = oldTable(5);
    fillTable({"a"});
    const std::string before = table();
    const std::string refused = "error 5";
    for (const Large& large : cases) {
        std::printf("  %s\n", large.name);
        storecheck::clearWorkingDir();
        const std::string file = large.linked ? "elsewhere.acl" : TableFile;
        makeSparseFile(file, head, large.size);
        if (large.linked)
            CHECK(::symlink(file.c_str(), TableFile.c_str()) == 0);
        const LargeFile kept = largeFileAt(file, head.size());
        const std::vector<std::string> names = listWorkingDir();

        CHECK_EQ(errorOf([] { LoadUserTable(); }), refused);
        CHECK_EQ(errorOf([] { peekTableFile(TableFile); }), refused);
        CHECK_EQ(errorOf([] { SaveUserTable(); }), refused);
        CHECK_EQ(errorOf([] { CreateUserTableFile(); }), refused);
        checkLargeFileKept(file, kept);
        CHECK_EQ(listWorkingDir(), names);
        CHECK_EQ(table(), before);
    }
}

// Where a save writes in place, the large file is refused before a byte of
// it is written; also when it grows only after the save first looked at it.
TEST(FileFarLargerThanATableIsNotWrittenInPlace)
{
    const std::string head = oldTable(5);
    fillTable({"new"});
    {
        const std::string table = refusingFolderWithTable(head);
        CHECK(::truncate(table.c_str(), ThreeGiB) == 0);
        const LargeFile kept = largeFileAt(table, head.size());
        const auto outcome = runInChild([&] { return saveReport(table); });
        CHECK_EQ(outcome.report, std::string("error 5"));
        checkLargeFileKept(table, kept);
        CHECK_EQ(listDir("shared"), std::vector<std::string>{TableFile});
    }
    if (::geteuid() != 0) {
        std::printf("  (only root can make a table of another user)\n");
        return;
    }
    // Another user's table, written in place once the new file is written
    // (see AnotherUsersWritableTableKeepsItsOwner); it grows just then.
    storecheck::clearWorkingDir();
    openCaseFolder();
    CHECK(::mkdir("shared", 0755) == 0);
    CHECK(::chmod("shared", 01777) == 0);
    static std::string growing;
    growing = "shared/" + TableFile;
    writeFile(growing, head);
    CHECK(::chmod(growing.c_str(), 0666) == 0);
    const ino_t inode = statOf(growing).st_ino;
    const auto outcome = runInChild([] {
        const Hook hook([](SaveStep step, const std::string&) {
            return step == SaveStep::TempWritten && ::truncate(growing.c_str(), ThreeGiB) != 0
                       ? errno
                       : 0;
        });
        return saveReport(growing);
    });
    CHECK_EQ(outcome.report, std::string("error 5"));
    checkLargeFileKept(growing, {ThreeGiB, inode, head});
    CHECK_EQ(statOf(growing).st_uid, uid_t{0});
    CHECK_EQ(listDir("shared"), std::vector<std::string>{TableFile});
}

TEST(ExistingTableKeepsOwnerGroupAndMode)
{
    if (::geteuid() != 0) {
        // Giving a file away is root's alone, so the case cannot be made.
        writeFile(TableFile, oldTable(1));
        CHECK(::chown(TableFile.c_str(), 0, 0) != 0);
        CHECK_EQ(errno, EPERM);
        return;
    }
    struct Owner
    {
        uid_t uid;
        gid_t gid;
        mode_t mode;
    };
    for (const Owner& owner :
         {Owner{65534, 65534, 0640}, Owner{0, 65534, 0660}, Owner{65534, 0, 0604}}) {
        writeFile(TableFile, oldTable(1));
        CHECK(::chown(TableFile.c_str(), owner.uid, owner.gid) == 0);
        CHECK(::chmod(TableFile.c_str(), owner.mode) == 0);
        fillTable({"x"});
        SaveUserTable();
        const struct stat st = statOf(TableFile);
        CHECK_EQ(st.st_uid, owner.uid);
        CHECK_EQ(st.st_gid, owner.gid);
        CHECK_EQ(st.st_mode & 07777, owner.mode);
        CHECK_EQ(readFile(TableFile), table());
        CHECK_EQ(listWorkingDir(), std::vector<std::string>{TableFile});
    }
}

// A folder set up to let people write the table but not add files to it.
TEST(FolderThatRefusesNewFilesGetsTheTableWrittenInPlace)
{
    fillTable({"new1", "new2", "new3"});
    // Shorter, as long as, and longer than a whole table: never truncated
    // first, and a longer file cut to the table after.
    for (const std::string& old :
         {std::string(), oldTable(2), oldTable(5), oldTable(5) + std::string(20000, 'x')}) {
        storecheck::clearWorkingDir();
        const std::string table = refusingFolderWithTable(old);
        const ino_t inode = statOf(table).st_ino;
        const auto outcome = runInChild([&] { return saveReport(table); });
        CHECK_EQ(outcome.status, 0);
        CHECK_EQ(outcome.report, std::string("saved"));
        CHECK_EQ(readFile(table), ::table());
        const struct stat st = statOf(table);
        CHECK_EQ(st.st_ino, inode);
        CHECK_EQ(st.st_uid, ordinaryUid());
        CHECK_EQ(st.st_mode & 07777, mode_t{0600});
        CHECK_EQ(listDir("shared"), std::vector<std::string>{TableFile});
    }
}

// A read-only table stays protected when the folder refuses new files too.
TEST(ReadOnlyTableInRefusingFolderIsRefused)
{
    const std::string old = oldTable(2);
    const std::string table = refusingFolderWithTable(old, 0400);
    fillTable({"new"});
    const auto outcome = runInChild([&] { return saveReport(table); });
    CHECK_EQ(outcome.report, std::string("error 5"));
    CHECK_EQ(readFile(table), old);
}

// In place, the blocks are reserved before the old bytes are touched, so a
// full disk (here the size limit, which binds root too) keeps the old table.
TEST(InPlaceWriteOnFullDiskKeepsOldTable)
{
    const std::string old = oldTable(2);
    const std::string table = refusingFolderWithTable(old);
    fillTable({"new1", "new2", "new3", "new4"});
    const auto outcome = runInChild([&] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4000, 4000};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
            return std::string("setrlimit failed");
        return saveReport(table);
    });
    CHECK_EQ(outcome.report, std::string("error 101"));
    CHECK_EQ(readFile(table), old);
    CHECK_EQ(listDir("shared"), std::vector<std::string>{TableFile});
}

// Another user's table that the saver may write: a new file would make the
// saver its owner, so the table is written in place and keeps its owner. A
// table of the saver's own is still replaced whole.
TEST(AnotherUsersWritableTableKeepsItsOwner)
{
    openCaseFolder();
    fillTable({"new"});
    {
        writeFile(TableFile, oldTable(1));
        const ino_t inode = statOf(TableFile).st_ino;
        SaveUserTable();
        CHECK(statOf(TableFile).st_ino != inode);
        CHECK_EQ(readFile(TableFile), table());
    }
    if (::geteuid() != 0) {
        std::printf("  (only root can make a table of another user)\n");
        CHECK(::chown(TableFile.c_str(), 0, 0) != 0);
        return;
    }
    for (mode_t folderMode : {mode_t{01777}, mode_t{0777}}) {
        storecheck::clearWorkingDir();
        CHECK(::mkdir("shared", 0755) == 0);
        CHECK(::chmod("shared", folderMode) == 0);
        const std::string table = "shared/" + TableFile;
        writeFile(table, oldTable(2));
        CHECK(::chmod(table.c_str(), 0666) == 0);
        const ino_t inode = statOf(table).st_ino;
        const auto outcome = runInChild([&] { return saveReport(table); });
        CHECK_EQ(outcome.report, std::string("saved"));
        const struct stat st = statOf(table);
        CHECK_EQ(st.st_uid, uid_t{0});
        CHECK_EQ(st.st_gid, gid_t{0});
        CHECK_EQ(st.st_mode & 07777, mode_t{0666});
        CHECK_EQ(st.st_ino, inode);
        CHECK_EQ(readFile(table), ::table());
        CHECK_EQ(listDir("shared"), std::vector<std::string>{TableFile});
    }
}

// A fault once the new table is in place is no failed save: the file holds
// the change, and saving again writes the same bytes. A fault before that
// leaves the old table.
TEST(LateFaultSaysTheTableIsSaved)
{
    static SaveStep failing;
    struct Fault
    {
        SaveStep step;
        bool committed;
    };
    for (const Fault& fault :
         {Fault{SaveStep::FolderSync, true}, Fault{SaveStep::TempWritten, false}}) {
        const std::string old = oldTable(2);
        writeFile(TableFile, old);
        resetUserTable();
        fillTable({"new1", "new2", "new3"});
        failing = fault.step;
        {
            const Hook hook(
                [](SaveStep step, const std::string&) { return step == failing ? EIO : 0; });
            const std::string code = std::to_string(ioCodeFromErrno(EIO));
            CHECK_EQ(saveReport(TableFile),
                     (fault.committed ? "saved with warning " : "error ") + code);
        }
        CHECK_EQ(readFile(TableFile), fault.committed ? table() : old);
        CHECK_EQ(listWorkingDir(), std::vector<std::string>{TableFile});
        CHECK_EQ(saveReport(TableFile), std::string("saved"));
        CHECK_EQ(readFile(TableFile), table());
        CHECK_EQ(listWorkingDir(), std::vector<std::string>{TableFile});
    }
}

// A save killed with its temporary file written leaves a full copy of the
// table; the clean-up at start removes it.
TEST(KilledSaveLeavesNothingBehind)
{
    const std::pair<const char*, void (*)()> cleaners[] = {
        {"start", [] { removeStaleTemporaries(TableFile); }},
    };
    fillTable({"a", "b"});
    for (const auto& [name, clean] : cleaners) {
        std::printf("  %s\n", name);
        writeFile(TableFile, oldTable(1));
        const auto killed = ::runInChild(::geteuid(), ::getegid(), [] {
            tablefile_testing::SaveHook = [](SaveStep step, const std::string&) {
                if (step == SaveStep::TempWritten)
                    ::raise(SIGKILL);
                return 0;
            };
            return saveReport(TableFile);
        });
        CHECK_EQ(killed.status, 128 + SIGKILL);
        const std::vector<std::string> left = listWorkingDir();
        CHECK_EQ(left.size(), std::size_t{2});
        const std::string& temp = left[0];
        CHECK_EQ(temp.compare(0, tempPrefix().size(), tempPrefix()), 0);
        CHECK_EQ(readFile(temp), table());
        CHECK_EQ(modeOf(temp), mode_t{0600});
        CHECK_EQ(readFile(TableFile), oldTable(1));

        clean();
        CHECK_EQ(listWorkingDir(), std::vector<std::string>{TableFile});
    }
}

// Only files of this program's pattern whose process is gone are removed.
TEST(OnlyLeftoversOfEndedSavesAreRemoved)
{
    const pid_t dead = storecheck::deadPid();
    const std::string removed[] = {tempName(dead), tempName(dead, "fedcba9876543210")};
    const std::string kept[] = {
        tempName(::getpid()),  // this process
        tempName(::getppid()), // a running one
        "." + TableFile + ".elsewhere.example." + std::to_string(dead) + ".0123456789abcdef.lktmp",
        "." + TableFile + "." + std::to_string(dead) + ".0123456789abcdef.lktmp", // no host
        tempName(dead, "0123456789ABCDEF"),
        tempName(dead, "0123456789abcde"),
        tempName(0),
        tempPrefix() + "x" + std::to_string(dead) + ".0123456789abcdef.lktmp",
        tempName(dead) + ".bak",
        ".Other.acl." + fileops::hostTag() + "." + std::to_string(dead) + ".0123456789abcdef.lktmp",
        "." + TableFile + ".lock",
        ".profile",
        TableFile,
    };
    for (const std::string& name : removed)
        writeFile(name, "leftover");
    for (const std::string& name : kept)
        writeFile(name, "keep");
    // Only regular files go: a link or folder of that name is someone's doing.
    const std::string linked = tempName(dead, "1111111111111111");
    const std::string folder = tempName(dead, "2222222222222222");
    CHECK(::symlink(TableFile.c_str(), linked.c_str()) == 0);
    CHECK(::mkdir(folder.c_str(), 0700) == 0);
    // Nor does another user's file of that name, whatever the name says.
    const std::string others = tempName(dead, "3333333333333333");
    writeFile(others, "theirs");
    const uid_t otherUid = ::geteuid() == 0 ? 65534 : ::geteuid();
    CHECK(::geteuid() != 0 || ::chown(others.c_str(), otherUid, otherUid) == 0);

    removeStaleTemporaries(TableFile);
    std::vector<std::string> expected(std::begin(kept), std::end(kept));
    expected.push_back(linked);
    expected.push_back(folder);
    if (::geteuid() == 0)
        expected.push_back(others);
    std::sort(expected.begin(), expected.end());
    CHECK_EQ(listWorkingDir(), expected);
    CHECK_EQ(readFile(TableFile), std::string("keep"));
}

// The leftovers of a linked table are in its target's folder.
TEST(LeftoversAreLookedForBesideTheTarget)
{
    const pid_t dead = storecheck::deadPid();
    CHECK(::mkdir("real", 0700) == 0);
    CHECK(::symlink(("real/" + TableFile).c_str(), TableFile.c_str()) == 0);
    writeFile("real/" + TableFile, oldTable(1));
    writeFile("real/" + tempName(dead), "leftover");
    writeFile(tempName(dead), "not beside the target");
    removeStaleTemporaries(TableFile);
    CHECK_EQ(listDir("real"), std::vector<std::string>{TableFile});
    CHECK_EQ(listWorkingDir(), (std::vector<std::string>{tempName(dead), TableFile, "real"}));
}
