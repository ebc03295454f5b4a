#include "Session.h"

#include "store/IoError.h"
#include "store/Scramble.h"
#include "store/TableFile.h"

#include <utility>

namespace {

bool IsGranted(const UserRecord& record, Right right)
{
    return Decoded(RightField(record, right)) == "0";
}

bool SameRights(const UserRecord& stored, const UserRecord& plain)
{
    for (Right right : AllRights) {
        if (Decoded(RightField(stored, right)) != RightField(plain, right).value())
            return false;
    }
    return true;
}

bool AnyRightGranted(const UserRecord& plain)
{
    for (Right right : AllRights) {
        if (RightField(plain, right).value() == "0")
            return true;
    }
    return false;
}

bool SameTrimmedName(std::string_view a, std::string_view b)
{
    return UpperAscii(TrimControls(a)) == UpperAscii(TrimControls(b));
}

// The slot of a user of that name; never a free slot, whose name reads as
// the empty text.
int FindUsedSlot(const UserTable& table, std::string_view loginName)
{
    const int slot = table.FindUser(loginName);
    return slot > 0 && !IsFreeSlot(table.Slot(slot)) ? slot : 0;
}

int FirstFreeEntry(const AccountArea& accounts)
{
    for (int i = 0; i < AccountCount; ++i) {
        if (accounts[static_cast<std::size_t>(i)].AccountName.empty())
            return i;
    }
    return -1;
}

// Scrambles a plain entry into a stored one; bytes beyond the new lengths
// keep what they held.
void StoreEntry(AccountEntry& stored, const AccountEntry& plain)
{
    StoreEncoded(stored.AccountName, plain.AccountName.value());
    StoreEncoded(stored.AccountDescription, plain.AccountDescription.value());
}

} // namespace

const char* RightName(Right right)
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

Session::Session(std::string tablePath, AuditSink* audit)
    : m_tablePath(std::move(tablePath)), m_audit(audit)
{
}

void Session::SetConflictHandler(std::function<ConflictChoice()> handler)
{
    m_onConflict = std::move(handler);
}

void Session::LoadTable()
{
    // Copies of the table that killed saves left behind are nobody's to keep.
    RemoveStaleTemporaries(m_tablePath);
    UserTable table = m_table;
    std::string bytes;
    LoadUserTable(table, m_tablePath, &bytes);
    m_table = table;
    m_fileBytes = std::move(bytes);
    m_unsaved.clear();
}

void Session::Reload()
{
    UserTable fresh;
    std::string bytes;
    LoadUserTable(fresh, m_tablePath, &bytes);
    m_table = fresh;
    m_fileBytes = std::move(bytes);
    m_tableChanged = false;
    m_unsaved.clear();
    record(event(AuditEvent::Kind::TableReloaded));
}

void Session::CreateTable()
{
    CreateUserTableFile(m_tablePath);
    m_table = UserTable{};
    m_table.ClearEmptySlots();
    m_fileBytes = std::string();
    m_unsaved.clear();
}

int LookUpUser(const UserTable& table, std::string_view typedName)
{
    const AnsiString name = TrimControls(typedName);
    if (name.empty())
        return 0;
    if (const int exact = table.FindUser(name))
        return exact;
    // Names stored with blanks around them are found by what a person types.
    for (int n = 1; n <= SlotCount; ++n) {
        const UserRecord& record = table.Slot(n);
        if (!IsFreeSlot(record) && TrimControls(Decoded(record.LoginName)) == name)
            return n;
    }
    return 0;
}

bool SameLoginName(std::string_view a, std::string_view b)
{
    return SameTrimmedName(a, b);
}

int Session::LookUpUser(std::string_view typedName) const
{
    return ::LookUpUser(m_table, typedName);
}

bool Session::KnowsUser(std::string_view typedName) const
{
    return LookUpUser(typedName) != 0;
}

