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
using team::account;
using team::plain;
using Kind = AuditEvent::Kind;

namespace {

struct RecordingSink : AuditSink
{
    std::vector<AuditEvent> events;
    void record(const AuditEvent& event) override { events.push_back(event); }
};

// An event as the log gets it, its severity spelled out.
std::string logged(const AuditEvent& event)
{
    return (syslogSeverity(event.kind) == LOG_WARNING ? "WARNING " : "NOTICE ") + auditLine(event);
}

std::string notice(const std::string& what, const std::string& fields)
{
    return "NOTICE " + what + ": table=\"Gatekeep.acl\" " + fields;
}

std::string warning(const std::string& what, const std::string& fields)
{
    return "WARNING " + what + ": table=\"Gatekeep.acl\" " + fields;
}

// Some other sign-in, unheard by the sink under test, changes the file.
// Another sign-in adds the account `account` to weak's, or, given
// `changed`, changes weak's account of that name into it.
void changeOnDisk(const std::string& account, const std::string& changed = {})
{
    Session theirs(TableFile);
    theirs.loadTable();
    CHECK(theirs.signIn("boss", "bosspw") == Session::SignInResult::SignedIn);
    if (changed.empty())
        CHECK(theirs.addAccount("weak", ::account(account, "")).done());
    else
        CHECK(theirs
                  .modifyAccount(
                      "weak", team::accountAt(theirs.lookUpAccount("weak", changed), account, ""))
                  .done());
}

} // namespace

