#pragma once

#include "store/TableFile.h"

// A tiny test harness for the store, which is tested without Qt.
// TEST(name) { ... } registers a case; every case runs with a zeroed table in
// a fresh temporary working directory that is removed afterwards.

#include <cstdio>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <sys/types.h>

namespace storecheck {

struct Case
{
    const char* name;
    std::function<void()> body;
};

std::vector<Case>& registry();
void fail(const char* file, int line, const std::string& message);

struct Registrar
{
    Registrar(const char* name, std::function<void()> body)
    {
        registry().push_back({name, std::move(body)});
    }
};

template <class T> std::string show(const T& value)
{
    std::ostringstream out;
    out << value;
    return out.str();
}
std::string show(const std::string& value);
inline std::string show(const char* value)
{
    return show(std::string(value));
}
std::string show(const std::vector<std::string>& values);

// "got A, expected E", and for byte strings where they first differ.
template <class A, class E> std::string mismatch(const A& actual, const E& expected)
{
    return "got " + show(actual) + ", expected " + show(expected);
}
std::string mismatch(const std::string& actual, const std::string& expected);

// Runs every registered case (or those named on the command line); returns
// the process exit code.
int runAll(int argc, char** argv);

// Bytes of a file, or throws when it cannot be read.
std::string readFile(const std::string& path);
// The first `size` bytes of a file (fewer when it is shorter), for a file too
// large to read whole.
std::string readFileStart(const std::string& path, std::size_t size);
void writeFile(const std::string& path, const std::string& bytes);
bool fileExists(const std::string& path);
// Names in the working directory, without "." and "..", sorted.
// What the working directory holds, sorted, but for the writer lock's file,
// which stays beside a table once anyone has saved it.
std::vector<std::string> listWorkingDir();
std::vector<std::string> listEveryFile();
inline const std::string WriterLockFile = ".Gatekeep.acl.writer";
// Removes everything in the working directory, read-only folders too.
void clearWorkingDir();
// A file of tests/data. All are read before the first case, so a case's
// child that has dropped to nobody has them too: the source tree may sit in
// a folder that only its owner enters (a clone in root's home).
std::string testData(const std::string& name);

// A program of the build tree that cases run after dropping to nobody. For
// the reason above, the run copies it before the first case into a folder
// of its own under the temporary base, which anyone may enter, and removes
// that folder after the last case. Declare one at namespace scope, so the
// copy is made before any case forks.
class ProgramCopy
{
public:
    explicit ProgramCopy(std::string original);
    ProgramCopy(const ProgramCopy&) = delete;
    ProgramCopy& operator=(const ProgramCopy&) = delete;
    // The copy while the cases run.
    const std::string& path() const { return m_path; }

private:
    friend void copyPrograms(const std::string& folder);
    std::string m_original;
    std::string m_path;
};

// Runs `body` in a child process, as the user `uid`/`gid` when the tests run
// as root (dropping every privilege first) and as the current user
// otherwise. The child's report is what `body` returns; an exception or a
// signal in the child shows in `status` (the exit code, or 128 + signal).
struct ChildOutcome
{
    int status = -1;
    std::string report;
};
ChildOutcome runInChild(uid_t uid, gid_t gid, const std::function<std::string()>& body);
ChildOutcome runInChild(const std::function<std::string()>& body);
// "nobody" (65534) when the tests run as root, the current user otherwise:
// someone whom file permissions bind.
uid_t ordinaryUid();
gid_t ordinaryGid();
// The id of a process that has ended and been reaped.
pid_t deadPid();
// The outcome of a save of the case's table to `path` as text: "saved",
// "saved with warning <code>" or "error <code>".
std::string saveReport(const std::string& path);

// The name of the table file, which the store keeps in the working directory.
extern const std::string TableFile;
// Runs `body` as an ordinary user: directly when the test is not root, else
// in a child process that has dropped to nobody (uid and gid 65534) and
// owns the working directory and what it holds. A failure in the child
// fails the case.
void runAsOrdinaryUser(const std::function<void()>& body);

// A record of plain texts; rights as six flags in record order ("0" is
// granted).
UserRecord plainRecord(const std::string& name, const std::string& password,
                       const std::string& path, const std::string& flags);
// The six rights of a stored record, unscrambled, in record order.
std::string decodedRights(const UserRecord& record);

// The table a case works with, zero-filled at its start.
UserTable& theTable();
// The bytes of that table, laid out as the table file holds them.
std::string table();

} // namespace storecheck

// The store's operations on the case's table and the table file of the
// working directory, under the names the cases use.
inline UserRecord& slot(int n)
{
    return storecheck::theTable().slot(n);
}
inline int FindUser(std::string_view name)
{
    return storecheck::theTable().FindUser(name);
}
inline void ClearEmptySlots()
{
    storecheck::theTable().ClearEmptySlots();
}
inline int FirstFreeSlot()
{
    return storecheck::theTable().FirstFreeSlot();
}
inline AnsiString StoreNewUser(const UserRecord& plain)
{
    return storecheck::theTable().StoreNewUser(plain);
}
inline void RemoveUserSlot(int n)
{
    storecheck::theTable().RemoveUserSlot(n);
}
inline void LoadUserTable()
{
    LoadUserTable(storecheck::theTable(), storecheck::TableFile);
}
inline std::optional<int> SaveUserTable()
{
    return SaveUserTable(storecheck::theTable(), storecheck::TableFile);
}
inline void CreateUserTableFile()
{
    CreateUserTableFile(storecheck::TableFile);
}
inline void resetUserTable()
{
    storecheck::theTable() = UserTable{};
}

#define STORE_CAT2(a, b) a##b
#define STORE_CAT(a, b) STORE_CAT2(a, b)

#define TEST(name)                                                                                 \
    static void STORE_CAT(test_, name)();                                                          \
    static const ::storecheck::Registrar STORE_CAT(registrar_, name)(#name,                        \
                                                                     STORE_CAT(test_, name));      \
    static void STORE_CAT(test_, name)()

#define CHECK(cond)                                                                                \
    do {                                                                                           \
        if (!(cond))                                                                               \
            ::storecheck::fail(__FILE__, __LINE__, "CHECK(" #cond ")");                            \
    } while (0)

#define CHECK_EQ(actual, expected)                                                                 \
    do {                                                                                           \
        const auto& check_a_ = (actual);                                                           \
        const auto& check_e_ = (expected);                                                         \
        if (!(check_a_ == check_e_))                                                               \
            ::storecheck::fail(__FILE__, __LINE__,                                                 \
                               "CHECK_EQ(" #actual ", " #expected "): " +                          \
                                   ::storecheck::mismatch(check_a_, check_e_));                    \
    } while (0)

// Checks that `expr` throws IoError with the given code and text.
#define CHECK_IO_ERROR(expr, code_, text_)                                                         \
    do {                                                                                           \
        bool thrown_ = false;                                                                      \
        try {                                                                                      \
            expr;                                                                                  \
        } catch (const IoError& e_) {                                                              \
            thrown_ = true;                                                                        \
            CHECK_EQ(e_.code(), code_);                                                            \
            CHECK_EQ(std::string(e_.what()), std::string(text_));                                  \
        }                                                                                          \
        if (!thrown_)                                                                              \
            ::storecheck::fail(__FILE__, __LINE__, "no IoError from " #expr);                      \
    } while (0)
