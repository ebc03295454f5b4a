#include "UserRecord.h"

ShortString<1>& rightField(UserRecord& record, RecordRight right)
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

const ShortString<1>& rightField(const UserRecord& record, RecordRight right)
{
    return rightField(const_cast<UserRecord&>(record), right);
}
