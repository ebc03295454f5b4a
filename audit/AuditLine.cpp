#include "AuditLine.h"

#include <string_view>

#include <syslog.h>

namespace {

using Kind = AuditEvent::Kind;

void appendByteEscape(std::string& out, unsigned char byte)
{
    static const char* hex = "0123456789abcdef";
    out += "\\x";
    out += hex[byte >> 4];
    out += hex[byte & 15];
}

// True when the ASCII byte was written as itself or escaped.
bool appendAscii(std::string& out, unsigned char byte)
{
    if (byte >= 0x80)
        return false;
    if (byte < 0x20 || byte == 0x7F) {
        appendByteEscape(out, byte);
    } else {
        if (byte == '"' || byte == '\\')
            out += '\\';
        out += static_cast<char>(byte);
    }
    return true;
}

// The length of the well-formed UTF-8 sequence at `at`, or 0.
std::size_t utf8Length(std::string_view text, std::size_t at)
{
    const auto byte = [&](std::size_t i) {
        return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0;
    };
    const unsigned char lead = byte(0);
    const auto continuation = [&](std::size_t i, unsigned char low = 0x80,
                                  unsigned char high = 0xBF) {
        return byte(i) >= low && byte(i) <= high;
    };
    if (lead >= 0xC2 && lead <= 0xDF)
        return continuation(1) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        // No overlong forms (E0) and no surrogates (ED).
        const unsigned char low = lead == 0xE0 ? 0xA0 : 0x80;
        const unsigned char high = lead == 0xED ? 0x9F : 0xBF;
        return continuation(1, low, high) && continuation(2) ? 3 : 0;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        const unsigned char low = lead == 0xF0 ? 0x90 : 0x80;
        const unsigned char high = lead == 0xF4 ? 0x8F : 0xBF;
        return continuation(1, low, high) && continuation(2) && continuation(3) ? 4 : 0;
    }
    return 0;
}

// True for a well-formed non-ASCII UTF-8 sequence that a log viewer may
// take for the end of a line: the C1 controls U+0080..U+009F (NEL, U+0085,
// among them) and U+2028 LINE SEPARATOR and U+2029 PARAGRAPH SEPARATOR.
bool breaksLines(std::string_view sequence)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(sequence[i]); };
    if (sequence.size() == 2)
        return byte(0) == 0xC2 && byte(1) < 0xA0;
    return sequence.size() == 3 && byte(0) == 0xE2 && byte(1) == 0x80 &&
           (byte(2) == 0xA8 || byte(2) == 0xA9);
}

// A path names a file on this system, so it is in the system's encoding.
// `c1ByNumber`: a C1 control shows as its own number, one escape (as the
// table's undefined bytes, which stand for them, always showed).
void appendUtf8Text(std::string& out, std::string_view path, bool c1ByNumber)
{
    std::size_t at = 0;
    while (at < path.size()) {
        const auto byte = static_cast<unsigned char>(path[at]);
        if (appendAscii(out, byte)) {
            ++at;
            continue;
        }
        const std::size_t length = utf8Length(path, at);
        if (c1ByNumber && length == 2 && byte == 0xC2 &&
            static_cast<unsigned char>(path[at + 1]) < 0xA0) {
            appendByteEscape(out, static_cast<unsigned char>(path[at + 1]));
            at += length;
        } else if (length == 0 || breaksLines(path.substr(at, length))) {
            const std::size_t escaped = length == 0 ? 1 : length;
            for (std::size_t i = 0; i < escaped; ++i)
                appendByteEscape(out, static_cast<unsigned char>(path[at + i]));
            at += escaped;
        } else {
            out.append(path.substr(at, length));
            at += length;
        }
    }
}

void appendPath(std::string& out, std::string_view path)
{
    appendUtf8Text(out, path, false);
}

void appendField(std::string& out, const char* key, std::string_view text)
{
    out += ' ';
    out += key;
    out += "=\"";
    appendUtf8Text(out, text, true);
    out += '"';
}

const char* what(Kind kind)
{
    switch (kind) {
    case Kind::SignedIn:
        return "sign-in succeeded";
    case Kind::SignInRefused:
        return "sign-in refused";
    case Kind::FirstUserCreated:
        return "first login ID created";
    case Kind::UserAdded:
        return "user added";
    case Kind::UserDeleted:
        return "user deleted";
    case Kind::UserChanged:
        return "user changed";
    case Kind::PasswordChanged:
        return "password changed";
    case Kind::NoChange:
        return "no change";
    case Kind::AccountAdded:
        return "bank account added";
    case Kind::AccountChanged:
        return "bank account changed";
    case Kind::AccountDeleted:
        return "bank account deleted";
    case Kind::ChangeRefused:
        return "change refused";
    case Kind::TableSaved:
        return "table saved";
    case Kind::TableReloaded:
        return "table reloaded";
    case Kind::TableOverwritten:
        return "table overwritten";
    case Kind::TableCopied:
        return "table copied";
    case Kind::TableRestored:
        return "table restored";
    case Kind::SaveFailed:
        break;
    }
    return "save failed";
}

bool isAccountEvent(Kind kind)
{
    return kind == Kind::AccountAdded || kind == Kind::AccountChanged ||
           kind == Kind::AccountDeleted;
}

bool listsChanges(Kind kind)
{
    return kind == Kind::UserAdded || kind == Kind::UserChanged || kind == Kind::AccountChanged;
}

// The events that say why something did not happen.
bool isRefusalOrFailure(Kind kind)
{
    return kind == Kind::SignInRefused || kind == Kind::ChangeRefused || kind == Kind::SaveFailed;
}

bool givesReason(Kind kind)
{
    return isRefusalOrFailure(kind) || kind == Kind::NoChange;
}

} // namespace

std::string auditLine(const AuditEvent& event)
{
    std::string line = what(event.kind);
    line += ": table=\"";
    appendPath(line, event.table);
    line += '"';
    appendField(line, "user", event.actor);
    // Two people both signed in as one login are told apart by this.
    if (!event.systemUser.empty() || event.systemUid) {
        line += " system_user=\"";
        appendPath(line, event.systemUser);
        line += '"';
        if (event.systemUid)
            line += " uid=\"" + std::to_string(*event.systemUid) + '"';
    }
    appendField(line, "target", event.target);
    if (isAccountEvent(event.kind))
        appendField(line, "account", event.account);
    if (!event.newName.empty())
        appendField(line, "new_name", event.newName);
    if (listsChanges(event.kind)) {
        std::string changes;
        for (const std::string& change : event.changes)
            changes += (changes.empty() ? "" : ", ") + change;
        appendField(line, "changes", changes);
    }
    if (!event.missingRight.empty())
        appendField(line, "missing_right", event.missingRight);
    if (givesReason(event.kind))
        appendField(line, "reason", event.detail);
    if (event.kind == Kind::TableCopied) {
        line += " copy=\"";
        appendPath(line, event.copy);
        line += '"';
    }
    if (event.kind == Kind::TableRestored) {
        line += " from=\"";
        appendPath(line, event.copy);
        line += '"';
    }
    return line;
}

int syslogSeverity(AuditEvent::Kind kind)
{
    return isRefusalOrFailure(kind) ? LOG_WARNING : LOG_NOTICE;
}
