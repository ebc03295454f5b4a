// The built program, started as a person would start it (directly, or through
// the installed command): the folder it works in, the data folder and the
// first-use marker it makes, and the command lines it refuses before making
// anything. A start counts as made once the program holds the table's lock
// in its working directory, which it takes before its first dialog; the test
// then ends it.
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QString Marker = QStringLiteral("~first.log");
const QString Usage = QStringLiteral("Usage: larkledger-security [FOLDER] [QT-OPTION...]\n"
                                     "Try 'larkledger-security --help' for more.\n");
constexpr uid_t Nobody = 65534;

struct Outcome
{
    // Reached its first dialog, in `folder` (a canonical path).
    bool started = false;
    QString folder;
    // Otherwise the exit status it ended with, and what it said.
    int status = -1;
    QString err;
};

struct Start
{
    QStringList arguments;
    bool launcher = false;
    // CDPATH and OLDPWD name a folder of their own, holding folders of the
    // names the cases use.
    bool cdpath = false;
    QString xdgDataHome; // empty: unset
    mode_t mask = 022;
};

QByteArray firstLine(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readLine().trimmed();
}

} // namespace

Q_DECLARE_METATYPE(Start)

class StartFolderTest : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void startsInTheFolderNamed_data();
    void startsInTheFolderNamed();
    void refusedCommandLineMakesNothing_data();
    void refusedCommandLineMakesNothing();
    void plantedMarker_data();
    void plantedMarker();
    void firstStartMakesThePrivateDataFolder_data();
    void firstStartMakesThePrivateDataFolder();
    void existingDataFolderGetsNoMarker_data();
    void existingDataFolderGetsNoMarker();

private:
    QString at(const QString& name) const { return m_root->filePath(name); }
    QString base() const { return at(QStringLiteral("base")); }
    QString dataFolder() const
    {
        return at(QStringLiteral("home/.local/share/larkledger-security"));
    }
    // Every name under the case's folder but the captured output.
    QStringList everything() const;
    // `lockless`: the table is one the program takes no lock beside (a link
    // to nothing); the start counts as made once the program has stayed a
    // second in a folder other than the one it was started from.
    Outcome run(const Start& start, bool lockless = false) const;

    std::unique_ptr<QTemporaryDir> m_root;
};

void StartFolderTest::init()
{
    m_root = std::make_unique<QTemporaryDir>();
    QVERIFY(m_root->isValid());
    QDir root(m_root->path());
    for (const char* name : {"base", "home", "elsewhere/shared", "elsewhere/sub/shared",
                             "elsewhere/-P", "elsewhere/-"})
        QVERIFY(root.mkpath(QString::fromLatin1(name)));
}

QStringList StartFolderTest::everything() const
{
    QStringList names;
    QDirIterator it(m_root->path(),
                    QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString name = QDir(m_root->path()).relativeFilePath(it.next());
        if (name != QStringLiteral("stderr"))
            names << name;
    }
    names.sort();
    return names;
}

