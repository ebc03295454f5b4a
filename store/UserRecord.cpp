#include "UserRecord.h"

ShortString<1>& RightField(UserRecord& record, Right right)
{
    switch (right) {
    case Right::DeleteRecord:
        return record.DeleteRecord;
    case Right::DeleteUsers:
        return record.DeleteUsers;
    case Right::ModifyRecord:
        return record.ModifyRecord;
    case Right::ModifyUsers:
        return record.ModifyUsers;
    case Right::AddRecord:
        return record.AddRecord;
    case Right::AddUsers:
        break;
    }
    return record.AddUsers;
}

const ShortString<1>& RightField(const UserRecord& record, Right right)
{
    return RightField(const_cast<UserRecord&>(record), right);
}
