#include "CliRun.h"

#include "../store/StoreCheck.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

void makePipe(int ends[2])
{
    if (::pipe2(ends, O_CLOEXEC) != 0)
        storecheck::fail(__FILE__, __LINE__, "pipe");
}

void closeFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// Cases run the program as nobody too.
storecheck::ProgramCopy Program(LARK_CLI_PROGRAM);

} // namespace

const char* cliProgram()
{
    return Program.path().c_str();
}

CliProcess::CliProcess(const std::vector<std::string>& arguments,
                       const std::vector<std::string>& environment)
{
    // A program that ends without reading its input must not end the test.
    ::signal(SIGPIPE, SIG_IGN);
    int input[2];
    int output[2];
    int error[2];
    makePipe(input);
    makePipe(output);
    makePipe(error);
    char* cwd = ::getcwd(nullptr, 0);
    const std::string home = std::string(cwd ? cwd : ".") + "/home";
    std::free(cwd);

    std::vector<std::string> argv = {cliProgram()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> pointers;
    for (std::string& argument : argv)
        pointers.push_back(argument.data());
    pointers.push_back(nullptr);

    std::fflush(nullptr);
    m_child = ::fork();
    if (m_child < 0)
        storecheck::fail(__FILE__, __LINE__, "fork");
    if (m_child == 0) {
        ::dup2(input[0], STDIN_FILENO);
        ::dup2(output[1], STDOUT_FILENO);
        ::dup2(error[1], STDERR_FILENO);
        ::setenv("HOME", home.c_str(), 1);
        ::unsetenv("XDG_DATA_HOME");
        for (const std::string& setting : environment) {
            const std::size_t equals = setting.find('=');
            if (equals == std::string::npos)
                ::unsetenv(setting.c_str());
            else
                ::setenv(setting.substr(0, equals).c_str(), setting.substr(equals + 1).c_str(), 1);
        }
        ::execv(pointers[0], pointers.data());
        ::_exit(127);
    }
    ::close(input[0]);
    ::close(output[1]);
    ::close(error[1]);
    m_input = input[1];
    m_output = output[0];
    m_error = error[0];
}

CliProcess::~CliProcess()
{
    if (m_child > 0) {
        closeFd(m_input);
        closeFd(m_output);
        closeFd(m_error);
        ::kill(m_child, SIGKILL);
        int status;
        ::waitpid(m_child, &status, 0);
    }
}

void CliProcess::write(const std::string& input)
{
    std::size_t done = 0;
    while (done < input.size()) {
        const ssize_t n = ::write(m_input, input.data() + done, input.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return; // the program has stopped reading
        done += static_cast<std::size_t>(n);
    }
}

void CliProcess::waitUntilRead()
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (;;) {
        int waiting = 0;
        if (::ioctl(m_input, FIONREAD, &waiting) != 0)
            storecheck::fail(__FILE__, __LINE__, "FIONREAD on the program's input");
        if (waiting == 0)
            return;
        if (std::chrono::steady_clock::now() > deadline)
            storecheck::fail(__FILE__, __LINE__, "the program did not read its input");
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

CliResult CliProcess::finish()
{
    closeFd(m_input);
    CliResult result;
    pollfd fds[2] = {{m_output, POLLIN, 0}, {m_error, POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    while (open > 0) {
        const int ready = ::poll(fds, 2, 60000);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            storecheck::fail(__FILE__, __LINE__, "the program did not finish");
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    m_output = -1;
    m_error = -1;
    int status = 0;
    while (::waitpid(m_child, &status, 0) < 0 && errno == EINTR) {
    }
    m_child = -1;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

CliResult runCli(const std::vector<std::string>& arguments, const std::string& input,
                 const std::vector<std::string>& environment)
{
    CliProcess process(arguments, environment);
    process.write(input);
    return process.finish();
}
