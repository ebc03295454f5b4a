#include "TableFile.h"

#include "session/Records.h"
#include "store/Scramble.h"
#include "store/UserTable.h"
#include "ui/CodePage.h"

#include <cstring>
#include <stdexcept>

namespace {

template <std::size_t N> QString plain(const ShortString<N>& field)
{
    return fromAnsi(decoded(field));
}

} // namespace

QList<UserRecord> tableRecords(const QByteArray& file)
{
    if (file.size() != qsizetype(UserRecordSize) * SlotCount)
        throw std::runtime_error("a table file holds five records");
    QList<UserRecord> records;
    for (int i = 0; i < SlotCount; ++i) {
        UserRecord record;
        std::memcpy(&record, file.constData() + i * UserRecordSize, UserRecordSize);
        records.append(record);
    }
    return records;
}

QByteArray tableBytes(const QList<UserRecord>& records)
{
    QByteArray bytes;
    for (const UserRecord& record : records)
        bytes.append(reinterpret_cast<const char*>(&record), qsizetype(UserRecordSize));
    return bytes;
}

QStringList decodeTable(const QByteArray& file)
{
    QStringList lines;
    for (const UserRecord& record : tableRecords(file)) {
        if (isFreeSlot(record)) {
            lines.append(QStringLiteral("-"));
            continue;
        }
        QString line = plain(record.LoginName) + '|' + plain(record.Password) + '|' +
                       plain(record.DataPath) + '|';
        for (Right right : AllRights)
            line += plain(rightField(record, right));
        for (int i = 0; i < AccountCount; ++i) {
            const AccountEntry& entry = record.Accounts[i];
            if (entry.AccountName.empty())
                continue;
            line += QStringLiteral("|%1:").arg(i) + plain(entry.AccountName) + '=' +
                    plain(entry.AccountDescription);
        }
        lines.append(line);
    }
    return lines;
}

UserRecord scrambledUser(const QString& name, const QString& password, const QString& dataPath,
                         const QString& rights)
{
    UserRecord record{};
    storeEncoded(record.LoginName, toAnsi(name));
    storeEncoded(record.Password, toAnsi(password));
    storeEncoded(record.DataPath, toAnsi(dataPath));
    for (int i = 0; i < 6; ++i)
        storeEncoded(rightField(record, AllRights[i]), toAnsi(rights.mid(i, 1)));
    return record;
}

void setAccount(UserRecord& record, int entry, const QString& name, const QString& description)
{
    storeEncoded(record.Accounts[entry].AccountName, toAnsi(name));
    storeEncoded(record.Accounts[entry].AccountDescription, toAnsi(description));
}
