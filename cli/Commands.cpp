#include "Commands.h"

#include "session/Session.h"
#include "session/TableCheck.h"
#include "store/IoError.h"
#include "store/TableFile.h"
#include "store/Windows1252.h"

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

constexpr std::size_t NameCapacity = MaxLoginName;
constexpr std::size_t PasswordCapacity = MaxPassword;
constexpr std::size_t PathCapacity = MaxDataPath;
constexpr std::size_t AccountCapacity = MaxAccountName;
constexpr std::size_t DescriptionCapacity = MaxDescription;

[[noreturn]] void Fail(int status, const std::string& message)
{
    throw CliFailure{status, message, false, {}};
}

// Windows-1252 bytes of a UTF-8 text from the command line or a password
// line; a text the table cannot hold ends the command before anything is
// written.
AnsiString ForTable(const std::string& field, const std::string& utf8)
{
    std::string problem;
    std::optional<std::string> bytes = Utf8ToWindows1252(utf8, &problem);
    if (!bytes)
        Fail(ExitBadInput, field + ": " + problem + ".");
    return *bytes;
}

// The store would cut a longer text to its field: a different text.
void CheckFits(const std::string& field, const AnsiString& text, std::size_t capacity)
{
    if (text.size() > capacity)
        Fail(ExitBadInput, field + ": " + std::to_string(text.size()) +
                               " characters, but the table holds at most " +
                               std::to_string(capacity) + ".");
}

AnsiString Stored(const std::string& field, const std::string& utf8, std::size_t capacity)
{
    AnsiString text = ForTable(field, utf8);
    CheckFits(field, text, capacity);
    return text;
}

std::string Shown(std::string_view ansi)
{
    return Windows1252ToUtf8(ansi);
}

// Descriptions keep CR LF line breaks, as the account dialog stores them.
std::string StoredBreaks(const std::string& text)
{
    std::string stored;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            stored += '\r';
        stored += text[i];
    }
    return stored;
}

std::string FolderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// mkdir -p; the folders it makes are private to their owner.
void MakeFolders(const std::string& folder)
{
    std::size_t at = 0;
    while (at != std::string::npos) {
        at = folder.find('/', at + 1);
        const std::string part = folder.substr(0, at);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            throw IoError(IoCodeFromErrno(errno));
    }
}

