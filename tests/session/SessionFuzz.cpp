// libFuzzer target: two sessions on one table file take turns at sign-ins,
// changes, saves and reloads, with someone else writing the file between
// their calls and conflict questions answered by the input. After every call
// the file and the sessions must still keep the promises the session makes:
// a refusal changes nothing, a right the file denies is never used, what is
// reported saved is in the file, no save makes twins, and a session never
// acts as a record it did not sign in as.
#include "session/Session.h"
#include "session/internal/Records.h"
#include "session/internal/SessionAccess.h"
#include "store/IoError.h"
#include "store/Scramble.h"
#include "store/TableFile.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

std::string workDir;
std::string tablePath;

// Small pools make equal names, right passwords and twins likely. "ME" and
// " me" are twins of "me".
const std::array<const char*, 7> Names = {"boss", "me", "ME", " me", "weak", "ann", "nobody"};
const std::array<const char*, 5> Passwords = {"pw", "bosspw", "x", "", " "};
const std::array<const char*, 3> Paths = {"/b", "/m", ""};
const std::array<const char*, 4> AccountNames = {"Cash", "cash", "Bank", ""};
const std::array<const char*, 3> Descriptions = {"Till", "", "Loan"};

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "session_fuzz: %s\n", what);
    std::abort();
}

void expect(bool holds, const char* what)
{
    if (!holds)
        fail(what);
}

