#include "../session/Team.h"
#include "../store/StoreCheck.h"
#include "AuditCheck.h"
#include "EveryEvent.h"

#include "audit/AuditLine.h"
#include "session/Session.h"

#include <cstring>
#include <functional>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

using storecheck::TableFile;
using team::Account;
using team::Plain;
using Kind = AuditEvent::Kind;

namespace {

struct RecordingSink : AuditSink
{
    std::vector<AuditEvent> events;
    void Record(const AuditEvent& event) override { events.push_back(event); }
};

// An event as the log gets it, its severity spelled out.
std::string Logged(const AuditEvent& event)
{
    return (SyslogSeverity(event.kind) == LOG_WARNING ? "WARNING " : "NOTICE ") + AuditLine(event);
}

std::string Notice(const std::string& what, const std::string& fields)
{
    return "NOTICE " + what + ": table=\"Gatekeep.acl\" " + fields;
}

std::string Warning(const std::string& what, const std::string& fields)
{
    return "WARNING " + what + ": table=\"Gatekeep.acl\" " + fields;
}

// Some other sign-in, unheard by the sink under test, changes the file.
// Another sign-in adds the account `account` to weak's, or, given
// `changed`, changes weak's account of that name into it.
void ChangeOnDisk(const std::string& account, const std::string& changed = {})
{
    Session theirs(TableFile);
    theirs.LoadTable();
    CHECK(theirs.SignIn("boss", "bosspw") == Session::SignInResult::SignedIn);
    if (changed.empty())
        CHECK(theirs.AddAccount("weak", Account(account, "")).done());
    else
        CHECK(theirs
                  .ModifyAccount(
                      "weak", team::AccountAt(theirs.LookUpAccount("weak", changed), account, ""))
                  .done());
}

} // namespace

