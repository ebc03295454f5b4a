#include "../store/StoreCheck.h"
#include "Team.h"

#include "session/Session.h"
#include "session/StoredText.h"
#include "session/TableCheck.h"
#include "session/internal/TableBytes.h"
#include "store/Scramble.h"

#include <functional>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

using storecheck::readFile;
using storecheck::TableFile;
using team::account;
using team::accountAt;
using team::plain;

namespace {

// One character the table holds, as the core receives it (UTF-8), and
// whether it may stand inside a new text.
struct Character
{
    const char* label;
    std::string byte;
    bool control;
};

const std::vector<Character>& characters()
{
    static const std::vector<Character> characters = {
        {"ESC", "\x1b", true},
        {"CR", "\r", true},
        {"LF", "\n", true},
        {"TAB", "\t", true},
        {"BEL", "\a", true},
        {"NUL", std::string(1, '\0'), true},
        {"DEL", "\x7f", true},
        // The five bytes Windows-1252 leaves undefined stand for the C1
        // controls of their number. U+0085 and U+009B have no byte at all:
        // 0x85 and 0x9B are the ellipsis and a quotation mark.
        {"U+0081", "\xc2\x81", true},
        {"U+008D", "\xc2\x8d", true},
        {"U+008F", "\xc2\x8f", true},
        {"U+0090", "\xc2\x90", true},
        {"U+009D", "\xc2\x9d", true},
        {"euro sign (0x80)", "\xe2\x82\xac", false},
        {"e acute", "\xc3\xa9", false},
        {"ellipsis (0x85)", "\xe2\x80\xa6", false},
        {"single right quotation mark (0x9B)", "\xe2\x80\xba", false},
        {"blank", " ", false},
    };
    return characters;
}

// A change that stores `text` in one field, on the team's table signed in
// as "me" with every user right; the field's name as refusals call it.
struct NewText
{
    const char* field;
    std::function<ChangeResult(Session&, const std::string& text)> make;
};

const std::vector<NewText>& newTexts()
{
    static const std::vector<NewText> texts = {
        {"login name",
         [](Session& s, const std::string& t) { return s.addUser(plain(t, "pw", "/n")); }},
        {"password",
         [](Session& s, const std::string& t) { return s.addUser(plain("new", t, "/n")); }},
        {"data path",
         [](Session& s, const std::string& t) { return s.addUser(plain("new", "pw", t)); }},
        {"login name",
         [](Session& s, const std::string& t) {
             return s.saveChanges(s.loadForEditing("weak"), plain(t, "weakpw", "/w"));
         }},
        {"password",
         [](Session& s, const std::string& t) {
             return s.saveChanges(s.loadForEditing("weak"), plain("weak", t, "/w"));
         }},
        {"data path",
         [](Session& s, const std::string& t) {
             return s.saveChanges(s.loadForEditing("weak"), plain("weak", "weakpw", t));
         }},
        {"account name",
         [](Session& s, const std::string& t) { return s.addAccount("weak", account(t, "")); }},
        {"description",
         [](Session& s, const std::string& t) { return s.addAccount("weak", account("Loan", t)); }},
        {"account name",
         [](Session& s, const std::string& t) {
             return s.modifyAccount("weak", accountAt(0, t, "Till"));
         }},
        {"description",
         [](Session& s, const std::string& t) {
             return s.modifyAccount("weak", accountAt(0, "Cash", t));
         }},
    };
    return texts;
}

bool startsWith(const std::string& text, const std::string& start)
{
    return text.compare(0, start.size(), start) == 0;
}

std::string label(const Character& c, const char* field, const char* how)
{
    return std::string(c.label) + " in a " + how + " " + field;
}

// Whether `result` is the refusal of a control character in `field`, with
// the table file unchanged (`fileBefore`; none: there is still no file).
void expectOutcome(const Character& c, const char* field, const char* how,
                   const ChangeResult& result, const std::string* fileBefore)
{
    if (!c.control) {
        if (!result.done())
            storecheck::fail(__FILE__, __LINE__,
                             label(c, field, how) + " was refused: " + result.message);
        return;
    }
    const std::string start = std::string("The ") + field + " holds a control character";
    if (result.outcome != ChangeResult::Outcome::Refused ||
        result.reason != ChangeResult::Reason::ControlCharacter ||
        !startsWith(result.message, start))
        storecheck::fail(__FILE__, __LINE__,
                         label(c, field, how) + " was not refused: " + result.message);
    if (fileBefore ? readFile(TableFile) != *fileBefore : storecheck::fileExists(TableFile))
        storecheck::fail(__FILE__, __LINE__, label(c, field, how) + " changed the file");
}

} // namespace

