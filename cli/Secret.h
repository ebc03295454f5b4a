#pragma once

#include <string>

// Passwords come from the terminal without echo, or, when standard input is
// not a terminal, one a line from it, so a script can pipe them in. Echo
// stays off for as long as the program waits, however often it is stopped
// and continued, and the terminal is put back as it was however the wait
// ends (a line, end of input, or a signal that ends the program).
class SecretReader
{
public:
    // The next password without its line end; empty when there is none.
    // `prompt` is shown on a terminal only.
    std::string Read(const std::string& prompt);
    // Whether passwords come from a terminal, where a new one is asked twice.
    bool AtTerminal() const;
};
