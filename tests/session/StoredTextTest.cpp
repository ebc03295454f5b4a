#include "../store/StoreCheck.h"
#include "Team.h"

#include "session/Session.h"
#include "session/StoredText.h"
#include "session/TableCheck.h"
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

// One character in Windows-1252, as the core receives it, and whether it
// may stand inside a new text.
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
        {"U+0081", "\x81", true},
        {"U+008D", "\x8d", true},
        {"U+008F", "\x8f", true},
        {"U+0090", "\x90", true},
        {"U+009D", "\x9d", true},
        {"euro sign (0x80)", "\x80", false},
        {"e acute", "\xe9", false},
        {"ellipsis (0x85)", "\x85", false},
        {"single right quotation mark (0x9B)", "\x9b", false},
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
// that say which field and why; one that fits comes back as the table's
// bytes.
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
        const TableTextCheck check = tableTextOf(row.field, row.utf8, row.whole);
        CHECK_EQ(check.refusal, row.refusal);
        CHECK_EQ(check.bytes.has_value(), row.refusal.empty());
    }
    // The euro sign is the table's byte 0x80; a Greek letter is none of its.
    const TableTextCheck euro = tableTextOf(TextField::AccountName, "\xe2\x82\xac");
    CHECK(euro.bytes == std::optional<std::string>("\x80"));
    const TableTextCheck greek = tableTextOf(TextField::AccountName, "\xce\xa9");
    CHECK(!greek.bytes);
    CHECK_EQ(greek.refusal.rfind("account name: ", 0), std::size_t(0));
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
        {TextField::DataPath, "/srv/\x81",
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
        {"\x81\x8d\x8f\x90\x9d", "\\x81\\x8d\\x8f\\x90\\x9d"},
        // Printable characters stay, backslashes too (Windows paths hold them).
        {"\x80\xe9\x85\x9b C:\\Data", "\x80\xe9\x85\x9b C:\\Data"},
    };
    for (const auto& [text, shown] : rows)
        CHECK_EQ(visibleText(text), shown);
}
