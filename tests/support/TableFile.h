#pragma once

#include "TableSlots.h"

#include <QByteArray>
#include <QStringList>

class Session;

// Reading and writing whole user tables in tests, in the file's format.

// One line per slot in slot order. A free slot is "-"; a used one is
// "name|password|data path|rights" with the six flags in record order
// (DeleteRecord, DeleteUsers, ModifyRecord, ModifyUsers, AddRecord,
// AddUsers), then "|i:name=description" for each used account entry. Texts
// are unscrambled and shown as Windows-1252; line breaks stay "\r\n".
QStringList decodeTable(const QByteArray& file);
// The same of the table `session` holds in memory.
QStringList decodeTable(const Session& session);

// A text as the table holds it: Windows-1252, a character it lacks as "?".
std::string tableTextOf(const QString& text);

// The five slots of a table file (6565 bytes), and back.
TableSlots tableSlots(const QByteArray& file);
QByteArray tableBytes(const TableSlots& table);
