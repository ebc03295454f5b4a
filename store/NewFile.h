#pragma once

#include <string>

// Puts `bytes` at `path` as a new file of the caller's own, private (0600):
// they go to a fresh file beside `path` (made exclusively under an
// unguessable name, no link followed), which is synced and then renamed
// over `path`, and the folder is synced. Until that rename whatever stood at
// `path` stays as it was, so a failure (a full disk, a quota) leaves an
// earlier file whole; a kill may leave the hidden temporary file, which the
// next call for the same `path` removes.
//
// Only a missing file or a regular file of the caller's own is replaced:
// a link, a folder, a device, a FIFO, a socket or a file of another user at
// `path` raises IoError 5 before anything is made, and nothing at `path` is
// ever opened, so none of these can block or be written. Raises IoError for
// any step that fails; but for a failed sync of the folder after the rename
// (the new file is then in place, perhaps not yet durably), nothing is left
// behind but what was there before.
void replaceWithNewFile(const std::string& path, const std::string& bytes);
