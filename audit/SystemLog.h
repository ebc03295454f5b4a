#pragma once

#include "session/Audit.h"

#include <memory>

// The name the lines carry in the system log (journalctl -t ...), the same
// for the windows and the command-line program.
inline constexpr const char* SystemLogIdent = "larkledger-security";

// Writes each event as one line (auditLine) through syslog(3) with facility
// authpriv, where sudo and login write theirs, readable by administrators
// only. Without a syslog daemon the lines are dropped, silently: the program
// works as it would without a log.
class SyslogAuditSink : public AuditSink
{
public:
    // Opens the log the first time a sink is made in the process.
    SyslogAuditSink();
    void record(const AuditEvent& event) override;
};

// The sink the programs give their sessions.
std::unique_ptr<AuditSink> makeSystemLogSink();

// The account this process runs as (its real user): the front ends hand it
// to their sessions, so that every line names who sat there.
SystemUser currentSystemUser();
