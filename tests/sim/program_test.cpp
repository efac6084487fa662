// The zirv7-sim program and its COMn alias: a stale alias must not block the next run, a
// foreign one must not be taken over, and every way of ending removes the alias again.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <utility>

#include "sim/portalias.h"
#include "wire_helpers.h"

namespace fs = std::filesystem;

namespace {

// The program started by a shell that prints its own pid, which the program takes over by
// exec; its standard input is a pipe whose write end only the test holds.
struct TSimProcess {
  explicit TSimProcess(const std::string& args) {
    if (pipe(In) != 0) return;
    const std::string command = "echo $$; exec '" ZIRV_SIM_PROGRAM "' " + args + " <&" +
                                std::to_string(In[0]) + " " + std::to_string(In[1]) + ">&-";
    Out = popen(command.c_str(), "r");
    close(In[0]);
    Pid = std::stoi("0" + Line());
  }
  ~TSimProcess() {
    if (In[1] >= 0) close(In[1]);
    if (Out && Pid > 0) kill(Pid, SIGKILL);
    if (Out) pclose(Out);
  }
  std::string Line() {
    char line[256] = "";
    return fgets(line, sizeof line, Out) ? std::string(line, strcspn(line, "\n")) : "";
  }
  // Waits for the program to end and returns its exit status.
  int Wait() {
    const int status = pclose(std::exchange(Out, nullptr));
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  int In[2] = {-1, -1};
  FILE* Out = nullptr;
  pid_t Pid = 0;
};

class SimProgramTest : public testing::Test {
 protected:
  void SetUp() override {
    fs::remove_all(FConfig);
    fs::create_directories(FConfig + "/zirv7tune/ports");
    setenv("XDG_CONFIG_HOME", FConfig.c_str(), 1);  // where the program puts its alias
  }
  void TearDown() override { fs::remove_all(FConfig); }
  const std::string FConfig = testing::TempDir() + "/sim_program_test";
  const std::string FAlias = FConfig + "/zirv7tune/ports/COM3";
};

TEST_F(SimProgramTest, AliasIsRemovedAtEndOfInputAndOnTerminationSignal) {
  fs::create_symlink(FConfig + "/gone", FAlias);  // left behind by a killed run
  for (bool signal : {false, true}) {
    TSimProcess sim("--link COM3 --no-pacing --fault cut-short=2 --exit-on-stdin-eof");
    const std::string device = sim.Line();
    ASSERT_EQ(device.rfind("/dev/", 0), 0u) << device;
    EXPECT_EQ(fs::read_symlink(FAlias), device);
    EXPECT_EQ(TTestPort(FAlias).Ask("s", 7).size(), 7u);  // the tool opens the alias
    if (signal) kill(sim.Pid, SIGTERM);
    if (!signal) close(std::exchange(sim.In[1], -1));
    EXPECT_EQ(sim.Wait(), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(FAlias))) << signal;
  }
}

TEST_F(SimProgramTest, RefusesBadArgumentsAndForeignAliases) {
  fs::create_symlink("/dev/null", FAlias);
  EXPECT_EQ(TSimProcess("--link COM3").Wait(), 1);
  EXPECT_EQ(fs::read_symlink(FAlias), "/dev/null");
  EXPECT_EQ(TSimProcess("--fault sometimes").Wait(), 2);
  EXPECT_EQ(TSimProcess("--link ../COM3").Wait(), 2);
  EXPECT_EQ(TSimProcess("--motor gain=0").Wait(), 2);
}

// The alias functions alone: a live link elsewhere and a plain file are kept unless forced,
// and a simulator removes only a link that still points to its own device. Only "COM" and a
// number may become an alias.
TEST_F(SimProgramTest, AliasIsTakenOverOnlyByForceAndRemovedOnlyByItsOwner) {
  using namespace zirvsim;
  fs::create_symlink("/dev/null", FAlias);
  EXPECT_NE(CreatePortAlias(FAlias, "/dev/zero", false), "");
  EXPECT_EQ(fs::read_symlink(FAlias), "/dev/null");
  EXPECT_EQ(CreatePortAlias(FAlias, "/dev/zero", true), "");
  EXPECT_EQ(fs::read_symlink(FAlias), "/dev/zero");
  RemovePortAlias(FAlias, "/dev/null");  // not its link: stays
  EXPECT_TRUE(fs::is_symlink(FAlias));
  RemovePortAlias(FAlias, "/dev/zero");
  EXPECT_FALSE(fs::exists(fs::symlink_status(FAlias)));
  std::fclose(std::fopen(FAlias.c_str(), "w"));
  EXPECT_NE(CreatePortAlias(FAlias, "/dev/null", false), "");
  EXPECT_TRUE(fs::is_regular_file(FAlias));
  EXPECT_TRUE(IsValidPortName("COM1") && IsValidPortName("COM32"));
  for (const char* bad : {"COM", "com1", "COM1/../x", "../COM1", "COMx", ""})
    EXPECT_FALSE(IsValidPortName(bad)) << bad;
}

}  // namespace
