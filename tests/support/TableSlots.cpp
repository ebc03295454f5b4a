#include "TableSlots.h"

#include "session/Session.h"
#include "session/internal/Records.h"
#include "session/internal/SessionAccess.h"
#include "store/Scramble.h"
#include "store/UserTable.h"
#include "store/Windows1252.h"

#include <stdexcept>
#include <string>

static_assert(TableSlots::Count == SlotCount);
static_assert(TableSlots::AccountEntries == AccountCount);
static_assert(TableSlots::FileSize == UserTableFileSize);
static_assert(TableSlots::RecordSize == UserRecordSize);

std::string TableSlots::tableText(std::string_view utf8)
{
    std::string bytes;
    std::size_t at = 0;
    while (at < utf8.size()) {
        const std::optional<char32_t> character = nextUtf8Character(utf8, at);
        const int byte = character ? windows1252Byte(*character) : -1;
        bytes.push_back(static_cast<char>(byte < 0 ? '?' : byte));
        if (!character)
            ++at;
    }
    return bytes;
}

std::string TableSlots::utf8Text(std::string_view tableText)
{
    return windows1252ToUtf8(tableText);
}

TableSlots::TableSlots() : m_table(std::make_unique<UserTable>()) {}

TableSlots::TableSlots(std::string_view fileBytes) : TableSlots()
{
    if (fileBytes.size() != UserTableFileSize)
        throw std::runtime_error("a table file holds five records, " +
                                 std::to_string(UserTableFileSize) + " bytes; this one has " +
                                 std::to_string(fileBytes.size()));
    m_table->setRecords(fileBytes, SlotCount);
}

TableSlots TableSlots::inMemory(const Session& session)
{
    return TableSlots(SessionAccess::table(session).bytes());
}

TableSlots::TableSlots(const TableSlots& other)
    : m_table(std::make_unique<UserTable>(*other.m_table))
{
}

TableSlots& TableSlots::operator=(const TableSlots& other)
{
    *m_table = *other.m_table;
    return *this;
}

TableSlots::~TableSlots() = default;

std::string TableSlots::bytes() const
{
    return m_table->bytes();
}

bool TableSlots::isFree(int slot) const
{
    return isFreeSlot(m_table->slot(slot));
}

std::optional<UserData> TableSlots::user(int slot) const
{
    if (isFree(slot))
        return std::nullopt;
    const UserRecord& record = m_table->slot(slot);
    UserData user;
    user.loginName = decoded(record.LoginName);
    user.password = decoded(record.Password);
    user.dataPath = decoded(record.DataPath);
    for (Right right : AllRights) {
        const std::string flag = decoded(rightField(record, right));
        user.rights.set(right, flag == "0");
        user.unreadable.set(right, flag != "0" && flag != "1");
    }
    return user;
}

std::string TableSlots::rightFlags(int slot) const
{
    std::string flags;
    for (Right right : AllRights)
        flags += decoded(rightField(m_table->slot(slot), right));
    return flags;
}

std::vector<AccountData> TableSlots::accounts(int slot) const
{
    std::vector<AccountData> accounts;
    const UserRecord& record = m_table->slot(slot);
    for (int entry = 0; entry < AccountCount; ++entry) {
        const AccountEntry& stored = record.Accounts[static_cast<std::size_t>(entry)];
        if (!stored.AccountName.empty())
            accounts.push_back(
                {entry, decoded(stored.AccountName), decoded(stored.AccountDescription)});
    }
    return accounts;
}

int TableSlots::firstFree() const
{
    return m_table->FirstFreeSlot();
}

int TableSlots::findUser(std::string_view loginName) const
{
    return m_table->FindUser(loginName);
}

void TableSlots::setUser(int slot, const UserData& user)
{
    UserRecord& record = m_table->slot(slot);
    storeEncoded(record.LoginName, user.loginName);
    storeEncoded(record.Password, user.password);
    storeEncoded(record.DataPath, user.dataPath);
    for (Right right : AllRights) {
        const char* flag = user.unreadable.has(right) ? "2" : user.rights.has(right) ? "0" : "1";
        storeEncoded(rightField(record, right), flag);
    }
}

void TableSlots::setUser(int slot, std::string_view loginName, std::string_view password,
                         std::string_view dataPath, std::string_view rightFlags)
{
    UserRecord& record = m_table->slot(slot);
    storeEncoded(record.LoginName, loginName);
    storeEncoded(record.Password, password);
    storeEncoded(record.DataPath, dataPath);
    setRightFlags(slot, rightFlags);
}

void TableSlots::setLoginName(int slot, std::string_view loginName)
{
    storeEncoded(m_table->slot(slot).LoginName, loginName);
}

void TableSlots::setRightFlag(int slot, Right right, std::string_view flag)
{
    storeEncoded(rightField(m_table->slot(slot), right), flag);
}

void TableSlots::setRightFlags(int slot, std::string_view flags)
{
    if (flags.size() != AllRights.size())
        throw std::invalid_argument("six right flags, one character each");
    for (std::size_t i = 0; i < AllRights.size(); ++i)
        setRightFlag(slot, AllRights[i], flags.substr(i, 1));
}

void TableSlots::setAccount(int slot, const AccountData& account)
{
    if (account.entry < 0 || account.entry >= AccountCount)
        throw std::out_of_range("account entry " + std::to_string(account.entry));
    AccountEntry& stored = m_table->slot(slot).Accounts[static_cast<std::size_t>(account.entry)];
    storeEncoded(stored.AccountName, account.name);
    storeEncoded(stored.AccountDescription, account.description);
}

void TableSlots::freeSlot(int slot)
{
    m_table->slot(slot) = BlankUser;
}

void TableSlots::removeSlot(int slot)
{
    for (int later = slot; later < SlotCount; ++later)
        m_table->slot(later) = m_table->slot(later + 1);
    m_table->slot(SlotCount) = BlankUser;
}
