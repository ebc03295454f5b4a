#pragma once

#include "../store/StoreCheck.h"
#include "session/Session.h"
#include "session/internal/Records.h"
#include "store/Scramble.h"
#include "store/TableFile.h"
#include "store/UserTable.h"

#include <string>
#include <utility>
#include <vector>

// The users the session's tests sign in as, shared by the core's and the
// audit trail's tests.
// Rights are named in the tests: Rights{R::AddUsers, R::ModifyUsers}.
using R = Right;

namespace team {

inline UserData plain(const std::string& name, const std::string& password, const std::string& path,
                      Rights rights = {})
{
    UserData user;
    user.loginName = name;
    user.password = password;
    user.dataPath = path;
    user.rights = rights;
    return user;
}

inline AccountData account(const std::string& name, const std::string& description)
{
    AccountData account;
    account.name = name;
    account.description = description;
    return account;
}

// The same, naming the entry a Modify changes.
inline AccountData accountAt(int entry, const std::string& name, const std::string& description)
{
    AccountData made = account(name, description);
    made.entry = entry;
    return made;
}

// The eight combinations of the three user rights, each with a label.
inline const std::vector<std::pair<const char*, Rights>>& userRightCombinations()
{
    static const std::vector<std::pair<const char*, Rights>> combinations = {
        {"none", {}},
        {"A", {R::AddUsers}},
        {"M", {R::ModifyUsers}},
        {"D", {R::DeleteUsers}},
        {"AM", {R::AddUsers, R::ModifyUsers}},
        {"AD", {R::AddUsers, R::DeleteUsers}},
        {"MD", {R::ModifyUsers, R::DeleteUsers}},
        {"AMD", {R::AddUsers, R::ModifyUsers, R::DeleteUsers}},
    };
    return combinations;
}

// The record rights of `rights`, in the store's flags ("0" granted).
inline std::string flags(const Rights& rights)
{
    std::string flags;
    for (Right right : AllRights)
        flags += rights.has(right) ? '0' : '1';
    return flags;
}

// boss (all six rights), me (`myRights`, password "pw"), weak (no rights,
// one account "Cash"), written as the table file `path`.
inline void writeTeam(const Rights& myRights, const std::string& path)
{
    UserTable table;
    table.StoreNewUser(storecheck::plainRecord("boss", "bosspw", "/b", "000000"));
    table.StoreNewUser(storecheck::plainRecord("me", "pw", "/m", flags(myRights)));
    table.StoreNewUser(storecheck::plainRecord("weak", "weakpw", "/w", "111111"));
    table.ClearEmptySlots();
    storeEncoded(table.slot(3).Accounts[0].AccountName, "Cash");
    storeEncoded(table.slot(3).Accounts[0].AccountDescription, "Till");
    SaveUserTable(table, path);
}

} // namespace team
