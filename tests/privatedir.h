#pragma once

// A folder of the test's own in the temporary folder: a fresh name that no other test, run or
// user has (mkdtemp), removed with everything in it when the test is done.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

class TPrivateDir {
 public:
  TPrivateDir() {
    std::string pattern = testing::TempDir() + "zirv-test-XXXXXX";  // TempDir ends with "/"
    if (mkdtemp(pattern.data())) FPath = pattern;
  }
  ~TPrivateDir() {
    if (!FPath.empty()) std::filesystem::remove_all(FPath);
  }
  TPrivateDir(const TPrivateDir&) = delete;
  TPrivateDir& operator=(const TPrivateDir&) = delete;

  // Returns the folder's path; empty when it could not be made.
  const std::string& Path() const { return FPath; }
  // Returns the path of name inside the folder.
  std::string File(const std::string& name) const { return FPath + "/" + name; }

 private:
  std::string FPath;
};
