#pragma once

#include "../store/StoreCheck.h"
#include "store/Scramble.h"
#include "store/TableFile.h"
#include "store/UserTable.h"

#include <string>

// The users the session's tests sign in as, shared by the core's and the
// audit trail's tests.
namespace team {

// Plain record; rights as six flags in record order ("0" granted).
inline UserRecord Plain(const std::string& name, const std::string& password,
                        const std::string& path, const std::string& flags = "111111")
{
    return storecheck::PlainRecord(name, password, path, flags);
}

inline AccountEntry Account(const std::string& name, const std::string& description)
{
    AccountEntry entry{};
    entry.AccountName.assign(name);
    entry.AccountDescription.assign(description);
    return entry;
}

// Record-order flags of a user holding the user rights named by the letters
// A(ddUsers), M(odifyUsers) and D(eleteUsers); no record rights.
inline std::string UserRights(const std::string& letters)
{
    std::string flags = "111111";
    if (letters.find('D') != std::string::npos)
        flags[1] = '0';
    if (letters.find('M') != std::string::npos)
        flags[3] = '0';
    if (letters.find('A') != std::string::npos)
        flags[5] = '0';
    return flags;
}

// boss (all six rights), me (the rights under test, password "pw"), weak (no
// rights, one account "Cash"), written as the table file `path`.
inline void WriteTeam(const std::string& myRights, const std::string& path)
{
    UserTable table;
    table.StoreNewUser(Plain("boss", "bosspw", "/b", "000000"));
    table.StoreNewUser(Plain("me", "pw", "/m", UserRights(myRights)));
    table.StoreNewUser(Plain("weak", "weakpw", "/w"));
    table.ClearEmptySlots();
    StoreEncoded(table.Slot(3).Accounts[0].AccountName, "Cash");
    StoreEncoded(table.Slot(3).Accounts[0].AccountDescription, "Till");
    SaveUserTable(table, path);
}

} // namespace team
