#include "SystemLog.h"

#include "AuditLine.h"

#include <filesystem>
#include <string>
#include <system_error>

#include <syslog.h>

namespace {

// The programs work in their data folder and name the table relatively; the
// log is read elsewhere, so a line names the folder too.
std::string AbsolutePath(const std::string& path)
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

void SyslogAuditSink::Record(const AuditEvent& event)
{
    AuditEvent shown = event;
    shown.table = AbsolutePath(event.table);
    if (!event.copy.empty())
        shown.copy = AbsolutePath(event.copy);
    // The facility again with every line: anything else in the process that
    // calls openlog() must not move these out of authpriv.
    ::syslog(LOG_AUTHPRIV | SyslogSeverity(event.kind), "%s", AuditLine(shown).c_str());
}

std::unique_ptr<AuditSink> MakeSystemLogSink()
{
    return std::make_unique<SyslogAuditSink>();
}
