#pragma once

#include <string>

// Passwords come from the terminal without echo, or, when standard input is
// not a terminal, one a line from it, so a script can pipe them in.
class SecretReader
{
public:
    // The next password without its line end; empty when there is none.
    // `prompt` is shown on a terminal only.
    std::string Read(const std::string& prompt);
    // Whether passwords come from a terminal, where a new one is asked twice.
    bool AtTerminal() const;
};
