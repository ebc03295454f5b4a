#include "Session.h"
#include "TableCheck.h"
#include "internal/Records.h"
#include "internal/TableBytes.h"

#include "store/IoError.h"
#include "store/NewFile.h"
#include "store/Scramble.h"
#include "store/TableFile.h"
#include "store/TableLock.h"
#include "store/WriterLock.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// The refusals of Add and Save Changes, each said the same wherever it comes.
constexpr const char* EmptyFieldText = "Please fill all sections.";
constexpr const char* DuplicateUserText = "User already exist.";

bool isGranted(const UserRecord& record, Right right)
{
    return decoded(rightField(record, right)) == "0";
}

bool sameRights(const UserRecord& stored, const UserRecord& plain)
{
    for (Right right : AllRights) {
        if (decoded(rightField(stored, right)) != rightField(plain, right).value())
            return false;
    }
    return true;
}

bool anyRightGranted(const UserRecord& plain)
{
    for (Right right : AllRights) {
        if (rightField(plain, right).value() == "0")
            return true;
    }
    return false;
}

bool sameTrimmedName(std::string_view a, std::string_view b)
{
    return upperAscii(trimControls(a)) == upperAscii(trimControls(b));
}

// Whether another user than the one in `except` bears that name as Add
// compares names, anywhere in the table: a user behind a free slot is not
// listed, but a twin of theirs would still keep them from signing in.
bool nameTaken(const UserTable& table, std::string_view name, int except = 0)
{
    for (int n = 1; n <= SlotCount; ++n) {
        const UserRecord& record = table.slot(n);
        if (n != except && !isFreeSlot(record) && sameTrimmedName(decoded(record.LoginName), name))
            return true;
    }
    return false;
}

// The slot of a user of that name; never a free slot, whose name reads as
// the empty text.
int findUsedSlot(const UserTable& table, std::string_view loginName)
{
    const int slot = table.FindUser(loginName);
    return slot > 0 && !isFreeSlot(table.slot(slot)) ? slot : 0;
}

