#pragma once

#include <cstddef>
#include <optional>
#include <string>

// A password read: the line, or, without one, why the read failed (for
// people, naming the source).
struct PasswordLine
{
    std::optional<std::string> text;
    std::string failure;
};

// Passwords come from the terminal without echo, or, from a descriptor that
// is not a terminal (standard input, or one named by --password-fd or
// --new-password-fd), one a line, so a script can pipe them in. A
// descriptor that is a terminal is read as standard input at a terminal is:
// without echo, behind a prompt. Echo stays off for as long as the program
// waits, however often it is stopped and continued, and the terminal is put
// back as it was however the wait ends (a line, end of input, or a signal
// that ends the program).
class SecretReader
{
public:
    // A line longer than this is no password (8 characters of at most 3
    // bytes each, with room for blanks around them): reading stops there.
    static constexpr std::size_t MaxPasswordLine = 256;

    // The next password from `fd` (0: standard input) without its line end
    // (LF or CR LF); empty when there is none. `prompt` is shown on a
    // terminal only. No text, only the failure, when the read fails or
    // finds no line end within MaxPasswordLine bytes.
    PasswordLine read(const std::string& prompt, int fd = 0);
    // Whether `fd` is a terminal, where a new password is asked twice.
    bool atTerminal(int fd = 0) const;
};