// A text the table would cut, or cannot hold at all, is refused in words
// that say which field and why.
TEST(ATextTheTableCannotHoldUnchangedIsRefused)
{
    struct Row
    {
        TextField field;
        std::string utf8;
        bool whole;
        std::string refusal; // empty: stored
    };
    const Row rows[] = {
        {TextField::LoginName, std::string(15, 'n'), true, ""},
        {TextField::LoginName, std::string(16, 'n'), true,
         "login name: 16 characters, but the table holds at most 15."},
        {TextField::LoginName, std::string(16, 'n'), false, ""},
        {TextField::Password, "123456789", true,
         "password: 9 characters, but the table holds at most 8."},
        {TextField::AccountName, std::string(31, 'a'), true,
         "account name: 31 characters, but the table holds at most 30."},
        {TextField::Description, std::string(71, 'd'), true,
         "description (each line break takes two): 71 characters, but the table holds at "
         "most 70."},
        {TextField::DataPath, std::string(256, 'p'), true,
         "data path: 256 characters, but the table holds at most 255."},
    };
    for (const Row& row : rows) {
        const std::optional<std::string> refusal =
            row.whole ? storeRefusal(row.field, row.utf8) : unstorableRefusal(row.field, row.utf8);
        CHECK_EQ(refusal.value_or(""), row.refusal);
    }
    // The euro sign is the table's byte 0x80; a Greek letter is none of its,
    // nor is a byte that is no UTF-8.
    CHECK(tableBytesOf("\xe2\x82\xac") == std::optional<std::string>("\x80"));
    CHECK(!storeRefusal(TextField::AccountName, "\xe2\x82\xac"));
    CHECK_EQ(storeRefusal(TextField::AccountName, "\xce\xa9").value_or(""),
             std::string("account name: U+03A9 \"\xce\xa9\" is not a Windows-1252 character, and "
                         "the table holds nothing else."));
    CHECK_EQ(unstorableRefusal(TextField::LoginName, "a\xff").value_or(""),
             std::string("login name: not valid UTF-8 (at byte 2)."));
    // What the table cannot hold is most of a password: never quoted back.
    CHECK_EQ(storeRefusal(TextField::Password, "p\xce\xa9").value_or(""),
             std::string("password: it holds a character that is not in Windows-1252 (or is not "
                         "UTF-8 text), which the table cannot store."));
    CHECK_EQ(fieldCapacity(TextField::Description), std::size_t(70));
}

TEST(AControlCharacterInANewTextIsRefused)
{
    for (const Character& c : characters()) {
        for (const NewText& text : newTexts()) {
            team::writeTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers}, TableFile);
            Session session(TableFile);
            session.loadTable();
            CHECK(session.signIn("me", "pw") == Session::SignInResult::SignedIn);
            const std::string before = readFile(TableFile);
            ChangeResult result = text.make(session, "a" + c.byte + "b");
            // Added users reach the file at the save.
            if (result.done())
                result = session.save();
            expectOutcome(c, text.field, "new", result, &before);
        }
    }
}

