// A private temporary directory for one test, removed with everything in it
// when the owner goes out of scope.
#pragma once

#include <string>

namespace velmot::testing {

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // A symbolic link `name` in this directory pointing at `target`; returns
    // the link's path.
    std::string link(const std::string& name, const std::string& target) const;

  private:
    std::string path_;
};

}  // namespace velmot::testing
