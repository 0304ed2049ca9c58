// Private files for private data: directories 0700, files 0600, whatever the umask.
#pragma once

#include <string>
#include <string_view>

namespace pilvo {

// Creates `path`, a directory that belongs to Pilvo alone (<data>/pilvo, say).
// Missing parents are ordinary directories (0755 less the umask): they are
// shared with other programs. The last component is created 0700, and an
// existing one is tightened to 0700. Returns an empty string on success,
// otherwise a description of the error for the user.
std::string makePrivateDirectory(const std::string& path);

// Makes sure a directory Pilvo shares with other programs exists
// ($XDG_STATE_HOME, which may even be the home directory). A missing one is
// created 0700 (parents 0755 less the umask); an existing one is left exactly
// as it is. Same result as makePrivateDirectory.
std::string makeSharedDirectory(const std::string& path);

// Opens `path` with `flags` (O_CREAT creates it), as a regular file that only
// its owner may read or write: created 0600, an existing file tightened to
// 0600. Returns the descriptor, or -1 with errno set.
int openPrivateFile(const std::string& path, int flags);

// Replaces `path` with `text` through a temporary file beside it, synced to
// disk, and a rename, so readers see the old or the new content, never a
// part, even after a crash; the file ends 0600. The directory must exist (it
// is not created). Returns an empty string on success, otherwise the system's
// description of the error.
std::string writePrivateFile(const std::string& path, std::string_view text);

// Tightens an existing file to 0600; a missing file is fine.
void restrictToOwner(const std::string& path);

}  // namespace pilvo
