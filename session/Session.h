#pragma once

#include "Audit.h"

#include "store/UserTable.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What a change asked of the session came to.
struct ChangeResult
{
    enum class Outcome
    {
        Done,
        Refused,   // nothing changed; `message` says why
        Cancelled, // the file had changed on disk and the person kept it as it was
        Reloaded   // the file had changed on disk; its version replaced the table
    };
    enum class Reason
    {
        None,
        MissingRight,
        EmptyField,
        DuplicateUser,
        TableFull,
        NoSuchUser,
        NothingLoaded,
        AccountsFull,
        DuplicateAccount,
        NoSuchAccount,
        NotFirstUse
    };

    Outcome outcome = Outcome::Done;
    Reason reason = Reason::None;
    // Windows-1252 text: a refusal's reason, or for a change that reached
    // the file, a fault that came after it (the change is in the file).
    std::string message;

    bool done() const { return outcome == Outcome::Done; }
};

// The person's choice when the table file has changed on disk since this
// session last read or wrote it.
enum class ConflictChoice
{
    Reload,    // take the file's version; this change is dropped
    Overwrite, // write this version over it
    Cancel     // write nothing
};

// One sign-in's view of a table file: the table, who is signed in and what
// they may do, and whether the table holds changes the file does not. Every
// change goes through here and is checked against the signed-in user's
// rights as they were at sign-in. File faults before a change reaches the
// file raise IoError and leave the table as it was.
class Session
{
public:
    explicit Session(std::string tablePath, AuditSink* audit = nullptr);

    const std::string& TablePath() const { return m_tablePath; }
    const UserTable& Table() const { return m_table; }
    bool TableChanged() const { return m_tableChanged; }

    // Asked when a save finds the file changed on disk; without one, such a
    // save writes nothing (Cancel).
    void SetConflictHandler(std::function<ConflictChoice()> handler);

    // Start-up: reads the file (creating it empty when missing), or makes an
    // empty file and table.
    void LoadTable();
    void CreateTable();
    // Takes the file's version of the table, dropping what is not in it.
    void Reload();

    // Signing in. Names are trimmed of characters 0 to 32; a stored name is
    // found exactly first, else by its trimmed form. The password is taken
    // as typed and compared scrambled.
    enum class SignInResult
    {
        SignedIn,
        UnknownName,
        WrongPassword
    };
    bool KnowsUser(std::string_view typedName) const;
    // The slot of the user a typed name means, or 0.
    int LookUpUser(std::string_view typedName) const;
    SignInResult SignIn(std::string_view typedName, std::string_view typedPassword);
    bool SignedIn() const { return m_signedIn; }
    // The signed-in user's record as it was at sign-in, still scrambled.
    const UserRecord& CurrentUser() const { return m_currentUser; }
    bool Granted(Right right) const;
    // Rights can be given or taken only with both ModifyUsers and AddUsers.
    bool MayEditRights() const;
    // The three pages of the main window.
    bool MayAdd() const { return Granted(Right::AddUsers); }
    bool MayDelete() const { return Granted(Right::DeleteUsers); }
    bool MayModify() const { return Granted(Right::ModifyUsers); }
    bool MayKeepAccounts() const { return MayModify() && MayDelete(); }
    // The User Details page, which shows a user's path, rights and accounts.
    bool MaySeeUserDetails() const { return MayModify() || MayDelete(); }

    // First use: stores `plain` (all texts plain) as the only user, writes
    // and reads back the file, and signs that user in. Only while no table
    // file exists and the table is empty.
    ChangeResult CreateFirstUser(const UserRecord& plain);

    // The users the list shows: slots up to the first free one.
    std::vector<AnsiString> ListedNames() const;

    // In memory only; the file is written, and the change recorded, by a
    // later save.
    ChangeResult AddUser(const UserRecord& plain);
    ChangeResult DeleteUser(std::string_view loginName);
    // Replaces the user Modify loaded (found by `editedName`, preferring
    // `editedSlot`) by `plain`, keeping their accounts; the user moves to
    // the end of the table, and the whole table is written at once.
    ChangeResult SaveChanges(std::string_view editedName, int editedSlot, const UserRecord& plain);

    // Bank accounts of the user `loginName`; each is written at once and
    // read back. `plain` holds plain texts; `entry` is 0 to 9.
    ChangeResult AddAccount(std::string_view loginName, const AccountEntry& plain);
    ChangeResult ModifyAccount(std::string_view loginName, int entry, const AccountEntry& plain);
    ChangeResult DeleteAccount(std::string_view loginName, int entry);
    // The entry (0 to 9) of the bank account `account` names among those of
    // the user `loginName`, or -1: the stored name exactly first, else one
    // equal to it with a to z upper-cased, as the account list matches.
    int LookUpAccount(std::string_view loginName, std::string_view account) const;

    // Writes the table (the close's Yes).
    ChangeResult Save();

private:
    AnsiString actor() const;
    ChangeResult refuse(ChangeResult::Reason reason, std::string message,
                        std::string_view target = {}, std::string_view missingRight = {});
    ChangeResult refuseRight(Right missing, std::string_view action, std::string_view target);
    // The checks every account change starts with: the rights, a name for
    // the account (`plain`, when given), the user, and the entry (when
    // given). A refusal, or nothing with `slot` set to the user's slot.
    std::optional<ChangeResult> checkAccountChange(std::string_view loginName,
                                                   const AccountEntry* plain,
                                                   std::optional<int> entry, int& slot);
    // Writes `next` as the table file, asking first when the file has changed
    // on disk. On success `next` becomes the table; a fault on the way is
    // recorded as a failed save and raised.
    ChangeResult commit(const UserTable& next, bool readBack);
    ChangeResult writeTable(const UserTable& next, bool readBack);
    void record(AuditEvent event) const;
    AuditEvent event(AuditEvent::Kind kind, std::string_view target = {}) const;

    std::string m_tablePath;
    AuditSink* m_audit;
    std::function<ConflictChoice()> m_onConflict;
    UserTable m_table;
    // The file's bytes as this session last read or wrote them; nothing
    // while it knows of no file.
    std::optional<std::string> m_fileBytes;
    bool m_tableChanged = false;
    // Adds and deletions wait in the table for a save, and their events with
    // them: the log tells only of changes that reached the file.
    std::vector<AuditEvent> m_unsaved;
    bool m_signedIn = false;
    UserRecord m_currentUser{};
};

// The texts of the rights, as the rights are named everywhere.
const char* RightName(Right right);

// The slot of the user a typed name means in `table`, or 0, as signing in
// finds it (Session::LookUpUser).
int LookUpUser(const UserTable& table, std::string_view typedName);
// Whether adding a user of one name is refused as a duplicate of the other.
bool SameLoginName(std::string_view a, std::string_view b);
