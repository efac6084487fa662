// The zirv7-sim program and its COMn alias: a stale alias must not block the next run, a
// foreign one must not be taken over, and every way of ending removes the alias again.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>

#include "sim/portalias.h"
#include "tests/privatedir.h"
#include "sim/faults.h"
#include "version.h"
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
    ASSERT_FALSE(FConfig.empty());
    fs::create_directories(FConfig + "/zirv7tune/ports");
    setenv("XDG_CONFIG_HOME", FConfig.c_str(), 1);  // where the program puts its alias
  }
  TPrivateDir FDir;
  const std::string FConfig = FDir.Path();
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

// The program run to its end with standard input closed: its exit status and both outputs.
struct TSimRun {
  int Status = -1;
  std::string Out;
  std::string Err;
};

TSimRun RunSimToEnd(const std::string& args) {
  const TPrivateDir dir;
  const std::string errFile = dir.File("stderr");
  const std::string command = "'" ZIRV_SIM_PROGRAM "' " + args + " </dev/null 2>" + errFile;
  TSimRun run;
  FILE* out = popen(command.c_str(), "r");
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, out)) > 0;) run.Out.append(buffer, n);
  const int status = pclose(out);
  run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ostringstream err;
  err << std::ifstream(errFile).rdbuf();
  run.Err = err.str();
  return run;
}

struct TUsageCase {
  const char* Name;
  const char* Args;
  int Status;
  const char* OutHas;  // a text stdout must contain ("" = must be empty)
  const char* ErrHas;  // a text stderr must contain ("" = must be empty)
};

class SimUsageTest : public testing::TestWithParam<TUsageCase> {};

// Help and version answer on stdout and succeed without starting a board; bad usage says so
// on stderr alone and exits 2.
TEST_P(SimUsageTest, StatusAndStreams) {
  const TUsageCase& c = GetParam();
  const TSimRun run = RunSimToEnd(c.Args);
  EXPECT_EQ(run.Status, c.Status);
  if (*c.OutHas) EXPECT_NE(run.Out.find(c.OutHas), std::string::npos) << run.Out;
  else EXPECT_EQ(run.Out, "");
  if (*c.ErrHas) EXPECT_NE(run.Err.find(c.ErrHas), std::string::npos) << run.Err;
  else EXPECT_EQ(run.Err, "");
}

INSTANTIATE_TEST_SUITE_P(
    Program, SimUsageTest,
    testing::Values(
        TUsageCase{"help_goes_to_stdout", "--help", 0, "Usage: zirv7-sim [options]", ""},
        TUsageCase{"short_help", "-h", 0, "Options:\n  --link COMn", ""},
        TUsageCase{"help_wins_over_a_board", "--no-pacing --link COM3 --help", 0, "Faults", ""},
        TUsageCase{"help_wins_over_a_bad_port_name", "--link ../COM3 --help", 0, "Usage:", ""},
        TUsageCase{"version", "--version", 0, "zirv7-sim " ZIRV_VERSION "\n", ""},
        TUsageCase{"unknown_option_points_to_help", "--frob", 2, "",
                   "zirv7-sim: cannot use '--frob'; see 'zirv7-sim --help'"},
        TUsageCase{"option_without_its_value", "--eeprom", 2, "", "cannot use '--eeprom'"},
        TUsageCase{"motor_gain_that_would_overflow", "--motor gain=1e308", 2, "", "beyond what a motor can be"},
        TUsageCase{"motor_noise_that_would_overflow", "--motor noise=1e308", 2, "", "beyond what a motor can be"},
        // What the tool could never reach, and options that are no numbers, are refused.
        TUsageCase{"link_beyond_the_tools_port_names", "--link COM33", 2, "",
                   "zirv7-sim: COM33 is not one of the tool's port names (COM1 to COM32)"},
        TUsageCase{"seed_that_is_no_number", "--seed x", 2, "", "zirv7-sim: --seed 'x': not a whole number"},
        TUsageCase{"reply_delay_with_a_unit", "--reply-delay 5ms", 2, "", "--reply-delay '5ms': not a whole number"},
        TUsageCase{"fault_count_that_is_no_number", "--fault cut-short=two", 2, "",
                   "--fault cut-short 'two': not a whole number"},
        // An EEPROM file that could not be kept, or not read, would lose every change unseen.
        TUsageCase{"eeprom_that_is_a_folder", "--eeprom /dev", 2, "", "zirv7-sim: --eeprom /dev: a folder, not a file"},
        TUsageCase{"eeprom_in_a_missing_folder", "--eeprom /no-such-folder/board.eeprom", 2, "",
                   "--eeprom /no-such-folder/board.eeprom: its folder /no-such-folder does not exist"},
        TUsageCase{"eeprom_that_is_no_eeprom_file", "--eeprom /proc/version", 2, "",
                   "line 1 is not \"KEY VALUE\" of a board parameter"},
        TUsageCase{"eeprom_that_is_a_device", "--eeprom /dev/null", 2, "", "not a regular file"}),
    [](const testing::TestParamInfo<TUsageCase>& info) { return std::string(info.param.Name); });

// Every fault the board knows is offered in the help, from which the manual page is made.
TEST(SimHelp, NamesEveryFault) {
  const std::string help = RunSimToEnd("--help").Out;
  for (int f = 0; f == 0 || zirvsim::FaultName(zirvsim::TFault(f)) != "none"; ++f) {
    const std::string entry = "\n  " + zirvsim::FaultName(zirvsim::TFault(f)) + " ";
    EXPECT_NE(help.find(entry), std::string::npos) << entry;
  }
}

}  // namespace
