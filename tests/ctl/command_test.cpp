// The subcommand table: help, version, usage errors and exit codes.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QRegularExpression>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include "ctl/commands.h"
#include "tests/ctl/ctlrun.h"
#include "version.h"

namespace {

struct TDispatchCase {
  const char* Name;
  QStringList Args;
  int Status;
  const char* OutHas;  // a text stdout must contain ("" = must be empty)
  const char* ErrHas;  // a text stderr must contain ("" = must be empty)
};

class DispatchTest : public testing::TestWithParam<TDispatchCase> {};

TEST_P(DispatchTest, StatusAndStreams) {
  const TDispatchCase& c = GetParam();
  const TCtlResult r = RunCtlCaptured(c.Args);
  EXPECT_EQ(r.Status, c.Status);
  if (*c.OutHas) EXPECT_TRUE(r.Out.contains(QString::fromUtf8(c.OutHas))) << r.Out.toStdString();
  else EXPECT_TRUE(r.Out.isEmpty()) << r.Out.toStdString();
  if (*c.ErrHas) EXPECT_TRUE(r.Err.contains(QString::fromUtf8(c.ErrHas))) << r.Err.toStdString();
  else EXPECT_TRUE(r.Err.isEmpty()) << r.Err.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Ctl, DispatchTest,
    testing::Values(
        TDispatchCase{"help_lists_every_command", {"--help"}, kExitOk, "ports", ""},
        TDispatchCase{"version", {"--version"}, kExitOk, "zirv7ctl " ZIRV_VERSION "\n", ""},
        TDispatchCase{"no_command_is_usage", {}, kExitUsage, "", "usage: zirv7ctl"},
        TDispatchCase{"unknown_command", {"frobnicate"}, kExitUsage, "",
                      "zirv7ctl: 'frobnicate' is not a command"},
        TDispatchCase{"command_help_names_the_command", {"ports", "--help"}, kExitOk,
                      "Usage: zirv7ctl ports", ""},
        TDispatchCase{"unknown_option_names_the_command", {"ports", "--frob"}, kExitUsage, "",
                      "zirv7ctl: ports: Unknown option 'frob'."},
        TDispatchCase{"an_argument_where_none_is_taken", {"history", "extra"}, kExitUsage, "",
                      "zirv7ctl: history: takes no arguments"}),
    [](const testing::TestParamInfo<TDispatchCase>& info) { return std::string(info.param.Name); });

// Each command's usage line, its --help and its manual page's synopsis, against its table
// entry: required options bare, in the entry's order, then the arguments, then every other
// option in brackets; the help lists each option with its value; the manual page shows the
// usage line as the help gives it.
TEST(CtlTable, UsageHelpAndManualPageFollowTheTable) {
  const QString page = QString::fromUtf8(Contents(QStringLiteral(ZIRV_CTL_MAN_PAGE)));
  ASSERT_FALSE(page.isEmpty()) << ZIRV_CTL_MAN_PAGE;
  for (const TCommand& command : kCommands) {
    const TCtlResult r = RunCtlCaptured({QString::fromLatin1(command.Name), "--help"});
    EXPECT_EQ(r.Status, kExitOk) << command.Name;
    QStringList required{"zirv7ctl", command.Name}, optional;
    for (const TOptionUse& use : command.Options) {
      QString part = QStringLiteral("--") + use.Option->Name;
      if (use.Option->Value) {
        part += QStringLiteral(" ") + use.Option->Value;
        EXPECT_TRUE(r.Out.contains(QStringLiteral("  --%1 <%2>").arg(use.Option->Name, use.Option->Value)))
            << command.Name << " --" << use.Option->Name;
      } else {
        EXPECT_TRUE(r.Out.contains(QStringLiteral("\n  --%1  ").arg(use.Option->Name)))
            << command.Name << " --" << use.Option->Name;
      }
      for (const TArgument& a : command.Arguments)
        if (a.After && part.startsWith(QStringLiteral("--") + a.After)) part += "...";
      (use.Required ? required : optional).append(use.Required ? part : "[" + part + "]");
    }
    for (const TArgument& a : command.Arguments)
      if (!a.After) required.append(a.Usage ? a.Usage : a.Name);
    const QString usage = (required + optional).join(' ');
    EXPECT_EQ(r.Out.section('\n', 0, 0).toStdString(), "Usage: " + usage.toStdString());
    // The manual page's subsection of the command starts with its synopsis, in roff.
    QString synopsis = page.section(QStringLiteral(".SS \"%1\"\n").arg(command.Name), 1).section('\n', 0, 0);
    synopsis.remove(QRegularExpression(QStringLiteral("\\\\f[BIRP]"))).replace(QStringLiteral("\\-"), QStringLiteral("-"));
    EXPECT_EQ(synopsis.toStdString(), usage.toStdString()) << "the manual page of " << command.Name;
  }
}

// The parser knows every option of the entry, with a value where the entry gives one.
TEST(CtlTable, ParserTakesTheOptionsOfTheTable) {
  for (const TCommand& command : kCommands)
    for (const TOptionUse& use : command.Options) {
      const QString option = QStringLiteral("--") + use.Option->Name;
      const TCtlResult r = RunCtlCaptured({command.Name, use.Option->Value ? option : option + "=x"});
      const QString said = QStringLiteral("zirv7ctl: %1: %2 value after '%3'.")
                               .arg(command.Name, use.Option->Value ? "Missing" : "Unexpected", option);
      EXPECT_EQ(r.Status, kExitUsage) << command.Name << " " << option.toStdString();
      EXPECT_TRUE(r.Err.startsWith(said)) << r.Err.toStdString();
    }
}

// Bad usage of every command: exit status 2 and what is wrong, before a board, a history or
// a file is touched.
struct TUsageCase {
  const char* Name;
  QStringList Args;
  const char* ErrHas;
};

class CtlUsageTest : public testing::TestWithParam<TUsageCase> {};

TEST_P(CtlUsageTest, ExitsTwoAndSaysWhy) {
  const QTemporaryDir home;
  for (const char* variable : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME"})
    qputenv(variable, home.path().toLocal8Bit());
  const TCtlResult r = RunCtlCaptured(GetParam().Args);
  EXPECT_EQ(r.Status, kExitUsage);
  EXPECT_TRUE(r.Out.isEmpty()) << r.Out.toStdString();
  EXPECT_EQ(r.Err.toStdString(), "zirv7ctl: " + std::string(GetParam().ErrHas) + "\n");
  EXPECT_TRUE(QDir(home.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
}

INSTANTIATE_TEST_SUITE_P(
    Ctl, CtlUsageTest,
    testing::Values(
        TUsageCase{"ports_with_an_argument", {"ports", "extra"}, "ports: takes no arguments"},
        TUsageCase{"link_without_device", {"link", "COM3"}, "link: expects COMn DEVICE; see 'zirv7ctl link --help'"},
        TUsageCase{"link_with_a_third", {"link", "COM3", "ttyUSB0", "x"}, "link: unexpected argument 'x'"},
        TUsageCase{"unlink_of_nothing_named", {"unlink"}, "unlink: expects COMn; see 'zirv7ctl unlink --help'"},
        TUsageCase{"unlink_of_no_com_name", {"unlink", "com3"}, "com3: not a port name of the tool (COM1 to COM32)"},
        TUsageCase{"step_without_port", {"step", "--step", "5"}, "step: --port and --step are required"},
        TUsageCase{"step_with_an_empty_port", {"step", "--port", "", "--step", "5"}, "step: --port and --step are required"},
        TUsageCase{"step_runs_beyond", {"step", "--port", "COM9", "--step", "5", "--runs", "1001"},
                   "step: --runs must be a whole number from 1 to 1000"},
        TUsageCase{"step_zero", {"step", "--port", "COM9", "--step", "0"}, "step: --step must not be 0"},
        TUsageCase{"compare_without_files", {"compare", "--port", "COM9", "--step", "5"},
                   "compare: expects A.pset B.pset ...; see 'zirv7ctl compare --help'"},
        TUsageCase{"history_last_zero", {"history", "--last", "0"},
                   "history: --last must be a whole number from 1 to 1000000000"},
        TUsageCase{"show_without_runs", {"show"}, "show: expects RUN...; see 'zirv7ctl show --help'"},
        TUsageCase{"show_a_second_run_no_number", {"show", "1", "x"}, "show: 'x' is not a run number"},
        TUsageCase{"suggest_mismatch_beyond", {"suggest", "--from-history", "1", "--mismatch", "91"},
                   "suggest: --mismatch must be a number from 0 to 90"},
        TUsageCase{"suggest_more_runs_no_number", {"suggest", "--from-history", "1", "#x"},
                   "suggest: '#x' is not a run number"},
        TUsageCase{"params_without_port", {"params"}, "params: --port is required"},
        TUsageCase{"save_without_file", {"save", "--port", "COM9"}, "save: expects FILE; see 'zirv7ctl save --help'"},
        TUsageCase{"write_without_port", {"write", "a.pset"}, "write: --port is required"},
        TUsageCase{"diff_of_three", {"diff", "a", "b", "c"}, "diff: unexpected argument 'c'"},
        TUsageCase{"backups_finish_no_number", {"backups", "--finish", "x"},
                   "backups: 'x' is not a backup number (see 'zirv7ctl backups')"},
        TUsageCase{"restore_backup_zero", {"restore", "--port", "COM9", "#0"},
                   "restore: '#0' is not a backup number (see 'zirv7ctl backups')"},
        TUsageCase{"watch_without_port", {"watch", "--every", "0"}, "watch: --port is required"},
        TUsageCase{"watch_with_an_argument", {"watch", "--port", "COM9", "x"}, "watch: takes no arguments"},
        TUsageCase{"watch_every_negative", {"watch", "--port", "COM9", "--every", "-1"},
                   "watch: --every must be a whole number from 0 to 3600000"},
        TUsageCase{"watch_for_no_duration", {"watch", "--port", "COM9", "--for", "5x"},
                   "watch: --for must be a duration from 0.001 to 1000000 s: seconds, or a number with ms, s, m "
                   "or h (30s, 5m)"},
        TUsageCase{"watch_for_nothing", {"watch", "--port", "COM9", "--for", "0s"},
                   "watch: --for must be a duration from 0.001 to 1000000 s: seconds, or a number with ms, s, m "
                   "or h (30s, 5m)"},
        TUsageCase{"watch_csv_and_json_on_standard_output", {"watch", "--port", "COM9", "--csv", "-", "--json"},
                   "--csv -: --json and the CSV both want standard output; write the CSV to a file"},
        TUsageCase{"track_without_speed", {"track", "--port", "COM9"}, "track: --port and --speed are required"},
        TUsageCase{"track_speed_zero", {"track", "--port", "COM9", "--speed", "0"}, "track: --speed must not be 0"},
        TUsageCase{"track_speed_beyond_the_oscillator", {"track", "--port", "COM9", "--speed", "2940001"},
                   "track: --speed must be a whole number from -2940000 to 2940000"},
        TUsageCase{"track_for_beyond", {"track", "--port", "COM9", "--speed", "100", "--for", "601"},
                   "track: --for must be a number from 0.1 to 600"},
        TUsageCase{"track_distance_zero", {"track", "--port", "COM9", "--speed", "100", "--distance", "0"},
                   "track: --distance must be a number from 1 to 1000000000"},
        TUsageCase{"track_picture_to_standard_output", {"track", "--port", "COM9", "--speed", "100", "--png", "-"},
                   "--png: '-' (standard output) is taken by --csv only; give a file name"},
        TUsageCase{"stop_without_port", {"stop"}, "stop: --port is required"},
        TUsageCase{"stop_with_an_argument", {"stop", "--port", "COM9", "now"}, "stop: takes no arguments"}),
    [](const testing::TestParamInfo<TUsageCase>& info) { return std::string(info.param.Name); });

// A duration as --for gives it to watch: seconds, or a number with its unit; read in
// milliseconds, a fraction of one rounded up.
TEST(CtlTable, DurationsReadAsMilliseconds) {
  const TCommand* watch = nullptr;
  for (const TCommand& command : kCommands)
    if (qstrcmp(command.Name, "watch") == 0) watch = &command;
  ASSERT_NE(watch, nullptr);
  struct TCase {
    const char* Text;
    qint64 Ms;
  } cases[] = {{"90", 90000}, {"1.5", 1500}, {"1500ms", 1500}, {"30s", 30000}, {"5m", 300000},
               {"2h", 7200000}, {"24h", 86400000}, {"0.0015", 2}, {" 10s ", 10000}, {"1000000", 1000000000}};
  for (const TCase& c : cases) {
    const TResult<TCommandArgs> args = ParseCommandArgs(*watch, {"--port", "COM9", "--for", c.Text});
    ASSERT_TRUE(args) << c.Text << ": " << args.Failure().Message.toStdString();
    EXPECT_EQ(args->DurationMs("for"), c.Ms) << c.Text;
  }
  const TResult<TCommandArgs> none = ParseCommandArgs(*watch, {"--port", "COM9"});
  ASSERT_TRUE(none);
  EXPECT_EQ(none->DurationMs("for"), std::nullopt);
  for (const char* bad : {"", "s", "-5", "5 s", "1e3", "5d", "1000001", "0.0009"})
    EXPECT_FALSE(ParseCommandArgs(*watch, {"--port", "COM9", "--for", bad})) << bad;
}

TEST(CtlConfirm, OnlyYesAgrees) {
  for (const auto& [answer, agrees] : std::initializer_list<std::pair<QString, bool>>{
           {"y\n", true}, {"YES\n", true}, {" yes \n", true}, {"\n", false}, {"", false},
           {"no\n", false}, {"yep\n", false}}) {
    QString input = answer, out, err;
    QTextStream o(&out), e(&err), i(&input);
    TCtlIo io{o, e, i};
    EXPECT_EQ(Confirm(io, QStringLiteral("Write?")), agrees) << answer.toStdString();
    // No terminal echoed the answer: the question's line is ended, so that what follows
    // (an error line above all) starts a line of its own.
    e.flush();
    EXPECT_EQ(err.toStdString(), "Write? [y/N] \n") << answer.toStdString();
  }
}

// A progress line is redrawn in place only on a terminal that can do it: TERM=dumb (Emacs's
// shell) and no TERM at all would show the control bytes as text.
TEST(CtlTerminal, RedrawsALineOnlyWhereTheTerminalCan) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master) | ::unlockpt(master), 0);
  QFile terminal(QString::fromLocal8Bit(::ptsname(master)));
  ASSERT_TRUE(terminal.open(QIODevice::WriteOnly));
  QTextStream onTerminal(&terminal);
  QString text;
  QTextStream onText(&text);
  const QByteArray saved = qgetenv("TERM");
  for (const auto& [term, redraws] : std::initializer_list<std::pair<const char*, bool>>{
           {"xterm-256color", true}, {"linux", true}, {"dumb", false}, {"", false}}) {
    qputenv("TERM", term);
    EXPECT_EQ(CanRedrawLine(onTerminal), redraws) << term;
    EXPECT_FALSE(CanRedrawLine(onText)) << term;
  }
  qputenv("TERM", saved);
  ::close(master);
}

}  // namespace
