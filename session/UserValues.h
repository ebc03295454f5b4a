#pragma once

#include "store/UserRecord.h"

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

// What the windows and the command line show of users and hand back: plain
// text (Windows-1252, as the table holds it; each front end converts at its
// own boundary) and named rights. Scrambling and slots stay in the core.

// The most characters (Windows-1252 bytes) each text can hold; a longer
// one would be cut to this.
constexpr std::size_t MaxLoginName = decltype(UserRecord::LoginName)::capacity();
constexpr std::size_t MaxPassword = decltype(UserRecord::Password)::capacity();
constexpr std::size_t MaxDataPath = decltype(UserRecord::DataPath)::capacity();
constexpr std::size_t MaxAccountName = decltype(AccountEntry::AccountName)::capacity();
constexpr std::size_t MaxDescription = decltype(AccountEntry::AccountDescription)::capacity();

// The six rights by name; a right not named is not granted.
class Rights
{
public:
    Rights() = default;
    Rights(std::initializer_list<Right> granted)
    {
        for (Right right : granted)
            set(right, true);
    }
    static Rights All() { return Rights(AllRights.begin(), AllRights.end()); }

    bool has(Right right) const { return m_bits & bit(right); }
    void set(Right right, bool granted)
    {
        m_bits = granted ? (m_bits | bit(right)) : (m_bits & ~bit(right));
    }
    bool any() const { return m_bits != 0; }
    bool operator==(const Rights& other) const { return m_bits == other.m_bits; }
    bool operator!=(const Rights& other) const { return m_bits != other.m_bits; }

private:
    template <typename It> Rights(It first, It last)
    {
        for (; first != last; ++first)
            set(*first, true);
    }
    static unsigned bit(Right right) { return 1u << static_cast<unsigned>(right); }

    unsigned m_bits = 0;
};

// A user as a person types or reads them.
struct UserData
{
    AnsiString loginName;
    AnsiString password;
    AnsiString dataPath;
    Rights rights;
    // A right stored as neither granted nor withheld (only a damaged file
    // holds one): the editor shows it unchosen.
    Rights unreadable;
};

struct AccountData
{
    int entry = -1; // 0 to 9, the place in the user's record
    AnsiString name;
    AnsiString description;
};

// The place in `accounts` of the account `name` names: the stored name
// exactly first, else one equal to it with a to z upper-cased; -1 when none.
int FindAccount(const std::vector<AccountData>& accounts, std::string_view name);
