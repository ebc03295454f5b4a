#pragma once

#include <stdexcept>
#include <string>

// The one error every failing file step of the store raises.
class IoError : public std::runtime_error
{
public:
    explicit IoError(int code);
    int code() const { return m_code; }

private:
    int m_code;
};

// 2 "File not found", 3 "Invalid filename", 4 "Too many open files",
// 5 "File access denied", 100 "Read beyond end of file", 101 "Disk full",
// anything else "I/O error <code>".
std::string IoErrorText(int code);

// Maps a platform errno onto the codes above.
int IoCodeFromErrno(int err);
