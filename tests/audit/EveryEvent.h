#pragma once

#include "../session/Team.h"
#include "../store/StoreCheck.h"

#include "session/Session.h"

#include <string>
#include <vector>

#include <sys/stat.h>

// One run of the session core that makes every kind of event, for the checks
// that look at all of them at once: what reaches the log, and what must never.
namespace everyevent {

// A login name that, written raw, would end its line and fake a sign-in.
// In UTF-8, as people type it; the table holds it as "M\nsign-in \"\xe9\x80\x81".
inline const std::string CraftedName = "M\nsign-in \"\xc3\xa9\xe2\x82\xac\xc2\x81";
inline const std::string CraftedBytes = "M\nsign-in \"\xe9\x80\x81";

// Passwords typed or stored, and account descriptions, used in the run.
inline const std::vector<std::string> Secrets = {
    "Pw1chief",    "Pw2craft",     "Pw3weak",    "Pw4new",     "Pw5typed",   "Pw6wrong",
    "Desc1-vault", "Desc2-drawer", "Desc3-loan", "Desc4-gone", "Desc5-loan", "Desc6-dropped",
    "Desc7-bond",  "Desc8-mine",   "Pw9mine",    "Pw10dup"};

// Starts without a table file in the working directory and leaves a folder
// where the table was, the last save having failed on it.
inline void run(AuditSink* sink)
{
    using team::account;
    using team::plain;
    const std::string& table = storecheck::TableFile;

    Session chief(table, sink);
    CHECK(chief.createFirstUser(plain("chief", "Pw1chief", "/", Rights::all())).done());
    // Typed, such a name is refused, and the refusal names it.
    CHECK(chief.addUser(plain(CraftedName, "Pw2craft", "/c", Rights{R::DeleteRecord})).reason ==
          ChangeResult::Reason::ControlCharacter);
    // A table made elsewhere may hold it all the same.
    {
        UserTable elsewhere;
        LoadUserTable(elsewhere, table);
        elsewhere.StoreNewUser(storecheck::plainRecord(CraftedBytes, "Pw2craft", "/c", "011111"));
        SaveUserTable(elsewhere, table);
    }
    CHECK(chief.addUser(plain("weak", "Pw3weak", "/w")).done());
    CHECK(chief.save().done());
    CHECK(chief.addAccount("weak", account("Cash", "Desc1-vault")).done());
    CHECK(chief.modifyAccount("weak", team::accountAt(0, "Till", "Desc2-drawer")).done());
    CHECK(chief
              .saveChanges(chief.loadForEditing("weak"),
                           plain("weak", "Pw4new", "/w2", Rights{R::AddUsers}))
              .done());
    CHECK(chief.deleteAccount("weak", 0).done());
    CHECK(chief.deleteUser(CraftedName).done());
    CHECK(chief.save().done());

    Session weak(table, sink);
    weak.loadTable();
    CHECK(weak.signIn(CraftedName, "Pw5typed") == Session::SignInResult::UnknownName);
    CHECK(weak.signIn("weak", "Pw6wrong") == Session::SignInResult::WrongPassword);
    CHECK(weak.signIn("weak", "Pw4new") == Session::SignInResult::SignedIn);
    CHECK(weak.deleteUser("chief").reason == ChangeResult::Reason::MissingRight);
    // A no-op the caller allowed, and a user's change of their own password.
    CHECK(weak.addUser(plain("chief", "Pw10dup", "/x"), true).reason ==
          ChangeResult::Reason::DuplicateUser);
    CHECK(weak.changeOwnPassword("Pw4new", "Pw9mine", "Pw9mine").done());

    // Another sign-in changes the file under chief's feet, twice.
    Session other(table, sink);
    other.loadTable();
    CHECK(other.signIn("chief", "Pw1chief") == Session::SignInResult::SignedIn);
    CHECK(other.addAccount("weak", account("Loan", "Desc3-loan")).done());
    // Merged: another account of the same user.
    CHECK(chief.addAccount("weak", account("Gone", "Desc4-gone")).done());
    CHECK(other.modifyAccount("weak", team::accountAt(0, "Loan", "Desc5-loan")).done());
    // The same account changed on both sides: asked.
    chief.setConflictHandler([](const Conflict&) { return ConflictChoice::Reload; });
    CHECK(chief.modifyAccount("weak", team::accountAt(0, "Loan", "Desc6-dropped")).outcome ==
          ChangeResult::Outcome::Reloaded);
    CHECK(other.modifyAccount("weak", team::accountAt(0, "Loan", "Desc7-bond")).done());
    chief.setConflictHandler([](const Conflict&) { return ConflictChoice::Overwrite; });
    CHECK(chief.modifyAccount("weak", team::accountAt(0, "Loan", "Desc8-mine")).done());

    // The table put back from a copy of itself.
    CHECK(chief.restore(storecheck::readFile(table), "copies/Gatekeep.acl.backup").done());

    // A save that fails for root as for anyone: the table's name is a folder.
    CHECK(::rename(table.c_str(), "moved.acl") == 0);
    CHECK(::mkdir(table.c_str(), 0700) == 0);
    CHECK(chief.save().outcome == ChangeResult::Outcome::Failed);

    // A backup, which the command line records itself, as no one signs in
    // to take one; the copy named relatively, as the table is.
    AuditEvent copied{};
    copied.kind = AuditEvent::Kind::TableCopied;
    copied.table = table;
    copied.copy = "copies/Gatekeep.acl.backup";
    copied.systemUser = "root";
    sink->record(copied);
}

} // namespace everyevent
