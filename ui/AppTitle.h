#pragma once

#include <QString>

inline QString ApplicationTitle()
{
    return QStringLiteral("Larkledger Security Manager");
}