bool sameBytes(const UserRecord& a, const UserRecord& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Whether someone else changed the user `name`'s login data (name,
// password, data path, rights) between `seen` and `file`. A user missing
// from either is no clash: the change itself finds that out.
bool userDataChanged(const UserTable& seen, const UserTable& file, std::string_view name)
{
    const int before = findUsedSlot(seen, name);
    const int now = findUsedSlot(file, name);
    if (before == 0 || now == 0)
        return false;
    const UserRecord& a = seen.slot(before);
    const UserRecord& b = file.slot(now);
    if (decoded(a.Password) != decoded(b.Password) || decoded(a.DataPath) != decoded(b.DataPath))
        return true;
    for (Right right : AllRights) {
        if (decoded(rightField(a, right)) != decoded(rightField(b, right)))
            return true;
    }
    return false;
}

// What someone else changed of a user's record between `a` and `b`, as a
// list for people.
std::string describeUserChange(const UserRecord& a, const UserRecord& b)
{
    std::vector<std::string> items;
    if (decoded(a.LoginName) != decoded(b.LoginName))
        items.push_back("name, now " + utf8Of(decoded(b.LoginName)));
    if (decoded(a.Password) != decoded(b.Password))
        items.push_back("password");
    if (decoded(a.DataPath) != decoded(b.DataPath))
        items.push_back("data path");
    for (Right right : AllRights) {
        const bool before = isGranted(a, right);
        const bool after = isGranted(b, right);
        if (before != after)
            items.push_back(std::string(after ? "granted " : "revoked ") + rightName(right));
    }
    for (int i = 0; i < AccountCount; ++i) {
        const AccountEntry& x = a.Accounts[static_cast<std::size_t>(i)];
        const AccountEntry& y = b.Accounts[static_cast<std::size_t>(i)];
        if (decoded(x.AccountName) != decoded(y.AccountName) ||
            decoded(x.AccountDescription) != decoded(y.AccountDescription)) {
            items.push_back("bank accounts");
            break;
        }
    }
    std::string list;
    for (const std::string& item : items)
        list += (list.empty() ? "" : ", ") + item;
    return list;
}

// The same for one bank account entry.
std::string describeAccountChange(const AccountEntry& a, const AccountEntry& b)
{
    if (b.AccountName.empty())
        return "account deleted";
    std::string list;
    if (decoded(a.AccountName) != decoded(b.AccountName))
        list = "name, now " + utf8Of(decoded(b.AccountName));
    if (decoded(a.AccountDescription) != decoded(b.AccountDescription))
        list += (list.empty() ? "" : ", ") + std::string("description");
    return list;
}

// The refusals of a new bank account, the same whether the window asks
// before it adds or the change finds them.
const char* const NoAccountNameText = "Please give an account Name.";
const char* const AccountsFullText = "This user already has ten bank accounts.";
std::string accountTakenText(std::string_view account)
{
    return "The " + std::string(account) + " is assigned, please Create another one.";
}

// A refusal that records nothing: the window asks before it changes.
ChangeResult plainRefusal(ChangeResult::Reason reason, std::string message)
{
    ChangeResult result;
    result.outcome = ChangeResult::Outcome::Refused;
    result.reason = reason;
    result.message = std::move(message);
    return result;
}

// The placeholder the user editor shows for a password is known to
// everyone who read the manual: no user may get it, in any letter case,
// neither whole nor as the first eight characters the table keeps of it.
bool isReservedPassword(std::string_view password)
{
    const AnsiString upper = upperAscii(password);
    const AnsiString reserved = upperAscii(Session::PasswordPlaceholder);
    return upper == reserved || upper.substr(0, MaxPassword) == reserved.substr(0, MaxPassword);
}

const char* const WrongOldPasswordText =
    "The old password is not right: your password has not been changed.";

const char* const ReservedPasswordMessage =
    "The NewPassWord is a reserved word, please try another one.";

// The clash about the user `name`, with what the other side changed.
Conflict userConflict(const UserTable& seen, const UserTable& file, const AnsiString& name)
{
    return Conflict{name,
                    {},
                    describeUserChange(seen.slot(findUsedSlot(seen, name)),
                                       file.slot(findUsedSlot(file, name))),
                    {},
                    {}};
}

// Who the writer lock file says saved the table last, as people read it.
// Anyone who may write that file may have written it: its texts are shown
// with their control characters made visible, and a login that is no UTF-8
// text is left out.
void describeLastWriter(const WriterRecord& record, Conflict& conflict)
{
    if (record.systemUser.empty() && !record.uid)
        return;
    std::string who = visibleText(record.systemUser);
    std::string about;
    if (record.uid && who.empty())
        who = "uid " + std::to_string(*record.uid);
    else if (record.uid)
        about = "uid " + std::to_string(*record.uid);
    if (!record.login.empty() && tableBytesOf(record.login))
        about += (about.empty() ? "" : ", ") + ("signed in as " + visibleText(record.login));
    if (!about.empty())
        who += " (" + about + ")";
    if (!record.host.empty())
        who += " on " + record.host;
    const auto when = static_cast<std::time_t>(record.time);
    std::tm local{};
    char shown[32] = {};
    if (static_cast<std::int64_t>(when) != record.time || !::localtime_r(&when, &local) ||
        std::strftime(shown, sizeof shown, "%Y-%m-%d %H:%M", &local) == 0)
        return;
    conflict.savedBy = std::move(who);
    conflict.savedAt = shown;
}

int firstFreeEntry(const AccountArea& accounts)
{
    for (int i = 0; i < AccountCount; ++i) {
        if (accounts[static_cast<std::size_t>(i)].AccountName.empty())
            return i;
    }
    return -1;
}

// Scrambles a plain entry into a stored one; bytes beyond the new lengths
// keep what they held.
void storeEntry(AccountEntry& stored, const AccountEntry& plain)
{
    storeEncoded(stored.AccountName, plain.AccountName.value());
    storeEncoded(stored.AccountDescription, plain.AccountDescription.value());
}

// The record the store keeps for what a person typed: plain texts, cut to
// their fields, and each right "0" (granted) or "1".
UserRecord plainRecord(const UserData& user)
{
    UserRecord plain = BlankUser;
    plain.LoginName.assign(user.loginName);
    plain.Password.assign(user.password);
    plain.DataPath.assign(user.dataPath);
    for (Right right : AllRights)
        rightField(plain, right).assign(user.rights.has(right) ? "0" : "1");
    return plain;
}

AccountEntry plainEntry(const AccountData& account)
{
    AccountEntry plain{};
    plain.AccountName.assign(account.name);
    plain.AccountDescription.assign(account.description);
    return plain;
}

// Every text given and every right chosen; a text of blanks and control
// characters counts as none.
bool allSectionsFilled(const UserData& user)
{
    return !trimControls(user.loginName).empty() && !trimControls(user.password).empty() &&
           !trimControls(user.dataPath).empty() && !user.unreadable.any();
}

// A user's texts as the table holds them, and as people read them.
UserData inTableBytes(UserData user)
{
    for (std::string* text : {&user.loginName, &user.password, &user.dataPath})
        *text = tableBytesOf(*text).value_or(recordableBytes(*text));
    return user;
}

AccountData inTableBytes(AccountData account)
{
    for (std::string* text : {&account.name, &account.description})
        *text = tableBytesOf(*text).value_or(recordableBytes(*text));
    return account;
}

UserData inUtf8(UserData user)
{
    for (std::string* text : {&user.loginName, &user.password, &user.dataPath})
        *text = utf8Of(*text);
    return user;
}

UserData dataOf(const UserRecord& stored)
{
    UserData user;
    user.loginName = decoded(stored.LoginName);
    user.password = decoded(stored.Password);
    user.dataPath = decoded(stored.DataPath);
    for (Right right : AllRights) {
        const AnsiString flag = decoded(rightField(stored, right));
        user.rights.set(right, flag == "0");
        user.unreadable.set(right, flag != "0" && flag != "1");
    }
    return user;
}

bool isFolder(const std::string& path)
{
    struct stat st
    {
    };
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The folder part of a path, with its slash; empty for a bare name.
std::string folderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The file part of a path.
std::string fileNameOf(const std::string& path)
{
    return path.substr(folderOf(path).size());
}

// Whether `path` is nothing, or a plain file of the caller's own, as a
// first use may fill.
bool emptyFileOfMyOwn(const std::string& path)
{
    struct stat st
    {
    };
    if (::lstat(path.c_str(), &st) != 0)
        return errno == ENOENT;
    return S_ISREG(st.st_mode) && st.st_uid == ::geteuid();
}

// How long a wait lasted, in words.
std::string duration(std::chrono::milliseconds wait)
{
    const long long ms = wait.count();
    if (ms % 1000 != 0)
        return std::to_string(ms) + " milliseconds";
    return std::to_string(ms / 1000) + (ms == 1000 ? " second" : " seconds");
}

// A wait for the writer lock that ended without it: the lock's error, with
// the words the person is told.
class WriterWaitEnded : public IoError
{
public:
    explicit WriterWaitEnded(std::string text) : IoError(32), m_text(std::move(text)) {}
    const char* what() const noexcept override { return m_text.c_str(); }

private:
    std::string m_text;
};

// Tells whoever follows a wait that it is over, however it ends.
class WaitEnd
{
public:
    explicit WaitEnd(const std::function<bool(Session::WriterWait)>& onWait) : m_onWait(onWait) {}
    ~WaitEnd()
    {
        if (begun)
            m_onWait(Session::WriterWait::Ends);
    }
    WaitEnd(const WaitEnd&) = delete;
    WaitEnd& operator=(const WaitEnd&) = delete;

    bool begun = false;

private:
    const std::function<bool(Session::WriterWait)>& m_onWait;
};

} // namespace

const char* rightName(Right right)
{
    switch (right) {
    case Right::DeleteRecord:
        return "DeleteRecord";
    case Right::DeleteUsers:
        return "DeleteUsers";
    case Right::ModifyRecord:
        return "ModifyRecord";
    case Right::ModifyUsers:
        return "ModifyUsers";
    case Right::AddRecord:
        return "AddRecord";
    case Right::AddUsers:
        break;
    }
    return "AddUsers";
}

const std::size_t MaxLoginName = decltype(UserRecord::LoginName)::capacity();
const std::size_t MaxPassword = decltype(UserRecord::Password)::capacity();
const std::size_t MaxDataPath = decltype(UserRecord::DataPath)::capacity();
const std::size_t MaxAccountName = decltype(AccountEntry::AccountName)::capacity();
const std::size_t MaxDescription = decltype(AccountEntry::AccountDescription)::capacity();

const char* const Session::TableFileName = UserTableFileName;
const char* const Session::PasswordPlaceholder = "NewPassWord";

struct Session::Store
{
    explicit Store(const std::string& tablePath) : writerLock(tablePath) {}

    WriterLock writerLock;
    UserTable base;
    UserTable table;
    UserRecord currentUser{};
    std::unique_ptr<TableLock> runningCopy;
};

struct Session::WriterHold::Hold
{
    WriterLock::Hold hold;
};

Session::WriterHold::WriterHold(std::unique_ptr<Hold> hold) : m_hold(std::move(hold)) {}
Session::WriterHold::WriterHold(WriterHold&& other) noexcept = default;
Session::WriterHold::~WriterHold() = default;

Session::Session(std::string tablePath, AuditSink* audit)
    : m_tablePath(std::move(tablePath)), m_audit(audit),
      m_store(std::make_unique<Store>(m_tablePath)), m_writerLock(m_store->writerLock),
      m_base(m_store->base), m_table(m_store->table), m_currentUser(m_store->currentUser)
{
}

Session::~Session() = default;

void Session::setConflictHandler(std::function<ConflictChoice(const Conflict&)> handler)
{
    m_onConflict = std::move(handler);
}

void Session::setWriterWait(std::chrono::milliseconds wait, std::function<bool(WriterWait)> onWait)
{
    m_writerWait = wait;
    m_onWriterWait = std::move(onWait);
}

std::string Session::writerWaitText() const
{
    return "Waiting for another copy to finish writing " + fileNameOf(m_tablePath) + "\u2026";
}

std::string Session::writerWaitNotice(std::string_view path)
{
    return "waiting for another copy to finish writing " + std::string(path);
}

Session::WriterTake Session::holdWriterLock()
{
    WriterTake take;
    take.failure = failingSafely([&] {
        take.hold.emplace(waitForWriter(true));
        return ChangeResult();
    });
    return take;
}

Session::WriterHold Session::waitForWriter(bool plainTimeout)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + m_writerWait;
    WaitEnd end(m_onWriterWait);
    for (;;) {
        // The lock is tried without its own wait, so that whoever follows
        // this one hears of it between tries (a window keeps painted).
        try {
            return WriterHold(std::make_unique<WriterHold::Hold>(
                WriterHold::Hold{WriterLock::Hold(m_writerLock, std::chrono::milliseconds(0))}));
        } catch (const IoError& error) {
            if (error.code() != 32)
                throw;
        }
        if (Clock::now() >= deadline) {
            if (plainTimeout)
                throw IoError(32);
            throw WriterWaitEnded("Nothing was saved: another copy was still writing " +
                                  fileNameOf(m_tablePath) + " after " + duration(m_writerWait) +
                                  ". Try again once it has finished.");
        }
        if (m_onWriterWait) {
            const WriterWait step = end.begun ? WriterWait::Goes : WriterWait::Begins;
            end.begun = true;
            if (!m_onWriterWait(step))
                throw WriterWaitEnded(
                    "Nothing was saved: you stopped waiting for another copy to finish "
                    "writing " +
                    fileNameOf(m_tablePath) + ".");
        }
        // A save holds the lock for milliseconds; a short nap keeps the wait
        // close to that without spinning.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::optional<Session::OtherCopy> Session::markRunningCopy()
{
    m_store->runningCopy = std::make_unique<TableLock>(m_tablePath);
    TableLock& mark = *m_store->runningCopy;
    if (mark.tryLock() != TableLock::State::HeldByOther)
        return std::nullopt;
    return OtherCopy{mark.holderPid(), mark.holderHost()};
}

std::string Session::fileErrorText(int code)
{
    return ioErrorText(code);
}

int Session::fileErrorCode(int systemError)
{
    return ioCodeFromErrno(systemError);
}

std::optional<Session::FileFault> Session::fileFaultOf(const std::function<void()>& body)
{
    try {
        body();
        return std::nullopt;
    } catch (const IoError& error) {
        return FileFault{error.code(), error.what()};
    }
}

const std::size_t Session::MaxTableFileSize = ::MaxTableFileSize;

std::optional<std::string> Session::peekTableFile(const std::string& path)
{
    return ::peekTableFile(path);
}

void Session::writeCopy(const std::string& path, const std::string& bytes)
{
    replaceWithNewFile(path, bytes);
}

std::optional<std::string> Session::takeLockNotice()
{
    return m_writerLock.takeNotice();
}

namespace {

// A save done without a lock says so, once: the person may want the
// table on a file system that keeps locks.
ChangeResult withLockNotice(WriterLock& lock, ChangeResult result)
{
    if (result.done()) {
        if (const std::optional<std::string> notice = lock.takeNotice())
            result.warning += (result.warning.empty() ? "" : "\n") + *notice;
    }
    return result;
}

} // namespace

ChangeResult Session::loadTable()
{
    // Copies of the table that killed saves left behind are nobody's to keep.
    removeStaleTemporaries(m_tablePath);
    return failingSafely([&] {
        UserTable table = m_table;
        std::string bytes;
        LoadUserTable(table, m_tablePath, &bytes);
        m_base = table;
        m_table = table;
        m_fileBytes = std::move(bytes);
        m_pending.clear();
        m_unsaved.clear();
        return ChangeResult{};
    });
}

ChangeResult Session::reload()
{
    return failingSafely([&] {
        UserTable fresh;
        std::string bytes;
        LoadUserTable(fresh, m_tablePath, &bytes);
        m_base = fresh;
        m_table = fresh;
        m_fileBytes = std::move(bytes);
        m_tableChanged = false;
        m_pending.clear();
        m_unsaved.clear();
        record(event(AuditEvent::Kind::TableReloaded));
        if (m_signedIn)
            findMe(m_base);
        return ChangeResult{};
    });
}

std::optional<UserTable> Session::madeAgain(const Step& waiting, const UserTable& table,
                                            std::vector<AuditEvent>& made,
                                            std::vector<std::string>& dropped)
{
    UserTable trial = table;
    const ChangeResult result = waiting.apply(trial, made);
    if (!result.done()) {
        dropped.push_back(waiting.what + ": " + result.message);
        return std::nullopt;
    }
    return trial;
}

ChangeResult Session::refresh()
{
    if (!m_signedIn || m_signedOut || m_committing)
        return {};
    return failingSafely([&]() -> ChangeResult {
        // Cheap first: most looks find the file as this session left it,
        // its own saves included.
        if (const std::optional<std::string> glance = readFile(); !glance || glance == m_fileBytes)
            return {};
        // Read again under the writer lock, so that a save written over the
        // old bytes in place is never taken half-way. Whoever may not make
        // the lock file may not save either, and reads as it is.
        std::optional<WriterLock::Hold> hold;
        try {
            hold.emplace(m_writerLock, std::chrono::milliseconds(0));
        } catch (const IoError& error) {
            if (error.code() == 32) // another writer: the next look finds it done
                return {};
        }
        const std::optional<std::string> onDisk = readFile();
        // A table someone took away is written anew by the next save.
        if (!onDisk || onDisk == m_fileBytes)
            return {};
        const UserTable file = tableFromBytes(*onDisk);
        if (!findMe(file)) {
            ChangeResult signedOut;
            signedOut.outcome = ChangeResult::Outcome::Refused;
            signedOut.reason = ChangeResult::Reason::SignedOut;
            signedOut.message = signedOutMessage();
            return signedOut;
        }

        UserTable next = file;
        std::vector<AuditEvent> events;
        std::vector<Step> kept;
        std::vector<std::string> dropped;
        for (const Step& waiting : m_pending) {
            std::vector<AuditEvent> made;
            std::optional<UserTable> trial = madeAgain(waiting, next, made, dropped);
            if (!trial)
                continue;
            next = std::move(*trial);
            events.insert(events.end(), made.begin(), made.end());
            kept.push_back(waiting);
            // The person decided on the table they saw then: where someone
            // else has changed what the change touches, the save asks.
            if (!waiting.seen && waiting.clash(m_base, file))
                kept.back().seen = std::make_shared<const UserTable>(m_base);
        }
        // Only shown: the log tells of the file's version when a save takes it.
        takeFile(file, onDisk, next, std::move(kept), std::move(events));

        ChangeResult result;
        result.refreshed = true;
        if (!dropped.empty())
            result.warning = "Someone else has changed Gatekeep.acl: it is shown as it is now, and "
                             "what you changed since your last save was made again on it, but for:";
        for (const std::string& lost : dropped)
            result.warning += "\nNot saved, " + lost;
        return result;
    });
}

ChangeResult Session::createTable()
{
    return failingSafely([&] {
        // Another copy may have made the table since the caller looked: it
        // is read, never emptied.
        if (!CreateUserTableFile(m_tablePath))
            return loadTable();
        m_table = UserTable{};
        m_table.ClearEmptySlots();
        m_base = m_table;
        m_fileBytes = std::string();
        m_pending.clear();
        m_unsaved.clear();
        return ChangeResult{};
    });
}

int lookUpUser(const UserTable& table, std::string_view typedName)
{
    const AnsiString name = trimControls(typedName);
    if (name.empty())
        return 0;
    if (const int exact = table.FindUser(name))
        return exact;
    // Names stored with blanks around them are found by what a person types.
    for (int n = 1; n <= SlotCount; ++n) {
        const UserRecord& record = table.slot(n);
        if (!isFreeSlot(record) && trimControls(decoded(record.LoginName)) == name)
            return n;
    }
    return 0;
}

bool sameLoginName(std::string_view a, std::string_view b)
{
    return sameTrimmedName(a, b);
}

std::string Session::storedName(std::string_view typedName) const
{
    const std::optional<std::string> name = tableBytesOf(typedName);
    const int slot = name ? lookUpUser(m_table, *name) : 0;
    return slot == 0 ? std::string() : utf8Of(decoded(m_table.slot(slot).LoginName));
}

bool Session::knowsUser(std::string_view typedName) const
{
    const std::optional<std::string> name = tableBytesOf(typedName);
    return name && lookUpUser(m_table, *name) != 0;
}

const char* Session::signInMessage(SignInResult result)
{
    switch (result) {
    case SignInResult::EmptyName:
        return "Enter your LOGIN NAME Please";
    case SignInResult::UnknownName:
        return "Incorrect login name!";
    case SignInResult::EmptyPassword:
        return "Enter your PASSWORD Please";
    case SignInResult::WrongPassword:
        return "Incorrect Password!";
    case SignInResult::SignedIn:
        break;
    }
    return "";
}

void Session::refuseSignIn(SignInResult result, std::string_view typedName)
{
    AuditEvent refused = event(AuditEvent::Kind::SignInRefused, recordableBytes(typedName));
    switch (result) {
    case SignInResult::EmptyName:
        refused.detail = "empty name";
        break;
    case SignInResult::UnknownName:
        refused.detail = "unknown name";
        break;
    case SignInResult::EmptyPassword:
        refused.detail = "empty password";
        break;
    case SignInResult::WrongPassword:
    case SignInResult::SignedIn:
        refused.detail = "wrong password";
        break;
    }
    record(std::move(refused));
}

std::optional<Session::SignInResult> Session::refuseName(std::string_view typedName)
{
    std::optional<SignInResult> refusal;
    if (typedName.empty())
        refusal = SignInResult::EmptyName;
    else if (!knowsUser(typedName))
        refusal = SignInResult::UnknownName;
    if (refusal)
        refuseSignIn(*refusal, typedName);
    return refusal;
}

Session::SignInResult Session::signIn(std::string_view typedName, std::string_view typedPassword)
{
    if (const std::optional<SignInResult> refusal = refuseName(typedName))
        return *refusal;
    const UserRecord& user = m_table.slot(lookUpUser(m_table, recordableBytes(typedName)));
    const std::optional<std::string> password = tableBytesOf(typedPassword);
    // An empty password never signs anyone in, whatever a damaged file holds.
    SignInResult result = SignInResult::SignedIn;
    if (typedPassword.empty())
        result = SignInResult::EmptyPassword;
    else if (!password || EncodeField(*password, ScrambleKey) != user.Password.value())
        result = SignInResult::WrongPassword;
    if (result != SignInResult::SignedIn) {
        refuseSignIn(result, typedName);
        return result;
    }
    m_currentUser = user;
    m_me = decoded(user.LoginName);
    m_myPassword = decoded(user.Password);
    m_signedIn = true;
    m_signedOut = false;
    m_deletedMyself = false;
    record(event(AuditEvent::Kind::SignedIn, m_me));
    return SignInResult::SignedIn;
}

bool Session::granted(Right right) const
{
    return m_signedIn && !m_signedOut && isGranted(m_currentUser, right);
}

bool Session::mayEditRights() const
{
    return granted(Right::ModifyUsers) && granted(Right::AddUsers);
}

bool Session::isMe(const UserRecord& record) const
{
    // Whoever knows this name and password could sign in as the record
    // anyway; anyone else's record, even of this name, is not theirs to use.
    return !isFreeSlot(record) && decoded(record.LoginName) == m_me &&
           decoded(record.Password) == m_myPassword;
}

int Session::mySlot(const UserTable& table) const
{
    for (int n = 1; n <= SlotCount; ++n) {
        if (isMe(table.slot(n)))
            return n;
    }
    return 0;
}

bool Session::findMe(const UserTable& file)
{
    const int slot = m_signedOut ? 0 : mySlot(file);
    if (slot == 0) {
        m_signedOut = true;
        return false;
    }
    m_currentUser = file.slot(slot);
    return true;
}

std::string Session::signedOutMessage() const
{
    if (m_deletedMyself)
        return "Your login ID " + utf8Of(m_me) +
               " has been deleted by your own change, now saved: you are signed out, and "
               "nothing more can be changed until you sign in as another user.";
    return "Your login ID " + utf8Of(m_me) +
           " is no longer in Gatekeep.acl as you signed in (someone else deleted it, renamed it or "
           "gave it another password): you are signed out, and nothing more can be changed until "
           "you sign in again.";
}

std::string Session::signedOutNotice() const
{
    return signedOutMessage() +
           "\nThis window can neither change nor save anything more: changes not saved are lost. "
           "Only Exit is left.";
}

std::optional<ChangeResult> Session::takeRightsFrom(const UserTable& file)
{
    if (findMe(file))
        return std::nullopt;
    return refuse(ChangeResult::Reason::SignedOut, signedOutMessage());
}

std::optional<std::string> Session::readFile() const
{
    // Under the writer lock, from the table it locked; nothing when it is
    // gone.
    return m_writerLock.readTable();
}

std::optional<ChangeResult> Session::readRights()
{
    const std::optional<std::string> onDisk = readFile();
    // A table someone took away is written anew by the next save: until
    // then the rights are those it held when last seen.
    if (!onDisk || onDisk == m_fileBytes)
        return takeRightsFrom(m_base);
    return takeRightsFrom(tableFromBytes(*onDisk));
}

std::vector<std::string> Session::listedNames() const
{
    std::vector<std::string> names;
    const int firstFree = m_table.FirstFreeSlot();
    // Users behind a free slot stay unlisted until an add fills that slot.
    const int last = firstFree < 0 ? SlotCount : firstFree - 1;
    for (int n = 1; n <= last; ++n) {
        const AnsiString name = decoded(m_table.slot(n).LoginName);
        if (!trimControls(name).empty())
            names.push_back(utf8Of(name));
    }
    return names;
}

int findAccount(const std::vector<AccountData>& accounts, std::string_view name)
{
    for (std::size_t i = 0; i < accounts.size(); ++i) {
        if (accounts[i].name == name)
            return static_cast<int>(i);
    }
    for (std::size_t i = 0; i < accounts.size(); ++i) {
        if (upperAscii(accounts[i].name) == upperAscii(name))
            return static_cast<int>(i);
    }
    return -1;
}

std::string accountNameKey(std::string_view name)
{
    return upperAscii(name);
}

bool isBlankText(std::string_view text)
{
    return trimControls(text).empty();
}

std::string trimmedText(std::string_view text)
{
    return trimControls(text);
}

bool Session::firstUseDue(const std::string& folder)
{
    const std::string base = folder.empty() ? std::string() : folder + "/";
    struct stat st
    {
    };
    if (::stat((base + FirstUseMarker).c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    const std::string table = base + UserTableFileName;
    if (::lstat(table.c_str(), &st) != 0)
        return errno == ENOENT;
    // The empty file a start without a table leaves holds nobody who could
    // sign in: a first use is the one way on from it.
    return S_ISREG(st.st_mode) && st.st_size == 0;
}

std::optional<ChangeResult> Session::firstUserRefusal(const UserData& typed, bool withPassword)
{
    const auto refusal = [](ChangeResult::Reason reason, std::string message) {
        ChangeResult refused;
        refused.outcome = ChangeResult::Outcome::Refused;
        refused.reason = reason;
        refused.message = std::move(message);
        return refused;
    };
    const AnsiString name = trimControls(typed.loginName);
    const AnsiString password = trimControls(typed.password);
    if (name.empty() || (withPassword && password.empty()))
        return refusal(ChangeResult::Reason::EmptyField,
                       "Please type in your new ID and Password.");
    const std::initializer_list<std::pair<TextField, std::string_view>> texts = {
        {TextField::LoginName, name},
        {TextField::Password, withPassword ? std::string_view(password) : std::string_view()},
        {TextField::DataPath, typed.dataPath}};
    for (const auto& [field, text] : texts) {
        if (std::optional<std::string> message = unstorableRefusal(field, text))
            return refusal(ChangeResult::Reason::Unstorable, std::move(*message));
    }
    // The trimming above drops controls at either end; one inside stays.
    for (const auto& [field, text] : texts) {
        if (std::optional<std::string> message = controlCharacterRefusal(field, text))
            return refusal(ChangeResult::Reason::ControlCharacter, std::move(*message));
    }
    // The first login ID holds every right: the placeholder everyone who
    // read the manual knows would hand them all out.
    if (withPassword && isReservedPassword(password))
        return refusal(ChangeResult::Reason::ReservedPassword, ReservedPasswordMessage);
    if (trimControls(typed.dataPath).empty() || !isFolder(typed.dataPath))
        return refusal(ChangeResult::Reason::BadDataPath,
                       "Please give a correct path for your data files.");
    return std::nullopt;
}

ChangeResult Session::createFirstUser(const UserData& typed)
{
    UserData user = typed;
    user.loginName = trimControls(user.loginName);
    user.password = trimControls(user.password);
    user.rights = Rights::all();
    if (std::optional<ChangeResult> refused = firstUserRefusal(user))
        return refuse(refused->reason, std::move(refused->message),
                      recordableBytes(user.loginName));
    const UserRecord plain = plainRecord(inTableBytes(user));
    return failingSafely([&]() -> ChangeResult {
        std::string lateFault;
        try {
            const WriterHold hold = waitForWriter(false);
            // Looked at under the lock: two first starts must not both win.
            // An empty file is no table: a start without one leaves it.
            const std::optional<std::string> onDisk = peekTableFile(m_tablePath);
            if ((onDisk && !onDisk->empty()) || (m_fileBytes && !m_fileBytes->empty()) ||
                m_table.FirstFreeSlot() != 1)
                return refuse(ChangeResult::Reason::NotFirstUse,
                              "A user table already exists: the first login ID is made only "
                              "where there is none.",
                              plain.LoginName.value());
            // The save would keep the empty file's owner: another user's
            // file would become their table, every password in it.
            if (!emptyFileOfMyOwn(m_tablePath))
                return refuse(ChangeResult::Reason::ForeignFile,
                              fileNameOf(m_tablePath) +
                                  " here belongs to another user or is a link: the first login "
                                  "ID is made only in a file of your own. Remove it, or ask "
                                  "whoever made it.",
                              plain.LoginName.value());
            UserTable next = m_table;
            next.StoreNewUser(plain);
            // Saved even then: failing the first use over it would leave a
            // table that no second try may fill.
            if (const std::optional<int> late = SaveUserTable(next, m_tablePath))
                lateFault = ioErrorText(*late);
            recordWriter(plain.LoginName.value(), next.bytes());
            UserTable back;
            std::string bytes;
            LoadUserTable(back, m_tablePath, &bytes);
            m_base = back;
            m_table = back;
            m_fileBytes = std::move(bytes);
        } catch (const IoError& error) {
            AuditEvent failed = event(AuditEvent::Kind::SaveFailed);
            failed.detail = error.what();
            record(std::move(failed));
            throw;
        }
        // The marker would otherwise outlive its use.
        ::unlink((folderOf(m_tablePath) + FirstUseMarker).c_str());
        // Made while nobody was signed in; the sign-in that follows says why
        // later lines name this user.
        record(event(AuditEvent::Kind::FirstUserCreated, plain.LoginName.value()));
        record(event(AuditEvent::Kind::TableSaved));
        const int slot = findUsedSlot(m_table, plain.LoginName.value());
        if (slot > 0) {
            m_currentUser = m_table.slot(slot);
            m_me = decoded(m_currentUser.LoginName);
            m_myPassword = decoded(m_currentUser.Password);
            m_signedIn = true;
            record(event(AuditEvent::Kind::SignedIn, m_me));
        }
        ChangeResult result;
        if (!lateFault.empty())
            result.warning =
                "The first login ID has been saved, but a step after it failed: " + lateFault;
        return withLockNotice(m_writerLock, std::move(result));
    });
}

std::optional<UserData> Session::user(std::string_view loginName) const
{
    const std::optional<std::string> name = tableBytesOf(loginName);
    const int slot = name ? findUsedSlot(m_table, *name) : 0;
    if (slot == 0)
        return std::nullopt;
    return inUtf8(dataOf(m_table.slot(slot)));
}

LoadedUser Session::loadForEditing(std::string_view loginName) const
{
    const std::optional<std::string> name = tableBytesOf(loginName);
    if (!name)
        return {};
    return LoadedUser(*name, findUsedSlot(m_table, *name));
}

std::vector<AccountData> Session::Accounts(std::string_view loginName) const
{
    std::vector<AccountData> accounts;
    const std::optional<std::string> name = tableBytesOf(loginName);
    const int slot = name ? findUsedSlot(m_table, *name) : 0;
    if (slot == 0)
        return accounts;
    for (int i = 0; i < AccountCount; ++i) {
        const AccountEntry& entry = m_table.slot(slot).Accounts[static_cast<std::size_t>(i)];
        if (!entry.AccountName.empty())
            accounts.push_back(
                {i, utf8Of(decoded(entry.AccountName)), utf8Of(decoded(entry.AccountDescription))});
    }
    return accounts;
}

UserData Session::me() const
{
    return inUtf8(dataOf(m_currentUser));
}

std::string Session::shownPassword(const UserData& user) const
{
    return user.password == utf8Of(decoded(m_currentUser.Password)) ? user.password : "Hidden";
}

std::optional<ChangeResult> Session::refuseUnholdableName(std::string_view loginName)
{
    if (tableBytesOf(loginName))
        return std::nullopt;
    return refuse(ChangeResult::Reason::NoSuchUser, noSuchUserText(), recordableBytes(loginName));
}

std::optional<ChangeResult>
Session::refuseUnstorable(std::initializer_list<std::pair<TextField, std::string_view>> texts,
                          std::string_view target)
{
    for (const auto& [field, text] : texts) {
        if (std::optional<std::string> message = unstorableRefusal(field, text))
            return refuse(ChangeResult::Reason::Unstorable, std::move(*message), target);
    }
    return std::nullopt;
}

template <class Change> ChangeResult Session::failingSafely(Change&& change)
{
    try {
        return change();
    } catch (const IoError& error) {
        ChangeResult failed;
        failed.outcome = ChangeResult::Outcome::Failed;
        failed.message = error.what();
        failed.errorCode = error.code();
        return failed;
    }
}

ChangeResult Session::keepInMemory(Step step)
{
    std::optional<ChangeResult> refused;
    const ChangeResult read = failingSafely([&] {
        refused = readRights();
        return ChangeResult{};
    });
    if (!read.done())
        return read;
    if (refused)
        return *refused;
    UserTable next = m_table;
    std::vector<AuditEvent> events;
    ChangeResult result = step.apply(next, events);
    if (!result.done())
        return result;
    m_table = next;
    m_tableChanged = true;
    for (AuditEvent& made : events)
        m_unsaved.push_back(std::move(made));
    m_pending.push_back(std::move(step));
    return result;
}

ChangeResult Session::addUser(const UserData& typed, bool unchangedIfThere)
{
    if (auto refused = refuseUnstorable({{TextField::LoginName, typed.loginName},
                                         {TextField::Password, typed.password},
                                         {TextField::DataPath, typed.dataPath}},
                                        recordableBytes(typed.loginName)))
        return *refused;
    const UserData user = inTableBytes(typed);
    Step step;
    step.apply = [this, user, unchangedIfThere](UserTable& table, std::vector<AuditEvent>& events) {
        return addUser(table, user, unchangedIfThere, events);
    };
    // A name both sides added is found by the add itself, as a twin.
    step.clash = [](const UserTable&, const UserTable&) { return std::optional<Conflict>(); };
    step.what = "adding the user " + utf8Of(plainRecord(user).LoginName.value());
    return keepInMemory(std::move(step));
}

ChangeResult Session::addUser(UserTable& table, const UserData& user, bool unchangedIfThere,
                              std::vector<AuditEvent>& events)
{
    const UserRecord plain = plainRecord(user);
    const AnsiString name = plain.LoginName.value();
    if (!mayAdd())
        return refuseRight(Right::AddUsers, "add users", name);
    if (!allSectionsFilled(user))
        return refuse(ChangeResult::Reason::EmptyField, EmptyFieldText, name);
    // Add after Modify would otherwise hand out the placeholder, as Save
    // Changes never does.
    if (isReservedPassword(user.password))
        return refuse(ChangeResult::Reason::ReservedPassword, ReservedPasswordMessage, name);
    if (!mayEditRights() && anyRightGranted(plain))
        return refuseRight(mayModify() ? Right::AddUsers : Right::ModifyUsers, "grant rights",
                           name);
    // Blanks around the name are stored with it; a control anywhere is not.
    if (auto refused = refuseControls({{TextField::LoginName, name},
                                       {TextField::Password, plain.Password.value()},
                                       {TextField::DataPath, plain.DataPath.value()}},
                                      name))
        return *refused;
    if (nameTaken(table, name) && unchangedIfThere)
        return unchanged(ChangeResult::Reason::DuplicateUser, DuplicateUserText,
                         "a user of that name is there already", name);
    if (nameTaken(table, name))
        return refuse(ChangeResult::Reason::DuplicateUser, DuplicateUserText, name);

    UserTable next = table;
    next.ClearEmptySlots();
    if (next.FirstFreeSlot() < 0)
        return refuse(ChangeResult::Reason::TableFull,
                      "The user table is full: no more than five users can be kept.", name);
    next.StoreNewUser(plain);
    table = next;
    AuditEvent added = event(AuditEvent::Kind::UserAdded, name);
    for (Right right : AllRights) {
        if (rightField(plain, right).value() == "0")
            added.changes.push_back(std::string("granted ") + rightName(right));
    }
    events.push_back(std::move(added));
    return {};
}

ChangeResult Session::deleteUser(std::string_view loginName, bool unchangedIfGone)
{
    const std::optional<std::string> bytes = tableBytesOf(loginName);
    // No user can bear a name the table cannot hold.
    if (!bytes && unchangedIfGone)
        return unchanged(ChangeResult::Reason::NoSuchUser, noSuchUserText(),
                         "no user of that name to delete", recordableBytes(loginName));
    if (auto refused = refuseUnholdableName(loginName))
        return *refused;
    const std::string name = *bytes;
    Step step;
    step.apply = [this, name, unchangedIfGone](UserTable& table, std::vector<AuditEvent>& events) {
        return deleteUser(table, name, unchangedIfGone, events);
    };
    // Deleting a user someone else has just changed would throw their
    // change away unseen.
    step.clash = [name](const UserTable& seen, const UserTable& file) {
        const int before = findUsedSlot(seen, name);
        const int now = findUsedSlot(file, name);
        if (before == 0 || now == 0 || sameBytes(seen.slot(before), file.slot(now)))
            return std::optional<Conflict>();
        return std::optional<Conflict>(userConflict(seen, file, name));
    };
    step.what = "deleting the user " + utf8Of(name);
    return keepInMemory(std::move(step));
}

ChangeResult Session::deleteUser(UserTable& table, const AnsiString& loginName,
                                 bool unchangedIfGone, std::vector<AuditEvent>& events)
{
    if (!mayDelete())
        return refuseRight(Right::DeleteUsers, "delete users", loginName);
    const int slot = findUsedSlot(table, loginName);
    if (slot == 0 && unchangedIfGone)
        return unchanged(ChangeResult::Reason::NoSuchUser, noSuchUserText(),
                         "no user of that name to delete", loginName);
    if (slot == 0)
        return refuse(ChangeResult::Reason::NoSuchUser, noSuchUserText(), loginName);
    const bool myself = isMe(table.slot(slot));
    table.RemoveUserSlot(slot);
    events.push_back(event(AuditEvent::Kind::UserDeleted, loginName));
    ChangeResult result;
    // Said at once: the window would otherwise lose its sheets at some later
    // save without a word.
    if (myself)
        result.warning = "You have deleted your own login ID " + utf8Of(loginName) +
                         ". Once the table is saved (on leaving, or with the next change written "
                         "at once), you are signed out: nothing more can be changed until you "
                         "sign in as another user.";
    return result;
}

ChangeResult Session::saveChanges(const LoadedUser& edited, const UserData& typed)
{
    if (auto refused = refuseUnstorable({{TextField::LoginName, typed.loginName},
                                         {TextField::Password, typed.password},
                                         {TextField::DataPath, typed.dataPath}},
                                        edited.m_name))
        return *refused;
    const UserData user = inTableBytes(typed);
    const AnsiString name = edited.m_name;
    const int editedSlot = edited.m_slot;
    Step step;
    step.apply = [this, name, editedSlot, user](UserTable& table, std::vector<AuditEvent>& events) {
        return saveChanges(table, name, editedSlot, user, events);
    };
    step.clash = [name](const UserTable& seen, const UserTable& file) {
        if (!userDataChanged(seen, file, name))
            return std::optional<Conflict>();
        return std::optional<Conflict>(userConflict(seen, file, name));
    };
    ChangeResult result = commit(&step, false);
    if (result.done())
        m_tableChanged = false; // the whole table is in the file now
    return result;
}

ChangeResult Session::saveChanges(UserTable& table, const AnsiString& editedName, int editedSlot,
                                  const UserData& user, std::vector<AuditEvent>& events)
{
    const UserRecord plain = plainRecord(user);
    const AnsiString newName = plain.LoginName.value();
    if (!mayModify())
        return refuseRight(Right::ModifyUsers, "change users", editedName);
    if (!allSectionsFilled(user))
        return refuse(ChangeResult::Reason::EmptyField, EmptyFieldText, editedName);
    // The placeholder the editor shows for a password is never stored: a
    // changed user always gets a newly typed password.
    if (isReservedPassword(user.password))
        return refuse(ChangeResult::Reason::ReservedPassword, ReservedPasswordMessage, editedName);
    if (editedName.empty())
        return refuse(ChangeResult::Reason::NothingLoaded,
                      "No user has been loaded for editing: select a user and press Modify "
                      "first.");

    // A deletion may have moved the loaded user since Modify: look again by
    // name, and never touch a user who is not that one.
    int slot = editedSlot;
    if (slot < 1 || slot > SlotCount || decoded(table.slot(slot).LoginName) != editedName)
        slot = findUsedSlot(table, editedName);
    if (slot == 0)
        return refuse(ChangeResult::Reason::NoSuchUser,
                      "The user being edited no longer exists: load it again with Modify.",
                      editedName);

    const UserRecord& stored = table.slot(slot);
    if (!mayEditRights() && !sameRights(stored, plain))
        return refuseRight(mayAdd() ? Right::ModifyUsers : Right::AddUsers,
                           "change a user's rights", editedName);
    const bool namedAnew = decoded(stored.LoginName) != newName;
    const bool newPassword = decoded(stored.Password) != plain.Password.value();
    const bool newPath = decoded(stored.DataPath) != plain.DataPath.value();
    if (!granted(Right::AddUsers) && (namedAnew || newPassword)) {
        // Without AddUsers nobody may take over a user who can do more; as
        // AddUsers is what would allow it, the refusal names that right.
        for (Right right : AllRights) {
            if (isGranted(stored, right) && !granted(right))
                return refuse(ChangeResult::Reason::MissingRight,
                              "You may not change the name or password of a user who holds "
                              "rights you lack.",
                              editedName, rightName(Right::AddUsers));
        }
    }
    // Only what changes is new: a user that a table made elsewhere gave such
    // a text can still have their rights changed.
    if (auto refused = refuseControls(
            {{TextField::LoginName, namedAnew ? std::string_view(newName) : std::string_view()},
             {TextField::Password, newPassword ? plain.Password.value() : std::string_view()},
             {TextField::DataPath, newPath ? plain.DataPath.value() : std::string_view()}},
            editedName))
        return *refused;
    // Two users of one name: whoever stands second could never sign in
    // again, and the name would open the other's record.
    if (nameTaken(table, newName, slot))
        return refuse(ChangeResult::Reason::DuplicateUser, DuplicateUserText, editedName);

    AuditEvent changed = event(AuditEvent::Kind::UserChanged, editedName);
    if (namedAnew) {
        changed.changes.push_back("name");
        changed.newName = newName;
    }
    if (newPassword)
        changed.changes.push_back("password");
    if (newPath)
        changed.changes.push_back("data path");
    for (Right right : AllRights) {
        const bool before = isGranted(stored, right);
        const bool after = rightField(plain, right).value() == "0";
        if (before != after)
            changed.changes.push_back(std::string(after ? "granted " : "revoked ") +
                                      rightName(right));
    }

    // The signed-in user's own record: once saved, they are who it names.
    if (isMe(stored))
        m_newIdentity.emplace(newName, plain.Password.value());
    const AccountArea accounts = stored.Accounts;
    table.RemoveUserSlot(slot);
    const int target = table.FirstFreeSlot();
    table.StoreNewUser(plain);
    if (target > 0)
        table.slot(target).Accounts = accounts;
    events.push_back(std::move(changed));
    return {};
}

std::optional<ChangeResult> Session::checkAccountChange(const UserTable& table,
                                                        std::string_view loginName,
                                                        const AccountEntry* plain)
{
    if (!mayKeepAccounts())
        return refuseRight(mayModify() ? Right::DeleteUsers : Right::ModifyUsers,
                           "change bank accounts", loginName);
    if (plain && plain->AccountName.value().empty())
        return refuse(ChangeResult::Reason::EmptyField, NoAccountNameText, loginName);
    if (findUsedSlot(table, loginName) == 0)
        return refuse(ChangeResult::Reason::NoSuchUser, noSuchUserText(), loginName);
    return std::nullopt;
}

std::optional<ChangeResult> Session::refuseAccountControls(const AccountEntry* was,
                                                           const AccountEntry& plain,
                                                           std::string_view loginName)
{
    // A modified account's texts are new only where they change.
    const AnsiString name = plain.AccountName.value();
    const AnsiString description = plain.AccountDescription.value();
    const bool newName = !was || decoded(was->AccountName) != name;
    const bool newDescription = !was || decoded(was->AccountDescription) != description;
    return refuseControls(
        {{TextField::AccountName, newName ? std::string_view(name) : std::string_view()},
         {TextField::Description,
          newDescription ? std::string_view(description) : std::string_view()}},
        loginName);
}

namespace {

// Whether someone else changed entry `entry` of the user `name`'s accounts.
std::optional<Conflict> accountClash(const UserTable& seen, const UserTable& file,
                                     const AnsiString& name, int entry)
{
    const int before = findUsedSlot(seen, name);
    const int now = findUsedSlot(file, name);
    if (before == 0 || now == 0 || entry < 0 || entry >= AccountCount)
        return std::nullopt;
    const auto index = static_cast<std::size_t>(entry);
    const AccountEntry& a = seen.slot(before).Accounts[index];
    const AccountEntry& b = file.slot(now).Accounts[index];
    if (decoded(a.AccountName) == decoded(b.AccountName) &&
        decoded(a.AccountDescription) == decoded(b.AccountDescription))
        return std::nullopt;
    return Conflict{name, decoded(a.AccountName), describeAccountChange(a, b), {}, {}};
}

} // namespace

ChangeResult Session::addAccount(std::string_view loginName, const AccountData& account)
{
    if (auto refused = refuseUnholdableName(loginName))
        return *refused;
    const std::string name = *tableBytesOf(loginName);
    if (auto refused = refuseUnstorable(account, name))
        return *refused;
    const AccountEntry plain = plainEntry(inTableBytes(account));
    Step step;
    step.apply = [this, name, plain](UserTable& table, std::vector<AuditEvent>& events) {
        return addAccount(table, name, plain, events);
    };
    // A new account takes whichever entry is free in the file's table.
    step.clash = [](const UserTable&, const UserTable&) { return std::optional<Conflict>(); };
    return commit(&step, true);
}

ChangeResult Session::addAccount(UserTable& table, const AnsiString& loginName,
                                 const AccountEntry& plain, std::vector<AuditEvent>& events)
{
    const AnsiString account = plain.AccountName.value();
    if (auto refused = checkAccountChange(table, loginName, &plain))
        return *refused;
    const int slot = findUsedSlot(table, loginName);
    if (auto refused = refuseAccountControls(nullptr, plain, loginName))
        return *refused;
    UserRecord& working = table.slot(slot);
    for (const AccountEntry& entry : working.Accounts) {
        if (!entry.AccountName.empty() &&
            upperAscii(decoded(entry.AccountName)) == upperAscii(account))
            return refuse(ChangeResult::Reason::DuplicateAccount, accountTakenText(utf8Of(account)),
                          loginName);
    }
    const int entry = firstFreeEntry(working.Accounts);
    if (entry < 0)
        return refuse(ChangeResult::Reason::AccountsFull, AccountsFullText, loginName);
    storeEntry(working.Accounts[static_cast<std::size_t>(entry)], plain);
    AuditEvent added = event(AuditEvent::Kind::AccountAdded, loginName);
    added.account = account;
    events.push_back(std::move(added));
    return {};
}

ChangeResult Session::mayAddAccount(const std::vector<AccountData>& shown)
{
    if (shown.size() >= static_cast<std::size_t>(AccountCount))
        return plainRefusal(ChangeResult::Reason::AccountsFull, AccountsFullText);
    return {};
}

ChangeResult Session::checkAccountName(std::string_view name, const std::vector<AccountData>& shown)
{
    if (name.empty())
        return plainRefusal(ChangeResult::Reason::EmptyField, NoAccountNameText);
    for (const AccountData& account : shown) {
        if (upperAscii(account.name) == upperAscii(name))
            return plainRefusal(ChangeResult::Reason::DuplicateAccount, accountTakenText(name));
    }
    return {};
}

std::string Session::shownAccount(std::string_view loginName, int entry) const
{
    const int slot = findUsedSlot(m_table, loginName);
    if (slot == 0 || entry < 0 || entry >= AccountCount)
        return {};
    return decoded(m_table.slot(slot).Accounts[static_cast<std::size_t>(entry)].AccountName);
}

std::optional<ChangeResult> Session::refuseUnstorable(const AccountData& account,
                                                      std::string_view loginName)
{
    return refuseUnstorable(
        {{TextField::AccountName, account.name}, {TextField::Description, account.description}},
        loginName);
}

std::optional<ChangeResult> Session::checkSameAccount(const UserTable& table, int slot,
                                                      const AnsiString& loginName, int entry,
                                                      const AnsiString& shown)
{
    // An entry this session showed empty names no account of its own.
    if (shown.empty())
        return refuse(ChangeResult::Reason::NoSuchAccount, "There is no such bank account.",
                      loginName);
    const AnsiString now =
        decoded(table.slot(slot).Accounts[static_cast<std::size_t>(entry)].AccountName);
    if (now == shown)
        return std::nullopt;
    // Whatever stands there now is another account: never changed in the
    // place of the one the person named.
    std::string message = "The bank account " + utf8Of(shown) + " of " + utf8Of(loginName) +
                          " is no longer in Gatekeep.acl: someone else deleted or renamed it "
                          "meanwhile";
    if (!now.empty())
        message += ", and the account " + utf8Of(now) + " stands in its place now";
    message += ". Nothing was changed.";
    return refuse(ChangeResult::Reason::AccountGone, message, loginName);
}

ChangeResult Session::modifyAccount(std::string_view loginName, const AccountData& account)
{
    if (auto refused = refuseUnholdableName(loginName))
        return *refused;
    const std::string name = *tableBytesOf(loginName);
    if (auto refused = refuseUnstorable(account, name))
        return *refused;
    const AccountEntry plain = plainEntry(inTableBytes(account));
    const int entry = account.entry;
    const std::string shown = shownAccount(name, entry);
    Step step;
    step.apply = [this, name, entry, shown, plain](UserTable& table,
                                                   std::vector<AuditEvent>& events) {
        return modifyAccount(table, name, entry, shown, plain, events);
    };
    step.clash = [name, entry](const UserTable& seen, const UserTable& file) {
        return accountClash(seen, file, name, entry);
    };
    return commit(&step, true);
}

ChangeResult Session::modifyAccount(UserTable& table, const AnsiString& loginName, int entry,
                                    const AnsiString& shown, const AccountEntry& plain,
                                    std::vector<AuditEvent>& events)
{
    if (auto refused = checkAccountChange(table, loginName, &plain))
        return *refused;
    const int slot = findUsedSlot(table, loginName);
    if (auto gone = checkSameAccount(table, slot, loginName, entry, shown))
        return *gone;
    AccountArea& accounts = table.slot(slot).Accounts;
    AccountEntry& stored = accounts[static_cast<std::size_t>(entry)];
    if (auto refused = refuseAccountControls(&stored, plain, loginName))
        return *refused;
    // A new name must be one the user has not got, as for a new account;
    // keeping the name, even one another account shares already, is no
    // new twin.
    const AnsiString newName = plain.AccountName.value();
    if (decoded(stored.AccountName) != newName) {
        for (int i = 0; i < AccountCount; ++i) {
            const AccountEntry& other = accounts[static_cast<std::size_t>(i)];
            if (i != entry && !other.AccountName.empty() &&
                upperAscii(decoded(other.AccountName)) == upperAscii(newName))
                return refuse(ChangeResult::Reason::DuplicateAccount,
                              accountTakenText(utf8Of(newName)), loginName);
        }
    }
    AuditEvent changed = event(AuditEvent::Kind::AccountChanged, loginName);
    changed.account = decoded(stored.AccountName);
    if (decoded(stored.AccountName) != plain.AccountName.value()) {
        changed.changes.push_back("name");
        changed.newName = plain.AccountName.value();
    }
    if (decoded(stored.AccountDescription) != plain.AccountDescription.value())
        changed.changes.push_back("description");
    storeEntry(stored, plain);
    events.push_back(std::move(changed));
    return {};
}

ChangeResult Session::deleteAccount(std::string_view loginName, int entry)
{
    if (auto refused = refuseUnholdableName(loginName))
        return *refused;
    const std::string name = *tableBytesOf(loginName);
    const std::string shown = shownAccount(name, entry);
    Step step;
    step.apply = [this, name, entry, shown](UserTable& table, std::vector<AuditEvent>& events) {
        return deleteAccount(table, name, entry, shown, events);
    };
    step.clash = [name, entry](const UserTable& seen, const UserTable& file) {
        return accountClash(seen, file, name, entry);
    };
    return commit(&step, true);
}

ChangeResult Session::deleteAccount(UserTable& table, const AnsiString& loginName, int entry,
                                    const AnsiString& shown, std::vector<AuditEvent>& events)
{
    if (auto refused = checkAccountChange(table, loginName, nullptr))
        return *refused;
    const int slot = findUsedSlot(table, loginName);
    if (auto gone = checkSameAccount(table, slot, loginName, entry, shown))
        return *gone;
    AccountEntry& stored = table.slot(slot).Accounts[static_cast<std::size_t>(entry)];
    AuditEvent deleted = event(AuditEvent::Kind::AccountDeleted, loginName);
    deleted.account = decoded(stored.AccountName);
    // The entry becomes a gap that the next New fills first; its other bytes
    // stay as they were.
    stored.AccountName.Length = 0;
    stored.AccountDescription.Length = 0;
    events.push_back(std::move(deleted));
    return {};
}

int Session::lookUpAccount(std::string_view loginName, std::string_view account) const
{
    const std::vector<AccountData> accounts = Accounts(loginName);
    const int found = findAccount(accounts, account);
    return found < 0 ? -1 : accounts[static_cast<std::size_t>(found)].entry;
}

ChangeResult Session::save()
{
    ChangeResult result = commit(nullptr, false);
    if (result.done())
        m_tableChanged = false;
    return result;
}

ChangeResult Session::restore(const std::string& backup, const std::string& from)
{
    if (!m_signedIn)
        return refuse(ChangeResult::Reason::MissingRight, "Nobody is signed in.");
    return failingSafely([&]() -> ChangeResult {
        std::string lateFault;
        UserTable restored;
        try {
            const WriterHold hold = waitForWriter(false);
            // The rights as the table holds them now, not as a backup that
            // may give them back: a restore replaces every user at once.
            const std::optional<std::string> onDisk = readFile();
            const UserTable file =
                onDisk && onDisk != m_fileBytes ? tableFromBytes(*onDisk) : m_base;
            if (auto refused = takeRightsFrom(file))
                return *refused;
            for (Right needed : {Right::AddUsers, Right::ModifyUsers, Right::DeleteUsers}) {
                if (!isGranted(m_currentUser, needed))
                    return refuseRight(needed, "restore the table from a backup", {});
            }
            const TableReport report = checkTable(backup);
            if (!report.sound()) {
                std::string message = "Nothing was restored: the backup is not a sound table.";
                for (const std::string& fault : report.faults)
                    message += " " + fault;
                return refuse(ChangeResult::Reason::UnsoundTable, std::move(message));
            }
            restored = tableFromBytes(backup);
            if (const std::optional<int> late = SaveUserTable(restored, m_tablePath))
                lateFault = ioErrorText(*late);
            recordWriter(m_me, restored.bytes());
        } catch (const IoError& error) {
            AuditEvent failed = event(AuditEvent::Kind::SaveFailed);
            failed.detail = error.what();
            record(std::move(failed));
            throw;
        }
        // Whatever waited in memory was made on the table the backup
        // replaced.
        m_base = restored;
        m_table = restored;
        m_fileBytes = restored.bytes();
        m_pending.clear();
        m_unsaved.clear();
        m_tableChanged = false;
        AuditEvent made = event(AuditEvent::Kind::TableRestored);
        made.copy = from;
        record(std::move(made));
        // A backup from before this user was made, or changed, signs them out.
        findMe(m_base);
        ChangeResult result;
        result.refreshed = true;
        if (!lateFault.empty())
            result.warning =
                "The table has been restored, but a step after it failed: " + lateFault;
        return result;
    });
}

ConflictChoice Session::ask(const Conflict& conflict) const
{
    if (!m_onConflict)
        return ConflictChoice::Cancel;
    Conflict shown = conflict;
    shown.user = utf8Of(conflict.user);
    shown.account = utf8Of(conflict.account);
    return m_onConflict(shown);
}

Conflict Session::withLastWriter(Conflict clash, const std::optional<std::string>& onDisk) const
{
    if (!onDisk)
        return clash;
    const std::optional<WriterRecord> record = m_writerLock.lastWriter();
    if (record && record->table == writerRecordDigest(*onDisk))
        describeLastWriter(*record, clash);
    return clash;
}

void Session::recordWriter(std::string_view login, const std::string& written)
{
    m_writerLock.recordWriter(m_systemUser.name, m_systemUser.uid, utf8Of(login), written);
}

ChangeResult Session::cancelled(const Conflict& conflict)
{
    AuditEvent refused = event(AuditEvent::Kind::ChangeRefused, conflict.user);
    refused.account = conflict.account;
    refused.detail = "changed on disk by someone else meanwhile; nothing was written";
    record(std::move(refused));
    ChangeResult result;
    result.outcome = ChangeResult::Outcome::Cancelled;
    return result;
}

ChangeResult Session::commit(const Step* step, bool readBack)
{
    if (!m_signedIn)
        return refuse(ChangeResult::Reason::MissingRight, "Nobody is signed in.");
    struct Committing
    {
        bool& flag;
        bool before;
        ~Committing() { flag = before; }
    } const committing{m_committing, m_committing};
    m_committing = true;
    try {
        // The person is asked with the lock let go: others' saves must not
        // wait on someone thinking. The save then starts again from the file
        // as it is by then, with the answers given so far; an answer given
        // on a file that changed again since is asked again.
        std::vector<Answer> answers;
        for (;;) {
            std::optional<Try> attempt;
            {
                const WriterHold hold = waitForWriter(false);
                attempt.emplace(commitLocked(step, readBack, answers));
            }
            if (!attempt->question)
                return withLockNotice(m_writerLock, std::move(attempt->result));
            const Question& question = *attempt->question;
            // A file that keeps bringing new questions is in someone else's
            // hands: write nothing.
            if (answers.size() > 2 * SlotCount * AccountCount)
                return cancelled(question.conflict);
            const ConflictChoice choice = ask(question.conflict);
            answers.push_back({question.conflict, choice, question.file});
        }
    } catch (const IoError& error) {
        // Reading the file to compare, waiting for the lock or writing: any
        // of them fails a save, and the person is told so alike.
        AuditEvent failed = event(AuditEvent::Kind::SaveFailed);
        failed.detail = error.what();
        record(std::move(failed));
        ChangeResult result;
        result.outcome = ChangeResult::Outcome::Failed;
        result.message = error.what();
        result.errorCode = error.code();
        return result;
    }
}

void Session::adoptFile(const UserTable& file, const std::optional<std::string>& onDisk,
                        const UserTable& next, std::vector<Step> kept,
                        std::vector<AuditEvent> events)
{
    takeFile(file, onDisk, next, std::move(kept), std::move(events));
    record(event(AuditEvent::Kind::TableReloaded));
}

void Session::takeFile(const UserTable& file, const std::optional<std::string>& onDisk,
                       const UserTable& next, std::vector<Step> kept,
                       std::vector<AuditEvent> events)
{
    m_base = file;
    m_fileBytes = onDisk;
    m_table = next;
    m_pending = std::move(kept);
    m_unsaved = std::move(events);
    m_tableChanged = !m_pending.empty();
}

Session::Try Session::commitLocked(const Step* step, bool readBack,
                                   const std::vector<Answer>& answers)
{
    const std::optional<std::string> onDisk = readFile();
    const auto answerTo = [&](const Conflict& clash) -> std::optional<ConflictChoice> {
        for (const Answer& given : answers) {
            if (given.conflict.user == clash.user && given.conflict.account == clash.account &&
                given.file == onDisk)
                return given.choice;
        }
        return std::nullopt;
    };
    m_newIdentity.reset();
    // A table someone took away (renamed or removed) is written anew with
    // the table this session holds, checked against the rights it held.
    const bool vanished = !onDisk;
    const bool changed = !vanished && onDisk != m_fileBytes;
    const UserTable file = changed ? tableFromBytes(*onDisk) : m_base;
    if (auto refused = takeRightsFrom(file))
        return *refused;

    // Unchanged, the table in memory is the file's with the waiting changes
    // made; otherwise they are made again on the file's table, each checked
    // there as when it was first made. So are they where a refresh showed
    // the person someone else's change of what one of them touches: that is
    // still to be asked about.
    const bool replay =
        changed || std::any_of(m_pending.begin(), m_pending.end(),
                               [](const Step& waiting) { return waiting.seen != nullptr; });
    UserTable next = replay ? file : m_table;
    std::vector<AuditEvent> events = replay ? std::vector<AuditEvent>() : m_unsaved;
    std::vector<Step> kept;
    std::vector<std::string> dropped;
    std::vector<AnsiString> overwritten;
    bool asked = false;
    // Each change is made, and so checked against the file's rights and
    // rules, before anyone is asked about it: nobody is asked about a change
    // that could not be made anyway.
    if (replay) {
        for (const Step& waiting : m_pending) {
            std::vector<AuditEvent> made;
            std::optional<UserTable> trial = madeAgain(waiting, next, made, dropped);
            if (!trial)
                continue;
            const UserTable& seen = waiting.seen ? *waiting.seen : m_base;
            if (const std::optional<Conflict> clash = waiting.clash(seen, file)) {
                asked = true;
                const std::optional<ConflictChoice> answer = answerTo(*clash);
                if (!answer)
                    return Question{withLastWriter(*clash, onDisk), onDisk};
                if (*answer == ConflictChoice::Cancel)
                    return cancelled(*clash);
                if (*answer == ConflictChoice::Reload)
                    continue;
                overwritten.push_back(clash->user);
            }
            next = std::move(*trial);
            events.insert(events.end(), made.begin(), made.end());
            kept.push_back(waiting);
            // Asked about, or nothing to ask: from here on it stands on the
            // file's table.
            kept.back().seen.reset();
        }
    }

    if (step) {
        UserTable trial = next;
        std::vector<AuditEvent> made;
        ChangeResult result = step->apply(trial, made);
        if (!result.done()) {
            // The account named is gone from the file: the person sees the
            // file's table, with the changes still waiting, and nothing is
            // written.
            if (changed && result.reason == ChangeResult::Reason::AccountGone) {
                adoptFile(file, onDisk, next, std::move(kept), std::move(events));
                for (const std::string& lost : dropped)
                    result.message += "\nNot saved, " + lost;
                result.refreshed = true;
            }
            return result;
        }
        if (changed) {
            if (const std::optional<Conflict> clash = step->clash(m_base, file)) {
                asked = true;
                const std::optional<ConflictChoice> answer = answerTo(*clash);
                if (!answer)
                    return Question{withLastWriter(*clash, onDisk), onDisk};
                switch (*answer) {
                case ConflictChoice::Cancel:
                    return cancelled(*clash);
                case ConflictChoice::Reload: {
                    // The file's table, with the changes still waiting.
                    adoptFile(file, onDisk, next, std::move(kept), std::move(events));
                    ChangeResult reloaded;
                    reloaded.outcome = ChangeResult::Outcome::Reloaded;
                    reloaded.refreshed = true;
                    return reloaded;
                }
                case ConflictChoice::Overwrite:
                    overwritten.push_back(clash->user);
                    break;
                }
            }
        }
        next = trial;
        events.insert(events.end(), made.begin(), made.end());
    }

    std::string lateFault;
    // The new table is in the file even then; only a step after that failed.
    if (const std::optional<int> late = SaveUserTable(next, m_tablePath))
        lateFault = ioErrorText(*late);
    m_base = next;
    m_table = next;
    m_fileBytes = next.bytes();
    recordWriter(m_me, *m_fileBytes);
    m_pending.clear();
    m_unsaved.clear();
    // The signed-in user's own Save Changes of their record: they go on as
    // the record it made.
    if (m_newIdentity) {
        m_me = m_newIdentity->first;
        m_myPassword = m_newIdentity->second;
        m_newIdentity.reset();
    }
    // In the file before, gone now: this session's own deletion did it.
    if (mySlot(next) == 0)
        m_deletedMyself = true;
    // The changes first: "table saved" is what carried them into the file.
    for (const AuditEvent& made : events)
        record(made);
    if (overwritten.empty()) {
        record(event(AuditEvent::Kind::TableSaved));
    } else {
        for (const AnsiString& user : overwritten)
            record(event(AuditEvent::Kind::TableOverwritten, user));
    }

    ChangeResult result;
    result.refreshed = changed;
    // Whoever was asked knows already.
    if (changed && !asked)
        result.warning = "Gatekeep.acl had been changed by someone else meanwhile: it was "
                         "brought up to date first, and the change was made on it.";
    if (vanished)
        result.warning = "Gatekeep.acl was gone (removed or renamed by someone else): it has been "
                         "written anew, with the table as shown here.";
    for (const std::string& lost : dropped)
        result.warning += (result.warning.empty() ? "" : "\n") + ("Not saved, " + lost);
    if (!lateFault.empty())
        result.warning += (result.warning.empty() ? "" : "\n") +
                          ("The change has been saved, but a step after it failed: " + lateFault);
    if (readBack && lateFault.empty()) {
        // Read back as the file holds it now: under the writer lock that is
        // what was just written, so the bytes need not cross the disk again.
        m_base = tableFromBytes(m_fileBytes.value());
        m_table = m_base;
    }
    if (m_signedIn)
        findMe(m_base);
    return result;
}

AnsiString Session::actor() const
{
    return m_signedIn ? m_me : AnsiString();
}
AuditEvent Session::event(AuditEvent::Kind kind, std::string_view target) const
{
    AuditEvent made{};
    made.kind = kind;
    made.table = m_tablePath;
    made.actor = actor();
    made.target = std::string(target);
    made.systemUser = m_systemUser.name;
    made.systemUid = m_systemUser.uid;
    return made;
}

void Session::record(AuditEvent made) const
{
    if (!m_audit)
        return;
    // The names are the table's own bytes until here; what is said of them
    // (details, changes) was built as UTF-8.
    for (std::string* name : {&made.actor, &made.target, &made.account, &made.newName})
        *name = utf8Of(*name);
    m_audit->record(made);
}

ChangeResult Session::unchanged(ChangeResult::Reason reason, std::string message,
                                std::string detail, std::string_view target)
{
    AuditEvent none = event(AuditEvent::Kind::NoChange, target);
    none.detail = std::move(detail);
    record(std::move(none));
    ChangeResult result;
    result.outcome = ChangeResult::Outcome::Refused;
    result.reason = reason;
    result.message = std::move(message);
    return result;
}

ChangeResult Session::refuse(ChangeResult::Reason reason, std::string message,
                             std::string_view target, std::string_view missingRight)
{
    AuditEvent refused = event(AuditEvent::Kind::ChangeRefused, target);
    refused.detail = message;
    refused.missingRight = std::string(missingRight);
    record(std::move(refused));
    ChangeResult result;
    result.outcome = ChangeResult::Outcome::Refused;
    result.reason = reason;
    result.message = std::move(message);
    for (Right right : AllRights) {
        if (missingRight == rightName(right))
            result.missingRight = right;
    }
    return result;
}

std::optional<ChangeResult>
Session::refuseControls(std::initializer_list<std::pair<TextField, std::string_view>> texts,
                        std::string_view target)
{
    for (const auto& [field, text] : texts) {
        if (std::optional<std::string> message = controlBytesRefusal(field, text))
            return refuse(ChangeResult::Reason::ControlCharacter, std::move(*message), target);
    }
    return std::nullopt;
}

ChangeResult Session::refuseRight(Right missing, std::string_view action, std::string_view target)
{
    std::string message =
        "You may not " + std::string(action) + ": that needs the " + rightName(missing) + " right.";
    AuditEvent refused = event(AuditEvent::Kind::ChangeRefused, target);
    refused.detail = message;
    refused.missingRight = rightName(missing);
    record(std::move(refused));
    ChangeResult result;
    result.outcome = ChangeResult::Outcome::Refused;
    result.reason = ChangeResult::Reason::MissingRight;
    result.message = std::move(message);
    result.missingRight = missing;
    return result;
}

std::string conflictQuestion(const Conflict& conflict)
{
    const std::string what = conflict.account.empty()
                                 ? "the user " + conflict.user
                                 : "the bank account " + conflict.account + " of " + conflict.user;
    std::string question =
        "Someone else has changed " + what + " in Gatekeep.acl since this program last read it.\n";
    if (!conflict.change.empty())
        question += "Their change: " + conflict.change + ".\n";
    if (!conflict.savedBy.empty())
        question += "Last saved by " + conflict.savedBy + " at " + conflict.savedAt + ".\n";
    return question +
           "\nYes: keep their version; this change is dropped.\nNo: write this change "
           "over theirs, for " +
           what + " only.\nCancel: write nothing.";
}

const char* Session::noSuchUserText()
{
    return "There is no user of that name.";
}

const char* Session::ownPasswordChangedText()
{
    return "Your password has been changed. Sign in with the new one from now on.";
}

ChangeResult Session::changeOwnPassword(std::string_view oldPassword, std::string_view newPassword,
                                        std::string_view repeated)
{
    // A password the table cannot hold is no one's: the old one is wrong,
    // a new one refused, a repetition another password.
    const std::optional<std::string> old = tableBytesOf(oldPassword);
    if (!old)
        return refuse(ChangeResult::Reason::WrongPassword, WrongOldPasswordText, m_me);
    if (auto refused = refuseUnstorable({{TextField::Password, newPassword}}, m_me))
        return *refused;
    const std::string fresh = *tableBytesOf(newPassword);
    const std::string again = tableBytesOf(repeated).value_or(fresh + '\x7f');
    Step step;
    step.apply = [this, old = *old, fresh, again](UserTable& table,
                                                  std::vector<AuditEvent>& events) {
        return changeOwnPassword(table, old, fresh, again, events);
    };
    // Only the password is touched, on the file's record as it is by then;
    // someone else who changed it has signed this sitting out already.
    step.clash = [](const UserTable&, const UserTable&) { return std::optional<Conflict>(); };
    step.what = "changing your password";
    ChangeResult result = commit(&step, false);
    if (result.done())
        m_tableChanged = false; // the whole table is in the file now
    return result;
}

ChangeResult Session::changeOwnPassword(UserTable& table, const AnsiString& oldPassword,
                                        const AnsiString& newPassword, const AnsiString& repeated,
                                        std::vector<AuditEvent>& events)
{
    // Whoever finds a window signed in must not take the account over.
    if (oldPassword != m_myPassword)
        return refuse(ChangeResult::Reason::WrongPassword, WrongOldPasswordText, m_me);
    if (trimControls(newPassword).empty())
        return refuse(ChangeResult::Reason::EmptyField, "Please type a new password.", m_me);
    if (newPassword != repeated)
        return refuse(ChangeResult::Reason::PasswordsDiffer,
                      "The new password and its repetition differ: type the same new password "
                      "twice.",
                      m_me);
    if (auto refused = refuseControls({{TextField::Password, newPassword}}, m_me))
        return *refused;
    // Cut to fit, it would be another password than the one typed.
    if (newPassword.size() > MaxPassword)
        return refuse(ChangeResult::Reason::TooLong,
                      "The new password is longer than " + std::to_string(MaxPassword) +
                          " characters, which is all the table holds.",
                      m_me);
    if (isReservedPassword(newPassword))
        return refuse(ChangeResult::Reason::ReservedPassword, ReservedPasswordMessage, m_me);
    const int slot = mySlot(table);
    if (slot == 0)
        return refuse(ChangeResult::Reason::SignedOut, signedOutMessage());
    // In place: the user keeps their slot, name, rights and accounts.
    storeEncoded(table.slot(slot).Password, newPassword);
    m_newIdentity.emplace(m_me, newPassword);
    events.push_back(event(AuditEvent::Kind::PasswordChanged, m_me));
    return {};
}
