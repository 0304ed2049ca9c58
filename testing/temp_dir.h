// A private temporary directory, removed with everything in it at scope end.
#pragma once

#include <string>

namespace pilvo::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& contents);
// Permission bits of `path`, or -1 when it does not exist.
int fileMode(const std::string& path);

}  // namespace pilvo::testing
