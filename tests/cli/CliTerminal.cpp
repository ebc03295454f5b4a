#include "CliTerminal.h"

#include "CliRun.h"

#include "../store/StoreCheck.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int PatienceMs = 60000;

void tell(int fd, const std::string& line)
{
    const std::string text = line + "\n";
    (void)!::write(fd, text.data(), text.size());
}

// Started in a child of the test, never returns. Only the test's side of
// the pipes is closed here; everything the test holds is close-on-exec, so
// the job gets none of it.
[[noreturn]] void standInShell(const std::string& terminal, TerminalJob::Start start,
                               const termios& shellModes, int changes, int commands,
                               std::vector<std::string> argv, const std::string& home)
{
    ::setsid();
    const int tty = ::open(terminal.c_str(), O_RDWR | O_CLOEXEC);
    if (tty < 0 || ::ioctl(tty, TIOCSCTTY, 0) != 0)
        ::_exit(126);
    // A shell hands the terminal to its jobs and takes it back while in the
    // background itself.
    ::signal(SIGTTOU, SIG_IGN);
    const bool foreground = start == TerminalJob::Start::Foreground;
    if (!foreground) {
        termios editing = shellModes;
        editing.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
        ::tcsetattr(tty, TCSANOW, &editing);
    }

    std::vector<char*> pointers;
    for (std::string& argument : argv)
        pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    const pid_t job = ::fork();
    if (job < 0)
        ::_exit(125);
    if (job == 0) {
        // Either side may get here first.
        ::setpgid(0, 0);
        if (foreground)
            ::tcsetpgrp(tty, ::getpid());
        // A job of an interactive shell: nothing ignored or blocked, even
        // when the test itself runs in the background of a script, and a
        // signal that would dump core leaves none in the test's folder.
        for (int number = 1; number < NSIG; ++number)
            ::signal(number, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        const rlimit noCore{0, 0};
        ::setrlimit(RLIMIT_CORE, &noCore);
        for (int fd = 0; fd <= 2; ++fd)
            ::dup2(tty, fd);
        ::setenv("HOME", home.c_str(), 1);
        ::unsetenv("XDG_DATA_HOME");
        ::execv(pointers[0], pointers.data());
        ::_exit(127);
    }
    ::setpgid(job, job);
    if (foreground)
        ::tcsetpgrp(tty, job);
    tell(changes, std::to_string(job));

    for (;;) {
        int status = 0;
        if (::waitpid(job, &status, WNOHANG | WUNTRACED | WCONTINUED) == job) {
            if (WIFSTOPPED(status)) {
                tell(changes, "stopped " + std::to_string(WSTOPSIG(status)));
            } else if (WIFCONTINUED(status)) {
                tell(changes, "continued");
            } else {
                tell(changes, WIFEXITED(status) ? "exited " + std::to_string(WEXITSTATUS(status))
                                                : "killed " + std::to_string(WTERMSIG(status)));
                ::_exit(0);
            }
            continue;
        }
        pollfd wait{commands, POLLIN, 0};
        if (::poll(&wait, 1, 10) <= 0)
            continue;
        char command = 0;
        if (::read(commands, &command, 1) != 1) {
            // The test has gone.
            ::kill(job, SIGKILL);
            ::_exit(0);
        }
        ::tcsetattr(tty, TCSANOW, &shellModes);
        ::tcsetpgrp(tty, command == 'f' ? job : ::getpgrp());
        ::kill(-job, SIGCONT);
    }
}

void closeFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

TerminalJob::TerminalJob(const std::vector<std::string>& arguments, Start start)
{
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0 || ::fcntl(m_master, F_SETFD, FD_CLOEXEC) != 0 || ::grantpt(m_master) != 0 ||
        ::unlockpt(m_master) != 0)
        storecheck::fail(__FILE__, __LINE__, "no pseudo-terminal");
    const std::string terminal = ::ptsname(m_master);
    m_terminal = ::open(terminal.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_terminal < 0 || ::tcgetattr(m_terminal, &m_shellModes) != 0)
        storecheck::fail(__FILE__, __LINE__, "cannot open " + terminal);
    int changes[2];
    int commands[2];
    if (::pipe2(changes, O_CLOEXEC) != 0 || ::pipe2(commands, O_CLOEXEC) != 0)
        storecheck::fail(__FILE__, __LINE__, "pipe");
    char* cwd = ::getcwd(nullptr, 0);
    const std::string home = std::string(cwd ? cwd : ".") + "/home";
    std::free(cwd);
    std::vector<std::string> argv = {cliProgram()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());

    std::fflush(nullptr);
    m_shell = ::fork();
    if (m_shell < 0)
        storecheck::fail(__FILE__, __LINE__, "fork");
    if (m_shell == 0) {
        ::close(changes[0]);
        ::close(commands[1]);
        standInShell(terminal, start, m_shellModes, changes[1], commands[0], argv, home);
    }
    ::close(changes[1]);
    ::close(commands[0]);
    m_changes = changes[0];
    m_commands = commands[1];
    try {
        const std::string job = nextChange();
        m_job = static_cast<pid_t>(std::atol(job.c_str()));
        if (m_job <= 0)
            storecheck::fail(__FILE__, __LINE__, "the stand-in shell started no job: " + job);
    } catch (...) {
        release();
        throw;
    }
}

