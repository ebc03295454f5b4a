#pragma once

#include "Audit.h"
#include "StoredText.h"
#include "UserValues.h"

#include <chrono>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What a change, or a load of the table, asked of the session came to: done
// (perhaps with a warning), refused (with the reason and any missing right),
// failed (with the file error), or, where someone else changed the same
// thing, what the person chose. Neither ever raises.
struct ChangeResult
{
    enum class Outcome
    {
        Done,
        Refused,   // nothing changed; `message` says why
        Failed,    // a file fault; nothing changed, `message` is its text
        Cancelled, // someone else had changed what this change touches, and
                   // the person chose to write nothing
        Reloaded   // likewise, and the person took the file's version: this
                   // change is dropped, the rest of the file's table taken
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
        NotFirstUse,
        BadDataPath,
        ReservedPassword,
        // A new text holds a tab, a line break, an escape or another control
        // character, which would hide or garble it wherever it is shown.
        ControlCharacter,
        // The signed-in user is no longer in the file as they signed in:
        // deleted, renamed or given another password by someone else, or
        // deleted by their own saved change. Nothing more can be changed in
        // this sitting.
        SignedOut,
        // The bank account a change names is no longer at its entry: someone
        // else deleted or renamed it, perhaps putting another in its place.
        AccountGone,
        // A backup to restore is not a sound table: `message` names its
        // faults as `check` does.
        UnsoundTable,
        // Changing one's own password: the old one given is not it, or the
        // new one typed twice differs, or is longer than the table holds.
        WrongPassword,
        PasswordsDiffer,
        TooLong,
        // The file a first use would fill is another user's, or a link.
        ForeignFile,
        // A new text is no UTF-8 text or holds a character the table lacks:
        // stored, it would be another text.
        Unstorable
    };

    Outcome outcome = Outcome::Done;
    Reason reason = Reason::None;
    // A refusal's reason, or a failure's file error.
    std::string message;
    // Done: what the person should know besides (the table was brought up
    // to date first; a step after the save failed). Empty when nothing.
    std::string warning;
    std::optional<Right> missingRight;
    // Failed: the file error's code.
    int errorCode = 0;
    // The table in memory was brought up to date with the file: whatever
    // shows it must be shown again.
    bool refreshed = false;

    bool done() const { return outcome == Outcome::Done; }
};

// The store's own types, which the session keeps to itself.
class UserTable;
struct UserRecord;
struct AccountEntry;
class WriterLock;

// Someone else changed, in the file, what a change of this session touches
// too: a user (`account` empty) or one of their bank accounts.
struct Conflict
{
    std::string user;
    std::string account;
    // What the other side changed, as a list for people ("password, granted
    // AddUsers"); empty where nothing shown differs.
    std::string change;
    // Who saved the file last ("ann (uid 1001, signed in as admin) on pc2")
    // and when, in local time ("2026-12-11 14:05"), as the writer lock file
    // records it; empty where it names no operating-system account. That
    // save may be a later one than the change in question, and the record is
    // only as true as those who may write the lock file.
    std::string savedBy;
    std::string savedAt;
};

// The question a window asks about such a change, with its three answers
// (Yes: Reload, No: Overwrite, Cancel).
std::string conflictQuestion(const Conflict& conflict);

// The person's choice for such a change.
enum class ConflictChoice
{
    Reload,    // keep the file's version; this change is dropped
    Overwrite, // write this change over theirs, for that user or account only
    Cancel     // write nothing
};

// One sign-in's view of a table file: the table, who is signed in, and the
// changes the file does not hold yet. Texts given and handed out are UTF-8;
// how the file keeps them stays inside. Every change goes through here and is
// checked against the signed-in user's rights as the file holds them at
// that moment. Writers take turns on the file (WriterLock); a change made
// while someone else changed the file is made again on the file's version,
// re-checked there, and saved with theirs. A file fault ends a load or a
// change in its Failed result and leaves the table as it was; a save whose
// new table reached the file before a later step failed is done, with that
// step's fault in its warning. Only the static file helpers below raise
// (peekTableFile, writeCopy), caught by fileFaultOf.
class Session
{
public:
    explicit Session(std::string tablePath, AuditSink* audit = nullptr);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The table's file name in its folder.
    static const char* const TableFileName;
    // What the user editor shows in place of a loaded user's password; no
    // user may get it as theirs, in any letter case.
    static const char* const PasswordPlaceholder;