TEST(AControlCharacterInTheFirstUserIsRefused)
{
    for (const Character& c : characters()) {
        // A data path must be a folder that exists.
        const std::string folder = "d" + c.byte + "d";
        const bool made = c.byte != std::string(1, '\0') && ::mkdir(folder.c_str(), 0700) == 0;
        const std::pair<const char*, UserData> rows[] = {
            {"login name", plain("a" + c.byte + "b", "pw", ".")},
            {"password", plain("chief", "p" + c.byte + "w", ".")},
            {"data path", plain("chief", "pw", made ? folder : "/x" + c.byte)},
        };
        for (const auto& [field, user] : rows) {
            ::unlink(TableFile.c_str());
            Session session(TableFile);
            const ChangeResult result = session.createFirstUser(user);
            // Refused, nothing may be written; taken, what is written is
            // the first use's own test.
            expectOutcome(c, field, "first user's", result, nullptr);
        }
        if (made)
            ::rmdir(folder.c_str());
    }
}

TEST(TheRefusalSaysWhichCharacterAndWhereButNeverOfAPassword)
{
    struct Row
    {
        TextField field;
        std::string text;
        const char* message;
    };
    const Row rows[] = {
        {TextField::LoginName, "evil\r\x1b[K",
         "The login name holds a control character (U+000D at character 5): tabs, line breaks, "
         "escapes and other control characters cannot be stored."},
        {TextField::DataPath, "/srv/\xc2\x81",
         "The data path holds a control character (U+0081 at character 6): tabs, line breaks, "
         "escapes and other control characters cannot be stored."},
        {TextField::AccountName, "\tCash",
         "The account name holds a control character (U+0009 at character 1): tabs, line breaks, "
         "escapes and other control characters cannot be stored."},
        {TextField::Password,
         "se\x1b"
         "cret",
         "The password holds a control character: tabs, line breaks, escapes and other control "
         "characters cannot be stored."},
        // A line break of the account dialog is CR LF; a CR or LF alone is not.
        {TextField::Description, "one\r\ntwo\nthree",
         "The description holds a control character (U+000A at character 9): line breaks are "
         "kept, but tabs, escapes and other control characters cannot be stored."},
        {TextField::Description, "one\r",
         "The description holds a control character (U+000D at character 4): line breaks are "
         "kept, but tabs, escapes and other control characters cannot be stored."},
    };
    for (const Row& row : rows) {
        const std::optional<std::string> refusal = controlCharacterRefusal(row.field, row.text);
        CHECK(refusal.has_value());
        CHECK_EQ(refusal.value_or(""), std::string(row.message));
    }
    for (const std::string fine : {"one\r\ntwo\r\n", "\r\n", "No description."})
        CHECK(!controlCharacterRefusal(TextField::Description, fine));
    // Only a description keeps CR LF.
    CHECK(controlCharacterRefusal(TextField::LoginName, "a\r\nb").has_value());
}

TEST(BlanksAroundANameAreTrimmedOrKeptAsBefore)
{
    // The first use trims characters 0 to 32 at either end: what is trimmed
    // is never stored, so it is no control character of the new user.
    Session first(TableFile);
    CHECK(first.createFirstUser(plain("\t chief\x1b ", "\r\npw\r\n", ".")).done());
    CHECK_EQ(first.me().loginName, std::string("chief"));
    CHECK_EQ(first.me().password, std::string("pw"));

    // Add stores the name as typed: blanks around it stay, a control
    // character at either end would be stored, so it is refused.
    const ChangeResult blanks = first.addUser(plain("  clerk ", "pw", "/c"));
    CHECK(blanks.done());
    CHECK(first.save().done());
    CHECK(first.user("  clerk ").has_value());
    CHECK(first.addUser(plain("clerk2\t", "pw", "/c")).reason ==
          ChangeResult::Reason::ControlCharacter);
    CHECK(first
              .addUser(plain("\x1b"
                             "clerk3",
                             "pw", "/c"))
              .reason == ChangeResult::Reason::ControlCharacter);

    // Signing in still trims the typed name.
    Session later(TableFile);
    later.loadTable();
    CHECK(later.signIn("\tchief\r\n", "pw") == Session::SignInResult::SignedIn);
}

