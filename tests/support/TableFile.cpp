#include "TableFile.h"

#include "session/Records.h"
#include "store/Scramble.h"
#include "store/UserTable.h"
#include "store/Windows1252.h"

#include <cstring>
#include <stdexcept>

namespace {

// The table's code page, for texts the tests write and read as people do.
QString fromAnsi(std::string_view bytes)
{
    QString text;
    for (const char c : bytes)
        text.append(
            QChar(static_cast<char16_t>(windows1252Character(static_cast<unsigned char>(c)))));
    return text;
}

} // namespace

std::string tableTextOf(const QString& text)
{
    std::string bytes;
    for (const QChar c : text) {
        const int byte = windows1252Byte(c.unicode());
        bytes.push_back(static_cast<char>(byte < 0 ? '?' : byte));
    }
    return bytes;
}

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
    storeEncoded(record.LoginName, tableTextOf(name));
    storeEncoded(record.Password, tableTextOf(password));
    storeEncoded(record.DataPath, tableTextOf(dataPath));
    for (int i = 0; i < 6; ++i)
        storeEncoded(rightField(record, AllRights[i]), tableTextOf(rights.mid(i, 1)));
    return record;
}

void setAccount(UserRecord& record, int entry, const QString& name, const QString& description)
{
    storeEncoded(record.Accounts[entry].AccountName, tableTextOf(name));
    storeEncoded(record.Accounts[entry].AccountDescription, tableTextOf(description));
}