Session::SignInResult Session::SignIn(std::string_view typedName, std::string_view typedPassword)
{
    const int slot = LookUpUser(typedName);
    if (slot == 0) {
        AuditEvent refused = event(AuditEvent::Kind::SignInRefused, typedName);
        refused.detail = "unknown name";
        record(std::move(refused));
        return SignInResult::UnknownName;
    }
    const UserRecord& user = m_table.Slot(slot);
    // An empty password never signs anyone in, whatever a damaged file holds.
    if (typedPassword.empty() || EncodeField(typedPassword, ScrambleKey) != user.Password.value()) {
        AuditEvent refused = event(AuditEvent::Kind::SignInRefused, typedName);
        refused.detail = "wrong password";
        record(std::move(refused));
        return SignInResult::WrongPassword;
    }
    m_currentUser = user;
    m_signedIn = true;
    record(event(AuditEvent::Kind::SignedIn, Decoded(user.LoginName)));
    return SignInResult::SignedIn;
}

bool Session::Granted(Right right) const
{
    return m_signedIn && IsGranted(m_currentUser, right);
}

bool Session::MayEditRights() const
{
    return Granted(Right::ModifyUsers) && Granted(Right::AddUsers);
}

std::vector<AnsiString> Session::ListedNames() const
{
    std::vector<AnsiString> names;
    const int firstFree = m_table.FirstFreeSlot();
    // Users behind a free slot stay unlisted until an add fills that slot.
    const int last = firstFree < 0 ? SlotCount : firstFree - 1;
    for (int n = 1; n <= last; ++n) {
        const AnsiString name = Decoded(m_table.Slot(n).LoginName);
        if (!TrimControls(name).empty())
            names.push_back(name);
    }
    return names;
}

ChangeResult Session::CreateFirstUser(const UserRecord& plain)
{
    if (m_fileBytes || PeekTableFile(m_tablePath) || m_table.FirstFreeSlot() != 1)
        return refuse(ChangeResult::Reason::NotFirstUse,
                      "A user table already exists: the first login ID is made only where "
                      "there is none.",
                      plain.LoginName.value());
    if (TrimControls(plain.LoginName.value()).empty() ||
        TrimControls(plain.Password.value()).empty())
        return refuse(ChangeResult::Reason::EmptyField, "Please type in your new ID and Password.",
                      plain.LoginName.value());

    UserTable next = m_table;
    next.StoreNewUser(plain);
    ChangeResult result = commit(next, true);
    if (!result.done())
        return result;
    // Made while nobody was signed in; the sign-in that follows says why
    // later lines name this user.
    record(event(AuditEvent::Kind::FirstUserCreated, plain.LoginName.value()));
    const int slot = FindUsedSlot(m_table, plain.LoginName.value());
    if (slot > 0) {
        m_currentUser = m_table.Slot(slot);
        m_signedIn = true;
        record(event(AuditEvent::Kind::SignedIn, Decoded(m_currentUser.LoginName)));
    }
    return result;
}

ChangeResult Session::AddUser(const UserRecord& plain)
{
    const AnsiString name = plain.LoginName.value();
    if (!MayAdd())
        return refuseRight(Right::AddUsers, "add users", name);
    if (TrimControls(name).empty() || TrimControls(plain.Password.value()).empty() ||
        TrimControls(plain.DataPath.value()).empty())
        return refuse(ChangeResult::Reason::EmptyField, "Please fill all sections.", name);
    if (!MayEditRights() && AnyRightGranted(plain))
        return refuseRight(MayModify() ? Right::AddUsers : Right::ModifyUsers, "grant rights",
                           name);
    for (const AnsiString& listed : ListedNames()) {
        if (SameTrimmedName(listed, name))
            return refuse(ChangeResult::Reason::DuplicateUser, "User already exist.", name);
    }

    UserTable next = m_table;
    next.ClearEmptySlots();
    if (next.FirstFreeSlot() < 0)
        return refuse(ChangeResult::Reason::TableFull,
                      "The user table is full: no more than five users can be kept.", name);
    next.StoreNewUser(plain);
    m_table = next;
    m_tableChanged = true;
    AuditEvent added = event(AuditEvent::Kind::UserAdded, name);
    for (Right right : AllRights) {
        if (RightField(plain, right).value() == "0")
            added.changes.push_back(std::string("granted ") + RightName(right));
    }
    m_unsaved.push_back(std::move(added));
    return {};
}

