#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QTimer>

#include <array>

// Tells when the table file may have changed on disk, so an open window can
// show what others saved. The file system's notifications come at once
// where it gives them; a look every few seconds at the file's identity,
// size and times covers those that give none (NFS, SMB). Saves replace the
// file by a rename, so its folder is watched and the file taken up again
// each time. While a dialog is open the news waits: what the person is
// answering stays as it was.
class TableWatcher : public QObject
{
    Q_OBJECT

public:
    static constexpr int DefaultPollInterval = 3000; // milliseconds

    explicit TableWatcher(const QString& tablePath, QObject* parent = nullptr);

    // How often the file is looked at; 0 stops the looks.
    void setPollInterval(int milliseconds);
    // Whether the file system's notifications are followed.
    void setNotifications(bool on);

signals:
    // Look at the file: it may no longer hold what it held.
    void tableMayHaveChanged();

private:
    // What a stat of the file gives that a save changes: device, inode,
    // size, modification and status-change times; all zero while it is gone.
    using Signature = std::array<long long, 7>;
    Signature signature() const;
    void watchPaths();
    void look();
    void notified();
    void deliver();

    QString m_tablePath;
    QFileSystemWatcher* m_watcher = nullptr;
    QTimer m_poll;
    // Several notifications of one save come as one.
    QTimer m_settle;
    Signature m_seen{};
    bool m_due = false;
};
