#include "../store/StoreCheck.h"
#include "AuditCheck.h"

#include "audit/AuditLine.h"

#include <cstdio>
#include <string>
#include <vector>

#include <syslog.h>

using auditcheck::isCleanUtf8Line;
using Kind = AuditEvent::Kind;

namespace {

AuditEvent event(Kind kind, const std::string& target)
{
    AuditEvent event{};
    event.kind = kind;
    event.table = "/srv/ledger/Gatekeep.acl";
    event.actor = "chief";
    event.target = target;
    return event;
}

} // namespace

TEST(EachKindSaysWhatHappenedAndNamesItsFields)
{
    // Every field filled: a line shows the ones its kind carries, and a
    // rename's new name and a missing right wherever they are given.
    AuditEvent full = event(Kind::SignedIn, "bob");
    full.account = "Cash";
    full.changes = {"password", "granted AddUsers"};
    full.detail = "why";
    full.missingRight = "AddUsers";
    full.newName = "rob";
    full.copy = "/root/Gatekeep.acl.backup";
    full.systemUser = "root";
    full.systemUid = 0;
    const std::string common = ": table=\"/srv/ledger/Gatekeep.acl\" user=\"chief\" "
                               "system_user=\"root\" uid=\"0\" target=\"bob\"";
    const std::string renamed = " new_name=\"rob\"";
    const std::string changes = " changes=\"password, granted AddUsers\"";
    const std::string tail = " missing_right=\"AddUsers\"";
    const std::string reason = " reason=\"why\"";
    const std::string account = " account=\"Cash\"";
    const std::string copied = " copy=\"/root/Gatekeep.acl.backup\"";
    struct Row
    {
        Kind kind;
        int severity;
        std::string line;
    };
    const Row rows[] = {
        {Kind::SignedIn, LOG_NOTICE, "sign-in succeeded" + common + renamed + tail},
        {Kind::SignInRefused, LOG_WARNING, "sign-in refused" + common + renamed + tail + reason},
        {Kind::FirstUserCreated, LOG_NOTICE, "first login ID created" + common + renamed + tail},
        {Kind::UserAdded, LOG_NOTICE, "user added" + common + renamed + changes + tail},
        {Kind::UserDeleted, LOG_NOTICE, "user deleted" + common + renamed + tail},
        {Kind::UserChanged, LOG_NOTICE, "user changed" + common + renamed + changes + tail},
        {Kind::PasswordChanged, LOG_NOTICE, "password changed" + common + renamed + tail},
        {Kind::NoChange, LOG_NOTICE, "no change" + common + renamed + tail + reason},
        {Kind::AccountAdded, LOG_NOTICE, "bank account added" + common + account + renamed + tail},
        {Kind::AccountChanged, LOG_NOTICE,
         "bank account changed" + common + account + renamed + changes + tail},
        {Kind::AccountDeleted, LOG_NOTICE,
         "bank account deleted" + common + account + renamed + tail},
        {Kind::ChangeRefused, LOG_WARNING, "change refused" + common + renamed + tail + reason},
        {Kind::TableSaved, LOG_NOTICE, "table saved" + common + renamed + tail},
        {Kind::TableReloaded, LOG_NOTICE, "table reloaded" + common + renamed + tail},
        {Kind::TableOverwritten, LOG_NOTICE, "table overwritten" + common + renamed + tail},
        {Kind::SaveFailed, LOG_WARNING, "save failed" + common + renamed + tail + reason},
        {Kind::TableCopied, LOG_NOTICE, "table copied" + common + renamed + tail + copied},
        {Kind::TableRestored, LOG_NOTICE,
         "table restored" + common + renamed + tail + " from=\"/root/Gatekeep.acl.backup\""},
    };
    for (const Row& row : rows) {
        full.kind = row.kind;
        CHECK_EQ(auditLine(full), row.line);
        CHECK_EQ(syslogSeverity(row.kind), row.severity);
    }

    // Fields a kind carries are there even when empty, so every line of a
    // kind has the same keys; the others appear only when given.
    AuditEvent bare{};
    bare.kind = Kind::AccountChanged;
    CHECK_EQ(auditLine(bare), std::string("bank account changed: table=\"\" user=\"\" target=\"\" "
                                          "account=\"\" changes=\"\""));
    bare.kind = Kind::TableSaved;
    CHECK_EQ(auditLine(bare), std::string("table saved: table=\"\" user=\"\" target=\"\""));
}

