#pragma once

#include <optional>
#include <string>
#include <vector>

// The operating-system account a program runs as, which the front end
// finds and hands to its session: the table's logins say who signed in,
// this says who sat there.
struct SystemUser
{
    std::string name; // the file system's encoding; empty when unknown
    std::optional<unsigned long> uid;
};

// What the session reports of every sign-in, change and save, for an audit
// trail. Texts are UTF-8, but for the paths and the system user's name,
// which are the file system's; a sink decides how to write them.
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
        UserChanged,     // changes: "name", "password", "data path", "granted X", "revoked X"
        PasswordChanged, // the signed-in user's own password, by themselves
        AccountAdded,
        AccountChanged, // changes: "name", "description"
        AccountDeleted,
        ChangeRefused, // detail: the reason; missingRight when a right was lacking
        TableSaved,
        TableReloaded,    // the file had changed on disk; its version was taken
        TableOverwritten, // the file had changed on disk; it was overwritten
        SaveFailed,       // detail: the error's text
        TableCopied,      // a backup: copy
        TableRestored,    // a backup put in the table's place: copy is where it came from
        NoChange          // a change found nothing to do, as asked: detail says why
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
    // as the table's). TableRestored: the file the table was restored from.
    std::string copy;
    // The operating-system account of the program (a name as the file
    // system's, as the table's path), beside `actor`.
    std::string systemUser;
    std::optional<unsigned long> systemUid;
};

class AuditSink
{
public:
    virtual ~AuditSink() = default;
    virtual void record(const AuditEvent& event) = 0;
};
