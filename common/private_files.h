// Private files for private data: directories 0700, files 0600, whatever the umask.
#pragma once

#include <string>

namespace pilvo {

// Creates `path` and any missing parents. The last component is made 0700
// (and tightened to 0700 if it already exists). Returns an empty string on
// success, otherwise a description of the error for the user.
std::string makePrivateDirectory(const std::string& path);

// Tightens an existing file to 0600; a missing file is fine.
void restrictToOwner(const std::string& path);

}  // namespace pilvo