TEST(EveryCoreCallRecordsItsEvents)
{
    const std::string saved = notice("table saved", R"(user="me" target="")");
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
         [](Session& s) { s.signIn("me", "pw"); },
         {notice("sign-in succeeded", R"(user="me" target="me")")}},
        {"sign-in with an unknown name",
         Rights{},
         false,
         [](Session& s) { s.signIn("nobody", "pw"); },
         {warning("sign-in refused", R"(user="" target="nobody" reason="unknown name")")}},
        {"sign-in with a wrong password, the name as typed",
         Rights{},
         false,
         [](Session& s) { s.signIn(" me ", "pw "); },
         {warning("sign-in refused", R"(user="" target=" me " reason="wrong password")")}},
        {"first login ID",
         std::nullopt,
         false,
         [](Session& s) { s.createFirstUser(plain("chief", "pw", "/", Rights::all())); },
         {notice("first login ID created", R"(user="" target="chief")"),
          notice("table saved", R"(user="" target="")"),
          notice("sign-in succeeded", R"(user="chief" target="chief")")}},
        {"first login ID where a table exists",
         Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers},
         false,
         [](Session& s) { s.createFirstUser(plain("other", "pw", "/", Rights::all())); },
         {warning("change refused", R"(user="" target="other" reason="A user table already )"
                                    R"(exists: the first login ID is made only where there is )"
                                    R"(none.")")}},
        {"user added, recorded when saved",
         Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers},
         true,
         [](Session& s) {
             s.addUser(plain("new", "npw", "/n", Rights{R::DeleteRecord, R::AddUsers}));
             s.save();
         },
         {notice("user added", R"(user="me" target="new" )"
                               R"(changes="granted DeleteRecord, granted AddUsers")"),
          saved}},
        {"user deleted, recorded when saved",
         Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers},
         true,
         [](Session& s) {
             s.deleteUser("weak");
             s.save();
         },
         {notice("user deleted", R"(user="me" target="weak")"), saved}},
        {"user changed: name, password, data path, a right granted",
         Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers},
         true,
         [](Session& s) {
             s.saveChanges(s.loadForEditing("weak"),
                           plain("weak2", "npw", "/w2", Rights{R::AddUsers}));
         },
         {notice("user changed", R"(user="me" target="weak" new_name="weak2" )"
                                 R"(changes="name, password, data path, granted AddUsers")"),
          saved}},
        {"user changed: rights revoked",
         Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers},
         true,
         [](Session& s) {
             s.saveChanges(s.loadForEditing("boss"), plain("boss", "bosspw", "/b",
                                                           Rights{R::DeleteUsers, R::ModifyRecord,
                                                                  R::ModifyUsers, R::AddRecord}));
         },
         {notice("user changed", R"(user="me" target="boss" )"
                                 R"(changes="revoked DeleteRecord, revoked AddUsers")"),
          saved}},
        {"bank account added",
         Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers},
         true,
         [](Session& s) { s.addAccount("weak", account("Loan", "Overdraft")); },
         {notice("bank account added", R"(user="me" target="weak" account="Loan")"), saved}},
        {"bank account changed",
         Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers},
         true,
         [](Session& s) { s.modifyAccount("weak", team::accountAt(0, "Safe", "Vault")); },
         {notice("bank account changed", R"(user="me" target="weak" account="Cash" )"
                                         R"(new_name="Safe" changes="name, description")"),
          saved}},
        {"bank account deleted",
         Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers},
         true,
         [](Session& s) { s.deleteAccount("weak", 0); },
         {notice("bank account deleted", R"(user="me" target="weak" account="Cash")"), saved}},
        {"refused: adding users without AddUsers",
         Rights{R::ModifyUsers, R::DeleteUsers},
         true,
         [](Session& s) { s.addUser(plain("new", "npw", "/n")); },
         {warning("change refused", R"(user="me" target="new" missing_right="AddUsers" )"
                                    R"(reason="You may not add users: that needs the AddUsers )"
                                    R"(right.")")}},
        {"refused: granting a right without ModifyUsers",
         Rights{R::AddUsers},
         true,
         [](Session& s) { s.addUser(plain("new", "npw", "/n", Rights{R::DeleteRecord})); },
         {warning("change refused", R"(user="me" target="new" missing_right="ModifyUsers" )"
                                    R"(reason="You may not grant rights: that needs the )"
                                    R"(ModifyUsers right.")")}},
        {"refused: bank accounts without DeleteUsers",
         Rights{R::ModifyUsers},
         true,
         [](Session& s) { s.deleteAccount("weak", 0); },
         {warning("change refused", R"(user="me" target="weak" missing_right="DeleteUsers" )"
                                    R"(reason="You may not change bank accounts: that needs the )"
                                    R"(DeleteUsers right.")")}},
        {"refused: taking over a stronger user without AddUsers",
         Rights{R::ModifyUsers},
         true,
         [](Session& s) {
             s.saveChanges(s.loadForEditing("boss"), plain("boss", "mine", "/b", Rights::all()));
         },
         {warning("change refused", R"(user="me" target="boss" missing_right="AddUsers" )"
                                    R"(reason="You may not change the name or password of a )"
                                    R"(user who holds rights you lack.")")}},
        {"refused: no right missing",
         Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers},
         true,
         [](Session& s) { s.deleteUser("ghost"); },
         {warning("change refused",
                  R"(user="me" target="ghost" reason="There is no user of that name.")")}},
        {"merged with a change on disk: the changes, then the save",
         Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers},
         true,
         [](Session& s) {
             changeOnDisk("Theirs");
             s.addUser(plain("new", "npw", "/n"));
             s.addAccount("weak", account("Mine", ""));
         },
         {notice("user added", R"(user="me" target="new" changes="")"),
          notice("bank account added", R"(user="me" target="weak" account="Mine")"), saved}},
        {"reloaded after a change of the same account: the dropped change is never recorded",
         Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers},
         true,
         [](Session& s) {
             changeOnDisk("Cash", "Cash"); // their description of it
             s.setConflictHandler([](const Conflict&) { return ConflictChoice::Reload; });
             s.modifyAccount("weak", team::accountAt(0, "Cash", "mine"));
         },
         {notice("table reloaded", R"(user="me" target="")")}},
        {"overwritten over a change of the same user",
         Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers},
         true,
         [](Session& s) {
             s.deleteUser("weak");
             changeOnDisk("Theirs");
             s.setConflictHandler([](const Conflict&) { return ConflictChoice::Overwrite; });
             s.save();
         },
         {notice("user deleted", R"(user="me" target="weak")"),
          notice("table overwritten", R"(user="me" target="weak")")}},
        {"cancelled over a change on disk: nothing written, the refusal recorded",
         Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers},
         true,
         [](Session& s) {
             changeOnDisk("Cash", "Cash"); // their description of it
             s.modifyAccount("weak", team::accountAt(0, "Cash", "mine"));
         },
         {warning("change refused", R"(user="me" target="weak" reason="changed on disk by )"
                                    R"(someone else meanwhile; nothing was written")")}},
        {"save failed writing: the add waits for the next save",
         Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers},
         true,
         [](Session& s) {
             s.addUser(plain("new", "npw", "/n"));
             CHECK(::chmod(TableFile.c_str(), 0444) == 0);
             CHECK_EQ(s.addAccount("weak", account("Loan", "")).message,
                      std::string("File access denied"));
             CHECK(::chmod(TableFile.c_str(), 0644) == 0);
             s.save();
         },
         {warning("save failed", R"(user="me" target="" reason="File access denied")"),
          notice("user added", R"(user="me" target="new" changes="")"), saved}},
        {"save failed reading the file first",
         Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers},
         true,
         [](Session& s) {
             CHECK(::chmod(TableFile.c_str(), 0200) == 0);
             CHECK(s.save().outcome == ChangeResult::Outcome::Failed);
         },
         {warning("save failed", R"(user="me" target="" reason="File access denied")")}},
    };

    // Read-only files stop only those who are not root.
    storecheck::runAsOrdinaryUser([&] {
        for (const Row& row : rows) {
            ::unlink(TableFile.c_str());
            if (row.myRights)
                team::writeTeam(*row.myRights, TableFile);
            RecordingSink sink;
            Session session(TableFile, &sink);
            if (row.myRights)
                session.loadTable();
            if (row.signedIn)
                CHECK(session.signIn("me", "pw") == Session::SignInResult::SignedIn);
            sink.events.clear();
            row.act(session);
            std::vector<std::string> logged;
            for (const AuditEvent& event : sink.events)
                logged.push_back(::logged(event));
            if (logged == row.logged)
                continue;
            std::size_t at = 0;
            while (at < logged.size() && at < row.logged.size() && logged[at] == row.logged[at])
                ++at;
            const std::string got = at < logged.size() ? logged[at] : "(no more events)";
            const std::string expected = at < row.logged.size() ? row.logged[at] : "(no more)";
            storecheck::fail(__FILE__, __LINE__,
                             std::string(row.name) + ": event " + std::to_string(at + 1) + ": " +
                                 storecheck::mismatch(got, expected));
        }
    });
}

TEST(NoLineShowsAPasswordOrADescription)
{
    RecordingSink sink;
    everyevent::run(&sink);

    std::set<Kind> kinds;
    for (const AuditEvent& event : sink.events) {
        kinds.insert(event.kind);
        const std::string line = auditLine(event);
        CHECK(auditcheck::isCleanUtf8Line(line));
        std::vector<std::string> texts = {
            line,          event.table,  event.actor,        event.target, event.account,
            event.newName, event.detail, event.missingRight, event.copy,   event.systemUser};
        texts.insert(texts.end(), event.changes.begin(), event.changes.end());
        for (const std::string& secret : everyevent::Secrets) {
            for (const std::string& text : texts) {
                if (text.find(secret) != std::string::npos)
                    storecheck::fail(__FILE__, __LINE__, secret + " in " + storecheck::show(line));
            }
        }
    }
    // The run made every kind, so every kind was looked at.
    CHECK_EQ(kinds.size(), std::size_t(18));
}
