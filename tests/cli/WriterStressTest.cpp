// Five commands at once, round after round, on one table, while someone
// plants things at the writer lock's name or keeps removing it: no change a
// command reported done (exit 0) may be missing from the file.

#include "CliRun.h"

#include "../store/StoreCheck.h"

#include "support/TableSlots.h"

#include <csignal>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using storecheck::readFile;
using storecheck::TableFile;
using storecheck::testData;
using storecheck::writeFile;
using storecheck::WriterLockFile;

namespace {

// The names as typed (UTF-8) and as the table holds them.
const std::vector<std::string> Typed = {"clerk", "admin",
                                        " Ren\xc3\xa9"
                                        "e ",
                                        "dora", "emil"};
const std::vector<std::string> Stored = {"clerk", "admin",
                                         " Ren\xe9"
                                         "e ",
                                         "dora", "emil"};

// Someone at the lock's name for as long as it lives: a process of its own
// doing `act` over and over.
class Meddler
{
public:
    explicit Meddler(const std::function<void()>& act)
    {
        std::fflush(nullptr);
        m_pid = ::fork();
        if (m_pid == 0) {
            for (;;) {
                act();
                ::usleep(300);
            }
        }
    }
    ~Meddler()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            int status = 0;
            ::waitpid(m_pid, &status, 0);
        }
    }
    Meddler(const Meddler&) = delete;
    Meddler& operator=(const Meddler&) = delete;

private:
    pid_t m_pid = -1;
};

struct Phase
{
    const char* name;
    // Run before the phase's rounds.
    std::function<void()> plant;
    // Run over and over while the commands run, or nothing.
    std::function<void()> meddle;
    // Every command is refused, saying so.
    bool refused;
};

} // namespace

TEST(NoChangeReportedDoneIsLostWhateverHappensAtTheLocksName)
{
    writeFile(TableFile, testData("three-users.acl"));
    for (const char* name : {"dora", "emil"}) {
        const CliResult added = runCli(
            {"--table", TableFile, "--user", "admin", "add", name, "--path", "/x"}, "secret\npw\n");
        CHECK_EQ(added.status, 0);
    }
    const uid_t theirUid = storecheck::ordinaryUid();
    const gid_t theirGid = storecheck::ordinaryGid();
    const auto replaceWithTheirs = [theirUid, theirGid] {
        ::unlink(WriterLockFile.c_str());
        const int fd = ::open(WriterLockFile.c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
        if (fd >= 0) {
            if (::geteuid() == 0)
                (void)!::fchown(fd, theirUid, theirGid);
            ::close(fd);
        }
    };
    const Phase phases[] = {
        {"as it is", [] {}, {}, false},
        {"another user's file planted", replaceWithTheirs, {}, false},
        {"removed again and again", [] {}, [] { ::unlink(WriterLockFile.c_str()); }, false},
        {"replaced by another user's again and again", [] {}, replaceWithTheirs, false},
        {"a link to the table planted",
         [] {
             ::unlink(WriterLockFile.c_str());
             CHECK(::symlink(TableFile.c_str(), WriterLockFile.c_str()) == 0);
         },
         {},
         true},
        {"a second name of the table planted",
         [] {
             ::unlink(WriterLockFile.c_str());
             CHECK(::link(TableFile.c_str(), WriterLockFile.c_str()) == 0);
         },
         {},
         true},
    };
    constexpr int Rounds = 8;
    for (const Phase& phase : phases) {
        std::printf("  %s\n", phase.name);
        phase.plant();
        std::unique_ptr<Meddler> meddler;
        if (phase.meddle)
            meddler = std::make_unique<Meddler>(phase.meddle);
        int done = 0;
        for (int round = 0; round < Rounds; ++round) {
            const std::string before = readFile(TableFile);
            std::vector<std::unique_ptr<CliProcess>> writers;
            std::vector<std::string> paths;
            for (std::size_t i = 0; i < Typed.size(); ++i) {
                paths.push_back("/" + std::to_string(round) + "/" + std::to_string(i) + "/" +
                                std::to_string(::getpid()) + phase.name);
                writers.push_back(std::make_unique<CliProcess>(
                    std::vector<std::string>{"--table", TableFile, "--user", "admin", "edit",
                                             Typed[i], "--path", paths.back()}));
                writers.back()->write("secret\n");
            }
            std::vector<CliResult> results;
            for (auto& writer : writers)
                results.push_back(writer->finish());
            const TableSlots onDisk(readFile(TableFile));
            for (std::size_t i = 0; i < Typed.size(); ++i) {
                const CliResult& result = results[i];
                if (phase.refused) {
                    CHECK_EQ(result.status, 4);
                    CHECK(result.err.find("nothing was written") != std::string::npos);
                    continue;
                }
                // Someone who keeps replacing the lock may make a take give
                // up; it says so and writes nothing.
                if (phase.meddle && result.status == 4 &&
                    result.err.find("nothing was written") != std::string::npos)
                    continue;
                if (result.status != 0) {
                    storecheck::fail(__FILE__, __LINE__,
                                     std::string(phase.name) + ": exit " +
                                         std::to_string(result.status) + ": " + result.err);
                    continue;
                }
                ++done;
                const int slot = onDisk.findUser(Stored[i]);
                if (slot == 0 || onDisk.user(slot)->dataPath != paths[i])
                    storecheck::fail(__FILE__, __LINE__,
                                     std::string(phase.name) + ", round " + std::to_string(round) +
                                         ": " + paths[i] + " lost");
            }
            if (phase.refused)
                CHECK_EQ(readFile(TableFile), before);
        }
        meddler.reset();
        std::printf("    %d of %d done\n", done, Rounds * static_cast<int>(Typed.size()));
        if (!phase.refused && !phase.meddle)
            CHECK_EQ(done, Rounds * static_cast<int>(Typed.size()));
        if (phase.meddle)
            CHECK(done > 0);
        ::unlink(WriterLockFile.c_str());
    }
}
