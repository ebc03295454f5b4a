#include "../store/StoreCheck.h"
#include "AuditCheck.h"
#include "EveryEvent.h"

#include "audit/AuditLine.h"
#include "audit/SystemLog.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

// syslog(3) always sends to /dev/log, a path no test may take from the
// system. A child process that makes its working directory its root (with
// chroot, or as root of its own user namespace when it is not root) finds
// /dev/log in the case's directory instead, where the test has bound a
// datagram socket and reads what the real sink really sends. Where neither
// is allowed (an ordinary user in a chroot, or without user namespaces),
// the lines go to the system's own log, and syslog(3)'s copy on stderr
// (LOG_PERROR) is checked instead: everything but the priority, which only
// the socket shows.

using storecheck::fail;
using storecheck::mismatch;
using storecheck::readFile;
using storecheck::show;
using Kind = AuditEvent::Kind;

namespace {

enum class Root
{
    Chroot,
    UserNamespace,
    Shared // the system's own /dev/log
};

const char* describe(Root root)
{
    switch (root) {
    case Root::Chroot:
        return "chroot";
    case Root::UserNamespace:
        return "user namespace";
    case Root::Shared:
        break;
    }
    return "the system's /dev/log";
}

bool writeProcFile(const char* path, const std::string& text)
{
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool written = ::write(fd, text.data(), text.size()) == ssize_t(text.size());
    return ::close(fd) == 0 && written;
}

// Makes the working directory this process's root.
bool enterPrivateRoot(Root root)
{
    if (root == Root::UserNamespace) {
        const std::string uid = std::to_string(::geteuid());
        const std::string gid = std::to_string(::getegid());
        // Files are made only by ids the namespace maps. A process that has
        // changed its ids (root become nobody) may write its own maps only
        // once it is dumpable again.
        if (::prctl(PR_SET_DUMPABLE, 1) != 0 || ::unshare(CLONE_NEWUSER) != 0 ||
            !writeProcFile("/proc/self/setgroups", "deny") ||
            !writeProcFile("/proc/self/uid_map", "0 " + uid + " 1\n") ||
            !writeProcFile("/proc/self/gid_map", "0 " + gid + " 1\n"))
            return false;
    }
    return root == Root::Shared || ::chroot(".") == 0;
}

pid_t fork()
{
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0)
        fail(__FILE__, __LINE__, "fork");
    return child;
}

int wait(pid_t child)
{
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

// Each way is tried in a child of its own, so a half-made namespace dies
// with it.
Root privateRoot()
{
    for (Root root : {Root::Chroot, Root::UserNamespace}) {
        const pid_t child = fork();
        if (child == 0)
            ::_exit(enterPrivateRoot(root) ? 0 : 1);
        const int status = wait(child);
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
            return root;
    }
    std::printf("  note: neither chroot nor a user namespace is allowed here: the lines go to "
                "the system's own /dev/log\n");
    return Root::Shared;
}

// A datagram socket bound at dev/log in the working directory.
int bindLogSocket()
{
    if (::mkdir("dev", 0755) != 0 && errno != EEXIST)
        fail(__FILE__, __LINE__, "mkdir dev");
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "dev/log");
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        fail(__FILE__, __LINE__, std::string("binding dev/log: ") + std::strerror(errno));
    return fd;
}

void receiveWaiting(int fd, std::vector<std::string>& datagrams)
{
    std::string buffer(1 << 16, '\0');
    for (;;) {
        const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (n < 0)
            return;
        datagrams.push_back(buffer.substr(0, static_cast<std::size_t>(n)));
    }
}

struct ChildRun
{
    pid_t pid = 0;
    int status = 0;
    std::vector<std::string> datagrams;
    std::string stderrText;
};

