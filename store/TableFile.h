#pragma once

#include "UserTable.h"

#include <optional>
#include <string>

// The table file. `path` names it (normally UserTableFileName in the folder
// the program works in). Every failing step raises IoError.
//
// A symbolic link in the table's place is followed to the regular file it
// names. Anything else there is refused without blocking and without
// creating anything through it: a link whose target is missing raises
// IoError 2 ("File not found"); a directory, FIFO, socket or device, a
// file larger than MaxTableFileSize, or a link to one of these, raises
// IoError 5 ("File access denied"), as an unreadable table does, and is
// neither read to its end nor written. A file the store makes is 0600
// whatever the umask.

// The largest file taken for a table. A table is 6565 bytes, and a file a
// little longer still loads (what follows the five records is never read),
// but a file this far larger is something else given in the table's place:
// taken for a table, it would be cut down to one by the next save. 1 MiB is
// 160 tables.
constexpr std::size_t MaxTableFileSize = std::size_t{1} << 20;

// Reads the file into the table; a missing file is created empty (0600)
// instead. A table that may be read but not written is read: saving it is
// what is refused. `fileBytes`, when given, receives the bytes read (empty for a new
// file), so a later save can tell whether someone else has changed the file
// since.
void LoadUserTable(UserTable& table, const std::string& path, std::string* fileBytes = nullptr);

// Writes all five records (6565 bytes) into the file `path` finally names,
// leaving any link to it in place. A table that may not be written is
// refused (IoError 5), as before.
//
// Normally the new table is written to a temporary file beside the target,
// private (0600, or the old table's mode where that is stricter) from the
// moment it exists, given the old table's owner, group and mode, synced and
// renamed over the old table, which stays whole until then. Where the new
// file could not keep the owner or group, or the folder refuses a new file
// while the table is writable, the table is written in place instead: the
// whole 6565 bytes over the old ones, never truncated first (a longer file is
// cut after), then synced. A fault in the middle of an in-place write can
// leave the file part old, part new; it is reported as a failure and a
// second save writes the whole table again.
//
// Raises IoError when the new table is not in the file. When it is, but a
// step after that failed (making the replacement durable), returns that
// step's IoError code: the table is saved, and reporting it as a failed save
// would have the person redo a change the file already holds; saving again
// writes the same bytes. Nothing when every step succeeded. A save never
// leaves its own temporary file behind; those that killed saves left are
// for removeStaleTemporaries.
std::optional<int> SaveUserTable(const UserTable& table, const std::string& path);

// A new empty file (0 bytes, 0600) where nothing is, made exclusively;
// returns true. A table found there (perhaps made by another copy since the
// caller looked, or the file a link names) is left as it is: returns false,
// and the caller loads it. Anything else there is refused as a load would.
bool CreateUserTableFile(const std::string& path);

// The table the bytes of a table file hold, read as LoadUserTable reads
// the file: into a table of free slots, raising IoError 100 for a last,
// partial record.
UserTable tableFromBytes(const std::string& bytes);

// What the file holds now, or nothing when there is no file; reads only.
std::optional<std::string> peekTableFile(const std::string& path);

// Removes the temporary files that saves of this table left when they were
// killed: in the folder of the file `tablePath` finally names, the files
// ".<table name>.<host>.<pid>.<16 hex digits>.lktmp" of this host whose
// process is gone, and nothing else. Never raises: what cannot be looked at
// or removed stays for a later call. Every load of a session calls it (each
// start of the windows, each command of the command line); not every save,
// as looking through the folder cost a save a tenth of its time.
void removeStaleTemporaries(const std::string& tablePath);

// For tests only: lets a test look at, stop or fail a save at its steps.
namespace tablefile_testing {

enum class SaveStep
{
    // The temporary file `file` holds the whole new table and has not yet
    // been given the old table's owner and mode. A non-zero result fails the
    // save with that errno before anything is replaced.
    TempWritten,
    // The new table is in place at `file`; the folder is to be synced. A
    // non-zero result is taken as the errno of that sync.
    FolderSync,
};

extern int (*SaveHook)(SaveStep step, const std::string& file);

} // namespace tablefile_testing