    const std::string& tablePath() const { return m_tablePath; }
    bool TableChanged() const { return m_tableChanged; }

    // Asked when someone else changed in the file what a change touches;
    // without one, such a change writes nothing (Cancel).
    void setConflictHandler(std::function<ConflictChoice(const Conflict&)> handler);
    // The operating-system account the front end runs as, named in every
    // event beside the table's login.
    void setSystemUser(SystemUser user) { m_systemUser = std::move(user); }
    // How long a save waits for another writer, and whom it tells: `onWait`
    // hears Begins when the lock is found taken, Goes every few milliseconds
    // while it stays taken, and Ends once the wait is over, however it ended.
    // Its answer to Begins and Goes is whether to go on waiting: false ends
    // the wait with nothing written.
    static constexpr std::chrono::milliseconds DefaultWriterWait{10000};
    enum class WriterWait
    {
        Begins,
        Goes,
        Ends
    };
    void setWriterWait(std::chrono::milliseconds wait, std::function<bool(WriterWait)> onWait = {});
    // What a window shows while a save waits for another writer, and the
    // command line's line for it (naming the table as `path`).
    std::string writerWaitText() const;
    static std::string writerWaitNotice(std::string_view path);
    // Other writers kept out for as long as it lives.
    class WriterHold
    {
    public:
        WriterHold(WriterHold&& other) noexcept;
        ~WriterHold();
        WriterHold& operator=(WriterHold&&) = delete;

    private:
        friend class Session;
        struct Hold;
        explicit WriterHold(std::unique_ptr<Hold> hold);
        std::unique_ptr<Hold> m_hold;
    };
    // A take of the writer lock: the hold, or, without one, the file fault
    // that kept it as a Failed result (code 32: the wait was in vain).
    struct WriterTake
    {
        std::optional<WriterHold> hold;
        ChangeResult failure;
    };
    // Keeps other writers out for as long as the hold lives (the command
    // line's read, change and save); the session's own saves within it go
    // ahead. Waits as a save does.
    WriterTake holdWriterLock();
    // Once per session, after a take of the writer lock found the file
    // system without locks: that saves run unlocked. A change done then
    // carries it in its warning already; this is for those who hold the
    // lock themselves.
    std::optional<std::string> takeLockNotice();

    // Another copy of the program that has the table open.
    struct OtherCopy
    {
        long pid = 0; // 0 when its mark names none
        std::string host;
    };
    // Marks the table as open in this copy for as long as the session lives
    // (a lock file beside it, which the system lets go should the copy
    // die); the copy that had it open already, where one has.
    std::optional<OtherCopy> markRunningCopy();

    // A file error's text, by its code (a failed change's errorCode), and
    // the code of a system error number.
    static std::string fileErrorText(int code);
    static int fileErrorCode(int systemError);
    // A file fault that ended a step: its code and what it says.
    struct FileFault
    {
        int code = 0;
        std::string message;
    };
    // Runs `body`: the file fault that ends it, or nothing.
    static std::optional<FileFault> fileFaultOf(const std::function<void()>& body);
    // The largest file taken for a table: a larger one is something else.
    static const std::size_t MaxTableFileSize;
    // What the table file at `path` holds now, or nothing when there is no
    // file; reads only, and raises a file fault as loading does.
    static std::optional<std::string> peekTableFile(const std::string& path);
    // Writes `bytes` (a copy of a table) as a new file at `path`, in place of
    // a plain file of one's own there; anything else there is refused, and
    // a fault raised as loading does.
    static void writeCopy(const std::string& path, const std::string& bytes);

    // Start-up: reads the file (creating it empty when missing), or makes an
    // empty file and table where none is (one that appeared meanwhile is
    // read instead). A file fault is the Failed result, the table in memory
    // left as it was.
    ChangeResult loadTable();
    ChangeResult createTable();
    // Takes the file's version of the table, dropping what is not in it;
    // fails as a load does.
    ChangeResult reload();
    // Shows what others saved meanwhile, writing nothing: where the file no
    // longer holds what this session last read or wrote, its table is taken
    // and the changes still waiting (adds, deletions) are made again on it,
    // each checked there as a save would; one that can no longer be made is
    // dropped and named in the warning. `refreshed` tells whether anything
    // was taken; a signed-in user the file no longer holds makes it the
    // SignedOut refusal. Nothing happens while a save is under way, or while
    // another writer holds the file (the next look finds it finished).
    ChangeResult refresh();