TEST(EveryCoreCallRecordsItsEvents)
{
    const std::string saved = Notice("table saved", R"(user="me" target="")");
    struct Row
    {
        const char* name;
        // The team is written with "me" holding these rights; none: there
        // is no table file.
        std::optional<Rights> myRights;
        bool signedIn; // "me" signs in first, unrecorded
        std::function<void(Session&)> act;
        std::vector<std::string> logged;
    };
    const Row rows[] = {
        {"sign-in",
         Rights{},
         false,
         [](Session& s) { s.SignIn("me", "pw"); },
         {Notice("sign-in succeeded", R"(user="me" target="me")")}},
        {"sign-in with an unknown name",
         Rights{},
         false,
         [](Session& s) { s.SignIn("nobody", "pw"); },
         {Warning("sign-in refused", R"(user="" target="nobody" reason="unknown name")")}},
        {"sign-in with a wrong password, the name as typed",
         Rights{},
         false,
         [](Session& s) { s.SignIn(" me ", "pw "); },
         {Warning("sign-in refused", R"(user="" target=" me " reason="wrong password")")}},
        {"first login ID",
         std::nullopt,
         false,
         [](Session& s) { s.CreateFirstUser(Plain("chief", "pw", "/", Rights::All())); },
         {Notice("first login ID created", R"(user="" target="chief")"),
          Notice("table saved", R"(user="" target="")"),
          Notice("sign-in succeeded", R"(user="chief" target="chief")")}},
        {"first login ID where a table exists",
         Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers},
         false,
         [](Session& s) { s.CreateFirstUser(Plain("other", "pw", "/", Rights::All())); },
         {Warning("change refused", R"(user="" target="other" reason="A user table already )"
                                    R"(exists: the first login ID is made only where there is )"
                                    R"(none.")")}},
        {"user added, recorded when saved",
         Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers},
         true,
         [](Session& s) {
             s.AddUser(Plain("new", "npw", "/n", Rights{R::DeleteRecord, R::AddUsers}));
             s.Save();
         },
         {Notice("user added", R"(user="me" target="new" )"
                               R"(changes="granted DeleteRecord, granted AddUsers")"),
          saved}},
        {"user deleted, recorded when saved",
         Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers},
         true,
         [](Session& s) {
             s.DeleteUser("weak");
             s.Save();
         },
         {Notice("user deleted", R"(user="me" target="weak")"), saved}},
        {"user changed: name, password, data path, a right granted",
         Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers},
         true,
         [](Session& s) {
             s.SaveChanges(s.loadForEditing("weak"),
                           Plain("weak2", "npw", "/w2", Rights{R::AddUsers}));
         },
         {Notice("user changed", R"(user="me" target="weak" new_name="weak2" )"
                                 R"(changes="name, password, data path, granted AddUsers")"),
          saved}},
        {"user changed: rights revoked",
         Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers},
         true,
         [](Session& s) {
             s.SaveChanges(s.loadForEditing("boss"), Plain("boss", "bosspw", "/b",
                                                           Rights{R::DeleteUsers, R::ModifyRecord,
                                                                  R::ModifyUsers, R::AddRecord}));
         },
         {Notice("user changed", R"(user="me" target="boss" )"
                                 R"(changes="revoked DeleteRecord, revoked AddUsers")"),
          saved}},
        {"bank account added",
         Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers},
         true,
         [](Session& s) { s.AddAccount("weak", Account("Loan", "Overdraft")); },
         {Notice("bank account added", R"(user="me" target="weak" account="Loan")"), saved}},
        {"bank account changed",
         Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers},
         true,
         [](Session& s) { s.ModifyAccount("weak", team::AccountAt(0, "Safe", "Vault")); },
         {Notice("bank account changed", R"(user="me" target="weak" account="Cash" )"
                                         R"(new_name="Safe" changes="name, description")"),
          saved}},
        {"bank account deleted",
         Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers},
         true,
         [](Session& s) { s.DeleteAccount("weak", 0); },
         {Notice("bank account deleted", R"(user="me" target="weak" account="Cash")"), saved}},
        {"refused: adding users without AddUsers",
         Rights{R::ModifyUsers, R::DeleteUsers},
         true,
         [](Session& s) { s.AddUser(Plain("new", "npw", "/n")); },
         {Warning("change refused", R"(user="me" target="new" missing_right="AddUsers" )"
                                    R"(reason="You may not add users: that needs the AddUsers )"
                                    R"(right.")")}},
        {"refused: granting a right without ModifyUsers",
         Rights{R::AddUsers},
         true,
         [](Session& s) { s.AddUser(Plain("new", "npw", "/n", Rights{R::DeleteRecord})); },
         {Warning("change refused", R"(user="me" target="new" missing_right="ModifyUsers" )"
                                    R"(reason="You may not grant rights: that needs the )"
                                    R"(ModifyUsers right.")")}},
        {"refused: bank accounts without DeleteUsers",
         Rights{R::ModifyUsers},
         true,
         [](Session& s) { s.DeleteAccount("weak", 0); },
         {Warning("change refused", R"(user="me" target="weak" missing_right="DeleteUsers" )"
                                    R"(reason="You may not change bank accounts: that needs the )"
                                    R"(DeleteUsers right.")")}},
        {"refused: taking over a stronger user without AddUsers",
         Rights{R::ModifyUsers},
         true,
         [](Session& s) {
             s.SaveChanges(s.loadForEditing("boss"), Plain("boss", "mine", "/b", Rights::All()));
         },
         {Warning("change refused", R"(user="me" target="boss" missing_right="AddUsers" )"
                                    R"(reason="You may not change the name or password of a )"
                                    R"(user who holds rights you lack.")")}},
        {"refused: no right missing",
         Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers},
         true,
         [](Session& s) { s.DeleteUser("ghost"); },
         {Warning("change refused",
                  R"(user="me" target="ghost" reason="There is no user of that name.")")}},
        {"merged with a change on disk: the changes, then the save",
         Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers},
         true,
         [](Session& s) {
             ChangeOnDisk("Theirs");
             s.AddUser(Plain("new", "npw", "/n"));
             s.AddAccount("weak", Account("Mine", ""));
         },
         {Notice("user added", R"(user="me" target="new" changes="")"),
          Notice("bank account added", R"(user="me" target="weak" account="Mine")"), saved}},
        {"reloaded after a change of the same account: the dropped change is never recorded",
         Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers},
         true,
         [](Session& s) {
             ChangeOnDisk("Cash", "Cash"); // their description of it
             s.SetConflictHandler([](const Conflict&) { return ConflictChoice::Reload; });
             s.ModifyAccount("weak", team::AccountAt(0, "Cash", "mine"));
         },
         {Notice("table reloaded", R"(user="me" target="")")}},
        {"overwritten over a change of the same user",
         Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers},
         true,
         [](Session& s) {
             s.DeleteUser("weak");
             ChangeOnDisk("Theirs");
             s.SetConflictHandler([](const Conflict&) { return ConflictChoice::Overwrite; });
             s.Save();
         },
         {Notice("user deleted", R"(user="me" target="weak")"),
          Notice("table overwritten", R"(user="me" target="weak")")}},
        {"cancelled over a change on disk: nothing written, the refusal recorded",
         Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers},
         true,
         [](Session& s) {
             ChangeOnDisk("Cash", "Cash"); // their description of it
             s.ModifyAccount("weak", team::AccountAt(0, "Cash", "mine"));
         },
         {Warning("change refused", R"(user="me" target="weak" reason="changed on disk by )"
                                    R"(someone else meanwhile; nothing was written")")}},
        {"save failed writing: the add waits for the next save",
         Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers},
         true,
         [](Session& s) {
             s.AddUser(Plain("new", "npw", "/n"));
             CHECK(::chmod(TableFile.c_str(), 0444) == 0);
             CHECK_EQ(s.AddAccount("weak", Account("Loan", "")).message,
                      std::string("File access denied"));
             CHECK(::chmod(TableFile.c_str(), 0644) == 0);
             s.Save();
         },
         {Warning("save failed", R"(user="me" target="" reason="File access denied")"),
          Notice("user added", R"(user="me" target="new" changes="")"), saved}},
        {"save failed reading the file first",
         Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers},
         true,
         [](Session& s) {
             CHECK(::chmod(TableFile.c_str(), 0200) == 0);
             CHECK(s.Save().outcome == ChangeResult::Outcome::Failed);
         },
         {Warning("save failed", R"(user="me" target="" reason="File access denied")")}},
    };

    // Read-only files stop only those who are not root.
    storecheck::RunAsOrdinaryUser([&] {
        for (const Row& row : rows) {
            ::unlink(TableFile.c_str());
            if (row.myRights)
                team::WriteTeam(*row.myRights, TableFile);
            RecordingSink sink;
            Session session(TableFile, &sink);
            if (row.myRights)
                session.LoadTable();
            if (row.signedIn)
                CHECK(session.SignIn("me", "pw") == Session::SignInResult::SignedIn);
            sink.events.clear();
            row.act(session);
            std::vector<std::string> logged;
            for (const AuditEvent& event : sink.events)
                logged.push_back(Logged(event));
            if (logged == row.logged)
                continue;
            std::size_t at = 0;
            while (at < logged.size() && at < row.logged.size() && logged[at] == row.logged[at])
                ++at;
            const std::string got = at < logged.size() ? logged[at] : "(no more events)";
            const std::string expected = at < row.logged.size() ? row.logged[at] : "(no more)";
            storecheck::Fail(__FILE__, __LINE__,
                             std::string(row.name) + ": event " + std::to_string(at + 1) + ": " +
                                 storecheck::Mismatch(got, expected));
        }
    });
}

TEST(NoLineShowsAPasswordOrADescription)
{
    RecordingSink sink;
    everyevent::Run(&sink);

    std::set<Kind> kinds;
    for (const AuditEvent& event : sink.events) {
        kinds.insert(event.kind);
        const std::string line = AuditLine(event);
        CHECK(auditcheck::IsCleanUtf8Line(line));
        std::vector<std::string> texts = {
            line,          event.table,  event.actor,        event.target, event.account,
            event.newName, event.detail, event.missingRight, event.copy,   event.systemUser};
        texts.insert(texts.end(), event.changes.begin(), event.changes.end());
        for (const std::string& secret : everyevent::Secrets) {
            for (const std::string& text : texts) {
                if (text.find(secret) != std::string::npos)
                    storecheck::Fail(__FILE__, __LINE__, secret + " in " + storecheck::Show(line));
            }
        }
    }
    // The run made every kind, so every kind was looked at.
    CHECK_EQ(kinds.size(), std::size_t(16));
}