Outcome StartFolderTest::run(const Start& start, bool lockless) const
{
    std::vector<std::string> arguments;
    arguments.push_back(start.launcher ? "/bin/sh" : LARK_PROGRAM_PATH);
    if (start.launcher)
        arguments.push_back(LARK_LAUNCHER);
    for (QString argument : start.arguments)
        arguments.push_back(argument.replace(QStringLiteral("@"), base()).toStdString());
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const std::string baseDir = base().toStdString();
    const std::string errPath = at(QStringLiteral("stderr")).toStdString();
    // Made before the fork: the child only opens, changes directory and
    // runs the program.
    std::vector<std::string> environment;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        const std::string entry = *variable;
        const std::string name = entry.substr(0, entry.find('='));
        if (name != "HOME" && name != "XDG_DATA_HOME" && name != "CDPATH" && name != "OLDPWD" &&
            name != "QT_QPA_PLATFORM" && name != "LARK_PROGRAM")
            environment.push_back(entry);
    }
    environment.push_back("HOME=" + at(QStringLiteral("home")).toStdString());
    environment.push_back("QT_QPA_PLATFORM=offscreen");
    environment.push_back(std::string("LARK_PROGRAM=") + LARK_PROGRAM_PATH);
    if (!start.xdgDataHome.isEmpty())
        environment.push_back("XDG_DATA_HOME=" + start.xdgDataHome.toStdString());
    if (start.cdpath) {
        const std::string elsewhere = at(QStringLiteral("elsewhere")).toStdString();
        environment.push_back("CDPATH=" + elsewhere);
        environment.push_back("OLDPWD=" + elsewhere);
    }
    std::vector<char*> envp;
    for (std::string& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0)
        qFatal("fork");
    if (child == 0) {
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int null = ::open("/dev/null", O_WRONLY);
        if (err < 0 || null < 0 || ::dup2(err, 2) < 0 || ::dup2(null, 1) < 0 ||
            ::chdir(baseDir.c_str()) != 0)
            ::_exit(126);
        ::umask(start.mask);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }

    Outcome outcome;
    const QByteArray pid = QByteArray::number(child);
    const QString cwdLink = QStringLiteral("/proc/%1/cwd").arg(child);
    const QString exeLink = QStringLiteral("/proc/%1/exe").arg(child);
    const QString program = QFileInfo(QStringLiteral(LARK_PROGRAM_PATH)).canonicalFilePath();
    const QString from = QFileInfo(base()).canonicalFilePath();
    int settled = 0;
    int status = 0;
    for (int waited = 0; waited < 30000; waited += 20) {
        const pid_t ended = ::waitpid(child, &status, WNOHANG);
        if (ended == child) {
            outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            QFile err(at(QStringLiteral("stderr")));
            if (err.open(QIODevice::ReadOnly))
                outcome.err = QString::fromUtf8(err.readAll());
            return outcome;
        }
        const QString cwd = QFileInfo(cwdLink).symLinkTarget();
        if (!cwd.isEmpty() && firstLine(cwd + QStringLiteral("/.Gatekeep.acl.lock")) == pid) {
            outcome.started = true;
            outcome.folder = cwd;
            break;
        }
        const bool moved = QFileInfo(exeLink).symLinkTarget() == program && cwd != from;
        settled = lockless && moved ? settled + 20 : 0;
        if (settled >= 1000) {
            outcome.started = true;
            outcome.folder = cwd;
            break;
        }
        QTest::qSleep(20);
    }
    ::kill(child, SIGKILL);
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!outcome.started)
        qWarning("the program neither started nor ended in 30 seconds");
    return outcome;
}

void StartFolderTest::startsInTheFolderNamed_data()
{
    QTest::addColumn<Start>("start");
    // Where it should work, under the current directory ("base").
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("table"); // "none", "empty" or "users"
    QTest::addColumn<bool>("marker");

    const QString shared = QStringLiteral("shared");
    const QString none = QStringLiteral("none");
    auto row = [&](const char* name, QStringList arguments, bool launcher, bool cdpath,
                   const QString& folder, const QString& table, bool marker) {
        QTest::newRow(name) << Start{arguments, launcher, cdpath, {}, 022} << folder << table
                            << marker;
    };
    row("FOLDER without a table", {shared}, false, false, shared, none, true);
    row("FOLDER with an empty file", {shared}, false, false, shared, QStringLiteral("empty"), true);
    row("FOLDER with a table", {shared}, false, false, shared, QStringLiteral("users"), false);
    row("--folder FOLDER", {QStringLiteral("--folder"), shared}, false, false, shared, none, true);
    row("--folder=FOLDER", {QStringLiteral("--folder=shared")}, false, false, shared, none, true);
    row("absolute FOLDER", {QStringLiteral("@/shared")}, false, false, shared, none, true);
    row("relative path", {QStringLiteral("sub/shared")}, false, false, QStringLiteral("sub/shared"),
        none, true);
    row("FOLDER after a Qt option", {QStringLiteral("-reverse"), shared}, false, false, shared,
        none, true);
    row("CDPATH set", {shared}, false, true, shared, none, true);
    row("folder named -", {QStringLiteral("-")}, false, true, QStringLiteral("-"), none, true);
    row("--folder -", {QStringLiteral("--folder"), QStringLiteral("-")}, false, true,
        QStringLiteral("-"), none, true);
    row("--folder -P", {QStringLiteral("--folder"), QStringLiteral("-P")}, false, true,
        QStringLiteral("-P"), none, true);
    row("-- -P", {QStringLiteral("--"), QStringLiteral("-P")}, false, true, QStringLiteral("-P"),
        none, true);
    row("no FOLDER: the current directory", {}, false, true, QStringLiteral("."), none, false);
    row("launcher, FOLDER with CDPATH set", {shared}, true, true, shared, none, true);
    row("launcher, relative path", {QStringLiteral("sub/shared")}, true, true,
        QStringLiteral("sub/shared"), none, true);
    row("launcher, folder named -", {QStringLiteral("-")}, true, true, QStringLiteral("-"), none,
        true);
    row("launcher, --folder -P", {QStringLiteral("--folder"), QStringLiteral("-P")}, true, true,
        QStringLiteral("-P"), none, true);
    row("launcher, -- -P", {QStringLiteral("--"), QStringLiteral("-P")}, true, true,
        QStringLiteral("-P"), none, true);
}

