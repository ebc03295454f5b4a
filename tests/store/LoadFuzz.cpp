// libFuzzer target: any file content either loads, saves and loads again to
// the same table, or fails with "Read beyond end of file" leaving the table
// as it was.
#include "store/IoError.h"
#include "store/Scramble.h"
#include "store/TableFile.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace {

std::string workDir;
UserTable table;

void removeWorkDir()
{
    ::unlink((workDir + "/" + UserTableFileName).c_str());
    ::rmdir(workDir.c_str());
}

std::string tableBytes()
{
    return table.bytes();
}

void writeTableFile(const std::uint8_t* data, std::size_t size)
{
    const int fd = ::open(UserTableFileName, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0)
        std::abort();
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0)
            std::abort();
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // tmpfs when there is one: every save syncs.
    std::string dir = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    dir += "/larkfuzz-XXXXXX";
    if (::mkdtemp(dir.data()) == nullptr || ::chdir(dir.c_str()) != 0)
        std::abort();
    workDir = dir;
    std::atexit(removeWorkDir);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The first byte picks what the table held before: zeros or a previous load.
    if (size > 0 && (data[0] & 1) == 0)
        table = UserTable{};
    writeTableFile(data, size);
    const std::string before = tableBytes();
    try {
        LoadUserTable(table, UserTableFileName);
    } catch (const IoError& e) {
        if (e.code() != 100 || tableBytes() != before || size >= 6565 || size % UserRecordSize == 0)
            std::abort();
        return 0;
    }
    const std::string loaded = tableBytes();
    SaveUserTable(table, UserTableFileName);
    table = UserTable{};
    LoadUserTable(table, UserTableFileName);
    if (tableBytes() != loaded)
        std::abort();
    for (int i = 1; i <= SlotCount; ++i) {
        if (!isFreeSlot(table.slot(i)) && table.FindUser(decoded(table.slot(i).LoginName)) == 0)
            std::abort();
    }
    return 0;
}