// Runs `body` in a child that has entered `root` and writes its stderr to
// the file stderr.txt; reads `logFd` (when given) while the child runs, as a
// daemon would, so the child never waits on a full socket.
ChildRun runInChild(Root root, int logFd, const std::function<void()>& body)
{
    const pid_t child = fork();
    if (child == 0) {
        int status = 3;
        const int err = ::open("stderr.txt", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (err >= 0 && ::dup2(err, 2) == 2 && enterPrivateRoot(root)) {
            try {
                body();
                status = 0;
            } catch (...) {
                status = 1;
            }
        }
        std::fflush(nullptr);
        ::_exit(status);
    }

    ChildRun run;
    run.pid = child;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    for (;;) {
        if (logFd >= 0) {
            pollfd waiting{logFd, POLLIN, 0};
            if (::poll(&waiting, 1, 50) > 0)
                receiveWaiting(logFd, run.datagrams);
        } else {
            ::usleep(20000);
        }
        const pid_t done = ::waitpid(child, &run.status, WNOHANG);
        if (done == child)
            break;
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            wait(child);
            fail(__FILE__, __LINE__, "the child hung: a log line blocked?");
        }
    }
    if (logFd >= 0)
        receiveWaiting(logFd, run.datagrams);
    run.stderrText = readFile("stderr.txt");
    if (!WIFEXITED(run.status) || WEXITSTATUS(run.status) != 0)
        fail(__FILE__, __LINE__,
             std::string("the child failed (") + describe(root) + "): " + run.stderrText);
    return run;
}

// Hands each event to the real sink, timing it.
struct TimingSink : AuditSink
{
    AuditSink& real;
    int count = 0;
    std::chrono::steady_clock::duration slowest{};
    explicit TimingSink(AuditSink& sink) : real(sink) {}
    void record(const AuditEvent& event) override
    {
        const auto start = std::chrono::steady_clock::now();
        real.record(event);
        slowest = std::max(slowest, std::chrono::steady_clock::now() - start);
        ++count;
    }
};

// Hands each event to the real sink and keeps it.
struct TeeSink : AuditSink
{
    AuditSink& real;
    std::vector<AuditEvent> seen;
    explicit TeeSink(AuditSink& sink) : real(sink) {}
    void record(const AuditEvent& event) override
    {
        seen.push_back(event);
        real.record(event);
    }
};

std::vector<std::string> split(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    if (start < text.size())
        lines.push_back(text.substr(start));
    return lines;
}

// What the sink sends, checked in the working directory.
void checkWhatReachesTheLog()
{
    const Root root = privateRoot();
    const int logFd = root == Root::Shared ? -1 : bindLogSocket();
    char* here = ::getcwd(nullptr, 0);
    CHECK(here != nullptr);
    // The sink names the table by its full path; in the private root the
    // case's directory is "/".
    const std::string table =
        root == Root::Shared ? std::string(here) + "/Gatekeep.acl" : std::string("/Gatekeep.acl");
    std::free(here);

    const ChildRun run = runInChild(root, logFd, [&] {
        const std::unique_ptr<AuditSink> sink = makeSystemLogSink();
        if (root == Root::Shared)
            ::openlog(nullptr, LOG_PID | LOG_NDELAY | LOG_PERROR, LOG_AUTHPRIV);
        TeeSink tee(*sink);
        everyevent::run(&tee);
        // What each event should have become: its kind and its line.
        std::string expected;
        for (AuditEvent event : tee.seen) {
            event.table = table;
            // A copy named relatively is named in full too, in the table's
            // folder here.
            if (!event.copy.empty())
                event.copy = table.substr(0, table.rfind('/') + 1) + event.copy;
            expected +=
                std::to_string(static_cast<int>(event.kind)) + " " + auditLine(event) + "\n";
        }
        storecheck::writeFile("expected.txt", expected);
    });
    if (logFd >= 0)
        ::close(logFd);

    std::vector<std::string> messages = run.datagrams;
    if (root == Root::Shared)
        messages = split(run.stderrText);
    const std::vector<std::string> expected = split(readFile("expected.txt"));
    CHECK(expected.size() >= 15);
    if (messages.size() != expected.size())
        fail(__FILE__, __LINE__,
             std::to_string(messages.size()) + " messages for " + std::to_string(expected.size()) +
                 " events: " + show(messages));

    const std::string tag = std::string(SystemLogIdent) + "[" + std::to_string(run.pid) + "]: ";
    bool sawCraftedName = false;
    for (std::size_t i = 0; i < messages.size(); ++i) {
        const std::string& message = messages[i];
        const std::size_t space = expected[i].find(' ');
        const auto kind = static_cast<Kind>(std::stoi(expected[i].substr(0, space)));
        const std::string line = expected[i].substr(space + 1);
        CHECK(auditcheck::isCleanUtf8Line(message));
        for (const std::string& secret : everyevent::Secrets)
            CHECK(message.find(secret) == std::string::npos);

        std::string afterHeader = message;
        if (root != Root::Shared) {
            // authpriv (10) * 8 + warning (4) or notice (5)
            const bool warning = kind == Kind::SignInRefused || kind == Kind::ChangeRefused ||
                                 kind == Kind::SaveFailed;
            const std::string pri = warning ? "<84>" : "<85>";
            if (message.compare(0, pri.size(), pri) != 0)
                fail(__FILE__, __LINE__, "expected " + pri + ": " + show(message));
            // Then the time as RFC 3164 has it, "Mmm dd hh:mm:ss", and a blank.
            const std::size_t ident = pri.size() + 16;
            CHECK(message.compare(ident - 1, 1, " ") == 0);
            afterHeader = message.substr(std::min(ident, message.size()));
        }
        if (afterHeader != tag + line)
            fail(__FILE__, __LINE__, mismatch(afterHeader, tag + line));
        sawCraftedName = sawCraftedName ||
                         message.find("target=\"M\\x0asign-in \\\"\xc3\xa9\xe2\x82\xac\\x81\"") !=
                             std::string::npos;
    }
    CHECK(sawCraftedName);
}

} // namespace

