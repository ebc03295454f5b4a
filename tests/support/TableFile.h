#pragma once

#include "store/UserRecord.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

// Reading and writing whole user tables in tests, in the file's format.

// One line per slot in slot order. A free slot is "-"; a used one is
// "name|password|data path|rights" with the six flags in record order
// (DeleteRecord, DeleteUsers, ModifyRecord, ModifyUsers, AddRecord,
// AddUsers), then "|i:name=description" for each used account entry. Texts
// are unscrambled and shown as Windows-1252; line breaks stay "\r\n".
QStringList decodeTable(const QByteArray& file);

// A text as the table holds it: Windows-1252, a character it lacks as "?".
std::string tableTextOf(const QString& text);

// The five records of a table file (6565 bytes), and back.
QList<UserRecord> tableRecords(const QByteArray& file);
QByteArray tableBytes(const QList<UserRecord>& records);

// A user record of plain texts, scrambled as the store keeps it; rights is
// six flags in record order.
UserRecord scrambledUser(const QString& name, const QString& password, const QString& dataPath,
                         const QString& rights);
// Puts a scrambled account entry into a record.
void setAccount(UserRecord& record, int entry, const QString& name, const QString& description);