void StartFolderTest::startsInTheFolderNamed()
{
    QFETCH(Start, start);
    QFETCH(QString, folder);
    QFETCH(QString, table);
    QFETCH(bool, marker);

    const QString dir = QDir(base()).filePath(folder);
    QVERIFY(QDir().mkpath(dir));
    const QString tablePath = QDir(dir).filePath(QStringLiteral("Gatekeep.acl"));
    if (table == QStringLiteral("empty"))
        QVERIFY(QFile(tablePath).open(QIODevice::WriteOnly));
    if (table == QStringLiteral("users"))
        QVERIFY(QFile::copy(QStringLiteral(LARK_TEST_DATA "/three-users.acl"), tablePath));

    const Outcome outcome = run(start);
    QVERIFY2(outcome.started, qPrintable(outcome.err));
    QCOMPARE(outcome.folder, QFileInfo(dir).canonicalFilePath());
    QCOMPARE(QFileInfo::exists(QDir(dir).filePath(Marker)), marker);
    // Nothing anywhere else: not in the folders CDPATH and OLDPWD name, not
    // in the person's data folder.
    for (const QString& name : everything()) {
        QVERIFY2(!name.startsWith(QStringLiteral("elsewhere/")) || QFileInfo(at(name)).isDir(),
                 qPrintable(name));
        QVERIFY2(!name.startsWith(QStringLiteral("home/")), qPrintable(name));
    }
    if (folder != QStringLiteral("."))
        QVERIFY(!QFileInfo::exists(QDir(base()).filePath(QStringLiteral("Gatekeep.acl"))));
}

void StartFolderTest::refusedCommandLineMakesNothing_data()
{
    QTest::addColumn<Start>("start");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("err");

    auto row = [](const char* name, QStringList arguments, bool launcher, int status,
                  const QString& err) {
        QTest::newRow(name) << Start{arguments, launcher, true, {}, 022} << status << err;
    };
    const QString foldr = QStringLiteral("larkledger-security: unknown option '--foldr'\n") + Usage;
    row("--foldr X", {QStringLiteral("--foldr"), QStringLiteral("X")}, false, 2, foldr);
    row("launcher, --foldr X", {QStringLiteral("--foldr"), QStringLiteral("X")}, true, 2, foldr);
    row("-P as an option", {QStringLiteral("-P")}, false, 2,
        QStringLiteral("larkledger-security: unknown option '-P'\n") + Usage);
    row("a control character shown escaped", {QStringLiteral("--x\x1b[2J")}, false, 2,
        QStringLiteral("larkledger-security: unknown option '--x\\x1b[2J'\n") + Usage);
    row("two folders", {QStringLiteral("shared"), QStringLiteral("other")}, false, 2,
        QStringLiteral("larkledger-security: one folder only: shared and other\n") + Usage);
    row("--folder without a folder", {QStringLiteral("--folder")}, false, 2,
        QStringLiteral("larkledger-security: --folder needs a folder\n") + Usage);
    row("-style without a value", {QStringLiteral("shared"), QStringLiteral("-style")}, false, 2,
        QStringLiteral("larkledger-security: option -style needs a value\n") + Usage);
    row("no such folder", {QStringLiteral("nowhere")}, false, 2,
        QStringLiteral("larkledger-security: nowhere: no such folder\n"));
    row("launcher, no such folder", {QStringLiteral("-"), QStringLiteral("-reverse")}, true, 2,
        QStringLiteral("larkledger-security: -: no such folder\n"));
}

