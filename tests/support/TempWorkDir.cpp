#include "TempWorkDir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <stdexcept>

TempWorkDir::TempWorkDir() : m_previous(QDir::currentPath())
{
    if (!m_dir.isValid() || !QDir::setCurrent(m_dir.path()))
        throw std::runtime_error("cannot enter a temporary working directory");
}

TempWorkDir::~TempWorkDir()
{
    QDir::setCurrent(m_previous);
}

QString TempWorkDir::fixturePath(const QString& fixture)
{
    return QStringLiteral(LARK_TEST_DATA) + QLatin1Char('/') + fixture;
}

void TempWorkDir::copyFixture(const QString& fixture, const QString& as)
{
    QFile::remove(m_dir.filePath(as));
    if (!QFile::copy(fixturePath(fixture), m_dir.filePath(as)))
        throw std::runtime_error("cannot copy fixture");
    QFile::setPermissions(m_dir.filePath(as), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

void TempWorkDir::touch(const QString& name)
{
    write(QByteArray(), name);
}

bool TempWorkDir::exists(const QString& name) const
{
    return QFileInfo(m_dir.filePath(name)).isFile();
}

QByteArray TempWorkDir::read(const QString& name) const
{
    QFile file(m_dir.filePath(name));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

void TempWorkDir::write(const QByteArray& bytes, const QString& name)
{
    QFile file(m_dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write test file");
}