    // Signing in, in the login dialog's order: a name, a known name (trimmed
    // of characters 0 to 32; a stored name is found exactly first, else by
    // its trimmed form), a password, the right password (taken as typed and
    // compared scrambled). Every refusal is recorded.
    enum class SignInResult
    {
        SignedIn,
        EmptyName,
        UnknownName,
        EmptyPassword,
        WrongPassword
    };
    // What the person is told of a refusal.
    static const char* signInMessage(SignInResult result);
    // The first two steps alone, for asking the password only of a known
    // name: a refusal (recorded), or nothing. A name or password the table
    // cannot hold is unknown, or wrong, as no stored one can equal it.
    std::optional<SignInResult> refuseName(std::string_view typedName);
    bool knowsUser(std::string_view typedName) const;
    // The name as stored of the user a typed name means; empty when none.
    std::string storedName(std::string_view typedName) const;
    SignInResult signIn(std::string_view typedName, std::string_view typedPassword);
    bool signedIn() const { return m_signedIn; }
    // The signed-in user's record is no longer in the file as they signed
    // in (its name and password): nothing more can be changed or saved.
    bool signedOut() const { return m_signedOut; }
    // Why, as a refusal says it, and as the windows tell it once, when
    // nothing but leaving is left.
    std::string signedOutMessage() const;
    std::string signedOutNotice() const;
    // The signed-in user's rights as the file held them when last looked at.
    bool granted(Right right) const;
    // Rights can be given or taken only with both ModifyUsers and AddUsers.
    bool mayEditRights() const;
    // The three pages of the main window.
    bool mayAdd() const { return granted(Right::AddUsers); }
    bool mayDelete() const { return granted(Right::DeleteUsers); }
    bool mayModify() const { return granted(Right::ModifyUsers); }
    bool mayKeepAccounts() const { return mayModify() && mayDelete(); }
    // The User Details page, which shows a user's path, rights and accounts.
    bool maySeeUserDetails() const { return mayModify() || mayDelete(); }

    // The first-use marker: where it lies beside no table, a start offers
    // to make the first login ID.
    static constexpr const char* FirstUseMarker = "~first.log";
    // Whether a start in `folder` is a first use: the marker is a file
    // there and nothing at all stands in the table's place, or only the
    // empty file a start without a table leaves.
    static bool firstUseDue(const std::string& folder);
    // First use: stores `user` (name and password trimmed of characters 0 to
    // 32, the data path an existing folder) as the only user with all six
    // rights, writes and reads back the file, removes the marker beside it,
    // and signs that user in. Only where no table, or an empty file, is.
    ChangeResult createFirstUser(const UserData& user);
    // Those rules alone, in that order, writing and recording nothing: the
    // refusal createFirstUser would give `user`, or nothing. Without
    // `withPassword`, a password still to be asked for is left out.
    static std::optional<ChangeResult> firstUserRefusal(const UserData& user,
                                                        bool withPassword = true);

    // What a change or a look-up that names no user of the table is told.
    static const char* noSuchUserText();

    // The users the list shows: slots up to the first free one.
    std::vector<std::string> listedNames() const;
    // A user of the table as this session shows it, found by the name as
    // stored, exactly (as the list shows it).
    std::optional<UserData> user(std::string_view loginName) const;
    // That user as Modify loads them into the editor, for Save Changes to
    // find them again; empty for an empty name.
    LoadedUser loadForEditing(std::string_view loginName) const;
    // That user's bank accounts, in entry order.
    std::vector<AccountData> Accounts(std::string_view loginName) const;
    // The signed-in user, as the file held them when last looked at.
    UserData me() const;
    // A user's password as their details show it: in clear only where it
    // equals the signed-in user's own, "Hidden" otherwise.
    std::string shownPassword(const UserData& user) const;