void StartFolderTest::refusedCommandLineMakesNothing()
{
    QFETCH(Start, start);
    QFETCH(int, status);
    QFETCH(QString, err);

    const QStringList before = everything();
    const Outcome outcome = run(start);
    QVERIFY(!outcome.started);
    QCOMPARE(outcome.err, err);
    QCOMPARE(outcome.status, status);
    QCOMPARE(everything(), before);
}

void StartFolderTest::plantedMarker_data()
{
    QTest::addColumn<QString>("plant"); // "link", "link to a file", "theirs", "mine"
    QTest::addColumn<bool>("launcher");
    QTest::addColumn<bool>("started");

    QTest::newRow("link to a missing path of root's") << QStringLiteral("link") << false << false;
    QTest::newRow("launcher, link to a missing path of root's")
        << QStringLiteral("link") << true << false;
    QTest::newRow("link to a file of root's") << QStringLiteral("link to a file") << false << false;
    QTest::newRow("plain file of another user") << QStringLiteral("theirs") << false << true;
    QTest::newRow("plain file of the caller's") << QStringLiteral("mine") << true << true;
}

// A group member plants ~first.log in a shared folder that holds no table;
// the start writes through nothing and into nothing found there.
void StartFolderTest::plantedMarker()
{
    QFETCH(QString, plant);
    QFETCH(bool, launcher);
    QFETCH(bool, started);

    const QString shared = QDir(base()).filePath(QStringLiteral("shared"));
    QVERIFY(QDir().mkpath(shared));
    QVERIFY(::chmod(shared.toLocal8Bit().constData(), 01777) == 0);
    const QString marker = QDir(shared).filePath(Marker);
    // Root's folder, as /etc is.
    const QString target = at(QStringLiteral("rootonly/nologin"));
    QVERIFY(QDir().mkpath(at(QStringLiteral("rootonly"))));
    const auto write = [](const QString& path, const QByteArray& bytes) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    };
    if (plant == QStringLiteral("link to a file"))
        QVERIFY(write(target, "root's own\n"));
    if (plant.startsWith(QStringLiteral("link"))) {
        QVERIFY(QFile::link(target, marker));
        // Planted by a member of the folder's group.
        if (::geteuid() == 0)
            QVERIFY(::lchown(marker.toLocal8Bit().constData(), Nobody, Nobody) == 0);
    }
    if (plant == QStringLiteral("theirs")) {
        if (::geteuid() != 0)
            QSKIP("needs root, to plant a file of another user's");
        QVERIFY(write(marker, "theirs\n"));
        QVERIFY(::chown(marker.toLocal8Bit().constData(), Nobody, Nobody) == 0);
    }
    if (plant == QStringLiteral("mine"))
        QVERIFY(write(marker, "mine\n"));
    struct stat before
    {
    };
    QVERIFY(::lstat(marker.toLocal8Bit().constData(), &before) == 0);
    const QByteArray targetBefore = firstLine(target);

    const Outcome outcome = run({{QStringLiteral("shared")}, launcher, false, {}, 022});
    QCOMPARE(outcome.started, started);
    if (!started) {
        QCOMPARE(outcome.status, 1);
        QCOMPARE(outcome.err, QStringLiteral("larkledger-security: shared/~first.log is not a "
                                             "plain file (a link, say); nothing was written "
                                             "through it. Remove it, then start again.\n"));
        QVERIFY(!QFileInfo::exists(QDir(shared).filePath(QStringLiteral("Gatekeep.acl"))));
    }
    struct stat after
    {
    };
    QVERIFY(::lstat(marker.toLocal8Bit().constData(), &after) == 0);
    QCOMPARE(after.st_ino, before.st_ino);
    QCOMPARE(after.st_uid, before.st_uid);
    QCOMPARE(after.st_mode, before.st_mode);
    QCOMPARE(after.st_size, before.st_size);
    QCOMPARE(firstLine(target), targetBefore);
    if (plant == QStringLiteral("link"))
        QVERIFY(!QFileInfo::exists(target));
}

