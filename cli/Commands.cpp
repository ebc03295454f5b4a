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
#include <optional>

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
    throw CliFailure{status, message};
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
        m_session.SetWriterWait(std::chrono::seconds(invocation.waitSeconds), [this] {
            m_err << ProgramName << ": waiting for another copy to finish writing " << m_path
                  << "\n";
            m_err.flush();
        });
    }

    int Run()
    {
        try {
            return Dispatch();
        } catch (const IoError& error) {
            Fail(ExitFileTrouble, m_path + ": " + error.what());
        }
    }

private:
    int Dispatch()
    {
        const std::string& command = m_invocation.command;
        if (command == "check")
            return Check();
        if (command == "init")
            return Init();

        TakeTexts();
        LoadAndSignIn();
        if (command == "ls")
            return List();
        if (command == "show")
            return Show();
        if (command == "add")
            return Add();
        if (command == "edit")
            return Edit();
        if (command == "rm")
            return Remove();
        if (command == "account-add")
            return AddAccount();
        if (command == "account-edit")
            return EditAccount();
        return RemoveAccount();
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
        // Loading creates a missing table, which would then stand in the
        // way of init.
        if (!PeekTableFile(m_path))
            Fail(ExitFileTrouble, m_path + ": there is no user table here; init creates one.");
        m_session.LoadTable();

        // The name first, so no password is asked for a name that is not
        // there, as the login dialog does.
        if (const auto refusal = m_session.RefuseName(m_user))
            Fail(ExitSignInRefused, Session::SignInMessage(*refusal));
        const std::string typed = m_secrets.Read("Password for " + *m_invocation.user + ": ");
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
                m_err << ProgramName << ": " << Shown(result.warning) << "\n";
            return;
        case ChangeResult::Outcome::Refused:
            Fail(ExitRefused, Shown(result.message));
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

    // The stored name of the user `typed` means. Without one, the typed name
    // goes to the session core, which refuses it after checking the rights.
    AnsiString StoredName(const AnsiString& typed) const
    {
        const AnsiString stored = m_session.StoredName(typed);
        if (!stored.empty())
            return stored;
        if (typed.empty())
            Fail(ExitRefused, "There is no user of that name.");
        return typed;
    }

    std::string ReadNewPassword(const std::string& prompt)
    {
        return Stored("password", m_secrets.Read(prompt), PasswordCapacity);
    }

    int List()
    {
        for (const AnsiString& name : m_session.ListedNames())
            m_out << Shown(name) << "\n";
        return ExitDone;
    }

    int Show()
    {
        if (!m_session.MaySeeUserDetails())
            Fail(ExitRefused, "You may not see user details: that needs the ModifyUsers or "
                              "DeleteUsers right.");
        const std::optional<UserData> user = m_session.User(m_session.StoredName(m_target));
        if (!user)
            Fail(ExitRefused, "There is no user of that name.");
        m_out << "Login name: " << Shown(user->loginName) << "\n"
              << "Password: " << Shown(m_session.ShownPassword(*user)) << "\n"
              << "Data path: " << Shown(user->dataPath) << "\n";
        for (Right right : AllRights)
            m_out << RightName(right) << ": " << (user->rights.has(right) ? "TRUE" : "FALSE")
                  << "\n";
        if (!m_session.MayKeepAccounts()) {
            m_out << "Bank accounts: not shown without the ModifyUsers and DeleteUsers rights\n";
            return ExitDone;
        }
        for (const AccountData& account : m_session.Accounts(user->loginName)) {
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
            ReadNewPassword("Password for the new user " + m_invocation.operands[0] + ": ");
        UserData user = PlainUser(m_target, password, *m_newPath);
        for (Right right : m_invocation.grants)
            user.rights.set(right, true);
        Finish(m_session.AddUser(user));
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
            Fail(ExitRefused, "There is no user of that name.");

        // The session replaces the user whole: what is not changed is given
        // as it is.
        UserData user = *stored;
        user.unreadable = Rights();
        if (m_newName)
            user.loginName = *m_newName;
        if (m_newPath)
            user.dataPath = *m_newPath;
        if (m_invocation.newPassword)
            user.password = ReadNewPassword("New password for " + m_invocation.operands[0] + ": ");
        for (Right right : m_invocation.grants)
            user.rights.set(right, true);
        for (Right right : m_invocation.revokes)
            user.rights.set(right, false);
        Finish(m_session.SaveChanges(name, m_session.SlotOf(name), user));
        return ExitDone;
    }

    int Remove()
    {
        Finish(m_session.DeleteUser(StoredName(m_target)));
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
        const std::optional<std::string> bytes = PeekTableFile(m_path);
        if (!bytes)
            Fail(ExitFileTrouble, m_path + ": " + IoErrorText(2));
        const TableReport report = CheckTable(*bytes);
        m_out << "Table: " << m_path << "\n"
              << "Size: " << report.size << " bytes\n";
        for (const TableReport::User& user : report.users)
            m_out << "Slot " << user.slot << ": \"" << Shown(user.loginName) << "\"\n";
        if (report.users.empty())
            m_out << "No users.\n";
        for (const std::string& fault : report.faults)
            m_out << "Fault: " << Shown(fault) << "\n";
        if (report.Sound()) {
            m_out << "The table is sound.\n";
            return ExitDone;
        }
        m_out << "The table is not sound: " << report.faults.size()
              << (report.faults.size() == 1 ? " fault.\n" : " faults.\n");
        return ExitBadInput;
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
        const std::optional<std::string> dataFolder =
            RealFolder(m_invocation.path ? *m_invocation.path : folder);
        if (!dataFolder)
            Fail(ExitBadInput, "Please give a correct path for your data files.");
        const AnsiString path = Stored("data path", *dataFolder, PathCapacity);
        const AnsiString password =
            TrimControls(ForTable("password", m_secrets.Read("Password for the new user " +
                                                             m_invocation.operands[0] + ": ")));
        CheckFits("password", password, PasswordCapacity);

        UserData user = PlainUser(name, password, path);
        {
            const PrivateFiles makingPrivateFiles;
            Finish(m_session.CreateFirstUser(user));
        }
        if (::chmod(m_path.c_str(), 0600) != 0)
            throw IoError(IoCodeFromErrno(errno));
        return ExitDone;
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

} // namespace

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