    // In memory only; the file is written, and the change recorded, by a
    // later save, which makes it again on the file's table if that changed.
    // With `unchangedIfThere` (`unchangedIfGone`), a user of that name
    // already there (none there) is no fault but nothing to do: still not
    // done, but recorded as no change rather than a refusal.
    ChangeResult addUser(const UserData& user, bool unchangedIfThere = false);
    ChangeResult deleteUser(std::string_view loginName, bool unchangedIfGone = false);
    // Replaces the user Modify loaded (`edited`: where it was loaded if it
    // still bears the name there, else the user of that name) by `user`,
    // keeping their accounts; the user moves to the end of the table, and
    // the whole table is written at once.
    ChangeResult saveChanges(const LoadedUser& edited, const UserData& user);

    // The signed-in user's own password, whatever their rights: the old
    // one, and the new one typed twice, held to the rules every password
    // is. Written at once with the whole table; they stay signed in.
    ChangeResult changeOwnPassword(std::string_view oldPassword, std::string_view newPassword,
                                   std::string_view repeated);
    // What the person is told once it is done.
    static const char* ownPasswordChangedText();

    // Bank accounts of the user `loginName`; each is written at once and
    // read back. Modify and Delete name the entry by `account.entry`; the
    // account meant is the one this session shows there when asked, and
    // one of another name found there in the file means it is gone.
    ChangeResult addAccount(std::string_view loginName, const AccountData& account);
    ChangeResult modifyAccount(std::string_view loginName, const AccountData& account);
    ChangeResult deleteAccount(std::string_view loginName, int entry);
    // Asked before a new account's dialog opens, of the accounts the window
    // shows: the refusal addAccount gives when there are ten already; Done
    // when there is room. Records nothing.
    static ChangeResult mayAddAccount(const std::vector<AccountData>& shown);
    // The refusal addAccount gives of the name typed for a new account: none
    // given, or one of the accounts `shown` bears it already. Done when it
    // may be added. Records nothing.
    static ChangeResult checkAccountName(std::string_view name,
                                         const std::vector<AccountData>& shown = {});
    // The entry (0 to 9) of the bank account `account` names among those of
    // the user `loginName`, or -1: the stored name exactly first, else one
    // equal to it with a to z upper-cased, as the account list matches.
    int lookUpAccount(std::string_view loginName, std::string_view account) const;

    // Writes the table (the close's Yes).
    ChangeResult save();

    // Puts the table file's bytes `backup` (read from the file `from`) in
    // place of the table, as a save writes it: under the writer lock, the
    // table's owner, group and mode kept, the old table whole on any
    // failure. Only a user who holds AddUsers, ModifyUsers and DeleteUsers
    // in the table as it is now may, and only a sound table is taken.
    // Changes waiting in memory are dropped: the backup replaces them too.
    ChangeResult restore(const std::string& backup, const std::string& from);

private:
    // The core's own tests read the table in memory (session/internal/).
    friend struct SessionAccess;

    // One change as the person asked for it, so that it can be made again
    // on a newer table than the one it was asked on.
    struct Step
    {
        // Makes the change on `table`, checked against the rules and the
        // signed-in user's rights; a refusal leaves `table` as it was.
        std::function<ChangeResult(UserTable& table, std::vector<AuditEvent>& events)> apply;
        // What of it someone else changed meanwhile, given the table as this
        // session last read it and the file's.
        std::function<std::optional<Conflict>(const UserTable& seen, const UserTable& file)> clash;
        // Named in a warning when the change can no longer be made.
        std::string what;
        // The table the person made the change on, where a refresh has
        // since shown them another in which someone else changed what it
        // touches: the save still asks about that. Empty: the session's base.
        std::shared_ptr<const UserTable> seen;
    };
    // A person's answer to a clash, good only for the file as it was when
    // they were asked.
    struct Answer
    {
        Conflict conflict;
        ConflictChoice choice;
        std::optional<std::string> file;
    };

