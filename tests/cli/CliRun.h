#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

// Runs the built larkledger-security-cli as a script would: standard input
// a pipe (never a terminal), standard output and error captured. The child
// runs in the current working directory with HOME set to ./home there and
// XDG_DATA_HOME unset, so nobody's real data folder is touched.

struct CliResult
{
    int status = -1; // the exit status, or -1 when it did not exit
    std::string out;
    std::string err;
};

class CliProcess
{
public:
    // `environment`: "NAME=value" to set, "NAME" to unset, after the
    // defaults above.
    explicit CliProcess(const std::vector<std::string>& arguments,
                        const std::vector<std::string>& environment = {});
    ~CliProcess();
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    void write(const std::string& input);
    // Waits until the program has read everything written so far.
    void waitUntilRead();
    // Closes standard input and collects what the program wrote and how it
    // ended.
    CliResult finish();

private:
    pid_t m_child = -1;
    int m_input = -1;
    int m_output = -1;
    int m_error = -1;
};

CliResult runCli(const std::vector<std::string>& arguments, const std::string& input = "",
                 const std::vector<std::string>& environment = {});

// The path of the copy of the program that the cases run.
const char* cliProgram();
