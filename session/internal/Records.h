#pragma once

// The session's values joined to the store's records, for the core's own
// sources and its tests; nothing above the core sees the records.

#include "session/UserValues.h"

#include "store/UserRecord.h"

// The store keeps the six rights in the same order as the session names
// them.
constexpr RecordRight recordRight(Right right)
{
    return static_cast<RecordRight>(static_cast<int>(right));
}
static_assert(recordRight(Right::DeleteRecord) == RecordRight::DeleteRecord);
static_assert(recordRight(Right::DeleteUsers) == RecordRight::DeleteUsers);
static_assert(recordRight(Right::ModifyRecord) == RecordRight::ModifyRecord);
static_assert(recordRight(Right::ModifyUsers) == RecordRight::ModifyUsers);
static_assert(recordRight(Right::AddRecord) == RecordRight::AddRecord);
static_assert(recordRight(Right::AddUsers) == RecordRight::AddUsers);

inline ShortString<1>& rightField(UserRecord& record, Right right)
{
    return rightField(record, recordRight(right));
}
inline const ShortString<1>& rightField(const UserRecord& record, Right right)
{
    return rightField(record, recordRight(right));
}

class UserTable;

// The slot of the user a typed name means in `table`, or 0, as signing in
// finds it.
int lookUpUser(const UserTable& table, std::string_view typedName);
