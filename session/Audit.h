#pragma once

#include "store/UserRecord.h"

#include <string>
#include <vector>

// What the session reports of every sign-in, change and save, for an audit
// trail. Texts are the table's own bytes (Windows-1252), but for the table's
// path, which is the file system's; a sink decides how to write them.
// Passwords and account descriptions never appear here.
struct AuditEvent
{
    enum class Kind
    {
        SignedIn,
        SignInRefused, // detail: "unknown name" or "wrong password"
        FirstUserCreated,
        UserAdded,
        UserDeleted,
        UserChanged, // changes: "name", "password", "data path", "granted X", "revoked X"
        AccountAdded,
        AccountChanged, // changes: "name", "description"
        AccountDeleted,
        ChangeRefused, // detail: the reason; missingRight when a right was lacking
        TableSaved,
        TableReloaded,    // the file had changed on disk; its version was taken
        TableOverwritten, // the file had changed on disk; it was overwritten
        SaveFailed,       // detail: the error's text
        TableCopied,      // a backup: copy, systemUser
        TableRestored     // a backup put in the table's place: copy is where it came from
    };

    Kind kind;
    std::string table;   // the table file's path
    std::string actor;   // the signed-in user (empty before a sign-in)
    std::string target;  // the user acted on, or the login name typed
    std::string account; // the bank account acted on
    std::vector<std::string> changes;
    std::string detail;
    std::string missingRight;
    std::string newName; // UserChanged, AccountChanged: the name after a rename
    // TableCopied, where no one signs in: the file the copy went to (a path,
    // as the table's) and the system account that made it. TableRestored:
    // the file the table was restored from.
    std::string copy;
    std::string systemUser;
};

class AuditSink
{
public:
    virtual ~AuditSink() = default;
    virtual void Record(const AuditEvent& event) = 0;
};