TEST(TextsATableMadeElsewhereHoldsMayStayAsTheyAre)
{
    // A user and accounts whose texts came from elsewhere, controls and
    // all: what a change leaves as it is was not typed anew.
    const std::string odd = "od\x1b"
                            "d";
    UserTable table;
    table.StoreNewUser(storecheck::plainRecord("me", "pw", "/m", "000000"));
    table.StoreNewUser(storecheck::plainRecord(odd, "p\tw", "/o\n", "111111"));
    storeEncoded(table.slot(2).Accounts[0].AccountName, "Ca\x1bsh");
    storeEncoded(table.slot(2).Accounts[0].AccountDescription, "T\till");
    storeEncoded(table.slot(2).Accounts[1].AccountName, "Lo\x1b"
                                                        "an");
    storeEncoded(table.slot(2).Accounts[1].AccountDescription, "N\tote");
    SaveUserTable(table, TableFile);

    Session session(TableFile);
    session.loadTable();
    CHECK(session.signIn("me", "pw") == Session::SignInResult::SignedIn);
    CHECK(session
              .saveChanges(session.loadForEditing(odd),
                           plain(odd, "p\tw", "/o\n", Rights{R::AddRecord}))
              .done());
    CHECK(session.modifyAccount(odd, accountAt(0, "Ca\x1bsh", "Till")).done());
    CHECK(session.modifyAccount(odd, accountAt(1, "Loan", "N\tote")).done());
    // Typed anew, the same character is refused.
    const ChangeResult renamed =
        session.saveChanges(session.loadForEditing(odd), plain(odd + "2", "p\tw", "/o\n"));
    CHECK(renamed.reason == ChangeResult::Reason::ControlCharacter);
    CHECK(startsWith(renamed.message, "The login name holds"));
    CHECK(session.modifyAccount(odd, accountAt(1, "Loan", "N\totes")).reason ==
          ChangeResult::Reason::ControlCharacter);
}

TEST(ControlCharactersAreShownVisibly)
{
    const std::pair<std::string, std::string> rows[] = {
        {"evil\r\x1b[K", "evil\\r\\x1b[K"},
        {std::string("\t\n\0\a\x7f", 5), "\\t\\n\\x00\\x07\\x7f"},
        {"\xc2\x81\xc2\x8d\xc2\x8f\xc2\x90\xc2\x9d", "\\x81\\x8d\\x8f\\x90\\x9d"},
        // Printable characters stay, backslashes too (Windows paths hold them).
        {"\xe2\x82\xac\xc3\xa9\xe2\x80\xa6\xe2\x80\xba C:\\Data",
         "\xe2\x82\xac\xc3\xa9\xe2\x80\xa6\xe2\x80\xba C:\\Data"},
        // A byte that is no UTF-8 would garble what follows on a terminal.
        {"a\xff"
         "b",
         "a\\xff"
         "b"},
    };
    for (const auto& [text, shown] : rows)
        CHECK_EQ(visibleText(text), shown);
}

// A new text the table cannot hold would be stored as another text: every
// change refuses it, saying which field, and the file stays as it was.
TEST(ANewTextTheTableCannotHoldIsRefused)
{
    // A Greek capital omega, which the table's code page lacks, and a byte
    // that is no UTF-8 at all.
    for (const std::string odd : {"a\xce\xa9"
                                  "b",
                                  "a\xff"
                                  "b"}) {
        for (const NewText& text : newTexts()) {
            team::writeTeam(Rights{R::AddUsers, R::ModifyUsers, R::DeleteUsers}, TableFile);
            Session session(TableFile);
            session.loadTable();
            CHECK(session.signIn("me", "pw") == Session::SignInResult::SignedIn);
            const std::string before = readFile(TableFile);
            ChangeResult result = text.make(session, odd);
            if (result.done())
                result = session.save();
            CHECK(result.reason == ChangeResult::Reason::Unstorable);
            if (!startsWith(result.message, std::string(text.field) + ": "))
                storecheck::fail(__FILE__, __LINE__,
                                 std::string(text.field) + ": " + result.message);
            CHECK_EQ(readFile(TableFile), before);
        }
    }
    // Nor is a password the table cannot hold anyone's: it is wrong.
    team::writeTeam(Rights::all(), TableFile);
    Session session(TableFile);
    session.loadTable();
    CHECK(session.signIn("m\xce\xa9", "pw") == Session::SignInResult::UnknownName);
    CHECK(session.signIn("me", "p\xce\xa9") == Session::SignInResult::WrongPassword);
    CHECK(session.signIn("me", "pw") == Session::SignInResult::SignedIn);
    CHECK(session.changeOwnPassword("pw", "n\xce\xa9", "n\xce\xa9").reason ==
          ChangeResult::Reason::Unstorable);
    CHECK(session.changeOwnPassword("p\xce\xa9", "new", "new").reason ==
          ChangeResult::Reason::WrongPassword);
    CHECK(session.deleteUser("w\xce\xa9").reason == ChangeResult::Reason::NoSuchUser);
}

