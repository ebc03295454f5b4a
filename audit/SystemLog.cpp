#include "SystemLog.h"

#include "AuditLine.h"

#include <cerrno>
#include <filesystem>
#include <string>
#include <system_error>

#include <pwd.h>
#include <syslog.h>
#include <unistd.h>
#include <vector>

namespace {

// The programs work in their data folder and name the table relatively; the
// log is read elsewhere, so a line names the folder too.
std::string absolutePath(const std::string& path)
{
    if (path.empty() || path.front() == '/')
        return path;
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::current_path(error);
    return error ? path : (folder / path).lexically_normal().string();
}

} // namespace

SyslogAuditSink::SyslogAuditSink()
{
    // LOG_NDELAY connects now, while descriptors are plenty: a save that
    // fails for want of them is one of the events to log. No LOG_CONS: with
    // no daemon listening, a line is dropped, never written to a console.
    static const bool opened = [] {
        ::openlog(SystemLogIdent, LOG_PID | LOG_NDELAY, LOG_AUTHPRIV);
        return true;
    }();
    (void)opened;
}

void SyslogAuditSink::record(const AuditEvent& event)
{
    AuditEvent shown = event;
    shown.table = absolutePath(event.table);
    if (!event.copy.empty())
        shown.copy = absolutePath(event.copy);
    // The facility again with every line: anything else in the process that
    // calls openlog() must not move these out of authpriv.
    ::syslog(LOG_AUTHPRIV | syslogSeverity(event.kind), "%s", auditLine(shown).c_str());
}

std::unique_ptr<AuditSink> makeSystemLogSink()
{
    return std::make_unique<SyslogAuditSink>();
}

SystemUser currentSystemUser()
{
    SystemUser user;
    const uid_t uid = ::getuid();
    user.uid = static_cast<unsigned long>(uid);
    const long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 1024);
    passwd entry{};
    passwd* found = nullptr;
    // An account without a name (a uid the password database lacks) is
    // still told apart by its uid.
    for (;;) {
        const int error = ::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found);
        if (error != ERANGE || buffer.size() > (1u << 20))
            break;
        buffer.resize(buffer.size() * 2);
    }
    if (found && found->pw_name)
        user.name = found->pw_name;
    return user;
}