    // The writer lock, waited for as setWriterWait says. A wait that ends
    // without it raises IoError 32, whose text says how it ended, unless
    // `plainTimeout` asks for the file error's own text on a timeout.
    WriterHold waitForWriter(bool plainTimeout);
    std::string actor() const;
    ChangeResult refuse(ChangeResult::Reason reason, std::string message,
                        std::string_view target = {}, std::string_view missingRight = {});
    // The refusal of the first of `texts` (new values, UTF-8) the table
    // cannot hold; nothing when it can hold them all.
    std::optional<ChangeResult>
    refuseUnstorable(std::initializer_list<std::pair<TextField, std::string_view>> texts,
                     std::string_view target);
    std::optional<ChangeResult> refuseUnstorable(const AccountData& account,
                                                 std::string_view loginName);
    // The refusal (recorded) of a change of the user `loginName` where no
    // user could bear that name, as the table cannot hold it; else nothing.
    std::optional<ChangeResult> refuseUnholdableName(std::string_view loginName);
    ChangeResult refuseRight(Right missing, std::string_view action, std::string_view target);
    // The refusal of the first text of `texts` that holds a control
    // character; nothing when none does.
    std::optional<ChangeResult>
    refuseControls(std::initializer_list<std::pair<TextField, std::string_view>> texts,
                   std::string_view target);
    void refuseSignIn(SignInResult result, std::string_view typedName);
    // Whether `record` is the signed-in user's, by name and password as
    // they signed in (or as their own Save Changes last made them).
    bool isMe(const UserRecord& record) const;
    int mySlot(const UserTable& table) const;
    // The signed-in user's record and rights from `file`; false when they
    // are no longer in it.
    bool findMe(const UserTable& file);
    // The same, with the refusal (recorded) when they are gone.
    std::optional<ChangeResult> takeRightsFrom(const UserTable& file);
    // What the table file holds now; nothing when it is gone.
    std::optional<std::string> readFile() const;
    // The same from the file as it is now, for changes kept in memory.
    std::optional<ChangeResult> readRights();
    ChangeResult keepInMemory(Step step);
    // Runs a change; a file fault becomes its Failed result.
    template <class Change> ChangeResult failingSafely(Change&& change);

    // A change with nothing to do, as the caller allowed: recorded as no
    // change, and answered as the refusal it would otherwise be.
    ChangeResult unchanged(ChangeResult::Reason reason, std::string message, std::string detail,
                           std::string_view target);
    ChangeResult addUser(UserTable& table, const UserData& user, bool unchangedIfThere,
                         std::vector<AuditEvent>& events);
    ChangeResult deleteUser(UserTable& table, const std::string& loginName, bool unchangedIfGone,
                            std::vector<AuditEvent>& events);
    ChangeResult changeOwnPassword(UserTable& table, const std::string& oldPassword,
                                   const std::string& newPassword, const std::string& repeated,
                                   std::vector<AuditEvent>& events);
    ChangeResult saveChanges(UserTable& table, const std::string& editedName, int editedSlot,
                             const UserData& user, std::vector<AuditEvent>& events);
    // The checks every account change starts with: the rights, a name for
    // the account (`plain`, when given) and the user. A refusal, or nothing.
    std::optional<ChangeResult> checkAccountChange(const UserTable& table,
                                                   std::string_view loginName,
                                                   const AccountEntry* plain);
    // The control-character refusal of an account's new texts: those of
    // `plain` that differ from `was` (all of them for a new account).
    std::optional<ChangeResult> refuseAccountControls(const AccountEntry* was,
                                                      const AccountEntry& plain,
                                                      std::string_view loginName);
    ChangeResult addAccount(UserTable& table, const std::string& loginName,
                            const AccountEntry& plain, std::vector<AuditEvent>& events);
    ChangeResult modifyAccount(UserTable& table, const std::string& loginName, int entry,
                               const std::string& shown, const AccountEntry& plain,
                               std::vector<AuditEvent>& events);
    ChangeResult deleteAccount(UserTable& table, const std::string& loginName, int entry,
                               const std::string& shown, std::vector<AuditEvent>& events);
    // The name of the account this session shows at `entry` of the user
    // `loginName`; empty when none.
    std::string shownAccount(std::string_view loginName, int entry) const;
    // Refuses a change of the account `shown` at `entry` when the table
    // holds no longer that one there.
    std::optional<ChangeResult> checkSameAccount(const UserTable& table, int slot,
                                                 const std::string& loginName, int entry,
                                                 const std::string& shown);

