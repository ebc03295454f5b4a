#include "UserRecord.h"

ShortString<1>& RightField(UserRecord& record, RecordRight right)
{
    switch (right) {
    case RecordRight::DeleteRecord:
        return record.DeleteRecord;
    case RecordRight::DeleteUsers:
        return record.DeleteUsers;
    case RecordRight::ModifyRecord:
        return record.ModifyRecord;
    case RecordRight::ModifyUsers:
        return record.ModifyUsers;
    case RecordRight::AddRecord:
        return record.AddRecord;
    case RecordRight::AddUsers:
        break;
    }
    return record.AddUsers;
}

const ShortString<1>& RightField(const UserRecord& record, RecordRight right)
{
    return RightField(const_cast<UserRecord&>(record), right);
}
