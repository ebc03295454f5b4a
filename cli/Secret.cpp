#include "Secret.h"

#include <cerrno>
#include <csignal>
#include <cstring>

#include <termios.h>
#include <unistd.h>

namespace {

// A byte at a time, so nothing past the line is taken from a shared input.
std::string ReadLine(int fd)
{
    std::string line;
    char c;
    for (;;) {
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || c == '\n')
            break;
        line += c;
    }
    // Lines written on Windows end in CR LF.
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

void WriteAll(int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

// The terminal as it was before echo was turned off, for a signal to put
// back before the program ends.
struct termios savedTerminal;
constexpr int Interrupts[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
struct sigaction savedActions[sizeof Interrupts / sizeof Interrupts[0]];

void RestoreAndRaise(int signal)
{
    ::tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

std::string ReadWithoutEcho(const std::string& prompt)
{
    if (::tcgetattr(STDIN_FILENO, &savedTerminal) != 0)
        return ReadLine(STDIN_FILENO);
    struct sigaction action
    {
    };
    action.sa_handler = RestoreAndRaise;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < sizeof Interrupts / sizeof Interrupts[0]; ++i)
        ::sigaction(Interrupts[i], &action, &savedActions[i]);

    struct termios quiet = savedTerminal;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    // The Enter still moves the cursor to the next line.
    quiet.c_lflag |= ECHONL;
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    WriteAll(STDERR_FILENO, prompt);
    std::string line = ReadLine(STDIN_FILENO);
    ::tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);

    for (std::size_t i = 0; i < sizeof Interrupts / sizeof Interrupts[0]; ++i)
        ::sigaction(Interrupts[i], &savedActions[i], nullptr);
    return line;
}

} // namespace

bool SecretReader::AtTerminal() const
{
    return ::isatty(STDIN_FILENO) != 0;
}

std::string SecretReader::Read(const std::string& prompt)
{
    if (::isatty(STDIN_FILENO))
        return ReadWithoutEcho(prompt);
    return ReadLine(STDIN_FILENO);
}