class Input
{
public:
    Input(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    bool more() const { return m_pos < m_size; }
    std::uint8_t byte() { return more() ? m_data[m_pos++] : 0; }
    template <class Pool> const char* pick(const Pool& pool) { return pool[byte() % pool.size()]; }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

// A user as the core takes it; the low six bits of a byte withhold the
// rights in record order.
UserData plainFrom(Input& in)
{
    UserData user;
    user.loginName = in.pick(Names);
    user.password = in.pick(Passwords);
    user.dataPath = in.pick(Paths);
    const std::uint8_t bits = in.byte();
    for (std::size_t i = 0; i < AllRights.size(); ++i)
        user.rights.set(AllRights[i], ((bits >> i) & 1) == 0);
    return user;
}

AccountData accountFrom(Input& in)
{
    AccountData account;
    account.name = in.pick(AccountNames);
    account.description = in.pick(Descriptions);
    return account;
}

// An account's texts, stored (scrambled) straight into an entry.
void putAccount(AccountEntry& stored, Input& in)
{
    const AccountData account = accountFrom(in);
    storeEncoded(stored.AccountName, account.name);
    storeEncoded(stored.AccountDescription, account.description);
}

// Stored (scrambled) texts straight into a slot, so that a user may stand
// behind a free slot, as an old file may hold them.
void putUser(UserRecord& slot, Input& in)
{
    const UserData plain = plainFrom(in);
    storeEncoded(slot.LoginName, plain.loginName);
    storeEncoded(slot.Password, plain.password);
    storeEncoded(slot.DataPath, plain.dataPath);
    for (Right right : AllRights)
        storeEncoded(rightField(slot, right), plain.rights.has(right) ? "0" : "1");
    const std::uint8_t accounts = in.byte();
    if (accounts & 1)
        putAccount(slot.Accounts[(accounts >> 1) % AccountCount], in);
}

std::string fileBytes()
{
    const std::optional<std::string> bytes = peekTableFile(tablePath);
    if (!bytes)
        fail("the table file is gone");
    return *bytes;
}

bool holds(const UserRecord& record, Right right)
{
    return decoded(rightField(record, right)) == "0";
}

bool isRecordOf(const UserRecord& record, const std::string& name, const std::string& password)
{
    return !isFreeSlot(record) && decoded(record.LoginName) == name &&
           decoded(record.Password) == password;
}

// The slot of the record a sign-in was made as; a user of that name with
// another password is someone else.
int signedInSlot(const UserTable& table, const std::string& name, const std::string& password)
{
    for (int n = 1; n <= SlotCount; ++n) {
        if (isRecordOf(table.slot(n), name, password))
            return n;
    }
    return 0;
}

// The used slot of that stored name, as the session finds its users.
int usedSlot(const UserTable& table, const std::string& name)
{
    for (int n = 1; n <= SlotCount; ++n) {
        const UserRecord& record = table.slot(n);
        if (!isFreeSlot(record) && decoded(record.LoginName) == name)
            return n;
    }
    return 0;
}

int usedCount(const UserTable& table)
{
    int used = 0;
    for (int n = 1; n <= SlotCount; ++n)
        used += isFreeSlot(table.slot(n)) ? 0 : 1;
    return used;
}

// How many used slots bear each name as sign-in and Add compare names.
std::map<std::string, int> nameCounts(const UserTable& table)
{
    std::map<std::string, int> counts;
    for (int n = 1; n <= SlotCount; ++n) {
        const UserRecord& record = table.slot(n);
        if (!isFreeSlot(record))
            ++counts[upperAscii(trimControls(decoded(record.LoginName)))];
    }
    return counts;
}

// Twins the file held already may stay; no name may gain one.
void expectNoNewTwins(const UserTable& before, const UserTable& after)
{
    const std::map<std::string, int> was = nameCounts(before);
    for (const auto& [name, count] : nameCounts(after)) {
        const auto old = was.find(name);
        expect(count < 2 || (old != was.end() && count <= old->second),
               "a save made two users of one name");
    }
}

bool sameAccounts(const UserRecord& a, const UserRecord& b)
{
    return std::memcmp(&a.Accounts, &b.Accounts, sizeof a.Accounts) == 0;
}

// One sign-in and what the fuzzer knows of it.
struct Actor
{
    std::unique_ptr<Session> session;
    bool signedIn = false;
    // Their login name as stored and their password, followed through their
    // own Save Changes: the record they signed in as.
    std::string me;
    std::string password;
    bool asked = false;
    // The user Modify last loaded, by name, and where the table this
    // session showed then held them (0: nowhere).
    std::optional<LoadedUser> loaded;
    std::string loadedName;
    int loadedSlot = 0;
};

// What a call needs of the signed-in user's record in the file.
struct Needs
{
    std::vector<Right> rights;
    bool inMemory = false; // kept until a save: the file stays as it was
};

struct Before
{
    std::string file;
    std::string table;
    UserTable fileTable;
    bool denied = false;
};

Before look(const Actor& actor, const Needs& needs)
{
    Before before;
    before.file = fileBytes();
    before.table = SessionAccess::table(*actor.session).bytes();
    before.fileTable = tableFromBytes(before.file);
    const int mine = actor.signedIn ? signedInSlot(before.fileTable, actor.me, actor.password) : 0;
    before.denied = mine == 0;
    for (Right right : needs.rights)
        before.denied = before.denied || !holds(before.fileTable.slot(mine), right);
    return before;
}

bool lateFault(const ChangeResult& result)
{
    return result.warning.find("failed") != std::string::npos;
}

// A session acts only as the record it signed in as: while it counts
// itself signed in, its user is that name and password.
void expectOwnRecord(const Actor& actor)
{
    if (!actor.signedIn || actor.session->signedOut())
        return;
    const UserData me = actor.session->me();
    expect(me.loginName == actor.me && me.password == actor.password,
           "a session acts as a record it did not sign in as");
}

// The checks every change gets; returns the file's table after it.
UserTable checkChange(const Actor& actor, const Needs& needs, const Before& before,
                      const ChangeResult& result)
{
    const std::string file = fileBytes();
    const UserTable fileTable = tableFromBytes(file);
    const std::string table = SessionAccess::table(*actor.session).bytes();
    using Outcome = ChangeResult::Outcome;
    if (result.outcome == Outcome::Refused || result.outcome == Outcome::Cancelled ||
        result.outcome == Outcome::Failed) {
        expect(file == before.file, "a refused, cancelled or failed change wrote the file");
        // A refusal may show the file's table instead, with nothing else
        // waiting: then the table is the file's.
        if (result.refreshed && result.outcome == Outcome::Refused)
            expect(actor.session->TableChanged() || table == file,
                   "a refusal showed a table the file does not hold");
        else
            expect(table == before.table,
                   "a refused, cancelled or failed change changed the session's table");
    }
    if (result.outcome == Outcome::Cancelled || result.outcome == Outcome::Reloaded) {
        expect(actor.asked, "cancelled or reloaded without a conflict question");
        expect(file == before.file, "a cancelled or reloaded change wrote the file");
    }
    if (needs.inMemory)
        expect(file == before.file, "a change kept in memory wrote the file");
    if (before.denied) {
        expect(file == before.file, "a change the file's rights deny wrote the file");
        // A conflict question may come first, about changes already waiting.
        const bool answered = actor.asked && result.outcome != Outcome::Done;
        expect(answered || result.outcome == Outcome::Refused,
               "a change the file's rights deny was not refused");
        expect(result.outcome != Outcome::Refused ||
                   result.reason == ChangeResult::Reason::MissingRight ||
                   result.reason == ChangeResult::Reason::SignedOut,
               "a change the file's rights deny was refused for another reason");
    }
    if (result.done() && !needs.inMemory) {
        if (!lateFault(result))
            expect(table == fileTable.bytes(),
                   "after a save the session's table is not the file's");
        expectNoNewTwins(before.fileTable, fileTable);
    }
    return fileTable;
}

const UserRecord* fileUser(const UserTable& fileTable, const std::string& name)
{
    const int slot = usedSlot(fileTable, name);
    if (slot == 0)
        fail("a user a saved change touched is missing from the file");
    return &fileTable.slot(slot);
}

bool holdsAccount(const AccountEntry& stored, const AccountData& plain)
{
    return !stored.AccountName.empty() && decoded(stored.AccountName) == plain.name &&
           decoded(stored.AccountDescription) == plain.description;
}

// The accounts of the only used slot named `name` in both tables, when they
// agree: a user a change of name or password must keep them for.
const UserRecord* onlyRecord(const UserTable& table, const std::string& name)
{
    const UserRecord* found = nullptr;
    for (int n = 1; n <= SlotCount; ++n) {
        const UserRecord& record = table.slot(n);
        if (!isFreeSlot(record) && decoded(record.LoginName) == name) {
            if (found)
                return nullptr;
            found = &record;
        }
    }
    return found;
}

void signIn(Actor& actor, Input& in)
{
    const std::string name = in.pick(Names);
    const std::string password = in.pick(Passwords);
    const UserTable seen = SessionAccess::table(*actor.session);
    const Session::SignInResult result = actor.session->signIn(name, password);
    if (result != Session::SignInResult::SignedIn)
        return;
    const UserData user = actor.session->me();
    expect(!password.empty() && password == user.password, "signed in without the user's password");
    expect(!trimControls(user.loginName).empty() &&
               trimControls(user.loginName) == trimControls(name),
           "signed in as a user of another name");
    actor.signedIn = true;
    actor.me = user.loginName;
    actor.password = user.password;
    expect(usedSlot(seen, actor.me) != 0, "signed in as a user the table does not hold");
}

void addUser(Actor& actor, Input& in)
{
    const UserData plain = plainFrom(in);
    const Needs needs{{Right::AddUsers}, true};
    const Before before = look(actor, needs);
    const ChangeResult result = actor.session->addUser(plain);
    checkChange(actor, needs, before, result);
    if (result.done()) {
        const UserTable& table = SessionAccess::table(*actor.session);
        expect(usedSlot(table, plain.loginName) != 0, "an added user is not in the table");
        expect(usedCount(table) == usedCount(tableFromBytes(before.table)) + 1,
               "an add did not add one user");
    }
}

void deleteUser(Actor& actor, Input& in)
{
    const std::string name = in.pick(Names);
    const Needs needs{{Right::DeleteUsers}, true};
    const Before before = look(actor, needs);
    const ChangeResult result = actor.session->deleteUser(name);
    checkChange(actor, needs, before, result);
    if (result.done())
        expect(usedCount(SessionAccess::table(*actor.session)) ==
                   usedCount(tableFromBytes(before.table)) - 1,
               "a deletion did not remove one user");
}

void saveChanges(Actor& actor, Input& in)
{
    // Loaded now, or kept from an earlier load, since when the table may
    // have moved under it.
    if (!actor.loaded || in.byte() % 2 == 0) {
        actor.loadedName = in.pick(Names);
        actor.loaded = actor.session->loadForEditing(actor.loadedName);
        actor.loadedSlot = usedSlot(SessionAccess::table(*actor.session), actor.loadedName);
    }
    const std::string edited = actor.loadedName;
    const int editedSlot = actor.loadedSlot;
    const UserData plain = plainFrom(in);
    const Needs needs{{Right::ModifyUsers}, false};
    const Before before = look(actor, needs);
    const bool waiting = actor.session->TableChanged();
    const ChangeResult result = actor.session->saveChanges(*actor.loaded, plain);
    const UserTable file = checkChange(actor, needs, before, result);
    if (!result.done())
        return;
    // The signed-in user's own record, edited, makes them its new name and
    // password. With nothing waiting, the change is made on the file's
    // table as it was, where the session finds the user edited as here;
    // otherwise their record gave way to the one saved.
    const UserTable& onDisk = before.fileTable;
    // The session finds the user edited where they were loaded, where that
    // slot still bears the name, else by the name.
    int editedAt = editedSlot;
    if (editedAt < 1 || editedAt > SlotCount || decoded(onDisk.slot(editedAt).LoginName) != edited)
        editedAt = usedSlot(onDisk, edited);
    const bool editedMe =
        editedAt != 0 && isRecordOf(onDisk.slot(editedAt), actor.me, actor.password);
    bool mine = false;
    if (actor.signedIn && !waiting) {
        mine = editedMe;
    } else if (actor.signedIn) {
        // Made again on the file's table. Where a table made elsewhere holds
        // the signed-in record twice, editing either is editing oneself,
        // though the other stays.
        mine = (editedMe || signedInSlot(file, actor.me, actor.password) == 0) &&
               signedInSlot(file, plain.loginName, plain.password) != 0;
    }
    if (mine) {
        actor.me = plain.loginName;
        actor.password = plain.password;
    }
    const UserRecord* saved = fileUser(file, plain.loginName);
    expect(decoded(saved->Password) == plain.password && decoded(saved->DataPath) == plain.dataPath,
           "a saved user's password or path is not in the file");
    for (Right right : AllRights)
        expect(holds(*saved, right) == plain.rights.has(right),
               "a saved user's rights are not in the file");
    const UserRecord* inFile = onlyRecord(before.fileTable, edited);
    const UserTable seen = tableFromBytes(before.table);
    const UserRecord* inTable = onlyRecord(seen, edited);
    // Only where the file and the session hold the user in the same slot is
    // it one record: one a waiting deletion and add moved is made again in
    // the file's first free slot, and takes the accounts that slot holds (a
    // table made elsewhere may leave some there).
    const bool oneRecord =
        inFile && inTable && usedSlot(before.fileTable, edited) == usedSlot(seen, edited);
    if (oneRecord && sameAccounts(*inFile, *inTable))
        expect(sameAccounts(*saved, *inFile), "a saved user lost their bank accounts");
}

enum class AccountChange
{
    Add,
    Modify,
    Delete
};

void changeAccount(Actor& actor, Input& in, AccountChange kind)
{
    const std::string user = in.pick(Names);
    const int entry = static_cast<int>(in.byte() % (AccountCount + 2)) - 1;
    AccountData plain = kind == AccountChange::Delete ? AccountData{} : accountFrom(in);
    plain.entry = kind == AccountChange::Modify ? entry : -1;
    const Needs needs{{Right::ModifyUsers, Right::DeleteUsers}, false};
    const Before before = look(actor, needs);
    ChangeResult result;
    switch (kind) {
    case AccountChange::Add:
        result = actor.session->addAccount(user, plain);
        break;
    case AccountChange::Modify:
        result = actor.session->modifyAccount(user, plain);
        break;
    case AccountChange::Delete:
        result = actor.session->deleteAccount(user, entry);
        break;
    }
    const UserTable file = checkChange(actor, needs, before, result);
    if (!result.done())
        return;
    const UserRecord* saved = fileUser(file, user);
    switch (kind) {
    case AccountChange::Add: {
        bool found = false;
        for (const AccountEntry& stored : saved->Accounts)
            found = found || holdsAccount(stored, plain);
        expect(found, "an added bank account is not in the file");
        break;
    }
    case AccountChange::Modify:
        expect(holdsAccount(saved->Accounts.at(static_cast<std::size_t>(entry)), plain),
               "a changed bank account is not in the file");
        break;
    case AccountChange::Delete:
        expect(saved->Accounts.at(static_cast<std::size_t>(entry)).AccountName.empty(),
               "a deleted bank account is still in the file");
        break;
    }
}

void save(Actor& actor)
{
    const Needs needs{{}, false};
    const Before before = look(actor, needs);
    const ChangeResult result = actor.session->save();
    checkChange(actor, needs, before, result);
    if (result.done())
        expect(!actor.session->TableChanged(), "a saved table still counts as changed");
}

void reload(Actor& actor)
{
    const UserTable before = SessionAccess::table(*actor.session);
    if (actor.session->reload().outcome == ChangeResult::Outcome::Failed) {
        expect(SessionAccess::table(*actor.session) == before, "a failed reload changed the table");
        return;
    }
    expect(SessionAccess::table(*actor.session) == tableFromBytes(fileBytes()),
           "a reload did not take the file's table");
    expect(!actor.session->TableChanged(), "a reloaded table still counts as changed");
}

// Someone else's program, or a hand, writing the file between two calls.
void writeBehindTheirBacks(Input& in)
{
    UserTable table = tableFromBytes(fileBytes());
    UserRecord& slot = table.slot(in.byte() % SlotCount + 1);
    switch (in.byte() % 6) {
    case 0: {
        ShortString<1>& right = rightField(slot, AllRights[in.byte() % AllRights.size()]);
        storeEncoded(right, decoded(right) == "0" ? "1" : "0");
        break;
    }
    case 1:
        storeEncoded(slot.LoginName, in.pick(Names));
        break;
    case 2:
        storeEncoded(slot.Password, in.pick(Passwords));
        break;
    case 3:
        for (int n = 1; n <= SlotCount; ++n) {
            if (&table.slot(n) == &slot)
                table.RemoveUserSlot(n);
        }
        break;
    case 4:
        putAccount(slot.Accounts[in.byte() % AccountCount], in);
        break;
    default:
        table.ClearEmptySlots();
        if (const int free = table.FirstFreeSlot(); free > 0)
            putUser(table.slot(free), in);
        break;
    }
    SaveUserTable(table, tablePath);
}

void step(std::array<Actor, 2>& actors, Input& in)
{
    const std::uint8_t op = in.byte();
    Actor& actor = actors[(op / 11) % 2];
    actor.asked = false;
    switch (op % 11) {
    case 0:
        signIn(actor, in);
        break;
    case 1:
        addUser(actor, in);
        break;
    case 2:
        deleteUser(actor, in);
        break;
    case 3:
        saveChanges(actor, in);
        break;
    case 4:
        changeAccount(actor, in, AccountChange::Add);
        break;
    case 5:
        changeAccount(actor, in, AccountChange::Modify);
        break;
    case 6:
        changeAccount(actor, in, AccountChange::Delete);
        break;
    case 7:
        save(actor);
        break;
    case 8:
        reload(actor);
        break;
    default:
        writeBehindTheirBacks(in);
        break;
    }
    for (const Actor& each : actors)
        expectOwnRecord(each);
}

void removeWorkDir()
{
    for (const char* name : {"Gatekeep.acl", ".Gatekeep.acl.writer"})
        ::unlink((workDir + "/" + name).c_str());
    ::rmdir(workDir.c_str());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // tmpfs when there is one: every save syncs.
    std::string dir = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    dir += "/larksessionfuzz-XXXXXX";
    if (::mkdtemp(dir.data()) == nullptr)
        std::abort();
    workDir = dir;
    tablePath = dir + "/" + UserTableFileName;
    std::atexit(removeWorkDir);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input in(data, size);
    UserTable initial;
    for (int n = 1; n <= SlotCount; ++n) {
        // One slot in four free, a user behind it possible.
        if (in.byte() % 4 != 0)
            putUser(initial.slot(n), in);
        else
            initial.slot(n) = BlankUser;
    }
    SaveUserTable(initial, tablePath);

    std::array<Actor, 2> actors;
    for (Actor& actor : actors) {
        actor.session = std::make_unique<Session>(tablePath);
        actor.session->setWriterWait(std::chrono::milliseconds(0));
        actor.session->setConflictHandler([&in, &actor](const Conflict&) {
            actor.asked = true;
            return static_cast<ConflictChoice>(in.byte() % 3);
        });
        actor.session->loadTable();
        expect(SessionAccess::table(*actor.session) == tableFromBytes(initial.bytes()),
               "a table as the file holds it did not load as it is");
    }
    while (in.more()) {
        try {
            step(actors, in);
        } catch (const IoError&) {
            // A fault of the file is reported, not a broken promise.
        }
    }
    return 0;
}
