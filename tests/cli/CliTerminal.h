#pragma once

#include <string>
#include <vector>

#include <sys/types.h>
#include <termios.h>

// Runs the built larkledger-security-cli as a job of an interactive shell: a
// fresh pseudo-terminal is its controlling terminal and its standard input,
// output and error; the test types at it and reads the screen. A stand-in
// shell leads the terminal's session and is the job's parent, so the job's
// process group is not orphaned and a stop from the keyboard stops it as at
// a real shell; it hands the terminal over and takes it back as `fg` and
// `bg` do, and reports every change of the job's state. The job runs in the
// current working directory with HOME set to ./home there and XDG_DATA_HOME
// unset, like CliProcess.
class TerminalJob
{
public:
    enum class Start
    {
        Foreground,
        // As `program &` while the shell's line editor has the terminal,
        // echo and line editing off.
        Background,
    };

    explicit TerminalJob(const std::vector<std::string>& arguments,
                         Start start = Start::Foreground);
    ~TerminalJob();
    TerminalJob(const TerminalJob&) = delete;
    TerminalJob& operator=(const TerminalJob&) = delete;

    // Keys as the keyboard sends them; "\x1a" is Ctrl-Z.
    void type(const std::string& keys);
    void send(int signal);
    // As `fg` and `bg` do: the shell's modes back on the terminal, which
    // echo, the terminal to the job or to the shell, then SIGCONT.
    void foreground();
    void background();

    // Waits until the screen shows `text`; returns what it showed from where
    // the last wait ended up to the end of `text`.
    std::string waitFor(const std::string& text);
    // Waits for the job's next change of state: "stopped N", "continued",
    // "exited N" or "killed N", N a signal number or an exit status.
    std::string nextChange();

    termios modes() const;
    // The terminal's modes as the shell keeps them, those it started with.
    const termios& shellModes() const { return m_shellModes; }

private:
    void command(char command);
    void release();

    int m_master = -1;
    int m_terminal = -1; // the job's side of the terminal, held to look at its modes
    int m_changes = -1;
    int m_commands = -1;
    pid_t m_shell = -1;
    pid_t m_job = -1;
    bool m_ended = false;
    termios m_shellModes{};
    std::string m_screen;  // shown but not yet waited for
    std::string m_pending; // reported but not yet a whole line
};

// The same modes: what echoes, what is translated, what the Enter does.
bool sameModes(const termios& actual, const termios& expected);
