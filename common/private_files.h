// Private files for private data: directories 0700, files 0600, whatever the umask.
#pragma once

#include <string>

namespace pilvo {

// Creates `path` and any missing parents. The last component is made 0700
// (and tightened to 0700 if it already exists). Returns an empty string on
// success, otherwise a description of the error for the user.
std::string makePrivateDirectory(const std::string& path);

// Opens `path` with `flags` (O_CREAT creates it), as a regular file that only
// its owner may read or write: created 0600, an existing file tightened to
// 0600. Returns the descriptor, or -1 with errno set.
int openPrivateFile(const std::string& path, int flags);

// Tightens an existing file to 0600; a missing file is fine.
void restrictToOwner(const std::string& path);

}  // namespace pilvo
