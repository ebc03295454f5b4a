#include "TableFile.h"

namespace {

QString plain(const std::string& text)
{
    return QString::fromStdString(TableSlots::utf8Text(text));
}

QStringList decodeSlots(const TableSlots& table)
{
    QStringList lines;
    for (int slot = 1; slot <= TableSlots::Count; ++slot) {
        const std::optional<UserData> user = table.user(slot);
        if (!user) {
            lines.append(QStringLiteral("-"));
            continue;
        }
        QString line = plain(user->loginName) + '|' + plain(user->password) + '|' +
                       plain(user->dataPath) + '|' + plain(table.rightFlags(slot));
        for (const AccountData& account : table.accounts(slot))
            line += QStringLiteral("|%1:").arg(account.entry) + plain(account.name) + '=' +
                    plain(account.description);
        lines.append(line);
    }
    return lines;
}

} // namespace

TableSlots tableSlots(const QByteArray& file)
{
    return TableSlots(std::string_view(file.constData(), std::size_t(file.size())));
}

QByteArray tableBytes(const TableSlots& table)
{
    return QByteArray::fromStdString(table.bytes());
}

QStringList decodeTable(const QByteArray& file)
{
    return decodeSlots(tableSlots(file));
}

QStringList decodeTable(const Session& session)
{
    return decodeSlots(TableSlots::inMemory(session));
}

std::string tableTextOf(const QString& text)
{
    return TableSlots::tableText(text.toStdString());
}
