#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// A fresh temporary directory made the process's working directory for the
// life of the object; the previous one is restored afterwards.
class TempWorkDir
{
public:
    TempWorkDir();
    ~TempWorkDir();
    TempWorkDir(const TempWorkDir&) = delete;
    TempWorkDir& operator=(const TempWorkDir&) = delete;

    QString path() const { return m_dir.path(); }

    // Copies a file of tests/data into the working directory (as Gatekeep.acl
    // unless another name is given).
    void copyFixture(const QString& fixture, const QString& as = QStringLiteral("Gatekeep.acl"));
    void touch(const QString& name);
    bool exists(const QString& name) const;
    QByteArray read(const QString& name = QStringLiteral("Gatekeep.acl")) const;
    void write(const QByteArray& bytes, const QString& name = QStringLiteral("Gatekeep.acl"));

    static QString fixturePath(const QString& fixture);

private:
    QString m_previous;
    QTemporaryDir m_dir;
};
