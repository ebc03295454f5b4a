#include "Commands.h"

#include "audit/SystemLog.h"
#include "session/Session.h"
#include "session/StoredText.h"
#include "session/TableCheck.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A text of the command line the table could not hold unchanged ends the
// command before anything is written. Like the checks below: nothing when
// the text will do, the ending otherwise. A text that names something
// already there need only be one the table can hold.
std::optional<Ending> refuseUnstorable(TextField field, const std::string& text)
{
    if (const std::optional<std::string> refusal = unstorableRefusal(field, text))
        return Ending{ExitBadInput, *refusal};
    return std::nullopt;
}

// A new value must fit its field too: the store would cut a longer text to
// another one.
std::optional<Ending> refuseTooLong(TextField field, const std::string& text)
{
    if (std::optional<Ending> refused = refuseUnstorable(field, text))
        return refused;
    if (const std::optional<std::string> refusal = tooLongRefusal(field, text))
        return Ending{ExitBadInput, *refusal};
    return std::nullopt;
}

// A text for people to read: a table made elsewhere may hold control
// characters, which would move the cursor, clear the line or hide the text
// on a terminal, so they show as \r, \x1b and the like.
std::string shown(std::string_view text)
{
    return visibleText(text);
}

// A new text: the session core would store it as it is, control
// characters refused too; refused before anyone is asked for a password.
std::optional<Ending> refuseNewText(TextField field, const std::string& text)
{
    if (const std::optional<std::string> refusal = storeRefusal(field, text))
        return Ending{ExitBadInput, shown(*refusal)};
    return std::nullopt;
}

// The core's refusal of a password the table cannot hold, as a clause.
std::string unstorablePassword(const std::string& typed)
{
    std::string refusal = unstorableRefusal(TextField::Password, typed).value_or(std::string());
    if (!refusal.empty() && refusal.back() == '.')
        refusal.pop_back();
    return refusal;
}

// Says why a command could not do its work, after whatever it wrote to
// standard output, as a script reading both would see it; its exit status.
int tellFailure(std::ostream& out, std::ostream& err, const Ending& ending)
{
    if (!ending.message.empty()) {
        out.flush();
        err << ProgramName << ": " << visibleLines(ending.message) << "\n";
        err.flush();
    }
    return ending.status;
}

// Descriptions keep CR LF line breaks, as the account dialog stores them.
std::string storedBreaks(const std::string& text)
{
    std::string stored;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            stored += '\r';
        stored += text[i];
    }
    return stored;
}

std::string folderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// mkdir -p; the folders it makes are private to their owner. The error
// number of a step that failed, or 0.
int makeFolders(const std::string& folder)
{
    std::size_t at = 0;
    while (at != std::string::npos) {
        at = folder.find('/', at + 1);
        const std::string part = folder.substr(0, at);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return errno;
    }
    return 0;
}

