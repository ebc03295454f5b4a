#pragma once

#include <QString>

// The used slots of tests/data/three-users.acl as decodeTable (TableFile.h)
// gives them, and Renée's login name with its blanks.
inline const QString AdminLine = QStringLiteral(
    "admin|secret|C:\\Larkledger\\Data|000000|0:Checking=Main account.\r\nBranch 12|2:Savings=");
inline const QString ClerkLine = QStringLiteral("clerk|Pa55w0rd|/srv/ledger|111011");
inline const QString ReneeLine = QString::fromUtf8(" Ren\xc3\xa9"
                                                   "e |caf\xc3\xa9\xe2\x82\xac|D:\\Daten|101111|"
                                                   "0:Gesch\xc3\xa4"
                                                   "ft=\xe2\x82\xac account");
inline const QString Renee = QString::fromUtf8(" Ren\xc3\xa9"
                                               "e ");
