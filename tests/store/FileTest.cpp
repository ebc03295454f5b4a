#include "StoreCheck.h"

#include "store/IoError.h"
#include "store/Scramble.h"
#include "store/TableFile.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using storecheck::fileExists;
using storecheck::listWorkingDir;
using storecheck::readFile;
using storecheck::table;
using storecheck::TableFile;
using storecheck::testData;
using storecheck::writeFile;

namespace {

UserRecord plain(const std::string& name)
{
    UserRecord record{};
    record.LoginName.assign(name);
    record.Password.assign("pw");
    record.DataPath.assign("/data/" + name);
    for (RecordRight right : AllRecordRights)
        rightField(record, right).assign("0");
    return record;
}

std::string recordBytes(const UserRecord& record)
{
    return std::string(reinterpret_cast<const char*>(&record), sizeof record);
}

// A file of `count` records holding users u1, u2, ... and then `extra` bytes.
std::string tableFileBytes(int count, std::size_t extra = 0)
{
    std::string bytes;
    for (int i = 1; i <= count; ++i) {
        UserRecord record = BlankUser;
        storeEncoded(record.LoginName, "u" + std::to_string(i));
        bytes += recordBytes(record);
    }
    return bytes + std::string(extra, '\x5a');
}

void fillTable(const std::vector<std::string>& names)
{
    for (const std::string& name : names)
        StoreNewUser(plain(name));
}

mode_t modeOf(const std::string& path)
{
    struct stat st
    {
    };
    if (::stat(path.c_str(), &st) != 0)
        return 0;
    return st.st_mode & 07777;
}

// Runs a save in a child whose file size limit is `limit` bytes. With
// SIGXFSZ ignored the kernel fails the write past the limit with EFBIG, a
// real write error that also hits root. The child's exit code: 0 when the
// save raised "Disk full", 1 when it succeeded, 2 for anything else.
int saveUnderSizeLimit(rlim_t limit)
{
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit rl{limit, limit};
        if (::setrlimit(RLIMIT_FSIZE, &rl) != 0)
            ::_exit(3);
        try {
            SaveUserTable();
        } catch (const IoError& e) {
            const bool diskFull = e.code() == 101 && std::string(e.what()) == "Disk full";
            if (!diskFull)
                std::fprintf(stderr, "  child: IoError %d %s\n", e.code(), e.what());
            ::_exit(diskFull ? 0 : 2);
        } catch (...) {
            ::_exit(2);
        }
        ::_exit(1);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

} // namespace

TEST(ErrorTexts)
{
    const std::pair<int, const char*> texts[] = {
        {2, "File not found"},     {3, "Invalid filename"},          {4, "Too many open files"},
        {5, "File access denied"}, {100, "Read beyond end of file"}, {101, "Disk full"},
        {0, "I/O error 0"},        {103, "I/O error 103"},           {1005, "I/O error 1005"}};
    for (const auto& [code, text] : texts) {
        CHECK_EQ(ioErrorText(code), std::string(text));
        const IoError error(code);
        CHECK_EQ(error.code(), code);
        CHECK_EQ(std::string(error.what()), std::string(text));
    }
}

TEST(ErrnoMapping)
{
    const std::pair<int, int> cases[] = {
        {ENOENT, 2},  {ENAMETOOLONG, 3}, {EINVAL, 3},        {EMFILE, 4},   {ENFILE, 4},
        {EACCES, 5},  {EPERM, 5},        {EROFS, 5},         {EISDIR, 5},   {ENOSPC, 101},
        {EFBIG, 101}, {EDQUOT, 101},     {ENOTDIR, ENOTDIR}, {EBUSY, EBUSY}};
    for (const auto& [err, code] : cases)
        CHECK_EQ(ioCodeFromErrno(err), code);
    // EIO shares its number with "File access denied" and must not read as it.
    CHECK(ioCodeFromErrno(EIO) != 5);
    CHECK_EQ(ioErrorText(ioCodeFromErrno(EIO)),
             "I/O error " + std::to_string(ioCodeFromErrno(EIO)));
}

TEST(FixtureLoadsAsDescribed)
{
    writeFile(TableFile, testData("three-users.acl"));
    LoadUserTable();

    const UserRecord& admin = slot(1);
    CHECK_EQ(decoded(admin.LoginName), std::string("admin"));
    CHECK_EQ(decoded(admin.Password), std::string("secret"));
    CHECK_EQ(decoded(admin.DataPath), std::string("C:\\Larkledger\\Data"));
    CHECK_EQ(storecheck::decodedRights(admin), std::string("000000"));
    CHECK_EQ(decoded(admin.Accounts[0].AccountName), std::string("Checking"));
    CHECK_EQ(decoded(admin.Accounts[0].AccountDescription),
             std::string("Main account.\r\nBranch 12"));
    CHECK(admin.Accounts[1].AccountName.empty());
    CHECK_EQ(decoded(admin.Accounts[2].AccountName), std::string("Savings"));
    CHECK_EQ(decoded(admin.Accounts[2].AccountDescription), std::string());
    for (int i = 3; i < AccountCount; ++i)
        CHECK(admin.Accounts[static_cast<std::size_t>(i)].AccountName.empty());

    const UserRecord& clerk = slot(2);
    CHECK_EQ(decoded(clerk.LoginName), std::string("clerk"));
    CHECK_EQ(decoded(clerk.Password), std::string("Pa55w0rd"));
    CHECK_EQ(decoded(clerk.DataPath), std::string("/srv/ledger"));
    CHECK_EQ(storecheck::decodedRights(clerk), std::string("111011")); // ModifyUsers only
    for (const AccountEntry& entry : clerk.Accounts)
        CHECK(entry.AccountName.empty());

    const UserRecord& renee = slot(3);
    CHECK_EQ(decoded(renee.LoginName), std::string(" Ren\xe9"
                                                   "e "));
    CHECK_EQ(decoded(renee.Password), std::string("caf\xe9\x80"));
    CHECK_EQ(decoded(renee.DataPath), std::string("D:\\Daten"));
    CHECK_EQ(storecheck::decodedRights(renee), std::string("101111")); // DeleteUsers only
    CHECK_EQ(decoded(renee.Accounts[0].AccountName), std::string("Gesch\xe4"
                                                                 "ft"));
    CHECK_EQ(decoded(renee.Accounts[0].AccountDescription), std::string("\x80 account"));
    for (int i = 1; i < AccountCount; ++i)
        CHECK(renee.Accounts[static_cast<std::size_t>(i)].AccountName.empty());

    for (int i = 4; i <= 5; ++i) {
        CHECK(isFreeSlot(slot(i)));
        CHECK_EQ(static_cast<int>(slot(i).LoginName.Length), 0);
        CHECK_EQ(static_cast<int>(slot(i).Password.Length), 0);
        for (RecordRight right : AllRecordRights)
            CHECK_EQ(rightField(slot(i), right).value(), std::string("1")); // plain
    }
    CHECK_EQ(FindUser(" Ren\xe9"
                      "e "),
             3);
    CHECK_EQ(FindUser("Ren\xe9"
                      "e"),
             0);
    CHECK_EQ(FirstFreeSlot(), 4);

    // The login check compares scrambled forms.
    CHECK_EQ(EncodeField("secret", ScrambleKey), admin.Password.value());
}

TEST(FixtureSavesBackByteIdentical)
{
    const std::string fixture = testData("three-users.acl");
    writeFile(TableFile, fixture);
    LoadUserTable();
    SaveUserTable();
    CHECK_EQ(readFile(TableFile), fixture);
    CHECK_EQ(listWorkingDir(), std::vector<std::string>{TableFile});
}

TEST(MissingFileIsCreatedEmpty)
{
    fillTable({"keep"});
    slot(2).LoginName.assign(""); // free, rights still zero length
    LoadUserTable();
    CHECK(fileExists(TableFile));
    CHECK_EQ(readFile(TableFile), std::string());
    CHECK_EQ(modeOf(TableFile), mode_t{0600});
    CHECK_EQ(FindUser("keep"), 1);
    for (RecordRight right : AllRecordRights)
        CHECK_EQ(rightField(slot(2), right).value(), std::string("1"));
}

TEST(EmptyFileReadsNoRecord)
{
    fillTable({"a", "b"});
    ClearEmptySlots(); // the load normalises free slots; nothing else may change
    const std::string before = table();
    writeFile(TableFile, "");
    LoadUserTable();
    CHECK_EQ(table(), before);
    CHECK_EQ(readFile(TableFile), std::string());
}

TEST(WholeRecordFilesFillTheirSlots)
{
    for (int count = 1; count <= 5; ++count) {
        resetUserTable();
        fillTable({"old1", "old2", "old3", "old4", "old5"});
        writeFile(TableFile, tableFileBytes(count));
        LoadUserTable();
        for (int i = 1; i <= SlotCount; ++i) {
            const std::string expected =
                i <= count ? "u" + std::to_string(i) : "old" + std::to_string(i);
            CHECK_EQ(decoded(slot(i).LoginName), expected);
        }
    }
}

TEST(TwoRecordsAtStartGiveTwoUsers)
{
    writeFile(TableFile, tableFileBytes(2));
    LoadUserTable();
    CHECK_EQ(FindUser("u1"), 1);
    CHECK_EQ(FindUser("u2"), 2);
    CHECK_EQ(FirstFreeSlot(), 3);
    for (int i = 3; i <= SlotCount; ++i)
        CHECK(isFreeSlot(slot(i)));
}

// Up to the largest file taken for a table (MaxTableFileSize); the files
// beyond it are refused (see SafetyTest).
TEST(BytesAfterFifthRecordAreIgnored)
{
    for (std::size_t extra : {std::size_t{1}, std::size_t{1312}, std::size_t{1313},
                              std::size_t{100000}, MaxTableFileSize - UserTableFileSize}) {
        resetUserTable();
        const std::string bytes = tableFileBytes(5, extra);
        writeFile(TableFile, bytes);
        LoadUserTable();
        for (int i = 1; i <= SlotCount; ++i)
            CHECK_EQ(FindUser("u" + std::to_string(i)), i);
        CHECK(peekTableFile(TableFile) == bytes);
        CHECK_EQ(readFile(TableFile), bytes); // a load never rewrites the file
    }
}

// A partial last record fails the whole load and leaves the table as it was.
TEST(PartialRecordFailsAndChangesNothing)
{
    const std::pair<int, std::size_t> files[] = {{0, 1}, {0, 1312}, {2, 1}, {3, 100}, {4, 1312}};
    for (const auto& [count, extra] : files) {
        resetUserTable();
        fillTable({"old1", "old2"});
        slot(4).DataPath.assign("untouched");
        const std::string before = table();
        const std::string bytes = tableFileBytes(count, extra);
        writeFile(TableFile, bytes);
        CHECK_IO_ERROR(LoadUserTable(), 100, "Read beyond end of file");
        CHECK_EQ(table(), before);
        CHECK_EQ(readFile(TableFile), bytes);
    }
}

// Only a damaged file holds a length above its field's capacity.
TEST(DamagedLengthBytesLoad)
{
    std::string bytes = tableFileBytes(2);
    bytes[0] = '\xff';           // slot 1 LoginName
    bytes[16] = '\x40';          // slot 1 Password
    bytes[25] = '\x00';          // DataPath stays empty
    bytes[281] = '\xfe';         // first AccountName
    bytes[1313 + 1301] = '\x09'; // slot 2 DeleteRecord
    writeFile(TableFile, bytes);
    LoadUserTable();
    CHECK_EQ(slot(1).LoginName.value().size(), std::size_t{15});
    CHECK_EQ(slot(1).Password.value().size(), std::size_t{8});
    CHECK_EQ(slot(1).Accounts[0].AccountName.value().size(), std::size_t{30});
    CHECK_EQ(rightField(slot(2), RecordRight::DeleteRecord).value().size(), std::size_t{1});
    CHECK_EQ(FindUser(decoded(slot(1).LoginName)), 1);
    SaveUserTable();
    const std::string saved = readFile(TableFile);
    CHECK_EQ(saved.size(), std::size_t{6565});
    CHECK_EQ(saved.substr(0, 2626), bytes.substr(0, 2626)); // held bytes written as they are
}

// A file with a gap is read as it is and not repacked.
TEST(GapInFileIsKept)
{
    std::string bytes = tableFileBytes(3);
    bytes[1313] = '\0'; // slot 2 free
    writeFile(TableFile, bytes);
    LoadUserTable();
    CHECK_EQ(FindUser("u1"), 1);
    CHECK(isFreeSlot(slot(2)));
    CHECK_EQ(FindUser("u3"), 3);
    CHECK_EQ(FirstFreeSlot(), 2);
}

// A table that cannot be opened is reported, never replaced by an empty one.
TEST(DirectoryNamedLikeTableIsLeftAlone)
{
    CHECK(::mkdir(TableFile.c_str(), 0755) == 0);
    writeFile(TableFile + "/inside", "x");
    fillTable({"a"});
    const std::string before = table();
    CHECK_IO_ERROR(LoadUserTable(), 5, "File access denied");
    CHECK_EQ(table(), before);
    CHECK_EQ(readFile(TableFile + "/inside"), std::string("x"));

    CHECK_IO_ERROR(SaveUserTable(), 5, "File access denied");
    CHECK_EQ(listWorkingDir(), std::vector<std::string>{TableFile});
    CHECK_EQ(readFile(TableFile + "/inside"), std::string("x"));
}

TEST(UnreadableTableIsLeftAlone)
{
    // Root reads every file: the unreadable table is made as nobody.
    storecheck::runAsOrdinaryUser([] {
        const std::string bytes = tableFileBytes(2);
        writeFile(TableFile, bytes);
        CHECK(::chmod(TableFile.c_str(), 0) == 0);
        CHECK_IO_ERROR(LoadUserTable(), 5, "File access denied");
        CHECK(::chmod(TableFile.c_str(), 0600) == 0);
        CHECK_EQ(readFile(TableFile), bytes);
    });
}

// A working directory removed under the program is a real failure of the
// create step that root meets too.
TEST(RemovedWorkingDirectoryIsFileNotFound)
{
    char home[4096];
    CHECK(::getcwd(home, sizeof home) != nullptr);
    const std::string dir = std::string(home) + "/gone";
    CHECK(::mkdir(dir.c_str(), 0700) == 0);
    CHECK(::chdir(dir.c_str()) == 0);
    CHECK(::rmdir(dir.c_str()) == 0);
    fillTable({"a"});
    const std::string before = table();
    CHECK_IO_ERROR(LoadUserTable(), 2, "File not found");
    CHECK_IO_ERROR(SaveUserTable(), 2, "File not found");
    CHECK_IO_ERROR(CreateUserTableFile(), 2, "File not found");
    CHECK_EQ(table(), before);
    CHECK(::chdir(home) == 0);
}

TEST(SaveWritesAllFiveSlots)
{
    SaveUserTable();
    CHECK_EQ(readFile(TableFile), std::string(6565, '\0'));

    fillTable({"a", "b"});
    SaveUserTable();
    CHECK_EQ(readFile(TableFile), table());
    CHECK_EQ(listWorkingDir(), std::vector<std::string>{TableFile});

    const std::string saved = table();
    resetUserTable();
    LoadUserTable();
    CHECK_EQ(table().substr(0, 2 * 1313), saved.substr(0, 2 * 1313));
    CHECK_EQ(FirstFreeSlot(), 3);
}

TEST(SaveReplacesLongerFile)
{
    writeFile(TableFile, std::string(20000, 'x'));
    fillTable({"a"});
    SaveUserTable();
    CHECK_EQ(readFile(TableFile), table());
}

TEST(SaveKeepsPermissionBits)
{
    for (mode_t mode : {mode_t{0600}, mode_t{0640}, mode_t{0604}, mode_t{0664}}) {
        writeFile(TableFile, tableFileBytes(1));
        CHECK(::chmod(TableFile.c_str(), mode) == 0);
        SaveUserTable();
        CHECK_EQ(modeOf(TableFile), mode);
        CHECK_EQ(readFile(TableFile), table());
    }
}

// A read-only table is not replaced behind its owner's back; root may write
// any file and so saves it, keeping it read-only.
TEST(ReadOnlyTable)
{
    const std::string bytes = tableFileBytes(2);
    writeFile(TableFile, bytes);
    CHECK(::chmod(TableFile.c_str(), 0444) == 0);
    fillTable({"a"});
    if (::geteuid() == 0) {
        SaveUserTable();
        CHECK_EQ(readFile(TableFile), table());
    } else {
        CHECK_IO_ERROR(SaveUserTable(), 5, "File access denied");
        CHECK_EQ(readFile(TableFile), bytes);
        CHECK_IO_ERROR(LoadUserTable(), 5, "File access denied");
    }
    CHECK_EQ(modeOf(TableFile), mode_t{0444});
    CHECK_EQ(listWorkingDir(), std::vector<std::string>{TableFile});
}

// A save keeps the table's owner: root hands the new file to the old one's
// owner; anyone else saves only tables they may write, and stays the owner
// of their own.
TEST(SaveKeepsTheOwner)
{
    writeFile(TableFile, tableFileBytes(1));
    uid_t owner = ::geteuid();
    gid_t group = ::getegid();
    if (owner == 0) {
        owner = 65534;
        group = 65534;
        CHECK(::chown(TableFile.c_str(), owner, group) == 0);
    }
    SaveUserTable();
    struct stat st
    {
    };
    CHECK(::stat(TableFile.c_str(), &st) == 0);
    CHECK_EQ(st.st_uid, owner);
    CHECK_EQ(st.st_gid, group);
}

// The scrambling hides nothing from a reader, so only the owner may read a
// table; a umask that would take the owner's own bits does not either.
TEST(NewTableIsPrivateWhateverTheUmask)
{
    const std::pair<const char*, void (*)()> makers[] = {
        {"load", [] { LoadUserTable(); }},
        {"save", [] { SaveUserTable(); }},
        {"create", [] { CreateUserTableFile(); }},
    };
    for (mode_t mask : {mode_t{0}, mode_t{022}, mode_t{027}, mode_t{077}, mode_t{0277}}) {
        for (const auto& [name, make] : makers) {
            CHECK(::unlink(TableFile.c_str()) == 0 || errno == ENOENT);
            const mode_t old = ::umask(mask);
            make();
            ::umask(old);
            if (modeOf(TableFile) != 0600)
                std::fprintf(stderr, "  %s with umask %03o\n", name, static_cast<unsigned>(mask));
            CHECK_EQ(modeOf(TableFile), mode_t{0600});
        }
    }
}

TEST(SaveFaultLeavesOldFileIntact)
{
    const std::string fixture = testData("three-users.acl");
    for (rlim_t limit : {rlim_t{0}, rlim_t{1}, rlim_t{1313}, rlim_t{4000}, rlim_t{6564}}) {
        writeFile(TableFile, fixture);
        CHECK(::chmod(TableFile.c_str(), 0640) == 0);
        resetUserTable();
        fillTable({"new1", "new2", "new3", "new4"});
        CHECK_EQ(saveUnderSizeLimit(limit), 0);
        CHECK_EQ(readFile(TableFile), fixture);
        CHECK_EQ(modeOf(TableFile), mode_t{0640});
        CHECK_EQ(listWorkingDir(), std::vector<std::string>{TableFile});
    }
    // The same save with room enough succeeds: the limit was the only fault.
    CHECK_EQ(saveUnderSizeLimit(6565), 1);
    CHECK_EQ(readFile(TableFile), table());
}

TEST(SaveFaultWithoutOldFileLeavesNothing)
{
    fillTable({"a"});
    CHECK_EQ(saveUnderSizeLimit(100), 0);
    CHECK_EQ(listWorkingDir(), std::vector<std::string>{});
}

TEST(FailedSaveKeepsTable)
{
    fillTable({"a", "b", "c"});
    const std::string before = table();
    CHECK(::mkdir(TableFile.c_str(), 0755) == 0);
    CHECK_IO_ERROR(SaveUserTable(), 5, "File access denied");
    CHECK_EQ(table(), before);
}

TEST(CreateUserTableFileMakesAnEmptyFileOnly)
{
    fillTable({"a"});
    const std::string before = table();
    CreateUserTableFile();
    CHECK_EQ(readFile(TableFile), std::string());
    CHECK_EQ(table(), before);
    // A table found there is never emptied.
    writeFile(TableFile, testData("three-users.acl"));
    CreateUserTableFile();
    CHECK_EQ(readFile(TableFile), testData("three-users.acl"));
    CHECK_EQ(listWorkingDir(), std::vector<std::string>{TableFile});
}

TEST(CreateUserTableFileReportsErrors)
{
    CHECK(::mkdir(TableFile.c_str(), 0755) == 0);
    CHECK_IO_ERROR(CreateUserTableFile(), 5, "File access denied");
}