// One line from a file descriptor, without its line end, read a byte at a
// time so that a second line stays for the next read.
std::string ReadLineFrom(int fd)
{
    std::string line;
    char c = 0;
    for (;;) {
        const ssize_t got = ::read(fd, &c, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            Fail(ExitBadInput,
                 "file descriptor " + std::to_string(fd) + ": " + std::strerror(errno));
        if (got == 0 || c == '\n')
            return line;
        line += c;
    }
}

// JSON's string form of a UTF-8 text.
std::string Json(const std::string& text)
{
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            static const char* hex = "0123456789abcdef";
            out += "\\u00";
            out += hex[byte >> 4];
            out += hex[byte & 15];
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// A field of a tab-separated line: tabs, line ends and backslashes escaped.
std::string Tsv(const std::string& text)
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

std::optional<std::string> RealFolder(const std::string& path)
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

UserData PlainUser(const AnsiString& name, const AnsiString& password, const AnsiString& path)
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
    Command(const Invocation& invocation, SecretReader& secrets, std::ostream& out,
            std::ostream& err, AuditSink* audit)
        : m_invocation(invocation), m_secrets(secrets), m_out(out), m_err(err),
          m_path(invocation.table ? *invocation.table : DefaultTablePath()),
          m_session(m_path, audit)
    {
        // The command holds the writer lock from its read to its write, so
        // only a writer that takes no lock can get in between: never
        // written over, such a change ends the command.
        m_session.SetConflictHandler([this](const Conflict& conflict) {
            m_conflict = conflict;
            return ConflictChoice::Cancel;
        });
        m_session.SetWriterWait(std::chrono::seconds(invocation.waitSeconds),
                                [this](Session::WriterWait step) {
                                    if (step == Session::WriterWait::Begins)
                                        Notice(Session::WriterWaitNotice(m_path));
                                    return true;
                                });
    }

    int Run()
    {
        const CommandInfo* info = FindCommand(m_invocation.command);
        try {
            if (info->signsIn) {
                TakeTexts();
                LoadAndSignIn();
            }
            return info->run(*this);
        } catch (const IoError& error) {
            Fail(ExitFileTrouble, m_path + ": " + error.what());
        }
    }

    int List()
    {
        const std::vector<AnsiString> names = m_session.ListedNames();
        if (m_invocation.format == OutputFormat::Json) {
            m_out << "[";
            for (std::size_t i = 0; i < names.size(); ++i)
                m_out << (i ? ", " : "") << Json(Shown(names[i]));
            m_out << "]\n";
            return ExitDone;
        }
        for (const AnsiString& name : names)
            m_out << (m_invocation.format == OutputFormat::Tsv ? Tsv(Shown(name)) : Shown(name))
                  << "\n";
        return ExitDone;
    }

    int Show()
    {
        if (!m_session.MaySeeUserDetails())
            Fail(ExitRefused, "You may not see user details: that needs the ModifyUsers or "
                              "DeleteUsers right.");
        const std::optional<UserData> user = m_session.User(m_session.StoredName(m_target));
        if (!user)
            Fail(ExitNotFound, "There is no user of that name.");
        const bool accounts = m_session.MayKeepAccounts();
        const std::vector<AccountData> list =
            accounts ? m_session.Accounts(user->loginName) : std::vector<AccountData>();
        const std::string password = Shown(m_session.ShownPassword(*user));
        switch (m_invocation.format) {
        case OutputFormat::Json: {
            m_out << "{\"login_name\": " << Json(Shown(user->loginName))
                  << ", \"password\": " << Json(password)
                  << ", \"data_path\": " << Json(Shown(user->dataPath)) << ", \"rights\": {";
            for (Right right : AllRights)
                m_out << (right == AllRights.front() ? "" : ", ") << Json(RightName(right)) << ": "
                      << (user->rights.has(right) ? "true" : "false");
            m_out << "}, \"bank_accounts\": ";
            if (!accounts) {
                m_out << "null}\n";
                return ExitDone;
            }
            m_out << "[";
            for (std::size_t i = 0; i < list.size(); ++i)
                m_out << (i ? ", " : "") << "{\"name\": " << Json(Shown(list[i].name))
                      << ", \"description\": " << Json(Shown(list[i].description)) << "}";
            m_out << "]}\n";
            return ExitDone;
        }
        case OutputFormat::Tsv:
            m_out << "login_name\t" << Tsv(Shown(user->loginName)) << "\n"
                  << "password\t" << Tsv(password) << "\n"
                  << "data_path\t" << Tsv(Shown(user->dataPath)) << "\n";
            for (Right right : AllRights)
                m_out << RightName(right) << "\t" << (user->rights.has(right) ? "TRUE" : "FALSE")
                      << "\n";
            for (const AccountData& account : list)
                m_out << "bank_account\t" << Tsv(Shown(account.name)) << "\t"
                      << Tsv(Shown(account.description)) << "\n";
            return ExitDone;
        case OutputFormat::Text:
            break;
        }
        m_out << "Login name: " << Shown(user->loginName) << "\n"
              << "Password: " << password << "\n"
              << "Data path: " << Shown(user->dataPath) << "\n";
        for (Right right : AllRights)
            m_out << RightName(right) << ": " << (user->rights.has(right) ? "TRUE" : "FALSE")
                  << "\n";
        if (!accounts) {
            m_out << "Bank accounts: not shown without the ModifyUsers and DeleteUsers rights\n";
            return ExitDone;
        }
        for (const AccountData& account : list) {
            m_out << "Bank account: " << Shown(account.name) << "\n";
            const std::string description = Shown(account.description);
            std::size_t at = 0;
            while (at < description.size()) {
                std::size_t end = description.find("\r\n", at);
                if (end == std::string::npos)
                    end = description.size();
                m_out << "    " << description.substr(at, end - at) << "\n";
                at = end + 2;
            }
        }
        return ExitDone;
    }

    int Add()
    {
        const AnsiString password =
            ReadNewPassword("Password for the new user " + m_invocation.operands[0]);
        UserData user = PlainUser(m_target, password, *m_newPath);
        for (Right right : m_invocation.grants)
            user.rights.set(right, true);
        const ChangeResult added = m_session.AddUser(user);
        // A provisioning script that runs twice finds its user there.
        if (m_invocation.ifMissing && added.reason == ChangeResult::Reason::DuplicateUser)
            return ExitDone;
        Finish(added);
        // The windows keep an added user in memory until the close; here
        // the command is the whole sitting.
        Finish(m_session.Save());
        return ExitDone;
    }

    int Edit()
    {
        const AnsiString name = StoredName(m_target);
        const std::optional<UserData> stored = m_session.User(name);
        if (!stored)
            Fail(ExitNotFound, "There is no user of that name.");

        // The session replaces the user whole: what is not changed is given
        // as it is.
        UserData user = *stored;
        user.unreadable = Rights();
        if (m_newName)
            user.loginName = *m_newName;
        if (m_newPath)
            user.dataPath = *m_newPath;
        if (m_invocation.newPassword)
            user.password = ReadNewPassword("New password for " + m_invocation.operands[0]);
        for (Right right : m_invocation.grants)
            user.rights.set(right, true);
        for (Right right : m_invocation.revokes)
            user.rights.set(right, false);
        Finish(m_session.SaveChanges(name, m_session.SlotOf(name), user));
        return ExitDone;
    }

    int Remove()
    {
        const ChangeResult deleted = m_session.DeleteUser(StoredName(m_target));
        if (m_invocation.ifPresent && deleted.reason == ChangeResult::Reason::NoSuchUser)
            return ExitDone;
        Finish(deleted);
        Finish(m_session.Save());
        return ExitDone;
    }

    int AddAccount()
    {
        AccountData account;
        account.name = m_account;
        account.description = m_newDescription ? *m_newDescription : AnsiString();
        Finish(m_session.AddAccount(StoredName(m_target), account));
        return ExitDone;
    }

    int EditAccount()
    {
        const AnsiString name = StoredName(m_target);
        AccountData account;
        account.entry = m_session.LookUpAccount(name, m_account);
        account.name = m_account;
        for (const AccountData& stored : m_session.Accounts(name)) {
            if (stored.entry == account.entry)
                account = stored;
        }
        if (m_newName)
            account.name = *m_newName;
        if (m_newDescription)
            account.description = *m_newDescription;
        Finish(m_session.ModifyAccount(name, account));
        return ExitDone;
    }

    int RemoveAccount()
    {
        const AnsiString name = StoredName(m_target);
        Finish(m_session.DeleteAccount(name, m_session.LookUpAccount(name, m_account)));
        return ExitDone;
    }

    int Check()
    {
        RefuseNonTable();
        const std::optional<std::string> bytes = PeekTableFile(m_path);
        if (!bytes)
            Fail(ExitFileTrouble, m_path + ": " + IoErrorText(2));
        const TableReport report = CheckTable(*bytes);
        if (m_invocation.format == OutputFormat::Json) {
            m_out << "{\"table\": " << Json(m_path) << ", \"size\": " << report.size
                  << ", \"users\": [";
            for (std::size_t i = 0; i < report.users.size(); ++i)
                m_out << (i ? ", " : "") << "{\"slot\": " << report.users[i].slot
                      << ", \"login_name\": " << Json(Shown(report.users[i].loginName)) << "}";
            m_out << "], \"faults\": [";
            for (std::size_t i = 0; i < report.faults.size(); ++i)
                m_out << (i ? ", " : "") << Json(Shown(report.faults[i]));
            m_out << "], \"sound\": " << (report.Sound() ? "true" : "false") << "}\n";
        } else if (m_invocation.format == OutputFormat::Tsv) {
            m_out << "table\t" << Tsv(m_path) << "\nsize\t" << report.size << "\n";
            for (const TableReport::User& user : report.users)
                m_out << "slot\t" << user.slot << "\t" << Tsv(Shown(user.loginName)) << "\n";
            for (const std::string& fault : report.faults)
                m_out << "fault\t" << Tsv(Shown(fault)) << "\n";
            m_out << "sound\t" << (report.Sound() ? "true" : "false") << "\n";
        } else {
            m_out << "Table: " << m_path << "\n"
                  << "Size: " << report.size << " bytes\n";
            for (const TableReport::User& user : report.users)
                m_out << "Slot " << user.slot << ": \"" << Shown(user.loginName) << "\"\n";
            if (report.users.empty())
                m_out << "No users.\n";
            for (const std::string& fault : report.faults)
                m_out << "Fault: " << Shown(fault) << "\n";
            if (report.Sound())
                m_out << "The table is sound.\n";
            else
                m_out << "The table is not sound: " << report.faults.size()
                      << (report.faults.size() == 1 ? " fault.\n" : " faults.\n");
        }
        return report.Sound() ? ExitDone : ExitBadInput;
    }

    int Init()
    {
        // The first-use dialog's rules: name and password trimmed, the data
        // path an existing folder, all six rights.
        const AnsiString name = TrimControls(ForTable("login name", m_invocation.operands[0]));
        CheckFits("login name", name, NameCapacity);
        const std::string folder = FolderOf(m_path);
        if (!m_invocation.table)
            MakeFolders(folder);
        RefuseNonTable();
        const std::optional<std::string> dataFolder =
            RealFolder(m_invocation.path ? *m_invocation.path : folder);
        if (!dataFolder)
            Fail(ExitBadInput, "Please give a correct path for your data files.");
        const AnsiString path = Stored("data path", *dataFolder, PathCapacity);
        const AnsiString password =
            TrimControls(ReadNewPassword("Password for the new user " + m_invocation.operands[0]));

        UserData user = PlainUser(name, password, path);
        ChangeResult made;
        {
            const PrivateFiles makingPrivateFiles;
            made = m_session.CreateFirstUser(user);
        }
        if (made.reason == ChangeResult::Reason::NotFirstUse)
            Fail(ExitExists, Shown(made.message) + " Sign in to it with --user NAME, or give init "
                                                   "another --table FILE.");
        Finish(made);
        if (::chmod(m_path.c_str(), 0600) != 0)
            throw IoError(IoCodeFromErrno(errno));
        return ExitDone;
    }

    int Backup()
    {
        RefuseNonTable();
        const std::string& copy = m_invocation.operands[0];
        struct stat table
        {
        };
        struct stat target
        {
        };
        if (::stat(m_path.c_str(), &table) == 0 && ::stat(copy.c_str(), &target) == 0 &&
            table.st_dev == target.st_dev && table.st_ino == target.st_ino)
            Fail(ExitBadInput, copy + " is the table itself; give another file for the copy.");
        // Taken under the writer lock: never half of one save and half of
        // the next.
        const WriterLock::Hold hold = m_session.HoldWriterLock();
        const std::optional<std::string> bytes = PeekTableFile(m_path);
        if (!bytes)
            Fail(ExitFileTrouble, m_path + ": there is no user table here; init creates one.");
        const int fd =
            ::open(copy.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0)
            Fail(ExitFileTrouble, copy + ": " + IoErrorText(IoCodeFromErrno(errno)));
        // An existing file keeps its mode through O_TRUNC: the copy holds
        // passwords, so it is made private whatever was there.
        bool written = ::fchmod(fd, 0600) == 0;
        std::size_t at = 0;
        while (written && at < bytes->size()) {
            const ssize_t n = ::write(fd, bytes->data() + at, bytes->size() - at);
            if (n < 0 && errno == EINTR)
                continue;
            written = n > 0;
            at += n > 0 ? static_cast<std::size_t>(n) : 0;
        }
        const int err = written ? (::fsync(fd) == 0 ? 0 : errno) : errno;
        ::close(fd);
        if (!written || err != 0)
            Fail(ExitFileTrouble,
                 copy + ": " + IoErrorText(IoCodeFromErrno(written ? err : errno)));
        Notice("copied " + m_path + " to " + copy + " (" + std::to_string(bytes->size()) +
               " bytes)");
        return ExitDone;
    }

private:
    void Notice(const std::string& text)
    {
        if (m_invocation.quiet)
            return;
        m_err << ProgramName << ": " << text << "\n";
        m_err.flush();
    }

    // A folder, a FIFO or a device is no table; say which rather than
    // "File access denied".
    void RefuseNonTable() const
    {
        struct stat st
        {
        };
        if (::stat(m_path.c_str(), &st) != 0 || S_ISREG(st.st_mode))
            return;
        if (S_ISDIR(st.st_mode))
            Fail(ExitFileTrouble, m_path +
                                      " is a folder, not a user table; give the table "
                                      "file with --table, e.g. " +
                                      m_path + "/" + UserTableFileName + ".");
        Fail(ExitFileTrouble, m_path + " is not a user table file (nor a file at all).");
    }

    // Every text of the command line is checked before anyone is asked for
    // a password. Names that only look someone up need not fit a field.
    void TakeTexts()
    {
        const std::string& command = m_invocation.command;
        const bool ofAccount = command.rfind("account-", 0) == 0;
        m_user = ForTable("login name", *m_invocation.user);
        if (!m_invocation.operands.empty())
            m_target = ForTable("login name", m_invocation.operands[0]);
        if (m_invocation.operands.size() > 1)
            m_account = ForTable("account name", m_invocation.operands[1]);
        if (command == "add")
            CheckFits("login name", m_target, NameCapacity);
        if (command == "account-add")
            CheckFits("account name", m_account, AccountCapacity);
        if (m_invocation.name)
            m_newName = ofAccount ? Stored("account name", *m_invocation.name, AccountCapacity)
                                  : Stored("login name", *m_invocation.name, NameCapacity);
        if (m_invocation.path)
            m_newPath = Stored("data path", *m_invocation.path, PathCapacity);
        if (m_invocation.description) {
            m_newDescription = ForTable("description", StoredBreaks(*m_invocation.description));
            CheckFits("description (each line break takes two)", *m_newDescription,
                      DescriptionCapacity);
        }
    }

    void LoadAndSignIn()
    {
        RefuseNonTable();
        // Loading creates a missing table, which would then stand in the
        // way of init.
        if (!PeekTableFile(m_path))
            Fail(ExitFileTrouble, m_path + ": there is no user table here; init creates one.");
        m_session.LoadTable();

        // The name first, so no password is asked for a name that is not
        // there, as the login dialog does.
        if (const auto refusal = m_session.RefuseName(m_user))
            Fail(ExitSignInRefused, Session::SignInMessage(*refusal));
        const std::string typed = m_invocation.passwordFd
                                      ? ReadLineFrom(*m_invocation.passwordFd)
                                      : m_secrets.Read("Password for " + *m_invocation.user + ": ");
        const AnsiString password = ForTable("password", typed);
        if (Changes()) {
            // From here to the save no other writer comes in between; taken
            // after the password, as nobody should wait while someone types.
            m_writing.emplace(m_session.HoldWriterLock());
            m_session.LoadTable();
        }
        const Session::SignInResult result = m_session.SignIn(m_user, password);
        if (result != Session::SignInResult::SignedIn)
            Fail(ExitSignInRefused, Session::SignInMessage(result));
    }

    bool Changes() const
    {
        const std::string& command = m_invocation.command;
        return command != "ls" && command != "show";
    }

    // A change's outcome: done, or the reason it was not made.
    void Finish(const ChangeResult& result)
    {
        switch (result.outcome) {
        case ChangeResult::Outcome::Done:
            // The change is in the file; what followed it is worth a word.
            if (!result.warning.empty())
                Notice(Shown(result.warning));
            return;
        case ChangeResult::Outcome::Refused:
            Fail(RefusalStatus(result.reason), Shown(result.message));
        case ChangeResult::Outcome::Failed:
            Fail(ExitFileTrouble, m_path + ": " + result.message);
        case ChangeResult::Outcome::Cancelled:
        case ChangeResult::Outcome::Reloaded:
            break;
        }
        Fail(ExitFileTrouble, m_path + ": " + Shown(m_conflict.user) +
                                  " was changed by someone else while this command ran; "
                                  "nothing was written.");
    }

    static int RefusalStatus(ChangeResult::Reason reason)
    {
        switch (reason) {
        case ChangeResult::Reason::DuplicateUser:
        case ChangeResult::Reason::DuplicateAccount:
        case ChangeResult::Reason::NotFirstUse:
            return ExitExists;
        case ChangeResult::Reason::NoSuchUser:
        case ChangeResult::Reason::NoSuchAccount:
            return ExitNotFound;
        default:
            return ExitRefused;
        }
    }

    // The stored name of the user `typed` means. Without one, the typed name
    // goes to the session core, which refuses it after checking the rights.
    AnsiString StoredName(const AnsiString& typed) const
    {
        const AnsiString stored = m_session.StoredName(typed);
        if (!stored.empty())
            return stored;
        if (typed.empty())
            Fail(ExitNotFound, "There is no user of that name.");
        return typed;
    }

    // A new password: from --new-password-fd, or asked twice on a terminal,
    // or the next line of standard input.
    AnsiString ReadNewPassword(const std::string& prompt)
    {
        std::string typed;
        if (m_invocation.newPasswordFd) {
            typed = ReadLineFrom(*m_invocation.newPasswordFd);
        } else {
            typed = m_secrets.Read(prompt + ": ");
            if (m_secrets.AtTerminal() && m_secrets.Read("Again, to be sure: ") != typed)
                Fail(ExitBadInput, "the two passwords typed differ; nothing was written.");
        }
        if (TrimControls(typed).empty())
            Fail(ExitBadInput, "the new password is empty; nothing was written.");
        return Stored("password", typed, PasswordCapacity);
    }

    const Invocation& m_invocation;
    SecretReader& m_secrets;
    std::ostream& m_out;
    std::ostream& m_err;
    std::string m_path;
    Session m_session;
    // The command line's texts in Windows-1252.
    AnsiString m_user;
    AnsiString m_target;
    AnsiString m_account;
    std::optional<AnsiString> m_newName;
    std::optional<AnsiString> m_newPath;
    std::optional<AnsiString> m_newDescription;
    Conflict m_conflict;
    std::optional<WriterLock::Hold> m_writing;
};

const std::vector<CommandInfo>& CommandTable()
{
    static const std::vector<CommandInfo> commands = {
        {"ls", "", 0, FormatOption, true, "list the login names, one a line, as stored",
         [](Command& c) { return c.List(); }},
        {"show", "NAME", 1, FormatOption, true,
         "a user's details; a password shows only where it is your own",
         [](Command& c) { return c.Show(); }},
        {"add", "NAME", 1, PathOption | GrantOption | NewPasswordFdOption | IfMissingOption, true,
         "add a user: --path PATH [--grant RIGHTS]; password read next",
         [](Command& c) { return c.Add(); }},
        {"edit", "NAME", 1,
         NameOption | PasswordOption | NewPasswordFdOption | PathOption | GrantOption |
             RevokeOption,
         true, "change a user: --name, --password, --path, --grant, --revoke",
         [](Command& c) { return c.Edit(); }},
        {"rm", "NAME", 1, IfPresentOption, true, "delete a user",
         [](Command& c) { return c.Remove(); }},
        {"account-add", "NAME ACCOUNT", 2, DescriptionOption, true,
         "give a user a bank account: [--description TEXT]",
         [](Command& c) { return c.AddAccount(); }},
        {"account-edit", "NAME ACCOUNT", 2, NameOption | DescriptionOption, true,
         "change a bank account: --name NEW --description TEXT",
         [](Command& c) { return c.EditAccount(); }},
        {"account-rm", "NAME ACCOUNT", 2, 0, true, "delete a bank account",
         [](Command& c) { return c.RemoveAccount(); }},
        {"check", "", 0, FormatOption, false,
         "report the table's size, users and faults; signs no one in",
         [](Command& c) { return c.Check(); }},
        {"backup", "FILE", 1, 0, false,
         "a private copy of the table in FILE, taken while no one writes it",
         [](Command& c) { return c.Backup(); }},
        {"init", "NAME", 1, PathOption | NewPasswordFdOption, false,
         "create the table, NAME holding all six rights: [--path PATH]",
         [](Command& c) { return c.Init(); }},
    };
    return commands;
}

std::string DefaultTablePath()
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
        Fail(ExitFileTrouble, "no home folder to keep the table in: give --table FILE");
    }
    return base + "/larkledger-security/" + UserTableFileName;
}

int RunCommand(const Invocation& invocation, SecretReader& secrets, std::ostream& out,
               std::ostream& err, AuditSink* audit)
{
    Command command(invocation, secrets, out, err, audit);
    return command.Run();
}