TerminalJob::~TerminalJob()
{
    release();
}

void TerminalJob::release()
{
    if (m_job > 0 && !m_ended)
        ::kill(m_job, SIGKILL);
    // The stand-in shell ends with its job, or when it finds the test gone.
    closeFd(m_commands);
    int status;
    while (m_shell > 0 && ::waitpid(m_shell, &status, 0) < 0 && errno == EINTR) {
    }
    m_shell = -1;
    closeFd(m_changes);
    closeFd(m_terminal);
    closeFd(m_master);
}

void TerminalJob::type(const std::string& keys)
{
    if (::write(m_master, keys.data(), keys.size()) != static_cast<ssize_t>(keys.size()))
        storecheck::fail(__FILE__, __LINE__, "the terminal took not all keys");
}

void TerminalJob::send(int signal)
{
    if (::kill(m_job, signal) != 0)
        storecheck::fail(__FILE__, __LINE__, "kill");
}

void TerminalJob::foreground()
{
    command('f');
}

void TerminalJob::background()
{
    command('b');
}

void TerminalJob::command(char command)
{
    if (::write(m_commands, &command, 1) != 1)
        storecheck::fail(__FILE__, __LINE__, "the stand-in shell has gone");
}

std::string TerminalJob::waitFor(const std::string& text)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(PatienceMs);
    std::size_t found;
    while ((found = m_screen.find(text)) == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
        pollfd wait{m_master, POLLIN, 0};
        if (::poll(&wait, 1, 100) <= 0)
            continue;
        char buffer[256];
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n > 0)
            m_screen.append(buffer, static_cast<std::size_t>(n));
    }
    if (found == std::string::npos)
        storecheck::fail(__FILE__, __LINE__,
                         "the screen shows " + storecheck::show(m_screen) + ", never " +
                             storecheck::show(text));
    const std::string shown = m_screen.substr(0, found + text.size());
    m_screen.erase(0, shown.size());
    return shown;
}

std::string TerminalJob::nextChange()
{
    std::size_t end;
    while ((end = m_pending.find('\n')) == std::string::npos) {
        pollfd wait{m_changes, POLLIN, 0};
        const int ready = ::poll(&wait, 1, PatienceMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            storecheck::fail(__FILE__, __LINE__, "the job did not change");
        char buffer[64];
        const ssize_t n = ::read(m_changes, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            storecheck::fail(__FILE__, __LINE__, "the stand-in shell has gone");
        m_pending.append(buffer, static_cast<std::size_t>(n));
    }
    const std::string change = m_pending.substr(0, end);
    m_pending.erase(0, end + 1);
    if (change.rfind("exited ", 0) == 0 || change.rfind("killed ", 0) == 0)
        m_ended = true;
    return change;
}

termios TerminalJob::modes() const
{
    termios modes{};
    if (::tcgetattr(m_terminal, &modes) != 0)
        storecheck::fail(__FILE__, __LINE__, "tcgetattr");
    return modes;
}

bool sameModes(const termios& actual, const termios& expected)
{
    return actual.c_iflag == expected.c_iflag && actual.c_oflag == expected.c_oflag &&
           actual.c_lflag == expected.c_lflag;
}
