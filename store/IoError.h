#pragma once

#include <stdexcept>
#include <string>

// The one error every failing file step of the store raises.
class IoError : public std::runtime_error
{
public:
    explicit IoError(int code);
    // A fault the code's own text would not explain: `message` says what
    // happened and what to do about it, and is what what() returns.
    IoError(int code, const std::string& message);
    int code() const { return m_code; }

private:
    int m_code;
};

// 2 "File not found", 3 "Invalid filename", 4 "Too many open files",
// 5 "File access denied", 32 "File locked by another writer" (a save
// that waited its turn in vain), 100 "Read beyond end of file", 101 "Disk full",
// anything else "I/O error <code>".
std::string ioErrorText(int code);

// Maps a platform errno onto the codes above. Any other errno is its own
// code, except those whose number is one of the codes above (EIO is 5):
// they become 1000 + errno, so EIO never reads as "File access denied".
int ioCodeFromErrno(int err);
