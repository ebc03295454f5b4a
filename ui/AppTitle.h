#pragma once

#include <QString>

inline QString applicationTitle()
{
    return QStringLiteral("Larkledger Security Manager");
}
