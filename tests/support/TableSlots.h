#pragma once

#include "session/UserValues.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class Session;
class UserTable;

// The five slots of a table file as tests and tools make, change and read
// them around the program: users and accounts as the session's values, so
// that nothing but this file knows how the store lays out its records.
// Slots are numbered 1 to 5. Texts are taken and given as the table holds
// them (Windows-1252 bytes), unscrambled, so that a test can plant any byte
// a damaged or foreign file might hold.
class TableSlots
{
public:
    static constexpr int Count = 5;
    // The bytes of a table file, and of one slot's record in it.
    static constexpr std::size_t FileSize = 6565;
    static constexpr std::size_t RecordSize = FileSize / Count;
    // Account entries a user's record has room for.
    static constexpr int AccountEntries = 10;

    // A text as the table holds it, from UTF-8 (a character the table lacks
    // as "?"), and back.
    static std::string tableText(std::string_view utf8);
    static std::string utf8Text(std::string_view tableText);

    // Five free (zero-filled) slots.
    TableSlots();
    // The records of a table file; anything but a table file's size throws.
    explicit TableSlots(std::string_view fileBytes);
    // The table `session` holds in memory.
    static TableSlots inMemory(const Session& session);
    TableSlots(const TableSlots& other);
    TableSlots& operator=(const TableSlots& other);
    ~TableSlots();

    // The slots as the table file holds them.
    std::string bytes() const;

    bool isFree(int slot) const;
    // The user of a slot; a right stored as neither granted nor withheld is
    // in `unreadable`. Nothing for a free slot.
    std::optional<UserData> user(int slot) const;
    // The six rights as stored, in the order the session names them ("0" is
    // granted, "1" is not).
    std::string rightFlags(int slot) const;
    // The slot's used account entries, in entry order.
    std::vector<AccountData> accounts(int slot) const;
    // The first free slot; -1 when none is.
    int firstFree() const;
    // The slot whose stored name is `loginName` exactly; 0 when none.
    int findUser(std::string_view loginName) const;

    // Puts `user` in a slot, keeping its accounts; a right in `unreadable`
    // is stored as "2", which is neither granted nor withheld.
    void setUser(int slot, const UserData& user);
    // The same of plain texts, the rights as six flags as setRightFlags
    // takes them.
    void setUser(int slot, std::string_view loginName, std::string_view password,
                 std::string_view dataPath, std::string_view rightFlags);
    // Gives a slot's user another name, all else kept.
    void setLoginName(int slot, std::string_view loginName);
    // Stores one right's flag as given (one character).
    void setRightFlag(int slot, Right right, std::string_view flag);
    // Stores the six right flags as given (one character each), however
    // damaged, in the order the session names them.
    void setRightFlags(int slot, std::string_view flags);
    // Puts an account at its entry (`account.entry`).
    void setAccount(int slot, const AccountData& account);
    // Frees a slot, as a deletion leaves it before the table closes up.
    void freeSlot(int slot);
    // Removes a slot's user, the later ones moving up and a free slot
    // coming last.
    void removeSlot(int slot);

private:
    std::unique_ptr<UserTable> m_table;
};