ChangeResult Session::DeleteUser(std::string_view loginName)
{
    if (!MayDelete())
        return refuseRight(Right::DeleteUsers, "delete users", loginName);
    const int slot = FindUsedSlot(m_table, loginName);
    if (slot == 0)
        return refuse(ChangeResult::Reason::NoSuchUser, "There is no user of that name.",
                      loginName);
    m_table.RemoveUserSlot(slot);
    m_tableChanged = true;
    m_unsaved.push_back(event(AuditEvent::Kind::UserDeleted, loginName));
    return {};
}

ChangeResult Session::SaveChanges(std::string_view editedName, int editedSlot,
                                  const UserRecord& plain)
{
    const AnsiString newName = plain.LoginName.value();
    if (!MayModify())
        return refuseRight(Right::ModifyUsers, "change users", editedName);
    if (TrimControls(newName).empty() || TrimControls(plain.Password.value()).empty() ||
        TrimControls(plain.DataPath.value()).empty())
        return refuse(ChangeResult::Reason::EmptyField, "Please fill all sections.", editedName);
    if (editedName.empty())
        return refuse(ChangeResult::Reason::NothingLoaded,
                      "No user has been loaded for editing: select a user and press Modify "
                      "first.");

    // A deletion may have moved the loaded user since Modify: look again by
    // name, and never touch a user who is not that one.
    int slot = editedSlot;
    if (slot < 1 || slot > SlotCount || Decoded(m_table.Slot(slot).LoginName) != editedName)
        slot = FindUsedSlot(m_table, editedName);
    if (slot == 0)
        return refuse(ChangeResult::Reason::NoSuchUser,
                      "The user being edited no longer exists: load it again with Modify.",
                      editedName);

    const UserRecord& stored = m_table.Slot(slot);
    if (!MayEditRights() && !SameRights(stored, plain))
        return refuseRight(MayAdd() ? Right::ModifyUsers : Right::AddUsers,
                           "change a user's rights", editedName);
    const bool namedAnew = Decoded(stored.LoginName) != newName;
    const bool newPassword = Decoded(stored.Password) != plain.Password.value();
    if (!Granted(Right::AddUsers) && (namedAnew || newPassword)) {
        // Without AddUsers nobody may take over a user who can do more; as
        // AddUsers is what would allow it, the refusal names that right.
        for (Right right : AllRights) {
            if (IsGranted(stored, right) && !Granted(right))
                return refuse(ChangeResult::Reason::MissingRight,
                              "You may not change the name or password of a user who holds "
                              "rights you lack.",
                              editedName, RightName(Right::AddUsers));
        }
    }

    AuditEvent changed = event(AuditEvent::Kind::UserChanged, editedName);
    if (namedAnew) {
        changed.changes.push_back("name");
        changed.newName = newName;
    }
    if (newPassword)
        changed.changes.push_back("password");
    if (Decoded(stored.DataPath) != plain.DataPath.value())
        changed.changes.push_back("data path");
    for (Right right : AllRights) {
        const bool before = IsGranted(stored, right);
        const bool after = RightField(plain, right).value() == "0";
        if (before != after)
            changed.changes.push_back(std::string(after ? "granted " : "revoked ") +
                                      RightName(right));
    }

    UserTable next = m_table;
    const AccountArea accounts = stored.Accounts;
    next.RemoveUserSlot(slot);
    const int target = next.FirstFreeSlot();
    next.StoreNewUser(plain);
    if (target > 0)
        next.Slot(target).Accounts = accounts;

    ChangeResult result = commit(next, false);
    if (result.outcome == ChangeResult::Outcome::Done) {
        // The whole table is in the file now, earlier adds and deletions too.
        m_tableChanged = false;
        record(std::move(changed));
    }
    return result;
}

