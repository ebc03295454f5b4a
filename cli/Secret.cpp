#include "Secret.h"

#include "session/StoredText.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <utility>

#include <termios.h>
#include <unistd.h>

namespace {

enum class LineEnd
{
    Read,    // a line end, or the end of input
    TooLong, // more than MaxPasswordLine bytes without a line end
    Failed,  // the read failed; errno says why
};

// A byte at a time, so nothing past the line is taken from a shared input.
// Every source ends a line alike: LF, or CR LF as lines written on Windows
// end; a CR just before the end of input goes too.
LineEnd readLine(int fd, std::string& line)
{
    line.clear();
    char c;
    for (;;) {
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return LineEnd::Failed;
        if (n == 0 || c == '\n')
            break;
        // A stream without line ends (/dev/zero) would be read for ever.
        if (line.size() == SecretReader::MaxPasswordLine)
            return LineEnd::TooLong;
        line += c;
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return LineEnd::Read;
}

// Safe in a signal handler.
void writeAll(int fd, const char* text, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, text + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

// What the handlers below work with, set before they are installed: the
// terminal as it was before echo was turned off, the same without echo, and
// the prompt to show again when the program is brought back to the
// foreground after the shell has written its own lines.
struct termios savedTerminal;
struct termios quietTerminal;
int terminalFd = STDIN_FILENO;
const char* promptText = nullptr;
std::size_t promptSize = 0;
bool promptAgain = false;
volatile std::sig_atomic_t promptShown = 0;

constexpr int Handled[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP, SIGCONT};
constexpr std::size_t HandledCount = sizeof Handled / sizeof Handled[0];

// The modes belong to the foreground job: a job put in the background
// leaves them to the shell that now holds the terminal (and would be stopped
// for touching them). A terminal that is not the controlling one has no
// foreground to yield to.
bool ownsTerminal()
{
    const pid_t foreground = ::tcgetpgrp(terminalFd);
    return foreground == ::getpgrp() || (foreground < 0 && errno == ENOTTY);
}

void setTerminal(const struct termios& modes)
{
    if (ownsTerminal())
        ::tcsetattr(terminalFd, TCSANOW, &modes);
}

// The signal's own default action, so the shell sees how the program ended
// or that it stopped.
void raiseByDefault(int signal, struct sigaction* previous)
{
    struct sigaction byDefault = {};
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);
    ::sigaction(signal, &byDefault, previous);
    sigset_t just;
    sigemptyset(&just);
    sigaddset(&just, signal);
    ::sigprocmask(SIG_UNBLOCK, &just, nullptr);
    ::raise(signal);
}

void endBySignal(int signal)
{
    setTerminal(savedTerminal);
    raiseByDefault(signal, nullptr);
}

// Stopped, the program leaves the terminal as it found it to whoever takes
// it over; continued, it finds it as they left it (a shell turns echo back
// on when a job stops), so echo goes off again.
void suspend(int signal)
{
    const int error = errno;
    setTerminal(savedTerminal);
    struct sigaction own;
    raiseByDefault(signal, &own);
    // Continued, or never stopped: in an orphaned process group the stop is
    // dropped, as nobody would be left to continue it.
    ::sigaction(signal, &own, nullptr);
    setTerminal(quietTerminal);
    errno = error;
}

// Echo off again whenever the program continues in the foreground, also
// after a stop it could not catch (SIGSTOP, or SIGTTIN for reading in the
// background), and the prompt again below what the shell wrote meanwhile.
void resume(int)
{
    const int error = errno;
    if (ownsTerminal()) {
        ::tcsetattr(terminalFd, TCSANOW, &quietTerminal);
        if (promptShown && promptAgain)
            writeAll(STDERR_FILENO, promptText, promptSize);
    }
    errno = error;
}

LineEnd readWithoutEcho(int fd, const std::string& prompt, std::string& line)
{
    // A job started in the background is stopped here until it has the
    // terminal, so what it saves are not the modes of, say, the shell's
    // line editor.
    ::tcdrain(fd);
    if (::tcgetattr(fd, &savedTerminal) != 0)
        return readLine(fd, line);
    terminalFd = fd;
    quietTerminal = savedTerminal;
    quietTerminal.c_lflag &= static_cast<tcflag_t>(~ECHO);
    // The Enter still moves the cursor to the next line.
    quietTerminal.c_lflag |= ECHONL;
    promptText = prompt.data();
    promptSize = prompt.size();
    promptAgain = ::isatty(STDERR_FILENO);
    promptShown = 0;

    sigset_t handled;
    sigemptyset(&handled);
    for (int signal : Handled)
        sigaddset(&handled, signal);
    struct sigaction previous[HandledCount];
    bool installed[HandledCount] = {};
    for (std::size_t i = 0; i < HandledCount; ++i) {
        const int signal = Handled[i];
        struct sigaction action = {};
        action.sa_handler = signal == SIGTSTP ? suspend : signal == SIGCONT ? resume : endBySignal;
        // One handler at a time, so none turns echo off again after another
        // has put the terminal back to end the program.
        action.sa_mask = handled;
        action.sa_flags = SA_RESTART;
        ::sigaction(signal, nullptr, &previous[i]);
        // What the caller ignores (nohup, a background job without job
        // control) stays ignored; a continue happens whatever SIGCONT's
        // action, so its handler is always wanted.
        if (previous[i].sa_handler == SIG_IGN && signal != SIGCONT)
            continue;
        installed[i] = ::sigaction(signal, &action, nullptr) == 0;
    }

    ::tcsetattr(fd, TCSAFLUSH, &quietTerminal);
    // A stop as soon as the prompt shows must find it recorded as shown, so
    // that it is shown again on return.
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTSTP);
    sigaddset(&stops, SIGCONT);
    sigset_t unstopped;
    ::sigprocmask(SIG_BLOCK, &stops, &unstopped);
    writeAll(STDERR_FILENO, prompt.data(), prompt.size());
    promptShown = 1;
    ::sigprocmask(SIG_SETMASK, &unstopped, nullptr);
    const LineEnd end = readLine(fd, line);
    // What follows a line too long stays unread: the shell must not take it
    // for a command.
    if (end == LineEnd::TooLong)
        ::tcflush(fd, TCIFLUSH);

    // Held back until the terminal is as it was and the caller's actions are
    // back, then taken as the caller would have taken them.
    sigset_t before;
    ::sigprocmask(SIG_BLOCK, &handled, &before);
    setTerminal(savedTerminal);
    for (std::size_t i = 0; i < HandledCount; ++i) {
        if (installed[i])
            ::sigaction(Handled[i], &previous[i], nullptr);
    }
    ::sigprocmask(SIG_SETMASK, &before, nullptr);
    return end;
}

} // namespace

bool SecretReader::atTerminal(int fd) const
{
    return ::isatty(fd) != 0;
}

PasswordLine SecretReader::read(const std::string& prompt, int fd)
{
    std::string line;
    // The prompt may name what the person typed, a user name with an escape
    // in it, say: shown, never obeyed by the terminal.
    const std::string shownPrompt = visibleText(prompt);
    const LineEnd end = ::isatty(fd) ? readWithoutEcho(fd, shownPrompt, line) : readLine(fd, line);
    if (end == LineEnd::Read)
        return {std::move(line), {}};
    const int error = errno;
    // Never a byte of what was read: it may be most of a password.
    line.assign(line.size(), '\0');
    const std::string source = fd == STDIN_FILENO ? std::string("standard input")
                                                  : "file descriptor " + std::to_string(fd);
    if (end == LineEnd::TooLong)
        return {std::nullopt, source + ": no line end within " + std::to_string(MaxPasswordLine) +
                                  " bytes, far more than any password; nothing was written."};
    return {std::nullopt, source + ": " + std::strerror(error)};
}