// JSON's string form of a UTF-8 text.
std::string json(const std::string& text)
{
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte == 0x7F ||
                   (byte == 0xC2 && i + 1 < text.size() &&
                    static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                    static_cast<unsigned char>(text[i + 1]) < 0xA0)) {
            // DEL and the C1 controls (U+0080 to U+009F, two bytes in UTF-8)
            // need no escape in JSON, but a terminal would act on them.
            const unsigned code = byte == 0xC2 ? static_cast<unsigned char>(text[++i]) : byte;
            static const char* hex = "0123456789abcdef";
            out += "\\u00";
            out += hex[code >> 4];
            out += hex[code & 15];
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// A field of a tab-separated line: tabs, line ends and backslashes escaped.
std::string tsv(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\\':
            out += "\\\\";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::optional<std::string> realFolder(const std::string& path)
{
    char resolved[PATH_MAX];
    struct stat st
    {
    };
    if (::realpath(path.c_str(), resolved) == nullptr || ::stat(resolved, &st) != 0 ||
        !S_ISDIR(st.st_mode))
        return std::nullopt;
    return std::string(resolved);
}

// Files made while it lives are private to their owner.
class PrivateFiles
{
public:
    PrivateFiles() : m_old(::umask(077)) {}
    ~PrivateFiles() { ::umask(m_old); }
    PrivateFiles(const PrivateFiles&) = delete;
    PrivateFiles& operator=(const PrivateFiles&) = delete;

private:
    mode_t m_old;
};

UserData plainUser(const std::string& name, const std::string& password, const std::string& path)
{
    UserData user;
    user.loginName = name;
    user.password = password;
    user.dataPath = path;
    return user;
}

} // namespace

// One run of a command: the command line's texts, the session on the
// table, and what is shown.
class Command
{
public:
    Command(const Invocation& invocation, std::string path, SecretReader& secrets,
            std::ostream& out, std::ostream& err, AuditSink* audit)
        : m_invocation(invocation), m_info(*findCommand(invocation.command)), m_secrets(secrets),
          m_out(out), m_err(err), m_path(std::move(path)), m_audit(audit), m_session(m_path, audit),
          m_systemUser(currentSystemUser())
    {
        m_session.setSystemUser(m_systemUser);
        // The command holds the writer lock from its read to its write, so
        // only a writer that takes no lock can get in between: never
        // written over, such a change ends the command.
        m_session.setConflictHandler([this](const Conflict& conflict) {
            m_conflict = conflict;
            return ConflictChoice::Cancel;
        });
        m_session.setWriterWait(std::chrono::seconds(invocation.waitSeconds),
                                [this](Session::WriterWait step) {
                                    if (step == Session::WriterWait::Begins)
                                        notice(Session::writerWaitNotice(m_path));
                                    return true;
                                });
    }

    // Runs the command and says how it ended; its exit status.
    int run() { return tell(ending()); }

    Ending list()
    {
        const std::vector<std::string> names = m_session.listedNames();
        if (m_invocation.format == OutputFormat::Json) {
            m_out << "[";
            for (std::size_t i = 0; i < names.size(); ++i)
                m_out << (i ? ", " : "") << json(names[i]);
            m_out << "]\n";
            return {};
        }
        for (const std::string& name : names)
            m_out << (m_invocation.format == OutputFormat::Tsv ? tsv(name) : shown(name)) << "\n";
        return {};
    }

    Ending show()
    {
        if (!m_session.maySeeUserDetails())
            return stop(ExitRefused, "You may not see user details: that needs the ModifyUsers or "
                                     "DeleteUsers right.");
        const std::optional<UserData> user = m_session.user(m_session.storedName(m_target));
        if (!user)
            return stop(ExitNotFound, Session::noSuchUserText());
        const bool accounts = m_session.mayKeepAccounts();
        const std::vector<AccountData> list =
            accounts ? m_session.Accounts(user->loginName) : std::vector<AccountData>();
        const std::string password = m_session.shownPassword(*user);
        switch (m_invocation.format) {
        case OutputFormat::Json: {
            m_out << "{\"login_name\": " << json(user->loginName)
                  << ", \"password\": " << json(password)
                  << ", \"data_path\": " << json(user->dataPath) << ", \"rights\": {";
            for (Right right : AllRights)
                m_out << (right == AllRights.front() ? "" : ", ") << json(rightName(right)) << ": "
                      << (user->rights.has(right) ? "true" : "false");
            m_out << "}, \"bank_accounts\": ";
            if (!accounts) {
                m_out << "null}\n";
                return {};
            }
            m_out << "[";
            for (std::size_t i = 0; i < list.size(); ++i)
                m_out << (i ? ", " : "") << "{\"name\": " << json(list[i].name)
                      << ", \"description\": " << json(list[i].description) << "}";
            m_out << "]}\n";
            return {};
        }
        case OutputFormat::Tsv:
            m_out << "login_name\t" << tsv(user->loginName) << "\n"
                  << "password\t" << tsv(password) << "\n"
                  << "data_path\t" << tsv(user->dataPath) << "\n";
            for (Right right : AllRights)
                m_out << rightName(right) << "\t" << (user->rights.has(right) ? "TRUE" : "FALSE")
                      << "\n";
            for (const AccountData& account : list)
                m_out << "bank_account\t" << tsv(account.name) << "\t" << tsv(account.description)
                      << "\n";
            return {};
        case OutputFormat::Text:
            break;
        }
        m_out << "Login name: " << shown(user->loginName) << "\n"
              << "Password: " << shown(password) << "\n"
              << "Data path: " << shown(user->dataPath) << "\n";
        for (Right right : AllRights)
            m_out << rightName(right) << ": " << (user->rights.has(right) ? "TRUE" : "FALSE")
                  << "\n";
        if (!accounts) {
            m_out << "Bank accounts: not shown without the ModifyUsers and DeleteUsers rights\n";
            return {};
        }
        for (const AccountData& account : list) {
            m_out << "Bank account: " << shown(account.name) << "\n";
            // Split at the stored line breaks before any other control
            // character is made visible.
            const std::string& description = account.description;
            std::size_t at = 0;
            while (at < description.size()) {
                std::size_t end = description.find("\r\n", at);
                if (end == std::string::npos)
                    end = description.size();
                m_out << "    " << shown(description.substr(at, end - at)) << "\n";
                at = end + 2;
            }
        }
        return {};
    }

    Ending add()
    {
        UserData user = plainUser(m_target, m_newPassword, *m_newPath);
        for (Right right : m_invocation.grants)
            user.rights.set(right, true);
        // A provisioning script that runs twice finds its user there: no
        // fault, and recorded as no change.
        const ChangeResult added = m_session.addUser(user, m_invocation.ifMissing);
        if (!added.done())
            return endingOf(added);
        // The windows keep an added user in memory until the close; here
        // the command is the whole sitting.
        return endingOf(m_session.save());
    }

    Ending edit()
    {
        const std::optional<std::string> name = storedName(m_target);
        const std::optional<UserData> stored = name ? m_session.user(*name) : std::nullopt;
        if (!stored)
            return stop(ExitNotFound, Session::noSuchUserText());

        // The session replaces the user whole: what is not changed is given
        // as it is.
        UserData user = *stored;
        user.unreadable = Rights();
        if (m_newName)
            user.loginName = *m_newName;
        if (m_newPath)
            user.dataPath = *m_newPath;
        if (m_invocation.newPassword)
            user.password = m_newPassword;
        for (Right right : m_invocation.grants)
            user.rights.set(right, true);
        for (Right right : m_invocation.revokes)
            user.rights.set(right, false);
        return endingOf(m_session.saveChanges(m_session.loadForEditing(*name), user));
    }

    Ending remove()
    {
        const std::optional<std::string> name = storedName(m_target);
        if (!name)
            return stop(ExitNotFound, Session::noSuchUserText());
        const ChangeResult deleted = m_session.deleteUser(*name, m_invocation.ifPresent);
        if (!deleted.done())
            return endingOf(deleted);
        return endingOf(m_session.save());
    }

    Ending changeOwnPassword()
    {
        const ChangeResult changed =
            m_session.changeOwnPassword(m_oldPassword, m_newPassword, m_repeatedPassword);
        if (!changed.done())
            return endingOf(changed);
        tell(endingOf(changed));
        return {ExitDone, Session::ownPasswordChangedText()};
    }

    Ending addAccount()
    {
        AccountData account;
        account.name = m_account;
        account.description = m_newDescription ? *m_newDescription : std::string();
        const std::optional<std::string> name = storedName(m_target);
        if (!name)
            return stop(ExitNotFound, Session::noSuchUserText());
        return endingOf(m_session.addAccount(*name, account));
    }

    Ending editAccount()
    {
        const std::optional<std::string> found = storedName(m_target);
        if (!found)
            return stop(ExitNotFound, Session::noSuchUserText());
        const std::string& name = *found;
        AccountData account;
        account.entry = m_session.lookUpAccount(name, m_account);
        account.name = m_account;
        for (const AccountData& stored : m_session.Accounts(name)) {
            if (stored.entry == account.entry)
                account = stored;
        }
        if (m_newName)
            account.name = *m_newName;
        if (m_newDescription)
            account.description = *m_newDescription;
        return endingOf(m_session.modifyAccount(name, account));
    }

    Ending removeAccount()
    {
        const std::optional<std::string> name = storedName(m_target);
        if (!name)
            return stop(ExitNotFound, Session::noSuchUserText());
        return endingOf(m_session.deleteAccount(*name, m_session.lookUpAccount(*name, m_account)));
    }

    Ending check()
    {
        if (const std::optional<Ending> ended = refuseNonTable())
            return *ended;
        const std::optional<std::string> bytes = Session::peekTableFile(m_path);
        if (!bytes)
            return stop(ExitFileTrouble, m_path + ": " + Session::fileErrorText(2));
        const TableReport report = checkTable(*bytes);
        if (m_invocation.format == OutputFormat::Json) {
            m_out << "{\"table\": " << json(m_path) << ", \"size\": " << report.size
                  << ", \"users\": [";
            for (std::size_t i = 0; i < report.users.size(); ++i)
                m_out << (i ? ", " : "") << "{\"slot\": " << report.users[i].slot
                      << ", \"login_name\": " << json(report.users[i].loginName) << "}";
            m_out << "], \"faults\": [";
            for (std::size_t i = 0; i < report.faults.size(); ++i)
                m_out << (i ? ", " : "") << json(report.faults[i]);
            m_out << "], \"sound\": " << (report.sound() ? "true" : "false") << "}\n";
        } else if (m_invocation.format == OutputFormat::Tsv) {
            m_out << "table\t" << tsv(m_path) << "\nsize\t" << report.size << "\n";
            for (const TableReport::User& user : report.users)
                m_out << "slot\t" << user.slot << "\t" << tsv(user.loginName) << "\n";
            for (const std::string& fault : report.faults)
                m_out << "fault\t" << tsv(fault) << "\n";
            m_out << "sound\t" << (report.sound() ? "true" : "false") << "\n";
        } else {
            m_out << "Table: " << m_path << "\n"
                  << "Size: " << report.size << " bytes\n";
            for (const TableReport::User& user : report.users)
                m_out << "Slot " << user.slot << ": \"" << shown(user.loginName) << "\"\n";
            if (report.users.empty())
                m_out << "No users.\n";
            for (const std::string& fault : report.faults)
                m_out << "Fault: " << shown(fault) << "\n";
            if (report.sound())
                m_out << "The table is sound.\n";
            else
                m_out << "The table is not sound: " << report.faults.size()
                      << (report.faults.size() == 1 ? " fault.\n" : " faults.\n");
        }
        return {report.sound() ? ExitDone : ExitBadInput, {}};
    }

    Ending init()
    {
        // The first-use dialog's rules: name and password trimmed, the data
        // path an existing folder, all six rights.
        if (const std::optional<Ending> refused =
                refuseUnstorable(TextField::LoginName, m_invocation.operands[0]))
            return *refused;
        const std::string name = trimmedText(m_invocation.operands[0]);
        if (const std::optional<Ending> refused = refuseNewText(TextField::LoginName, name))
            return *refused;
        const std::string folder = folderOf(m_path);
        if (!m_invocation.table)
            makeFolders(folder);
        if (const std::optional<Ending> ended = refuseNonTable())
            return *ended;
        if (const std::optional<Ending> ended = refuseTableOfOthers())
            return *ended;
        // The password is asked for only once the rest will do.
        const std::optional<std::string> dataFolder =
            realFolder(m_invocation.path ? *m_invocation.path : folder);
        if (dataFolder) {
            if (const std::optional<Ending> refused =
                    refuseTooLong(TextField::DataPath, *dataFolder))
                return *refused;
        }
        UserData user = plainUser(name, {}, dataFolder ? *dataFolder : "");
        if (const std::optional<ChangeResult> refused = Session::firstUserRefusal(user, false))
            return endingOf(*refused);
        if (const std::optional<Ending> refused =
                readNewPassword("Password for the new user " + m_invocation.operands[0]))
            return *refused;
        user.password = trimmedText(m_newPassword);

        ChangeResult made;
        {
            const PrivateFiles makingPrivateFiles;
            made = m_session.createFirstUser(user);
        }
        if (!made.done())
            return endingOf(made);
        tell(endingOf(made));
        return makeTablePrivate().value_or(Ending());
    }

    Ending backup()
    {
        if (const std::optional<Ending> ended = refuseNonTable())
            return *ended;
        const std::string& copy = m_invocation.operands[0];
        struct stat table
        {
        };
        struct stat target
        {
        };
        if (::stat(m_path.c_str(), &table) == 0 && ::stat(copy.c_str(), &target) == 0 &&
            table.st_dev == target.st_dev && table.st_ino == target.st_ino)
            return stop(ExitBadInput,
                        copy + " is the table itself; give another file for the copy.");
        // Before the lock: what can never take the copy must not keep other
        // writers waiting, nor be opened at all (a FIFO blocks).
        if (const std::optional<Ending> ended = refuseCopyTarget(copy))
            return *ended;
        std::optional<std::string> bytes;
        {
            // Taken under the writer lock: never half of one save and half
            // of the next. The copy is written after, as it may be slow.
            const Session::WriterTake take = m_session.holdWriterLock();
            if (!take.hold)
                return endingOf(take.failure);
            bytes = Session::peekTableFile(m_path);
        }
        if (!bytes)
            return stop(ExitFileTrouble,
                        m_path + ": there is no user table here; init creates one.");
        if (const std::optional<Session::FileFault> fault =
                Session::fileFaultOf([&] { Session::writeCopy(copy, *bytes); }))
            return stop(ExitFileTrouble, copy + ": " + fault->message);
        recordCopy(copy);
        return {ExitDone, "copied " + m_path + " to " + copy + " (" +
                              std::to_string(bytes->size()) + " bytes)"};
    }

    Ending restore()
    {
        const ChangeResult restored = m_session.restore(m_restoring, m_invocation.operands[0]);
        if (!restored.done())
            return endingOf(restored);
        tell(endingOf(restored));
        return {ExitDone, "restored " + m_path + " from " + m_invocation.operands[0] + " (" +
                              std::to_string(m_restoring.size()) + " bytes)"};
    }

private:
    Ending ending()
    {
        Ending ending;
        const std::optional<Session::FileFault> fault =
            Session::fileFaultOf([&] { ending = signInAndRun(); });
        if (fault)
            return stop(ExitFileTrouble, m_path + ": " + fault->message);
        return ending;
    }

    Ending signInAndRun()
    {
        if (m_info.signsIn) {
            if (std::optional<Ending> ended = takeTexts())
                return *ended;
            if (std::optional<Ending> ended = loadAndSignIn())
                return *ended;
        }
        return (this->*m_info.run)();
    }

    void notice(const std::string& text)
    {
        if (m_invocation.quiet)
            return;
        m_err << ProgramName << ": " << visibleLines(text) << "\n";
        m_err.flush();
    }

    // A folder, a FIFO or a device is no table; say which rather than
    // "File access denied". Like the checks below: nothing when the command
    // may go on, the ending when it ended here.
    std::optional<Ending> refuseNonTable() const
    {
        struct stat st
        {
        };
        if (::stat(m_path.c_str(), &st) != 0 || S_ISREG(st.st_mode))
            return std::nullopt;
        if (S_ISDIR(st.st_mode))
            return stop(ExitFileTrouble, m_path +
                                             " is a folder, not a user table; give the table "
                                             "file with --table, e.g. " +
                                             m_path + "/" + Session::TableFileName + ".");
        return stop(ExitFileTrouble, m_path + " is not a user table file (nor a file at all).");
    }

    // Only a regular file of the caller's own is replaced by the copy, or
    // nothing; the copy itself is a new file (replaceWithNewFile), so a file
    // of someone else's is never written into nor made private in passing.
    // Another user's file is refused rather than replaced: it may be theirs
    // to keep, and the administrator should see that it is there.
    std::optional<Ending> refuseCopyTarget(const std::string& copy) const
    {
        struct stat st
        {
        };
        if (::lstat(copy.c_str(), &st) != 0) {
            if (errno == ENOENT)
                return std::nullopt;
            return stop(ExitFileTrouble,
                        copy + ": " + Session::fileErrorText(Session::fileErrorCode(errno)));
        }
        if (S_ISLNK(st.st_mode))
            return stop(ExitFileTrouble,
                        copy + " is a symbolic link: the copy is never written through "
                               "a link; give the file's own path, or another FILE.");
        if (S_ISDIR(st.st_mode))
            return stop(ExitFileTrouble, copy + " is a folder: give the copy's file name, e.g. " +
                                             copy + "/" + Session::TableFileName + ".");
        if (!S_ISREG(st.st_mode))
            return stop(ExitFileTrouble,
                        copy + " is not a regular file (a device, a FIFO or a socket): "
                               "the copy goes only to a file of your own, or where "
                               "nothing is.");
        if (st.st_uid != ::geteuid())
            return stop(ExitFileTrouble,
                        copy + " belongs to another user: the copy never replaces "
                               "someone else's file; remove it, or give another FILE.");
        return std::nullopt;
    }

    // A backup holds every password: the trail says who took it, of which
    // table, and where to.
    void recordCopy(const std::string& copy) const
    {
        if (m_audit == nullptr)
            return;
        AuditEvent copied{};
        copied.kind = AuditEvent::Kind::TableCopied;
        copied.table = m_path;
        copied.copy = copy;
        copied.systemUser = m_systemUser.name;
        copied.systemUid = m_systemUser.uid;
        m_audit->record(copied);
    }

    // init fills only a table of its own making: an empty file (which a
    // first use may fill) that another user made, or one a link leads to,
    // would leave the table theirs, or where they chose. A table with users
    // is refused by the first-use rule itself.
    std::optional<Ending> refuseTableOfOthers() const
    {
        struct stat st
        {
        };
        if (::stat(m_path.c_str(), &st) != 0 || st.st_size != 0 ||
            ::lstat(m_path.c_str(), &st) != 0)
            return std::nullopt;
        if (S_ISLNK(st.st_mode))
            return stop(ExitFileTrouble, m_path +
                                             " is a symbolic link: init makes the table only as a "
                                             "file of its own, never through a link; give the "
                                             "file's own path with --table.");
        if (st.st_uid != ::geteuid())
            return stop(ExitFileTrouble, m_path +
                                             " belongs to another user: init fills only a file of "
                                             "its own; remove it, or give init another --table "
                                             "FILE.");
        return std::nullopt;
    }

    // The new table, private whatever mode an empty file of one's own had;
    // made so through the file itself, never a link or another user's file
    // put in its place meanwhile.
    std::optional<Ending> makeTablePrivate() const
    {
        const int fd =
            ::open(m_path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0)
            return stop(ExitFileTrouble,
                        m_path + ": " + Session::fileErrorText(Session::fileErrorCode(errno)));
        struct stat st
        {
        };
        const bool mine = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid();
        const bool done = mine && ::fchmod(fd, 0600) == 0;
        const int err = errno;
        ::close(fd);
        if (!mine)
            return stop(ExitFileTrouble, m_path +
                                             ": the table is no longer a file of your own (another "
                                             "was put in its place while init ran); see who may "
                                             "write its folder.");
        if (!done)
            return stop(ExitFileTrouble,
                        m_path + ": " + Session::fileErrorText(Session::fileErrorCode(err)));
        return std::nullopt;
    }

    // Every text of the command line is checked before anyone is asked for
    // a password. Names that only look someone up need not fit a field.
    // Nothing when they will do; the ending otherwise.
    std::optional<Ending> takeTexts()
    {
        const bool ofAccount = m_info.takes(Operand::Account) || m_info.takes(Operand::NewAccount);
        // A name the table cannot hold is refused as a sign-in, once the
        // table is found.
        m_user = *m_invocation.user;
        // Of the commands that sign in, only restore names a file: the backup.
        if (m_info.takes(Operand::File))
            return readBackup(m_invocation.operands[0]);
        std::optional<Ending> refused;
        if (!m_invocation.operands.empty()) {
            m_target = m_invocation.operands[0];
            if ((refused = refuseUnstorable(TextField::LoginName, m_target)))
                return refused;
        }
        if (m_invocation.operands.size() > 1) {
            m_account = m_invocation.operands[1];
            if ((refused = refuseUnstorable(TextField::AccountName, m_account)))
                return refused;
        }
        if (m_info.takes(Operand::NewUser))
            refused = refuseNewText(TextField::LoginName, m_target);
        else if (m_info.takes(Operand::NewAccount))
            refused = refuseNewText(TextField::AccountName, m_account);
        if (refused)
            return refused;
        if (m_invocation.name) {
            m_newName = *m_invocation.name;
            if ((refused = refuseNewText(ofAccount ? TextField::AccountName : TextField::LoginName,
                                         *m_newName)))
                return refused;
        }
        if (m_invocation.path) {
            m_newPath = *m_invocation.path;
            if ((refused = refuseNewText(TextField::DataPath, *m_newPath)))
                return refused;
        }
        if (m_invocation.description) {
            m_newDescription = storedBreaks(*m_invocation.description);
            return refuseNewText(TextField::Description, *m_newDescription);
        }
        return std::nullopt;
    }

    // The backup is read before anyone is asked for a password, so that a
    // wrong FILE keeps nobody waiting. Only a regular file is read, never
    // through a link: opening a FIFO could block, a device could set
    // something going.
    std::optional<Ending> readBackup(const std::string& file)
    {
        const int fd =
            ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) {
            const int err = errno;
            struct stat st
            {
            };
            if (err == ELOOP && ::lstat(file.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
                return stop(ExitFileTrouble, file + " is a symbolic link: a backup is read only "
                                                    "from its own path; give that.");
            return stop(ExitFileTrouble,
                        file + ": " + Session::fileErrorText(Session::fileErrorCode(err)));
        }
        struct stat st
        {
        };
        const bool stated = ::fstat(fd, &st) == 0;
        const int err = errno;
        if (!stated || !S_ISREG(st.st_mode)) {
            ::close(fd);
            if (!stated)
                return stop(ExitFileTrouble,
                            file + ": " + Session::fileErrorText(Session::fileErrorCode(err)));
            return stop(ExitFileTrouble,
                        file + (S_ISDIR(st.st_mode) ? " is a folder" : " is not a regular file") +
                            ": a backup is a file that backup wrote.");
        }
        std::string bytes;
        char chunk[8192];
        for (;;) {
            const ssize_t got = ::read(fd, chunk, sizeof chunk);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                const int readErr = errno;
                ::close(fd);
                return stop(ExitFileTrouble,
                            file + ": " + Session::fileErrorText(Session::fileErrorCode(readErr)));
            }
            if (got == 0)
                break;
            bytes.append(chunk, static_cast<std::size_t>(got));
            // Past what any table holds: its size alone is the fault.
            if (bytes.size() > Session::MaxTableFileSize)
                break;
        }
        ::close(fd);
        m_restoring = std::move(bytes);
        return std::nullopt;
    }

    // Nothing when the command may go on; the ending when it ended here.
    std::optional<Ending> loadAndSignIn()
    {
        if (const std::optional<Ending> ended = refuseNonTable())
            return ended;
        // Loading creates a missing table, which would then stand in the
        // way of init.
        const std::optional<std::string> loaded = Session::peekTableFile(m_path);
        if (!loaded)
            return stop(ExitFileTrouble,
                        m_path + ": there is no user table here; init creates one.");
        if (const ChangeResult read = m_session.loadTable(); !read.done())
            return endingOf(read);

        // The name first, so no password is asked for a name that is not
        // there, as the login dialog does.
        if (const auto unstorable = unstorableRefusal(TextField::LoginName, m_user)) {
            m_session.refuseName(m_user); // recorded as the unknown name it is
            return stop(ExitSignInRefused, *unstorable);
        }
        if (const auto refusal = m_session.refuseName(m_user))
            return stop(ExitSignInRefused, Session::signInMessage(*refusal));
        const PasswordLine line = m_secrets.read("Password for " + *m_invocation.user + ": ",
                                                 m_invocation.passwordFd.value_or(0));
        if (!line.text)
            return stop(ExitBadInput, line.failure);
        const std::string& typed = *line.text;
        const Session::SignInResult result = m_session.signIn(m_user, typed);
        if (result == Session::SignInResult::WrongPassword && !isBlankText(typed) &&
            unstorableRefusal(TextField::Password, typed))
            return stop(ExitSignInRefused, std::string(Session::signInMessage(result)) + " (" +
                                               unstorablePassword(typed) + ".)");
        if (result != Session::SignInResult::SignedIn)
            return stop(ExitSignInRefused, Session::signInMessage(result));

        // Every password is typed before the writer lock is taken: nobody
        // waits while someone types.
        if (const std::optional<Ending> refused = readNewPasswords(typed))
            return refused;
        if (m_info.writes)
            return holdForWriting(loaded);
        return std::nullopt;
    }

    // From here to the save no other writer comes in between. What someone
    // saved since the table was `loaded` (while the passwords were typed) is
    // taken first.
    std::optional<Ending> holdForWriting(const std::optional<std::string>& loaded)
    {
        Session::WriterTake take = m_session.holdWriterLock();
        if (!take.hold)
            return endingOf(take.failure);
        m_writing.emplace(std::move(*take.hold));
        if (Session::peekTableFile(m_path) != loaded) {
            if (const ChangeResult read = m_session.reload(); !read.done())
                return endingOf(read);
        }
        return std::nullopt;
    }

    // The new passwords the command takes, read into m_newPassword (and,
    // for passwd, beside `signIn`'s, the old one); nothing when they will
    // do, the ending otherwise.
    std::optional<Ending> readNewPasswords(const std::string& signIn)
    {
        if (m_info.takes(Operand::NewUser))
            return readNewPassword("Password for the new user " + m_invocation.operands[0]);
        if (m_invocation.newPassword)
            return readNewPassword("New password for " + m_invocation.operands[0]);
        if (m_info.run == &Command::changeOwnPassword)
            return readOwnNewPassword(signIn);
        return std::nullopt;
    }

    // The one place where what a change came to becomes the command's exit
    // status and words: done, or the reason it was not made.
    Ending endingOf(const ChangeResult& result) const
    {
        switch (result.outcome) {
        case ChangeResult::Outcome::Done:
            // The change is in the file; what followed it is worth a word.
            return {ExitDone, shown(result.warning)};
        case ChangeResult::Outcome::Refused:
            // A provisioning script that runs twice finds its work done: no
            // fault, and recorded as no change.
            if ((m_invocation.ifMissing && result.reason == ChangeResult::Reason::DuplicateUser) ||
                (m_invocation.ifPresent && result.reason == ChangeResult::Reason::NoSuchUser))
                return {};
            if (result.reason == ChangeResult::Reason::NotFirstUse)
                return {ExitExists, shown(result.message) + " Sign in to it with --user NAME, or "
                                                            "give init another --table FILE."};
            return {refusalStatus(result.reason), shown(result.message)};
        case ChangeResult::Outcome::Failed:
            return {ExitFileTrouble, m_path + ": " + result.message};
        case ChangeResult::Outcome::Cancelled:
        case ChangeResult::Outcome::Reloaded:
            break;
        }
        return {ExitFileTrouble,
                m_path + ": " + shown(m_conflict.user) +
                    " was changed by someone else while this command ran" +
                    (m_conflict.change.empty() ? "" : " (" + shown(m_conflict.change) + ")") +
                    (m_conflict.savedBy.empty()
                         ? ""
                         : "; last saved by " + m_conflict.savedBy + " at " + m_conflict.savedAt) +
                    "; nothing was written."};
    }

    // The ending of a command unable to do its work.
    static Ending stop(int status, std::string message) { return {status, std::move(message)}; }

    // Says how the command ended: a notice where it did its work, else why
    // not; its exit status.
    int tell(const Ending& ending)
    {
        if (ending.status != ExitDone)
            return tellFailure(m_out, m_err, ending);
        if (!ending.message.empty())
            notice(ending.message);
        return ExitDone;
    }

    int refusalStatus(ChangeResult::Reason reason) const
    {
        switch (reason) {
        case ChangeResult::Reason::DuplicateUser:
        case ChangeResult::Reason::DuplicateAccount:
        case ChangeResult::Reason::NotFirstUse:
            return ExitExists;
        case ChangeResult::Reason::NoSuchUser:
        case ChangeResult::Reason::NoSuchAccount:
            return ExitNotFound;
        case ChangeResult::Reason::ForeignFile:
            return ExitFileTrouble;
        case ChangeResult::Reason::ControlCharacter:
        case ChangeResult::Reason::Unstorable:
        case ChangeResult::Reason::BadDataPath:
        case ChangeResult::Reason::UnsoundTable: // as check says of it
            return ExitBadInput;                 // as when the command line's text is checked first
        // What was typed at passwd's prompt will not do, as edit --password
        // says of it.
        case ChangeResult::Reason::PasswordsDiffer:
        case ChangeResult::Reason::TooLong:
            return ExitBadInput;
        case ChangeResult::Reason::EmptyField:
            return m_info.run == &Command::changeOwnPassword ? ExitBadInput : ExitRefused;
        default:
            return ExitRefused;
        }
    }

    // The stored name of the user `typed` means. Without one, the typed name
    // goes to the session core, which refuses it after checking the rights;
    // an empty one names nobody.
    std::optional<std::string> storedName(const std::string& typed) const
    {
        const std::string stored = m_session.storedName(typed);
        if (!stored.empty())
            return stored;
        if (typed.empty())
            return std::nullopt;
        return typed;
    }

    // passwd: the sign-in's password is the old one; the new one is read
    // as edit --password reads it, and held to the rules by the session.
    std::optional<Ending> readOwnNewPassword(const std::string& old)
    {
        const int fd = m_invocation.newPasswordFd.value_or(0);
        const PasswordLine first =
            m_secrets.read("New password for " + *m_invocation.user + ": ", fd);
        if (!first.text)
            return stop(ExitBadInput, first.failure);
        const PasswordLine second =
            m_secrets.atTerminal(fd) ? m_secrets.read("Again, to be sure: ", fd) : first;
        if (!second.text)
            return stop(ExitBadInput, second.failure);
        const std::string& typed = *first.text;
        const std::string& again = *second.text;
        for (const std::string* password : {&typed, &again}) {
            if (unstorableRefusal(TextField::Password, *password))
                return stop(ExitBadInput, unstorablePassword(*password) + "; nothing was written.");
        }
        m_oldPassword = old;
        m_newPassword = typed;
        m_repeatedPassword = again;
        return std::nullopt;
    }

    // A new password into m_newPassword: from --new-password-fd or standard
    // input, asked twice where that is a terminal. Nothing when it will do;
    // the ending otherwise.
    std::optional<Ending> readNewPassword(const std::string& prompt)
    {
        const int fd = m_invocation.newPasswordFd.value_or(0);
        const PasswordLine line = m_secrets.read(prompt + ": ", fd);
        if (!line.text)
            return stop(ExitBadInput, line.failure);
        const std::string& typed = *line.text;
        if (m_secrets.atTerminal(fd)) {
            const PasswordLine again = m_secrets.read("Again, to be sure: ", fd);
            if (!again.text)
                return stop(ExitBadInput, again.failure);
            if (*again.text != typed)
                return stop(ExitBadInput, "the two passwords typed differ; nothing was written.");
        }
        if (isBlankText(typed))
            return stop(ExitBadInput, "the new password is empty; nothing was written.");
        if (unstorableRefusal(TextField::Password, typed))
            return stop(ExitBadInput, unstorablePassword(typed) + "; nothing was written.");
        if (std::optional<Ending> refused = refuseTooLong(TextField::Password, typed))
            return refused;
        m_newPassword = typed;
        return std::nullopt;
    }

    const Invocation& m_invocation;
    const CommandInfo& m_info;
    SecretReader& m_secrets;
    std::ostream& m_out;
    std::ostream& m_err;
    std::string m_path;
    AuditSink* m_audit;
    Session m_session;
    // The command line's texts, checked to be ones the table can hold.
    std::string m_user;
    std::string m_target;
    std::string m_account;
    std::optional<std::string> m_newName;
    std::optional<std::string> m_newPath;
    std::optional<std::string> m_newDescription;
    // A new password (add, edit --password, passwd), read before the writer
    // lock; passwd's old one (the sign-in's) and its repetition.
    std::string m_newPassword;
    std::string m_oldPassword;
    std::string m_repeatedPassword;
    SystemUser m_systemUser;
    Conflict m_conflict;
    std::optional<Session::WriterHold> m_writing;
    // restore: the backup's bytes, read before the sign-in.
    std::string m_restoring;
};

const std::vector<CommandInfo>& commandTable()
{
    using O = Operand;
    static const std::vector<CommandInfo> commands = {
        CommandInfo("ls", {}, "list the login names, one a line, as stored", &Command::list)
            .taking(FormatOption),
        CommandInfo("show", {O::User},
                    "a user's details; a password shows only where it is your own", &Command::show)
            .taking(FormatOption),
        CommandInfo("add", {O::NewUser}, "add a user; the password is read next", &Command::add)
            .needing(PathOption)
            .taking(NewPasswordFdOption | GrantOption | IfMissingOption)
            .writing(),
        CommandInfo("edit", {O::User}, "change a user's name, password, data path or rights",
                    &Command::edit)
            .changingOneOf(NameOption | PasswordOption | PathOption | GrantOption | RevokeOption)
            .taking(NewPasswordFdOption)
            .writing(),
        CommandInfo("rm", {O::User}, "delete a user", &Command::remove)
            .taking(IfPresentOption)
            .writing(),
        CommandInfo("passwd", {},
                    "change your own password (any user may); the new one is read next",
                    &Command::changeOwnPassword)
            .taking(NewPasswordFdOption)
            .writing(),
        CommandInfo("account-add", {O::User, O::NewAccount}, "give a user a bank account",
                    &Command::addAccount)
            .taking(DescriptionOption)
            .writing(),
        CommandInfo("account-edit", {O::User, O::Account},
                    "rename a bank account or change its description", &Command::editAccount)
            .changingOneOf(NameOption | DescriptionOption)
            .writing(),
        CommandInfo("account-rm", {O::User, O::Account}, "delete a bank account",
                    &Command::removeAccount)
            .writing(),
        CommandInfo("check", {}, "report the table's size, users and faults; signs no one in",
                    &Command::check)
            .taking(FormatOption)
            .signingNoOneIn(),
        CommandInfo("backup", {O::File},
                    "a private copy of the table in FILE, taken while no one writes it",
                    &Command::backup)
            .signingNoOneIn(),
        CommandInfo("restore", {O::File},
                    "replace the table by the sound backup FILE, as a save writes it",
                    &Command::restore),
        CommandInfo("init", {O::NewUser}, "create the table, NAME holding all six rights",
                    &Command::init)
            .taking(PathOption | NewPasswordFdOption)
            .signingNoOneIn()
            .writing(),
    };
    return commands;
}

std::optional<std::string> defaultTablePath()
{
    std::string base;
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    if (dataHome && *dataHome) {
        base = dataHome;
    } else if (home && *home) {
        base = std::string(home) + "/.local/share";
    } else if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) {
        base = std::string(entry->pw_dir) + "/.local/share";
    } else {
        return std::nullopt;
    }
    return base + "/larkledger-security/" + Session::TableFileName;
}

std::string visibleLines(const std::string& text)
{
    std::string lines;
    std::size_t start = 0;
    for (std::size_t end = text.find('\n'); end != std::string::npos;
         start = end + 1, end = text.find('\n', start))
        lines += visibleText(std::string_view(text).substr(start, end - start)) + '\n';
    return lines + visibleText(std::string_view(text).substr(start));
}

int runCommand(const Invocation& invocation, SecretReader& secrets, std::ostream& out,
               std::ostream& err, AuditSink* audit)
{
    const std::optional<std::string> table =
        invocation.table ? invocation.table : defaultTablePath();
    if (!table)
        return tellFailure(
            out, err, {ExitFileTrouble, "no home folder to keep the table in: give --table FILE"});
    Command command(invocation, *table, secrets, out, err, audit);
    return command.run();
}