void StartFolderTest::firstStartMakesThePrivateDataFolder_data()
{
    QTest::addColumn<int>("mask");
    QTest::addColumn<bool>("xdg");

    for (const int mask : {0, 022, 077, 0277}) {
        for (const bool xdg : {false, true}) {
            QTest::addRow("umask %03o%s", mask, xdg ? ", XDG_DATA_HOME" : "") << mask << xdg;
        }
    }
}

// The installed command without a folder: the data folder is made private
// whatever the umask, and only then gets the marker.
void StartFolderTest::firstStartMakesThePrivateDataFolder()
{
    QFETCH(int, mask);
    QFETCH(bool, xdg);

    const QString data = xdg ? at(QStringLiteral("xdg/larkledger-security")) : dataFolder();
    const Outcome outcome = run(
        {{}, true, true, xdg ? at(QStringLiteral("xdg")) : QString(), static_cast<mode_t>(mask)});
    QVERIFY2(outcome.started, qPrintable(outcome.err));
    QCOMPARE(outcome.folder, QFileInfo(data).canonicalFilePath());
    struct stat st
    {
    };
    QVERIFY(::lstat(data.toLocal8Bit().constData(), &st) == 0);
    QVERIFY(S_ISDIR(st.st_mode));
    QCOMPARE(st.st_mode & 07777, mode_t{0700});
    QVERIFY(QFileInfo::exists(QDir(data).filePath(Marker)));
    QVERIFY(!QFileInfo::exists(QDir(data).filePath(QStringLiteral("Gatekeep.acl"))));
}

void StartFolderTest::existingDataFolderGetsNoMarker_data()
{
    QTest::addColumn<QString>("table"); // "none", "dangling link" or "empty"
    for (const char* table : {"none", "dangling link", "empty"})
        QTest::newRow(table) << QString::fromLatin1(table);
}

// A data folder that is there already is no first use, whatever is or is not
// in it: a missing table, or a link to nothing in its place, gets no marker,
// so nobody is offered an all-rights user over an existing installation.
void StartFolderTest::existingDataFolderGetsNoMarker()
{
    QFETCH(QString, table);

    const Start start{{}, true, false, {}, 022};
    QVERIFY(run(start).started);
    QVERIFY(QFile::remove(QDir(dataFolder()).filePath(Marker))); // the first start used it
    for (const char* leftover : {"Gatekeep.acl", ".Gatekeep.acl.lock"})
        QFile::remove(QDir(dataFolder()).filePath(QString::fromLatin1(leftover)));
    const QString tablePath = QDir(dataFolder()).filePath(QStringLiteral("Gatekeep.acl"));
    if (table == QStringLiteral("dangling link"))
        QVERIFY(QFile::link(QStringLiteral("gone.acl"), tablePath));
    if (table == QStringLiteral("empty"))
        QVERIFY(QFile(tablePath).open(QIODevice::WriteOnly));
    struct stat before
    {
    };
    QVERIFY(::lstat(dataFolder().toLocal8Bit().constData(), &before) == 0);

    const Outcome outcome = run(start, table == QStringLiteral("dangling link"));
    QVERIFY2(outcome.started, qPrintable(outcome.err));
    QCOMPARE(outcome.folder, QFileInfo(dataFolder()).canonicalFilePath());
    QVERIFY(!QFileInfo::exists(QDir(dataFolder()).filePath(Marker)));
    struct stat after
    {
    };
    QVERIFY(::lstat(dataFolder().toLocal8Bit().constData(), &after) == 0);
    QCOMPARE(after.st_mode, before.st_mode);
    QVERIFY(!QFileInfo::exists(QDir(dataFolder()).filePath(QStringLiteral("gone.acl"))));
}

QTEST_GUILESS_MAIN(StartFolderTest)
#include "StartFolderTest.moc"
