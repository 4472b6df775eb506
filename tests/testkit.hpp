// Helpers shared by the families' tests.
#pragma once

#include <string>

namespace testkit {

// A private directory under /tmp, removed with its contents at scope exit.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Whole contents of a file; empty when it cannot be read.
std::string read_file(const std::string &path);
// Replaces the file with `content`, making its folders; returns false on failure.
bool write_file(const std::string &path, const std::string &content);
// True when the file exists (any type).
bool exists(const std::string &path);

} // namespace testkit