TEST(NamesComeOutAsUtf8WithControlsEscaped)
{
    struct Row
    {
        std::string text; // UTF-8, as the session hands the table's texts out
        std::string shown;
    };
    const Row rows[] = {
        {"a\nb", "a\\x0ab"},
        {"a\rb", "a\\x0db"},
        {"a\tb", "a\\x09b"},
        {std::string("a\0b", 3), "a\\x00b"},
        {"a\x7f"
         "b",
         "a\\x7fb"},
        {"say \"hi\"", "say \\\"hi\\\""},
        {"back\\slash", "back\\\\slash"},
        {"Ren\xc3\xa9"
         "e",
         "Ren\xc3\xa9"
         "e"},
        {"\xe2\x82\xac", "\xe2\x82\xac"},         // euro sign
        {"\xe2\x80\xa6", "\xe2\x80\xa6"},         // an ellipsis
        {"\xc5\xb8", "\xc5\xb8"},                 // Y with diaeresis
        {"\xc2\xa0\xc3\xbf", "\xc2\xa0\xc3\xbf"}, // no-break space, y with diaeresis
        // The table's undefined bytes stand for C1 controls: each one escape
        // of its number, as the byte always showed.
        {"\xc2\x81\xc2\x8d\xc2\x8f\xc2\x90\xc2\x9d", "\\x81\\x8d\\x8f\\x90\\x9d"},
        {"\xc2\x80\xc2\x85\xc2\x9f", "\\x80\\x85\\x9f"},
        // No UTF-8, and line and paragraph separators: byte by byte.
        {"\xe9\xe2\x80\xa8", "\\xe9\\xe2\\x80\\xa8"},
        // A name made to look like the end of one line and a second one.
        {"x\"\nsign-in ok", "x\\\"\\x0asign-in ok"},
    };
    for (const Row& row : rows) {
        AuditEvent event{};
        event.kind = Kind::SignInRefused;
        event.target = row.text;
        event.detail = "unknown name";
        const std::string line = auditLine(event);
        CHECK_EQ(line, "sign-in refused: table=\"\" user=\"\" target=\"" + row.shown +
                           "\" reason=\"unknown name\"");
        CHECK(isCleanUtf8Line(line));
    }

    // Every byte in every text field: one clean line, whatever the table holds.
    for (int b = 0; b < 256; ++b) {
        const std::string text(3, static_cast<char>(b));
        AuditEvent event{};
        event.kind = Kind::AccountChanged;
        event.table = text;
        event.actor = text;
        event.target = text;
        event.account = text;
        event.newName = text;
        event.changes = {text, text};
        event.missingRight = text;
        if (!isCleanUtf8Line(auditLine(event)))
            storecheck::fail(__FILE__, __LINE__,
                             "byte " + std::to_string(b) + ": " +
                                 storecheck::show(auditLine(event)));
        event.kind = Kind::SaveFailed;
        event.detail = text;
        CHECK(isCleanUtf8Line(auditLine(event)));
        event.kind = Kind::TableCopied;
        event.copy = text;
        event.systemUser = text;
        CHECK(isCleanUtf8Line(auditLine(event)));
        event.kind = Kind::TableRestored;
        CHECK(isCleanUtf8Line(auditLine(event)));
    }
}

TEST(TheTablePathIsReadAsUtf8)
{
    struct Row
    {
        std::string path;
        std::string shown;
    };
    const Row rows[] = {
        {"/home/ren\xc3\xa9"
         "e/Gatekeep.acl",
         "/home/ren\xc3\xa9"
         "e/Gatekeep.acl"},
        {"/keys/\xf0\x9f\x94\x91/\xe2\x82\xac", "/keys/\xf0\x9f\x94\x91/\xe2\x82\xac"},
        {"/a\nb\"c\\d", "/a\\x0ab\\\"c\\\\d"},
        // Not UTF-8: a Latin-1 byte, a cut sequence, an overlong form, a
        // surrogate; each byte escaped on its own.
        {"/ren\xe9"
         "e",
         "/ren\\xe9e"},
        {"/cut\xe2\x82", "/cut\\xe2\\x82"},
        {"/long\xc0\xaf", "/long\\xc0\\xaf"},
        {"/half\xed\xa0\x80", "/half\\xed\\xa0\\x80"},
        // NEL as UTF-8 is a C1 control.
        {"/x\xc2\x85y", "/x\\xc2\\x85y"},
        // The first and last C1 control; the first character after them.
        {"/\xc2\x80\xc2\x9f\xc2\xa0", "/\\xc2\\x80\\xc2\\x9f\xc2\xa0"},
        // Line and paragraph separators, between the characters beside them.
        {"/a\xe2\x80\xa7\xe2\x80\xa8"
         "b\xe2\x80\xa9\xe2\x80\xaa",
         "/a\xe2\x80\xa7\\xe2\\x80\\xa8"
         "b\\xe2\\x80\\xa9\xe2\x80\xaa"},
    };
    for (const Row& row : rows) {
        AuditEvent event{};
        event.kind = Kind::TableSaved;
        event.table = row.path;
        const std::string line = auditLine(event);
        CHECK_EQ(line, "table saved: table=\"" + row.shown + "\" user=\"\" target=\"\"");
        CHECK(isCleanUtf8Line(line));
    }
}

// Every character a path can hold: what a log viewer may take for a line
namespace {

void appendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
        return;
    }
    const int length = c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    static const unsigned char lead[] = {0, 0, 0xC0, 0xE0, 0xF0};
    out += static_cast<char>(lead[length] | (c >> (6 * (length - 1))));
    for (int i = length - 2; i >= 0; --i)
        out += static_cast<char>(0x80 | ((c >> (6 * i)) & 0x3F));
}

} // namespace

// break is escaped byte by byte, everything else comes out as itself.
TEST(EveryCharacterOfAPathThatBreaksLinesIsEscaped)
{
    const auto breaksLines = [](char32_t c) { return c <= 0x9F || c == 0x2028 || c == 0x2029; };
    for (char32_t c = 0x80; c <= 0x10FFFF; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF)
            continue;
        std::string utf8;
        appendUtf8(utf8, c);
        std::string shown = utf8;
        if (breaksLines(c)) {
            shown.clear();
            for (char byte : utf8) {
                static const char* hex = "0123456789abcdef";
                const auto b = static_cast<unsigned char>(byte);
                shown += std::string("\\x") + hex[b >> 4] + hex[b & 15];
            }
        }
        AuditEvent event{};
        event.kind = Kind::TableSaved;
        event.table = "/" + utf8;
        const std::string line = auditLine(event);
        if (line != "table saved: table=\"/" + shown + "\" user=\"\" target=\"\"" ||
            !isCleanUtf8Line(line)) {
            char name[16];
            std::snprintf(name, sizeof name, "U+%04lX", static_cast<unsigned long>(c));
            storecheck::fail(__FILE__, __LINE__, name + (": " + storecheck::show(line)));
        }
    }
}
