#pragma once

#include "session/Audit.h"

#include <string>

// An event as one line of the audit trail:
//
//   <what>: table="<path>" user="<signed in>" system_user="<name>" uid="<n>"
//           target="<user>"[ key="value"]...
//
// <what> is one of "sign-in succeeded", "sign-in refused", "first login ID
// created", "user added", "user deleted", "user changed", "password
// changed" (the signed-in user's own), "bank account added", "bank account
// changed", "bank account deleted", "change refused", "no change" (a change
// that found nothing to do, as asked), "table saved", "table reloaded",
// "table overwritten", "save failed", "table copied" (a backup, which signs
// no one in). system_user and uid name the operating-system account the
// program ran as, where known. After table, user and target come, in this
// order and only with the events that carry them: account (the bank
// account events), new_name (a rename), changes (user added, user changed,
// bank account changed; ", " between items), missing_right (a refusal for a
// lacking right) and reason (the refusals, a failed save and no change); a
// copy ends in copy (the file it went to).
//
// Values are quoted and come out as UTF-8; `\"` and `\\` stand for a quote
// and a backslash, and `\xNN` (lower-case hex) for each byte of the original
// that is a control character (C0, DEL), a line or paragraph separator
// (U+2028, U+2029) or no character at all, and for a C1 control: a log
// viewer may end a line at any of these, so no name can end the line or
// forge another. A C1 control is one escape of its own number in the texts
// of the table (as the table's undefined bytes, which stand for C1
// controls), and one per byte in the paths and the system account's name.
std::string auditLine(const AuditEvent& event);

// The syslog(3) severity of an event: LOG_WARNING for refusals and
// failures, LOG_NOTICE for changes and successes.
int syslogSeverity(AuditEvent::Kind kind);
