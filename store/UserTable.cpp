#include "UserTable.h"

#include "Scramble.h"

#include <cstring>
#include <stdexcept>
#include <string>

namespace {

UserRecord makeBlankUser()
{
    UserRecord record{};
    for (RecordRight right : AllRecordRights)
        rightField(record, right).assign("1");
    return record;
}

} // namespace

const UserRecord BlankUser = makeBlankUser();

UserRecord& UserTable::slot(int n)
{
    if (n < 1 || n > SlotCount)
        throw std::out_of_range("slot number " + std::to_string(n) + " outside 1 to 5");
    return m_slots[static_cast<std::size_t>(n - 1)];
}

const UserRecord& UserTable::slot(int n) const
{
    return const_cast<UserTable*>(this)->slot(n);
}

std::string UserTable::bytes() const
{
    return std::string(reinterpret_cast<const char*>(m_slots.data()), UserTableFileSize);
}

void UserTable::setRecords(std::string_view bytes, std::size_t records)
{
    if (records > SlotCount || bytes.size() < records * UserRecordSize)
        throw std::out_of_range("more records than the bytes or the table hold");
    std::memcpy(static_cast<void*>(m_slots.data()), bytes.data(), records * UserRecordSize);
}

AnsiString trimControls(std::string_view text)
{
    const auto isControl = [](char c) { return static_cast<unsigned char>(c) <= 32; };
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && isControl(text[begin]))
        ++begin;
    while (end > begin && isControl(text[end - 1]))
        --end;
    return AnsiString(text.substr(begin, end - begin));
}

AnsiString upperAscii(std::string_view text)
{
    AnsiString out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

bool isFreeSlot(const UserRecord& record)
{
    return trimControls(decoded(record.LoginName)).empty();
}

int UserTable::FindUser(std::string_view loginName) const
{
    for (int i = 1; i <= SlotCount; ++i) {
        if (decoded(slot(i).LoginName) == loginName)
            return i;
    }
    return 0;
}

AnsiString RightTextToFlag(std::string_view text)
{
    return upperAscii(text) == "TRUE" ? "0" : "1";
}

AnsiString FlagToRightText(std::string_view flag)
{
    return flag == "0" ? "TRUE" : "FALSE";
}

void UserTable::ClearEmptySlots()
{
    for (UserRecord& record : m_slots) {
        if (!isFreeSlot(record))
            continue;
        record.LoginName.Length = 0;
        record.Password.Length = 0;
        for (RecordRight right : AllRecordRights)
            rightField(record, right).assign("1");
    }
}

int UserTable::FirstFreeSlot() const
{
    for (int i = 1; i <= SlotCount; ++i) {
        if (isFreeSlot(slot(i)))
            return i;
    }
    return -1;
}

AnsiString UserTable::StoreNewUser(const UserRecord& plain)
{
    const int s = FirstFreeSlot();
    if (s < 0)
        return AnsiString();
    UserRecord& record = slot(s);
    storeEncoded(record.LoginName, plain.LoginName.value());
    storeEncoded(record.Password, plain.Password.value());
    storeEncoded(record.DataPath, plain.DataPath.value());
    for (RecordRight right : AllRecordRights)
        storeEncoded(rightField(record, right), rightField(plain, right).value());
    return decoded(record.LoginName);
}

void UserTable::RemoveUserSlot(int n)
{
    if (n < 1 || n > SlotCount || isFreeSlot(slot(n)))
        return;
    // The slot before the first free one after n (5 when none): in a packed
    // table that is FirstFreeSlot() - 1, yet in a table read from a file with
    // a gap only this bound removes user n, whether n stands before the gap
    // or behind it, and moves nobody across the gap.
    int last = SlotCount;
    for (int i = n + 1; i <= SlotCount; ++i) {
        if (isFreeSlot(slot(i))) {
            last = i - 1;
            break;
        }
    }
    for (int j = n + 1; j <= last; ++j)
        slot(j - 1) = slot(j);
    slot(last) = BlankUser;
    ClearEmptySlots();
}