TEST(EveryEventReachesTheLogSocketAsOneLine)
{
    CHECK(::mkdir("own", 0755) == 0 && ::chdir("own") == 0);
    checkWhatReachesTheLog();
    CHECK(::chdir("..") == 0);
    // Root takes a plain chroot; this is the way an ordinary user goes.
    if (::geteuid() == 0) {
        CHECK(::mkdir("ordinary", 0755) == 0);
        storecheck::runAsOrdinaryUser([] {
            CHECK(::chdir("ordinary") == 0);
            checkWhatReachesTheLog();
        });
    }
}

TEST(WithoutADaemonTheProgramWorksAsBeforeAndSilently)
{
    struct Row
    {
        const char* name;
        bool deadSocket; // a socket is there, but nobody reads it
    };
    std::vector<Row> rows = {{"no-dev-log", false}, {"dead-socket", true}};
    const Root root = privateRoot();
    if (root == Root::Shared)
        rows = {{"system-dev-log", false}};
    for (const Row& row : rows) {
        CHECK(::mkdir(row.name, 0755) == 0 && ::chdir(row.name) == 0);
        if (row.deadSocket)
            ::close(bindLogSocket());
        const ChildRun run = runInChild(root, -1, [] {
            const std::unique_ptr<AuditSink> sink = makeSystemLogSink();
            TimingSink timing(*sink);
            everyevent::run(&timing);
            const auto slowest =
                std::chrono::duration_cast<std::chrono::milliseconds>(timing.slowest);
            storecheck::writeFile("timing.txt", std::to_string(timing.count) + " " +
                                                    std::to_string(slowest.count()));
        });
        CHECK_EQ(run.stderrText, std::string());
        const std::string timing = readFile("timing.txt");
        const std::size_t space = timing.find(' ');
        CHECK(std::stoi(timing.substr(0, space)) >= 14);
        // A line that waited for a daemon would wait for good; a second is
        // far more than a failed connect takes.
        const int slowestMs = std::stoi(timing.substr(space + 1));
        if (slowestMs >= 1000)
            fail(__FILE__, __LINE__,
                 std::string(row.name) + ": a line took " + std::to_string(slowestMs) + " ms");
        CHECK(::chdir("..") == 0);
    }
}
