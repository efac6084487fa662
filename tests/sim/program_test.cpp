#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "wire_helpers.h"

namespace fs = std::filesystem;

namespace {

// The zirv7-sim program run as a child with pipes on its standard input and output.
class TSimProcess {
 public:
  TSimProcess(std::vector<std::string> args, const std::string& configHome) {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return;
    FPid = fork();
    if (FPid == 0) {
      dup2(in[0], STDIN_FILENO);
      dup2(out[1], STDOUT_FILENO);
      for (int fd : {in[0], in[1], out[0], out[1]}) close(fd);
      setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
      std::vector<char*> argv{const_cast<char*>(ZIRV_SIM_PROGRAM)};
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(ZIRV_SIM_PROGRAM, argv.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    FStdin = in[1];
    FStdout = out[0];
  }
  ~TSimProcess() {
    if (FPid > 0 && !FReaped) {
      kill(FPid, SIGKILL);
      waitpid(FPid, nullptr, 0);
    }
    for (int fd : {FStdin, FStdout})
      if (fd >= 0) close(fd);
  }

  // Returns the first line of standard output (the device path), or "" when none came.
  std::string FirstLine() {
    std::string line;
    char c;
    while (read(FStdout, &c, 1) == 1 && c != '\n') line.push_back(c);
    return line;
  }

  void CloseStdin() {
    close(FStdin);
    FStdin = -1;
  }

  // Waits for the program to end; returns its exit status, or -1 after a timeout of ~3 s.
  int Wait() {
    for (int i = 0; i < 300; ++i) {
      int status = 0;
      if (waitpid(FPid, &status, WNOHANG) == FPid) {
        FReaped = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      usleep(10000);
    }
    return -1;
  }

  pid_t Pid() const { return FPid; }

 private:
  pid_t FPid = -1;
  int FStdin = -1, FStdout = -1;
  bool FReaped = false;
};

class SimProgramTest : public testing::Test {
 protected:
  void SetUp() override {
    FConfig = (fs::path(testing::TempDir()) / "sim_program_test").string();
    fs::remove_all(FConfig);
    FAlias = FConfig + "/zirv7tune/ports/COM3";
  }
  void TearDown() override { fs::remove_all(FConfig); }
  std::string FConfig, FAlias;
};

TEST_F(SimProgramTest, LinksAliasAnswersAndCleansUpAtEndOfInput) {
  TSimProcess sim({"--link", "COM3", "--no-pacing", "--exit-on-stdin-eof"}, FConfig);
  const std::string device = sim.FirstLine();
  ASSERT_EQ(device.rfind("/dev/", 0), 0u) << device;
  EXPECT_EQ(fs::read_symlink(FAlias), device);
  TTestPort port(FAlias);  // the tool opens the alias, not the device itself
  EXPECT_EQ(port.Ask("m 95", 1), std::vector<std::string>{"(m) 95"});
  sim.CloseStdin();
  EXPECT_EQ(sim.Wait(), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(FAlias)));
}

TEST_F(SimProgramTest, TerminationSignalRemovesTheAlias) {
  TSimProcess sim({"--link", "COM3", "--fault", "cut-short=2"}, FConfig);
  ASSERT_FALSE(sim.FirstLine().empty());
  TTestPort port(FAlias);
  EXPECT_EQ(port.Ask("s", 9, 500).size(), 7u);
  kill(sim.Pid(), SIGTERM);
  EXPECT_EQ(sim.Wait(), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(FAlias)));
}

TEST_F(SimProgramTest, RefusesBadArgumentsAndForeignAliases) {
  fs::create_directories(FConfig + "/zirv7tune/ports");
  fs::create_symlink("/dev/null", FAlias);
  TSimProcess taken({"--link", "COM3"}, FConfig);
  EXPECT_EQ(taken.Wait(), 1);
  EXPECT_EQ(fs::read_symlink(FAlias), "/dev/null");
  TSimProcess unknownFault({"--fault", "sometimes"}, FConfig);
  EXPECT_EQ(unknownFault.Wait(), 2);
  TSimProcess escaping({"--link", "../COM3"}, FConfig);
  EXPECT_EQ(escaping.Wait(), 2);
}

}  // namespace
