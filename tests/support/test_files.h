// Test helpers for files and folders: a temporary folder removed with its content, and whole-file
// reads and writes.
#pragma once

#include <string>
#include <vector>

class TempDir {
 public:
  TempDir();  // a fresh folder under $TMPDIR or /tmp
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

 private:
  std::string path_;
};

// Writes `content` to `path`, creating missing parent folders. Fails the test on error.
void WriteFile(const std::string& path, const std::string& content);
// The whole file, or "" when it cannot be read.
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);
void MakeDirs(const std::string& path);

// The names in a folder (without "." and ".."), sorted.
std::vector<std::string> ListDir(const std::string& path);
