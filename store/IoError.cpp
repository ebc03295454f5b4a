#include "IoError.h"

#include <cerrno>

IoError::IoError(int code) : std::runtime_error(ioErrorText(code)), m_code(code) {}

IoError::IoError(int code, const std::string& message) : std::runtime_error(message), m_code(code)
{
}

std::string ioErrorText(int code)
{
    switch (code) {
    case 2:
        return "File not found";
    case 3:
        return "Invalid filename";
    case 4:
        return "Too many open files";
    case 5:
        return "File access denied";
    case 32:
        return "File locked by another writer";
    case 100:
        return "Read beyond end of file";
    case 101:
        return "Disk full";
    default:
        return "I/O error " + std::to_string(code);
    }
}

int ioCodeFromErrno(int err)
{
    switch (err) {
    case ENOENT:
        return 2;
    case ENAMETOOLONG:
    case EINVAL:
        return 3;
    case EMFILE:
    case ENFILE:
        return 4;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return 5;
    case ENOSPC:
    case EFBIG:
    case EDQUOT:
        return 101;
    default:
        break;
    }
    // An errno that shares its number with one of the codes above (EIO is 5)
    // would otherwise be reported as something it is not.
    switch (err) {
    case 2:
    case 3:
    case 4:
    case 5:
    case 32:
    case 100:
    case 101:
        return 1000 + err;
    default:
        return err;
    }
}
