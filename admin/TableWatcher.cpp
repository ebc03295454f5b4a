#include "TableWatcher.h"

#include <QApplication>
#include <QFileInfo>
#include <QWidget>

#include <sys/stat.h>

TableWatcher::TableWatcher(const QString& tablePath, QObject* parent)
    : QObject(parent), m_tablePath(tablePath)
{
    m_seen = signature();
    connect(&m_poll, &QTimer::timeout, this, [this] { look(); });
    m_settle.setSingleShot(true);
    m_settle.setInterval(50);
    connect(&m_settle, &QTimer::timeout, this, [this] { deliver(); });
    setPollInterval(DefaultPollInterval);
    setNotifications(true);
}

void TableWatcher::setPollInterval(int milliseconds)
{
    m_poll.stop();
    if (milliseconds <= 0)
        return;
    m_poll.setInterval(milliseconds);
    m_poll.start();
}

void TableWatcher::setNotifications(bool on)
{
    delete m_watcher;
    m_watcher = nullptr;
    if (!on)
        return;
    m_watcher = new QFileSystemWatcher(this);
    connect(m_watcher, &QFileSystemWatcher::fileChanged, this, [this] { notified(); });
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] { notified(); });
    watchPaths();
}

TableWatcher::Signature TableWatcher::signature() const
{
    struct stat info
    {
    };
    // Through a link to the table, as saves write through it.
    if (::stat(QFile::encodeName(m_tablePath).constData(), &info) != 0)
        return {};
    return {static_cast<long long>(info.st_dev),
            static_cast<long long>(info.st_ino),
            static_cast<long long>(info.st_size),
            info.st_mtim.tv_sec,
            info.st_mtim.tv_nsec,
            info.st_ctim.tv_sec,
            info.st_ctim.tv_nsec};
}

void TableWatcher::watchPaths()
{
    if (!m_watcher)
        return;
    // The table as named and, where that is a link, the file it names: a
    // save renames its new file into the folder of the latter.
    QStringList wanted{m_tablePath};
    const QString target = QFileInfo(m_tablePath).canonicalFilePath();
    if (!target.isEmpty() && target != m_tablePath)
        wanted.append(target);
    for (const QString& file : QStringList(wanted)) {
        const QString folder = QFileInfo(file).absolutePath();
        if (!wanted.contains(folder))
            wanted.append(folder);
    }
    const QStringList watched = m_watcher->files() + m_watcher->directories();
    QStringList missing;
    for (const QString& path : wanted) {
        if (!watched.contains(path) && QFileInfo::exists(path))
            missing.append(path);
    }
    if (!missing.isEmpty())
        m_watcher->addPaths(missing);
}

void TableWatcher::look()
{
    const Signature now = signature();
    if (now != m_seen) {
        m_seen = now;
        m_due = true;
    }
    deliver();
}

void TableWatcher::notified()
{
    // The file renamed over is no longer watched: take up the new one.
    watchPaths();
    m_seen = signature();
    m_due = true;
    m_settle.start();
}

void TableWatcher::deliver()
{
    if (!m_due || QApplication::activeModalWidget() || QApplication::activePopupWidget())
        return;
    m_due = false;
    emit tableMayHaveChanged();
}
