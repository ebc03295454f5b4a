#pragma once

#include <array>
#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// What the windows and the command line show of users and hand back: plain
// UTF-8 text and named rights. The file's code page, scrambling and slots
// stay in the core.

// The most characters each text can hold, as the table's record has room
// for; a longer one would be cut to this.
extern const std::size_t MaxLoginName;
extern const std::size_t MaxPassword;
extern const std::size_t MaxDataPath;
extern const std::size_t MaxAccountName;
extern const std::size_t MaxDescription;

// The six rights a user may hold.
enum class Right
{
    DeleteRecord,
    DeleteUsers,
    ModifyRecord,
    ModifyUsers,
    AddRecord,
    AddUsers
};
constexpr std::array<Right, 6> AllRights = {Right::DeleteRecord, Right::DeleteUsers,
                                            Right::ModifyRecord, Right::ModifyUsers,
                                            Right::AddRecord,    Right::AddUsers};

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
    static Rights all() { return Rights(AllRights.begin(), AllRights.end()); }

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
    std::string loginName;
    std::string password;
    std::string dataPath;
    Rights rights;
    // A right stored as neither granted nor withheld (only a damaged file
    // holds one): the editor shows it unchosen.
    Rights unreadable;
};

struct AccountData
{
    int entry = -1; // 0 to 9, the place in the user's record
    std::string name;
    std::string description;
};

// The user Modify loaded into the editor, as Save Changes finds them again
// (Session::loadForEditing); only the session reads it. Empty: nobody.
class LoadedUser
{
public:
    LoadedUser() = default;
    bool empty() const { return m_name.empty(); }
    bool operator==(const LoadedUser& other) const
    {
        return m_name == other.m_name && m_slot == other.m_slot;
    }
    bool operator!=(const LoadedUser& other) const { return !(*this == other); }

private:
    friend class Session;
    LoadedUser(std::string name, int slot) : m_name(std::move(name)), m_slot(slot) {}

    // The name as stored, and where it stood when loaded (0: nowhere).
    std::string m_name;
    int m_slot = 0;
};

// The place in `accounts` of the account `name` names: the stored name
// exactly first, else one equal to it with a to z upper-cased; -1 when none.
int findAccount(const std::vector<AccountData>& accounts, std::string_view name);
// A bank account's name with a to z upper-cased: accounts whose names are
// equal so are one name to the account list.
std::string accountNameKey(std::string_view name);

// Whether a text is blank as the table reads it: nothing but characters 0
// to 32, which are trimmed from names and paths.
bool isBlankText(std::string_view text);
// The text without the characters 0 to 32 around it, as names and
// passwords are taken.
std::string trimmedText(std::string_view text);
