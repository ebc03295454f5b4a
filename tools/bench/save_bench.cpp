// Times an account change as the program makes it (the session compares the
// file with what it last read, saves the whole table and reads it back)
// against the cheapest
// durable replace of a file of the table's size in the same directory:
// write, fsync, rename, fsync of the directory. The two alternate, so both
// see the same disk and the same load.
//
//   save_bench [-n PAIRS] [DIR]      DIR: where to write (default: a fresh
//                                    folder under the current directory)
#include "session/Session.h"
#include "tests/support/TableSlots.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t TableBytes = TableSlots::FileSize;

[[noreturn]] void fail(const char* what)
{
    std::perror(what);
    std::exit(1);
}

double microseconds(Clock::duration d)
{
    return std::chrono::duration<double, std::micro>(d).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// A table like a real one: three users, some of them with accounts.
void fillTable()
{
    TableSlots table;
    const char* names[] = {"ADMIN", "clerk", "auditor"};
    for (int u = 0; u < 3; ++u) {
        UserData user;
        user.loginName = names[u];
        user.password = "secret";
        user.dataPath = "/home/larkledger/data";
        user.rights = Rights::all();
        table.freeSlot(u + 1);
        table.setUser(u + 1, user);
    }
    for (int i = 0; i < 6; ++i)
        table.setAccount(1,
                         {i, "Account " + std::to_string(i), "Current account at the local bank"});
    Session::writeCopy(Session::TableFileName, table.bytes());
}

// One account change as the Bank Account page makes it.
void accountChange(Session& session, int round)
{
    AccountData account;
    account.entry = round % 6;
    account.name = "Account " + std::to_string(round % 6);
    account.description = "Changed in round " + std::to_string(round);
    if (!session.modifyAccount("ADMIN", account).done())
        std::abort();
    if (session.Accounts("ADMIN").size() != 6)
        std::abort();
}

void durableReplace(const std::vector<unsigned char>& bytes)
{
    const int fd = ::open("floor.tmp", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        fail("floor.tmp");
    if (::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        fail("write");
    if (::fsync(fd) != 0)
        fail("fsync");
    if (::close(fd) != 0)
        fail("close");
    if (::rename("floor.tmp", "floor.acl") != 0)
        fail("rename");
    const int dir = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0 || ::fsync(dir) != 0 || ::close(dir) != 0)
        fail("fsync of the directory");
}

} // namespace

int main(int argc, char* argv[])
{
    int pairs = 200;
    std::string dir;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-n") == 0 && i + 1 < argc)
            pairs = std::max(1, std::atoi(argv[++i]));
        else
            dir = argv[i];
    }
    bool madeDir = false;
    if (dir.empty()) {
        char name[] = "save-bench.XXXXXX";
        if (!::mkdtemp(name))
            fail("mkdtemp");
        dir = name;
        madeDir = true;
    }
    if (::chdir(dir.c_str()) != 0)
        fail(dir.c_str());

    try {
        fillTable();
        Session session(Session::TableFileName);
        session.loadTable();
        session.signIn("ADMIN", "secret");
        const std::vector<unsigned char> bytes(TableBytes, 0x5a);
        // Warm-up: the first writes also allocate the files' blocks.
        for (int i = 0; i < 5; ++i) {
            accountChange(session, i);
            durableReplace(bytes);
        }

        std::vector<double> change, floor, ratios;
        for (int i = 0; i < pairs; ++i) {
            // Alternate which goes first, so neither always follows the other.
            double c = 0, f = 0;
            for (int k = 0; k < 2; ++k) {
                const auto t0 = Clock::now();
                if ((i + k) % 2 == 0)
                    accountChange(session, i);
                else
                    durableReplace(bytes);
                const double us = microseconds(Clock::now() - t0);
                ((i + k) % 2 == 0 ? c : f) = us;
            }
            change.push_back(c);
            floor.push_back(f);
            ratios.push_back(c / f);
        }

        std::printf("# %d interleaved pairs in %s; %zu-byte table\n", pairs, dir.c_str(),
                    TableBytes);
        std::printf("account change (compare, save, read back) median %9.1f us\n", median(change));
        std::printf("floor (write, fsync, rename, fsync dir)    median %9.1f us\n", median(floor));
        std::printf("change/floor time ratio  %.3f  (median of per-pair ratios %.3f)\n",
                    median(change) / median(floor), median(ratios));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "save_bench: %s\n", e.what());
        return 1;
    }

    for (const char* name : {"Gatekeep.acl", "floor.acl"})
        ::unlink(name);
    if (madeDir && ::chdir("..") == 0)
        ::rmdir(dir.c_str());
    return 0;
}