    // Saves the table with `step` made on it (when given), under the writer
    // lock, asked about clashes with the lock let go; when the file changed
    // since it was last read, the waiting changes and `step` are made again
    // on the file's table. A file fault on the way (the read to compare, the
    // wait for the lock, the write) is recorded as a failed save and comes
    // back as the Failed result, never raised.
    ChangeResult commit(const Step* step, bool readBack);
    // A clash to ask the person about, and the file it was found on.
    struct Question
    {
        Conflict conflict;
        std::optional<std::string> file;
    };
    // How one try at a save ended: its result, or the question to ask first.
    struct Try
    {
        Try(ChangeResult ended) : result(std::move(ended)) {}
        Try(Question asked) : question(std::move(asked)) {}
        ChangeResult result;
        std::optional<Question> question;
    };
    // One try at it, under the lock. A clash not among `answers` given on
    // the file as it is now ends the try with nothing changed, and that
    // clash to ask about.
    Try commitLocked(const Step* step, bool readBack, const std::vector<Answer>& answers);
    // Takes the file's table, with the changes still waiting made on it.
    void adoptFile(const UserTable& file, const std::optional<std::string>& onDisk,
                   const UserTable& next, std::vector<Step> kept, std::vector<AuditEvent> events);
    // The same without the audit line.
    void takeFile(const UserTable& file, const std::optional<std::string>& onDisk,
                  const UserTable& next, std::vector<Step> kept, std::vector<AuditEvent> events);
    // `waiting` made again on a copy of `table`: the copy, or nothing, with
    // what could not be made, and why, added to `dropped`.
    static std::optional<UserTable> madeAgain(const Step& waiting, const UserTable& table,
                                              std::vector<AuditEvent>& made,
                                              std::vector<std::string>& dropped);
    ConflictChoice ask(const Conflict& conflict) const;
    // `clash` with the writer of the table `onDisk`, where the lock file
    // (held) records it.
    Conflict withLastWriter(Conflict clash, const std::optional<std::string>& onDisk) const;
    // Leaves in the lock file (held) who wrote the table `written` now;
    // never fails a save.
    void recordWriter(std::string_view login, const std::string& written);
    // Writing nothing, as the person chose; recorded as a refusal.
    ChangeResult cancelled(const Conflict& conflict);
    void record(AuditEvent event) const;
    AuditEvent event(AuditEvent::Kind kind, std::string_view target = {}) const;

    std::string m_tablePath;
    AuditSink* m_audit;
    SystemUser m_systemUser;
    // What of the store the session holds: its tables, the writer lock and
    // the signed-in user's record, which m_writerLock, m_base, m_table and
    // m_currentUser name.
    struct Store;
    std::unique_ptr<Store> m_store;
    std::function<ConflictChoice(const Conflict&)> m_onConflict;
    WriterLock& m_writerLock;
    std::chrono::milliseconds m_writerWait = DefaultWriterWait;
    std::function<bool(WriterWait)> m_onWriterWait;
    // The table as the file held it when this session last read or wrote
    // it, and those bytes; nothing while it knows of no file.
    UserTable& m_base;
    std::optional<std::string> m_fileBytes;
    // m_base with the waiting changes made on it: what the windows show.
    UserTable& m_table;
    // Adds and deletions waiting for a save, and their events: the log
    // tells only of changes that reached the file.
    std::vector<Step> m_pending;
    std::vector<AuditEvent> m_unsaved;
    bool m_tableChanged = false;
    // A save is under way: the person may be asked something, and the
    // windows' events turn meanwhile; a refresh then would pull the table
    // from under it.
    bool m_committing = false;
    bool m_signedIn = false;
    bool m_signedOut = false;
    // Who is signed in: their login name as stored and their password. A
    // name alone would let a new user of that name, added by someone else,
    // hand this sitting their rights.
    std::string m_me;
    std::string m_myPassword;
    UserRecord& m_currentUser;
    // Signed out by the signed-in user's own deletion, now saved.
    bool m_deletedMyself = false;
    // Set by the signed-in user's Save Changes of their own record: who
    // they are once it is saved.
    std::optional<std::pair<std::string, std::string>> m_newIdentity;
};

// The texts of the rights, as the rights are named everywhere.
const char* rightName(Right right);

// Whether adding a user of one name is refused as a duplicate of the other.
bool sameLoginName(std::string_view a, std::string_view b);
