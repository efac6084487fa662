// The subcommand table: help, version, usage errors and exit codes.
#include <gtest/gtest.h>

#include <QFile>
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

TEST(CtlTable, EveryCommandAnswersHelp) {
  for (const TCommand& command : kCommands) {
    const TCtlResult r = RunCtlCaptured({QString::fromLatin1(command.Name), "--help"});
    EXPECT_EQ(r.Status, kExitOk) << command.Name;
    EXPECT_TRUE(r.Out.startsWith(QStringLiteral("Usage: zirv7ctl ") + command.Name)) << command.Name;
  }
}

// The usage line names every option the command takes: it is made from the parser's own
// options, so that none can be left out (suggest's once lacked --svg).
TEST(CtlTable, EveryUsageLineNamesEveryOption) {
  const QRegularExpression option(QStringLiteral("^\\s+(?:-\\w, )?(--[\\w-]+)"));
  for (const TCommand& command : kCommands) {
    const TCtlResult r = RunCtlCaptured({QString::fromLatin1(command.Name), "--help"});
    const QString usage = r.Out.section(u'\n', 0, 0);
    for (const QString& line : r.Out.split(u'\n')) {
      const QRegularExpressionMatch m = option.match(line);
      if (!m.hasMatch() || m.captured(1) == "--help") continue;
      EXPECT_TRUE(usage.contains(m.captured(1))) << command.Name << ": " << usage.toStdString()
                                                 << " lacks " << m.captured(1).toStdString();
    }
  }
  const QString suggest = RunCtlCaptured({"suggest", "--help"}).Out.section(u'\n', 0, 0);
  EXPECT_TRUE(suggest.contains("[--svg FILE]")) << suggest.toStdString();
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
