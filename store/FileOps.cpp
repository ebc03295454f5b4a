#include "FileOps.h"

#include "IoError.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace fileops {

int openRetrying(const char* path, int flags, mode_t mode)
{
    int fd;
    do {
        fd = ::open(path, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

void closeQuietly(int fd)
{
    const int saved = errno;
    ::close(fd);
    errno = saved;
}

void throwErrno(int err)
{
    throw IoError(ioCodeFromErrno(err));
}

std::string folderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string nameOf(const std::string& path)
{
    return path.substr(folderOf(path).size());
}

namespace {

std::string readLink(const std::string& path)
{
    std::string target(256, '\0');
    for (;;) {
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n < 0)
            throwErrno(errno);
        if (static_cast<std::size_t>(n) < target.size()) {
            target.resize(static_cast<std::size_t>(n));
            return target;
        }
        target.resize(target.size() * 2);
    }
}

} // namespace

std::string resolveLinks(const std::string& path)
{
    struct stat ignored
    {
    };
    return resolveLinks(path, ignored);
}

std::string resolveLinks(const std::string& path, struct stat& st)
{
    // The kernel's own limit on links followed in one lookup.
    constexpr int MaxLinks = 40;
    std::string current = path;
    for (int hop = 0; hop <= MaxLinks; ++hop) {
        st = {};
        if (::lstat(current.c_str(), &st) != 0) {
            st = {};
            if (errno == ENOENT && hop > 0)
                throw IoError(2);
            if (errno == ENOENT)
                return current;
            throwErrno(errno);
        }
        if (!S_ISLNK(st.st_mode))
            return current;
        const std::string target = readLink(current);
        if (target.empty())
            throw IoError(2);
        current = target[0] == '/' ? target : folderOf(current) + target;
    }
    throwErrno(ELOOP);
}

const std::string& hostTag()
{
    static const std::string tag = [] {
        char name[256] = {};
        if (::gethostname(name, sizeof name - 1) != 0)
            return std::string("localhost");
        std::string safe;
        for (const char* c = name; *c != '\0'; ++c) {
            const bool plain = (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') ||
                               (*c >= '0' && *c <= '9') || *c == '-' || *c == '.';
            safe += plain ? *c : '_';
        }
        return safe.empty() ? std::string("localhost") : safe;
    }();
    return tag;
}

bool processGone(long pid)
{
    // kill() with 0 or a negative id addresses process groups, never one process.
    if (pid <= 0 || static_cast<long>(static_cast<pid_t>(pid)) != pid)
        return false;
    return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

long readPrefix(int fd, char* buffer, std::size_t size)
{
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::pread(fd, buffer + got, size - got, static_cast<off_t>(got));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return static_cast<long>(got);
}

int writeAllAt(int fd, const char* data, std::size_t size, off_t offset)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd, data + done, size - done, offset + static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return ENOSPC;
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

int syncCloseRename(int fd, int err, const std::string& from, const std::string& to)
{
    if (err == 0 && ::fsync(fd) != 0)
        err = errno;
    if (err == 0) {
        if (::close(fd) != 0 && errno != EINTR)
            err = errno;
    } else {
        closeQuietly(fd);
    }
    if (err == 0 && ::rename(from.c_str(), to.c_str()) != 0)
        err = errno;
    return err;
}

} // namespace fileops
