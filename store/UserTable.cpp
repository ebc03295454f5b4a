#include "UserTable.h"

#include "IoError.h"
#include "Scramble.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::array<UserRecord, SlotCount> UserTable{};

namespace {

UserRecord MakeBlankUser()
{
    UserRecord record{};
    for (Right right : AllRights)
        RightField(record, right).assign("1");
    return record;
}

constexpr std::size_t TableFileSize = UserRecordSize * SlotCount;

[[noreturn]] void ThrowErrno(int err)
{
    throw IoError(IoCodeFromErrno(err));
}

int OpenRetrying(const char* path, int flags, mode_t mode = 0)
{
    int fd;
    do {
        fd = ::open(path, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// close() is not retried on EINTR: on Linux the descriptor is gone either way.
void CloseChecked(int fd)
{
    if (::close(fd) != 0 && errno != EINTR)
        ThrowErrno(errno);
}

// Closes without looking at the result, for paths that already raise an error.
void CloseQuietly(int fd)
{
    const int saved = errno;
    ::close(fd);
    errno = saved;
}

// Reads up to `want` bytes; fewer only at the end of the file.
std::size_t ReadFully(int fd, unsigned char* buffer, std::size_t want)
{
    std::size_t got = 0;
    while (got < want) {
        const ssize_t n = ::read(fd, buffer + got, want - got);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            CloseQuietly(fd);
            ThrowErrno(err);
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return got;
}

// Writes everything or fails: a short write is never taken for success.
int WriteFully(int fd, const unsigned char* data, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return ENOSPC;
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

// Creates a fresh file beside the table that no one else has open.
int CreateTempBeside(std::string& name)
{
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = std::string(".") + UserTableFileName + "." + std::to_string(::getpid()) + "." +
               std::to_string(counter++) + ".tmp";
        const int fd = OpenRetrying(name.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

// Makes the rename itself durable. File systems that cannot sync a directory
// say so with EINVAL; there is nothing more to do on those.
int SyncWorkingDirectory()
{
    const int fd = OpenRetrying(".", O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return errno;
    int err = 0;
    if (::fsync(fd) != 0 && errno != EINVAL && errno != EROFS)
        err = errno;
    if (::close(fd) != 0 && err == 0 && errno != EINTR)
        err = errno;
    return err;
}

} // namespace

const UserRecord BlankUser = MakeBlankUser();

UserRecord& Slot(int n)
{
    if (n < 1 || n > SlotCount)
        throw std::out_of_range("slot number " + std::to_string(n) + " outside 1 to 5");
    return UserTable[static_cast<std::size_t>(n - 1)];
}

void ResetUserTable()
{
    std::memset(static_cast<void*>(UserTable.data()), 0, sizeof(UserTable));
}

AnsiString TrimControls(std::string_view text)
{
    const auto isControl = [](char c) { return static_cast<unsigned char>(c) <= 32; };
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && isControl(text[begin]))
        ++begin;
    while (end > begin && isControl(text[end - 1]))
        --end;
    return AnsiString(text.substr(begin, end - begin));
}

AnsiString UpperAscii(std::string_view text)
{
    AnsiString out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

bool IsFreeSlot(const UserRecord& record)
{
    return TrimControls(Decoded(record.LoginName)).empty();
}

int FindUser(std::string_view loginName)
{
    for (int i = 1; i <= SlotCount; ++i) {
        if (Decoded(Slot(i).LoginName) == loginName)
            return i;
    }
    return 0;
}

void LoadUserTable()
{
    int fd = OpenRetrying(UserTableFileName, O_RDWR);
    if (fd < 0) {
        // Only a table that is not there is replaced by an empty one; a file
        // we merely cannot open is left alone and the error reported.
        if (errno != ENOENT)
            ThrowErrno(errno);
        fd = OpenRetrying(UserTableFileName, O_WRONLY | O_CREAT | O_EXCL, 0666);
        if (fd < 0)
            ThrowErrno(errno);
        CloseChecked(fd);
        ClearEmptySlots();
        return;
    }

    // Read and check the whole file before anything reaches the table, so a
    // failed load leaves the table as it was. A buffer of fixed size lets
    // the hardened build check the read against it.
    std::array<unsigned char, TableFileSize> buffer{};
    const std::size_t got = ReadFully(fd, buffer.data(), buffer.size());
    CloseChecked(fd);
    if (got % UserRecordSize != 0)
        throw IoError(100);

    const std::size_t records = got / UserRecordSize;
    for (std::size_t i = 0; i < records; ++i)
        std::memcpy(static_cast<void*>(&UserTable[i]), buffer.data() + i * UserRecordSize,
                    UserRecordSize);
    ClearEmptySlots();
}

void SaveUserTable()
{
    std::vector<unsigned char> buffer(TableFileSize);
    std::memcpy(buffer.data(), static_cast<const void*>(UserTable.data()), TableFileSize);

    struct stat old
    {
    };
    const bool hadOld = ::stat(UserTableFileName, &old) == 0;
    // The rename would replace even a file we may not write; a table made
    // read-only stays protected, as with writing it in place.
    if (hadOld && ::faccessat(AT_FDCWD, UserTableFileName, W_OK, AT_EACCESS) != 0)
        ThrowErrno(errno);

    std::string tempName;
    const int fd = CreateTempBeside(tempName);
    if (fd < 0)
        ThrowErrno(errno);

    int err = 0;
    if (hadOld) {
        // Only root may hand the new file to the old one's owner; anyone
        // else who may write the table becomes its owner.
        if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) {
            const int ignored = ::fchown(fd, old.st_uid, old.st_gid);
            (void)ignored;
        }
        if (::fchmod(fd, old.st_mode & 07777) != 0)
            err = errno;
    }
    if (err == 0)
        err = WriteFully(fd, buffer.data(), buffer.size());
    if (err == 0 && ::fsync(fd) != 0)
        err = errno;
    if (err == 0) {
        if (::close(fd) != 0 && errno != EINTR)
            err = errno;
    } else {
        CloseQuietly(fd);
    }
    if (err == 0 && ::rename(tempName.c_str(), UserTableFileName) != 0)
        err = errno;
    if (err != 0) {
        ::unlink(tempName.c_str());
        ThrowErrno(err);
    }

    err = SyncWorkingDirectory();
    if (err != 0)
        ThrowErrno(err);
}

void CreateUserTableFile()
{
    const int fd = OpenRetrying(UserTableFileName, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0)
        ThrowErrno(errno);
    CloseChecked(fd);
}

AnsiString RightTextToFlag(std::string_view text)
{
    return UpperAscii(text) == "TRUE" ? "0" : "1";
}

AnsiString FlagToRightText(std::string_view flag)
{
    return flag == "0" ? "TRUE" : "FALSE";
}

void ClearEmptySlots()
{
    for (UserRecord& record : UserTable) {
        if (!IsFreeSlot(record))
            continue;
        record.LoginName.Length = 0;
        record.Password.Length = 0;
        for (Right right : AllRights)
            RightField(record, right).assign("1");
    }
}

int FirstFreeSlot()
{
    for (int i = 1; i <= SlotCount; ++i) {
        if (IsFreeSlot(Slot(i)))
            return i;
    }
    return -1;
}

AnsiString StoreNewUser(const UserRecord& plain)
{
    const int s = FirstFreeSlot();
    if (s < 0)
        return AnsiString();
    UserRecord& slot = Slot(s);
    StoreEncoded(slot.LoginName, plain.LoginName.value());
    StoreEncoded(slot.Password, plain.Password.value());
    StoreEncoded(slot.DataPath, plain.DataPath.value());
    for (Right right : AllRights)
        StoreEncoded(RightField(slot, right), RightField(plain, right).value());
    return Decoded(slot.LoginName);
}

void RemoveUserSlot(int n)
{
    if (n < 1 || n > SlotCount || IsFreeSlot(Slot(n)))
        return;
    // The last used slot, not FirstFreeSlot() - 1: in a table read from a file
    // with a gap the two differ, and only this one removes user n.
    int last = n;
    for (int i = SlotCount; i > n; --i) {
        if (!IsFreeSlot(Slot(i))) {
            last = i;
            break;
        }
    }
    for (int j = n + 1; j <= last; ++j)
        Slot(j - 1) = Slot(j);
    Slot(last) = BlankUser;
    ClearEmptySlots();
}
