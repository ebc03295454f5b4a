#include "TableCheck.h"

#include "Session.h"
#include "StoredText.h"
#include "internal/Records.h"
#include "internal/TableBytes.h"

#include "store/IoError.h"
#include "store/Scramble.h"
#include "store/TableFile.h"
#include "store/UserTable.h"

#include <algorithm>
#include <optional>
#include <string>

namespace {

std::string quoted(std::string_view text)
{
    return "\"" + std::string(text) + "\"";
}

std::string slotName(const UserTable& table, int slot)
{
    return "Slot " + std::to_string(slot) + " (" + quoted(decoded(table.slot(slot).LoginName)) +
           ")";
}

template <std::size_t N>
void checkLength(const ShortString<N>& field, const std::string& what, int slot,
                 std::vector<std::string>& faults)
{
    if (field.Length > N)
        faults.push_back("Slot " + std::to_string(slot) + ": the length byte of the " + what +
                         " is " + std::to_string(field.Length) + ", but the field holds " +
                         std::to_string(N) + (N == 1 ? " character." : " characters."));
}

void checkLengths(const UserRecord& record, int slot, std::vector<std::string>& faults)
{
    checkLength(record.LoginName, "login name", slot, faults);
    checkLength(record.Password, "password", slot, faults);
    checkLength(record.DataPath, "data path", slot, faults);
    for (int i = 0; i < AccountCount; ++i) {
        const AccountEntry& entry = record.Accounts[static_cast<std::size_t>(i)];
        const std::string account = "bank account " + std::to_string(i + 1);
        checkLength(entry.AccountName, account + " name", slot, faults);
        checkLength(entry.AccountDescription, account + " description", slot, faults);
    }
    for (Right right : AllRights)
        checkLength(rightField(record, right), std::string(rightName(right)) + " right", slot,
                    faults);
}

// A text a table made elsewhere holds: on a terminal a control character
// can hide a name or show another in its place. A length byte past its
// field is a fault of its own, whatever the bytes after it read as.
template <std::size_t N>
void checkControls(const ShortString<N>& field, TextField what, const std::string& where,
                   std::vector<std::string>& faults)
{
    if (field.Length > N)
        return;
    if (std::optional<std::string> fault = controlCharacterFault(what, decoded(field)))
        faults.push_back(where + ": " + *fault + ".");
}

std::string sizeFault(std::size_t size, std::size_t records)
{
    std::string fault = "The file holds " + std::to_string(size) + " bytes, not " +
                        std::to_string(UserTableFileSize) + ": ";
    if (size > MaxTableFileSize)
        return fault + "it is larger than any table (" + std::to_string(MaxTableFileSize) +
               " bytes at most), so the table cannot be read (" + ioErrorText(5) + ").";
    if (size > UserTableFileSize)
        return fault + "what follows the five records is never read, and the next save drops it.";
    if (size % UserRecordSize != 0)
        return fault + "it ends inside a record, so the table cannot be read (" + ioErrorText(100) +
               ").";
    if (records == 0)
        return fault + "it is read as a table without users.";
    return fault + "slots " + std::to_string(records + 1) + " to " + std::to_string(SlotCount) +
           " are read as free.";
}

} // namespace

TableReport checkTable(std::string_view fileBytes)
{
    TableReport report;
    report.size = fileBytes.size();
    const bool tooLarge = fileBytes.size() > MaxTableFileSize;
    const std::size_t records =
        tooLarge ? 0 : std::min<std::size_t>(fileBytes.size() / UserRecordSize, SlotCount);
    // Readable exactly when the store reads it.
    try {
        if (!tooLarge)
            tableFromBytes(std::string(fileBytes));
        report.readable = !tooLarge;
    } catch (const IoError&) {
        report.readable = false;
    }
    if (fileBytes.size() != UserTableFileSize)
        report.faults.push_back(sizeFault(fileBytes.size(), records));

    // The records as they are in the file: loading would tidy the free ones.
    UserTable table;
    table.setRecords(fileBytes, records);
    for (int slot = 1; slot <= static_cast<int>(records); ++slot)
        checkLengths(table.slot(slot), slot, report.faults);

    const int firstFree = table.FirstFreeSlot();
    std::vector<int> used;
    for (int slot = 1; slot <= SlotCount; ++slot) {
        if (!isFreeSlot(table.slot(slot)))
            used.push_back(slot);
    }
    for (int slot : used) {
        const UserRecord& record = table.slot(slot);
        const AnsiString name = decoded(record.LoginName);
        report.users.push_back({slot, name});

        for (Right right : AllRights) {
            const AnsiString flag = decoded(rightField(record, right));
            if (flag != "0" && flag != "1")
                report.faults.push_back(slotName(table, slot) + ": the " + rightName(right) +
                                        " right holds " + quoted(flag) +
                                        ", neither \"0\" nor \"1\".");
        }
        for (int other : used) {
            if (other > slot && sameLoginName(name, decoded(table.slot(other).LoginName)))
                report.faults.push_back("Slots " + std::to_string(slot) + " and " +
                                        std::to_string(other) + " hold the same login name (" +
                                        quoted(name) + " and " +
                                        quoted(decoded(table.slot(other).LoginName)) + ").");
        }
        const int found = lookUpUser(table, name);
        if (found != slot)
            report.faults.push_back(slotName(table, slot) +
                                    " cannot sign in: its name finds slot " +
                                    std::to_string(found) + ".");
        if (decoded(record.Password).empty())
            report.faults.push_back(slotName(table, slot) +
                                    " cannot sign in: its password is empty.");
        checkControls(record.LoginName, TextField::LoginName, slotName(table, slot), report.faults);
        checkControls(record.Password, TextField::Password, slotName(table, slot), report.faults);
        checkControls(record.DataPath, TextField::DataPath, slotName(table, slot), report.faults);
        for (int i = 0; i < AccountCount; ++i) {
            const AccountEntry& entry = record.Accounts[static_cast<std::size_t>(i)];
            if (entry.AccountName.empty())
                continue;
            const std::string account =
                slotName(table, slot) + ", bank account " + std::to_string(i + 1);
            checkControls(entry.AccountName, TextField::AccountName, account, report.faults);
            checkControls(entry.AccountDescription, TextField::Description, account, report.faults);
        }
        if (firstFree > 0 && slot > firstFree)
            report.faults.push_back(slotName(table, slot) + " follows the free slot " +
                                    std::to_string(firstFree) +
                                    ": the list of users leaves it out.");
    }
    // Built on the table's bytes; handed out as every text of the core is.
    for (TableReport::User& user : report.users)
        user.loginName = utf8Of(user.loginName);
    for (std::string& fault : report.faults)
        fault = utf8Of(fault);
    return report;
}