std::optional<ChangeResult> Session::checkAccountChange(std::string_view loginName,
                                                        const AccountEntry* plain,
                                                        std::optional<int> entry, int& slot)
{
    if (!MayKeepAccounts())
        return refuseRight(MayModify() ? Right::DeleteUsers : Right::ModifyUsers,
                           "change bank accounts", loginName);
    if (plain && plain->AccountName.value().empty())
        return refuse(ChangeResult::Reason::EmptyField, "Please give an account Name.", loginName);
    slot = FindUsedSlot(m_table, loginName);
    if (slot == 0)
        return refuse(ChangeResult::Reason::NoSuchUser, "There is no user of that name.",
                      loginName);
    if (entry &&
        (*entry < 0 || *entry >= AccountCount ||
         m_table.Slot(slot).Accounts[static_cast<std::size_t>(*entry)].AccountName.empty()))
        return refuse(ChangeResult::Reason::NoSuchAccount, "There is no such bank account.",
                      loginName);
    return std::nullopt;
}

ChangeResult Session::AddAccount(std::string_view loginName, const AccountEntry& plain)
{
    const AnsiString account = plain.AccountName.value();
    int slot = 0;
    if (auto refused = checkAccountChange(loginName, &plain, std::nullopt, slot))
        return *refused;
    UserTable next = m_table;
    UserRecord& working = next.Slot(slot);
    for (const AccountEntry& entry : working.Accounts) {
        if (!entry.AccountName.empty() &&
            UpperAscii(Decoded(entry.AccountName)) == UpperAscii(account))
            return refuse(ChangeResult::Reason::DuplicateAccount,
                          "The " + account + " is assigned, please Create another one.", loginName);
    }
    const int entry = FirstFreeEntry(working.Accounts);
    if (entry < 0)
        return refuse(ChangeResult::Reason::AccountsFull,
                      "This user already has ten bank accounts.", loginName);
    StoreEntry(working.Accounts[static_cast<std::size_t>(entry)], plain);

    ChangeResult result = commit(next, true);
    if (result.done()) {
        AuditEvent added = event(AuditEvent::Kind::AccountAdded, loginName);
        added.account = account;
        record(std::move(added));
    }
    return result;
}

ChangeResult Session::ModifyAccount(std::string_view loginName, int entry,
                                    const AccountEntry& plain)
{
    int slot = 0;
    if (auto refused = checkAccountChange(loginName, &plain, entry, slot))
        return *refused;
    UserTable next = m_table;
    AccountEntry& stored = next.Slot(slot).Accounts[static_cast<std::size_t>(entry)];
    AuditEvent changed = event(AuditEvent::Kind::AccountChanged, loginName);
    changed.account = Decoded(stored.AccountName);
    if (Decoded(stored.AccountName) != plain.AccountName.value()) {
        changed.changes.push_back("name");
        changed.newName = plain.AccountName.value();
    }
    if (Decoded(stored.AccountDescription) != plain.AccountDescription.value())
        changed.changes.push_back("description");
    StoreEntry(stored, plain);

    ChangeResult result = commit(next, true);
    if (result.done())
        record(std::move(changed));
    return result;
}

ChangeResult Session::DeleteAccount(std::string_view loginName, int entry)
{
    int slot = 0;
    if (auto refused = checkAccountChange(loginName, nullptr, entry, slot))
        return *refused;
    UserTable next = m_table;
    AccountEntry& stored = next.Slot(slot).Accounts[static_cast<std::size_t>(entry)];
    AuditEvent deleted = event(AuditEvent::Kind::AccountDeleted, loginName);
    deleted.account = Decoded(stored.AccountName);
    // The entry becomes a gap that the next New fills first; its other bytes
    // stay as they were.
    stored.AccountName.Length = 0;
    stored.AccountDescription.Length = 0;

    ChangeResult result = commit(next, true);
    if (result.done())
        record(std::move(deleted));
    return result;
}

int Session::LookUpAccount(std::string_view loginName, std::string_view account) const
{
    const int slot = FindUsedSlot(m_table, loginName);
    if (slot == 0)
        return -1;
    const AccountArea& accounts = m_table.Slot(slot).Accounts;
    for (int i = 0; i < AccountCount; ++i) {
        const AccountEntry& entry = accounts[static_cast<std::size_t>(i)];
        if (!entry.AccountName.empty() && Decoded(entry.AccountName) == account)
            return i;
    }
    for (int i = 0; i < AccountCount; ++i) {
        const AccountEntry& entry = accounts[static_cast<std::size_t>(i)];
        if (!entry.AccountName.empty() &&
            UpperAscii(Decoded(entry.AccountName)) == UpperAscii(account))
            return i;
    }
    return -1;
}

