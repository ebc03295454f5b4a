#pragma once

#include "Arguments.h"
#include "Secret.h"

#include <optional>
#include <ostream>
#include <string>

// ${XDG_DATA_HOME:-$HOME/.local/share}/larkledger-security/Gatekeep.acl, the
// table the launcher starts the windows beside; nothing without a home folder.
std::optional<std::string> defaultTablePath();

class AuditSink;

// `text` for standard error: each of its lines with its control characters
// made visible (\x1b and the like), so a name or path the person typed, or
// a table made elsewhere holds, can never move the cursor or hide what
// follows; the message's own line breaks stay.
std::string visibleLines(const std::string& text);

// Runs a parsed command, writing what it shows to `out` and notices to
// `err`; returns the exit status, having said on `err` why where it is not
// 0. `audit`, when given, records the sign-in and every change.
int runCommand(const Invocation& invocation, SecretReader& secrets, std::ostream& out,
               std::ostream& err, AuditSink* audit = nullptr);