// Whatever bytes a table made elsewhere holds, the texts handed out find
// the same users and accounts again, and show as the characters they are.
TEST(EveryTableByteComesOutAsUtf8AndFindsItsUserAgain)
{
    for (int b = 1; b < 256; ++b) {
        if (b == ' ')
            continue;
        const std::string byte(1, static_cast<char>(b));
        UserTable table;
        table.StoreNewUser(storecheck::plainRecord("me", "pw", "/m", "000000"));
        table.StoreNewUser(storecheck::plainRecord("x" + byte, "p" + byte, "/" + byte, "111111"));
        storeEncoded(table.slot(2).Accounts[0].AccountName, "A" + byte);
        storeEncoded(table.slot(2).Accounts[0].AccountDescription, "D" + byte);
        SaveUserTable(table, TableFile);

        Session session(TableFile);
        session.loadTable();
        CHECK(session.signIn("me", "pw") == Session::SignInResult::SignedIn);
        const std::string name = "x" + utf8Of(byte);
        CHECK(session.listedNames() == std::vector<std::string>({"me", name}));
        const std::optional<UserData> user = session.user(name);
        CHECK(user.has_value());
        if (!user)
            continue;
        CHECK_EQ(user->password, "p" + utf8Of(byte));
        CHECK_EQ(user->dataPath, "/" + utf8Of(byte));
        const std::vector<AccountData> accounts = session.Accounts(name);
        CHECK_EQ(accounts.size(), std::size_t(1));
        CHECK_EQ(accounts.at(0).description, "D" + utf8Of(byte));
        CHECK_EQ(session.lookUpAccount(name, "A" + utf8Of(byte)), 0);
        // Handed back unchanged, the texts are the bytes they were.
        CHECK(session.modifyAccount(name, accounts.at(0)).done());
        CHECK(session.saveChanges(session.loadForEditing(name), *user).done());
        UserTable saved;
        LoadUserTable(saved, TableFile);
        const int slot = saved.FindUser("x" + byte);
        CHECK(slot > 0);
        if (slot > 0) {
            CHECK_EQ(decoded(saved.slot(slot).DataPath), "/" + byte);
            CHECK_EQ(decoded(saved.slot(slot).Accounts[0].AccountName), "A" + byte);
            CHECK_EQ(decoded(saved.slot(slot).Accounts[0].AccountDescription), "D" + byte);
        }
        CHECK(session.deleteUser(name).done());
        CHECK(session.save().done());
        CHECK(session.listedNames() == std::vector<std::string>({"me"}));
    }
}

// The data path names a folder on this system, whose names are UTF-8: the
// first use looks for the folder a person chose, not for the table's bytes
// of its name, which name no folder.
TEST(AFirstUsersDataFolderIsFoundByTheNameItBears)
{
    const std::string folder = "caf\xc3\xa9";
    CHECK_EQ(::mkdir(folder.c_str(), 0700), 0);
    ::unlink(TableFile.c_str());
    Session session(TableFile);
    const ChangeResult made = session.createFirstUser(plain("chief", "pw", folder));
    CHECK(made.done());
    CHECK_EQ(made.message, std::string());
    CHECK_EQ(session.me().dataPath, folder);
    UserTable table;
    LoadUserTable(table, TableFile);
    CHECK_EQ(decoded(table.slot(1).DataPath), std::string("caf\xe9"));
    ::rmdir(folder.c_str());
}