ChangeResult Session::Save()
{
    ChangeResult result = commit(m_table, false);
    if (result.done())
        m_tableChanged = false;
    return result;
}

ChangeResult Session::commit(const UserTable& next, bool readBack)
{
    try {
        return writeTable(next, readBack);
    } catch (const IoError& error) {
        // Reading the file to compare or to reload fails a save as surely as
        // writing it does, and the person is told so alike.
        AuditEvent failed = event(AuditEvent::Kind::SaveFailed);
        failed.detail = error.what();
        record(std::move(failed));
        throw;
    }
}

ChangeResult Session::writeTable(const UserTable& next, bool readBack)
{
    const std::optional<std::string> onDisk = PeekTableFile(m_tablePath);
    bool overwriting = false;
    if (onDisk != m_fileBytes) {
        switch (m_onConflict ? m_onConflict() : ConflictChoice::Cancel) {
        case ConflictChoice::Reload:
            Reload();
            return {ChangeResult::Outcome::Reloaded, ChangeResult::Reason::None, {}};
        case ConflictChoice::Cancel:
            return {ChangeResult::Outcome::Cancelled, ChangeResult::Reason::None, {}};
        case ConflictChoice::Overwrite:
            overwriting = true;
            break;
        }
    }

    std::string lateFault;
    try {
        SaveUserTable(next, m_tablePath);
    } catch (const SavedWithWarning& warning) {
        // The new table is in the file; only a step after that failed.
        lateFault = warning.what();
    }
    m_table = next;
    m_fileBytes = next.Bytes();
    record(event(overwriting ? AuditEvent::Kind::TableOverwritten : AuditEvent::Kind::TableSaved));
    for (const AuditEvent& unsaved : m_unsaved)
        record(unsaved);
    m_unsaved.clear();

    ChangeResult result;
    if (!lateFault.empty())
        result.message = "The change has been saved, but a step after it failed: " + lateFault;
    if (readBack && lateFault.empty()) {
        try {
            UserTable back = m_table;
            std::string bytes;
            LoadUserTable(back, m_tablePath, &bytes);
            m_table = back;
            m_fileBytes = std::move(bytes);
        } catch (const IoError& error) {
            // The change is in the file: saying it failed would invite a
            // second, duplicate attempt.
            result.message = std::string("The change has been saved, but reading the table back "
                                         "failed: ") +
                             error.what();
        }
    }
    return result;
}

AnsiString Session::actor() const
{
    return m_signedIn ? Decoded(m_currentUser.LoginName) : AnsiString();
}

AuditEvent Session::event(AuditEvent::Kind kind, std::string_view target) const
{
    AuditEvent made{};
    made.kind = kind;
    made.table = m_tablePath;
    made.actor = actor();
    made.target = std::string(target);
    return made;
}

void Session::record(AuditEvent made) const
{
    if (m_audit)
        m_audit->Record(made);
}

ChangeResult Session::refuse(ChangeResult::Reason reason, std::string message,
                             std::string_view target, std::string_view missingRight)
{
    AuditEvent refused = event(AuditEvent::Kind::ChangeRefused, target);
    refused.detail = message;
    refused.missingRight = std::string(missingRight);
    record(std::move(refused));
    return {ChangeResult::Outcome::Refused, reason, std::move(message)};
}

ChangeResult Session::refuseRight(Right missing, std::string_view action, std::string_view target)
{
    std::string message =
        "You may not " + std::string(action) + ": that needs the " + RightName(missing) + " right.";
    AuditEvent refused = event(AuditEvent::Kind::ChangeRefused, target);
    refused.detail = message;
    refused.missingRight = RightName(missing);
    record(std::move(refused));
    return {ChangeResult::Outcome::Refused, ChangeResult::Reason::MissingRight, std::move(message)};
}
