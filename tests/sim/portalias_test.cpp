#include "sim/portalias.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace zirvsim;
namespace fs = std::filesystem;

namespace {

class PortAliasTest : public testing::Test {
 protected:
  void SetUp() override {
    FDir = fs::path(testing::TempDir()) / "sim_alias_test";
    fs::remove_all(FDir);
    FAlias = (FDir / "ports" / "COM1").string();
  }
  void TearDown() override { fs::remove_all(FDir); }
  fs::path FDir;
  std::string FAlias;
};

TEST_F(PortAliasTest, CreatesFoldersAndLinkAndRemovesOnlyItsOwn) {
  EXPECT_EQ(CreatePortAlias(FAlias, "/dev/null", false), "");
  EXPECT_EQ(fs::read_symlink(FAlias), "/dev/null");
  RemovePortAlias(FAlias, "/dev/zero");  // not ours: stays
  EXPECT_TRUE(fs::is_symlink(FAlias));
  RemovePortAlias(FAlias, "/dev/null");
  EXPECT_FALSE(fs::exists(fs::symlink_status(FAlias)));
}

TEST_F(PortAliasTest, RefusesALiveLinkElsewhereUnlessForced) {
  ASSERT_EQ(CreatePortAlias(FAlias, "/dev/null", false), "");
  EXPECT_NE(CreatePortAlias(FAlias, "/dev/zero", false), "");
  EXPECT_EQ(fs::read_symlink(FAlias), "/dev/null");
  EXPECT_EQ(CreatePortAlias(FAlias, "/dev/zero", true), "");
  EXPECT_EQ(fs::read_symlink(FAlias), "/dev/zero");
}

TEST_F(PortAliasTest, ReplacesADanglingLinkAndRefusesAPlainFile) {
  fs::create_directories(FDir / "ports");
  fs::create_symlink(FDir / "gone", FAlias);
  EXPECT_EQ(CreatePortAlias(FAlias, "/dev/null", false), "");
  fs::remove(FAlias);
  { std::FILE* f = std::fopen(FAlias.c_str(), "w"); std::fclose(f); }
  EXPECT_NE(CreatePortAlias(FAlias, "/dev/null", false), "");
  EXPECT_TRUE(fs::is_regular_file(FAlias));
}

TEST(PortNameTest, OnlyComAndANumberMayBecomeAnAlias) {
  EXPECT_TRUE(IsValidPortName("COM1"));
  EXPECT_TRUE(IsValidPortName("COM32"));
  for (const char* bad : {"COM", "com1", "COM1/../x", "../COM1", "COMx", ""})
    EXPECT_FALSE(IsValidPortName(bad)) << bad;
}

}  // namespace
