// The board's command transactions against the simulated board over a pseudo-terminal: what
// goes on the wire, how the answers fill the records, and how each transaction copes with the
// board's fault modes (short, long, broken and missing answers, CR LF ends, noise).

#include <QTest>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "globals/errorreport.h"
#include "globals/errors.h"
#include "protocol/transactions.h"
#include "serial/comport.h"
#include "serial/linechannel.h"
#include "sim/simulator.h"

using zirvsim::TFault;

Q_DECLARE_METATYPE(TFault)

namespace {

// The four transactions, so that one table can run any of them.
enum class TKind { Status, Params, Step, Set };

// The value every set row sends and the one transaction runs with.
constexpr double kSetValue = 0.5;
constexpr int kStepPrediv = 0;
constexpr int kStepSize = 100;

// A logged line with its colour.
struct TLogEntry {
  QString Text;
  TColor Colour;
};

// Sentinel for fields a failed parse must not write.
constexpr double kUntouched = -777;

}  // namespace

Q_DECLARE_METATYPE(TKind)

class TTransactionsTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<zirvsim::TBoardSimulator> FSim;
  std::unique_ptr<TComPort> FPort;
  std::unique_ptr<TLineChannel> FChannel;
  std::vector<TLogEntry> FLog;
  quint64 FSendPoll = 0;  // PollCount() when the last command line was logged
  TErrorReporter FSaved;

  // Returns whether the log holds text in colour.
  bool Logged(const QString& text, TColor colour) const {
    for (const TLogEntry& e : FLog)
      if (e.Text == text && e.Colour == colour) return true;
    return false;
  }

  // Runs one transaction of kind; returns whether it succeeded by that kind's own measure.
  bool Run(TKind kind) {
    switch (kind) {
      case TKind::Status: {
        TPIDStatus s;
        ReadStatus(*FChannel, s);
        return s.Valid;
      }
      case TKind::Params: {
        TPIDParams p;
        ReadParameters(*FChannel, p);
        return p.Valid;
      }
      case TKind::Step:
        return StepResponseExchange(*FChannel, kStepPrediv, kStepSize).size() == 199;
      case TKind::Set: {
        double echoed = 0;
        return SetBoardValue(*FChannel, "p", "(p)", kSetValue, echoed) && echoed == kSetValue;
      }
    }
    return false;
  }

  // Nine "s" answer lines with the given values, in the board's line order.
  static std::vector<std::string> StatusLines(const std::vector<std::string>& values) {
    static const char* const tags[] = {"command", "feedback",      "error",   "error_i", "error_d",
                                       "output",  "limit_state", "servo enabled", "test_osc"};
    std::vector<std::string> lines;
    for (size_t i = 0; i < 9; ++i) lines.push_back(std::string(tags[i]) + ": " + values[i]);
    return lines;
  }

 private slots:
  void init() {
    FLog.clear();
    FSaved = SetErrorReporter([](const QString& m) { qWarning("reported: %s", qPrintable(m)); });
    zirvsim::TSimOptions options;
    options.Pacing = false;
    FSim = std::make_unique<zirvsim::TBoardSimulator>(options);
    FSim->Start();
    FPort = std::make_unique<TComPort>();
    FChannel = std::make_unique<TLineChannel>(*FPort, [this](const QString& text, TColor c) {
      FLog.push_back({text, c});
      if (c == clGreen) FSendPoll = TLineChannel::PollCount();
    });
    FChannel->CreateLineBuf();
    FPort->OnRxChar = [this](TComPort*, int) { FChannel->ComPort1RxChar(); };
    FPort->SetPort(QString::fromStdString(FSim->DevicePath()));
    FPort->SetConnected(true);
  }

  void cleanup() {
    FChannel.reset();
    FPort.reset();
    FSim.reset();
    SetErrorReporter(FSaved);
  }

  // Set commands: the number text on the wire, and the value the board echoes back.
  void setCommands_data() {
    QTest::addColumn<TFault>("fault");
    QTest::addColumn<QString>("letter");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("wire");
    QTest::addColumn<double>("echoed");
    QTest::newRow("zero written without point") << TFault::None << "o" << 0.0 << "o 0" << 0.0;
    QTest::newRow("integer value written without point")
        << TFault::None << "m" << 95.0 << "m 95" << 95.0;
    QTest::newRow("fraction with point") << TFault::None << "p" << 0.0125 << "p 0.0125" << 0.0125;
    QTest::newRow("tiny value in E notation") << TFault::None << "i" << 1e-5 << "i 1E-5" << 1e-5;
    QTest::newRow("large integer in fixed notation")
        << TFault::None << "f" << 2940000.0 << "f 2940000" << 2940000.0;
    QTest::newRow("board's rounding is what comes back")
        << TFault::None << "x" << 2.5 << "x 2.5" << 2.0;
    QTest::newRow("board answering another value returns that value")
        << TFault::SetAnswersDifferent << "p" << 0.5 << "p 0.5" << 1.5;
    QTest::newRow("CR LF answer end") << TFault::CrLf << "d" << 0.25 << "d 0.25" << 0.25;
  }

  void setCommands() {
    QFETCH(TFault, fault);
    QFETCH(QString, letter);
    QFETCH(double, value);
    QFETCH(QString, wire);
    QFETCH(double, echoed);
    FSim->SetFault(fault, 1);
    double got = -1;
    QVERIFY(SetBoardValue(*FChannel, letter, "(" + letter + ")", value, got));
    QCOMPARE(got, echoed);
    QCOMPARE(FSim->ReceivedCommands(), std::vector<std::string>{wire.toStdString()});
    QVERIFY(Logged(wire, clGreen));
    QVERIFY(!FChannel->FWaitRS232);
    QVERIFY(FChannel->LineBuf->isEmpty());
  }

  // Set answers that do not give a value: false, echoed untouched, the flag cleared.
  void setFailures_data() {
    QTest::addColumn<bool>("answer");
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("timeoutLogged");
    QTest::newRow("no answer logs Timeout") << false << "" << true;
    QTest::newRow("answer with another tag") << true << "(i) 0.5" << false;
    QTest::newRow("answer without a number") << true << "(p) ok" << false;
    QTest::newRow("board's parse error") << true << "?" << false;
  }

  void setFailures() {
    QFETCH(bool, answer);
    QFETCH(QString, line);
    QFETCH(bool, timeoutLogged);
    if (answer)
      FSim->ScriptAnswer("p", {line.toStdString()});
    else
      FSim->SetFault(TFault::NoAnswer);
    double echoed = 17;
    QVERIFY(!SetBoardValue(*FChannel, "p", "(p)", 0.5, echoed));
    QCOMPARE(echoed, 17.0);
    QCOMPARE(Logged("Timeout", clRed), timeoutLogged);
    QVERIFY(!FChannel->FWaitRS232);
  }

  // Each "s" line feeds its own field; integer fields round to nearest, ties to even.
  void statusFields_data() {
    QTest::addColumn<double>("intValue");
    QTest::addColumn<int>("rounded");
    QTest::newRow("2.5 rounds down to even") << 2.5 << 2;
    QTest::newRow("3.5 rounds up to even") << 3.5 << 4;
    QTest::newRow("-2.5 rounds to even") << -2.5 << -2;
    QTest::newRow("2.6 rounds up") << 2.6 << 3;
    QTest::newRow("-1.4 rounds toward zero") << -1.4 << -1;
  }

  void statusFields() {
    QFETCH(double, intValue);
    QFETCH(int, rounded);
    zirvsim::TStatusOverride o;
    // Distinct values per line, so that a field read from the wrong line shows.
    o.Command = intValue + 1000;
    o.Feedback = intValue + 2000;
    o.Error = 3.25;
    o.ErrorI = 4.5;
    o.ErrorD = -5.75;
    o.Output = 6.125;
    o.LimitState = intValue;
    o.Enabled = intValue + 7000;
    o.TestOsc = intValue + 8000;
    FSim->SetStatusOverride(o);
    TPIDStatus s;
    ReadStatus(*FChannel, s);
    QVERIFY(s.Valid);
    QVERIFY(!FChannel->FWaitRS232);
    QCOMPARE(s.Command, rounded + 1000);
    QCOMPARE(s.Feedback, rounded + 2000);
    QCOMPARE(s.Error, 3.25);
    QCOMPARE(s.ErrorI, 4.5);
    QCOMPARE(s.ErrorD, -5.75);
    QCOMPARE(s.Output, 6.125);
    QCOMPARE(s.LimitState, rounded);
    QCOMPARE(s.Enabled, rounded + 7000);
    QCOMPARE(s.TestOsc, rounded + 8000);
  }

  // A line without its tag ends the "s" parse: earlier fields hold new values, later ones
  // keep what they had, Valid stays false and the transaction stays marked.
  void statusStopsAtBadLine_data() {
    QTest::addColumn<int>("badLine");
    for (int line = 0; line < 9; ++line)
      QTest::addRow("tag missing on line %d", line) << line;
  }

  void statusStopsAtBadLine() {
    QFETCH(int, badLine);
    FSim->SetFault(TFault::MissingTag, badLine);
    zirvsim::TStatusOverride o;
    o.Command = o.Feedback = o.Error = o.ErrorI = o.ErrorD = o.Output = o.LimitState = o.Enabled =
        o.TestOsc = 11;
    FSim->SetStatusOverride(o);
    TPIDStatus s;
    s.Valid = true;
    s.Command = s.Feedback = s.LimitState = s.Enabled = s.TestOsc = -777;
    s.Error = s.ErrorI = s.ErrorD = s.Output = kUntouched;
    ReadStatus(*FChannel, s);
    QVERIFY(!s.Valid);
    QVERIFY(FChannel->FWaitRS232);
    // The fields in line order 0 to 8.
    const double inLineOrder[] = {double(s.Command),    double(s.Feedback), s.Error,
                                  s.ErrorI,             s.ErrorD,           s.Output,
                                  double(s.LimitState), double(s.Enabled),  double(s.TestOsc)};
    for (int line = 0; line < 9; ++line)
      QCOMPARE(inLineOrder[line], line < badLine ? 11.0 : kUntouched);
  }

  // "l" line 9 without "(m)": the fields of lines 2 to 8 are new, MaxOutput on are untouched.
  void paramsStopAtBadLine() {
    zirvsim::TBoardParams board;
    board.Enabled = 1;
    board.P = 0.25;
    board.I = 0.125;
    board.D = 0.0625;
    board.FeedForward0 = 1.5;
    board.FeedForward1 = 2.5;
    board.Deadband = 3;
    FSim->SetParams(board);
    FSim->SetFault(TFault::MissingTag, 9);
    TPIDParams p{true, -7, kUntouched, kUntouched, kUntouched, kUntouched, kUntouched,
                 kUntouched, kUntouched, kUntouched, -7, -7, -7, -7, -7, -7};
    ReadParameters(*FChannel, p);
    QVERIFY(!p.Valid);
    QVERIFY(FChannel->FWaitRS232);
    QCOMPARE(p.Enabled, 1);
    QCOMPARE(p.P, 0.25);
    QCOMPARE(p.I, 0.125);
    QCOMPARE(p.D, 0.0625);
    QCOMPARE(p.FF0, 1.5);
    QCOMPARE(p.FF1, 2.5);
    QCOMPARE(p.Deadband, 3.0);
    for (double v : {p.MaxOutput, p.FaultError}) QCOMPARE(v, kUntouched);
    for (int v : {p.Multiplier, p.TicksPerServo, p.HallTimeout, p.DoChargeElcos, p.PhaseAdvance,
                  p.SVMCycle})
      QCOMPARE(v, -7);
  }

  // A whole "l" answer fills every field from its own line.
  void paramsAllFields() {
    FSim->SetParams({1, 0.3, 0.004, 0.05, 2, 80, 0.6, 0.7, 900, 3, 5, 60, 1, 12, 2});
    TPIDParams p;
    ReadParameters(*FChannel, p);
    QVERIFY(p.Valid);
    QVERIFY(!FChannel->FWaitRS232);
    const QList<double> got = {double(p.Enabled),     p.P,
                               p.I,                   p.D,
                               p.Deadband,            p.MaxOutput,
                               p.FF0,                 p.FF1,
                               p.FaultError,          double(p.Multiplier),
                               double(p.TicksPerServo), double(p.HallTimeout),
                               double(p.DoChargeElcos), double(p.PhaseAdvance),
                               double(p.SVMCycle)};
    QCOMPARE(got, (QList<double>{1, 0.3, 0.004, 0.05, 2, 80, 0.6, 0.7, 900, 3, 5, 60, 1, 12, 2}));
  }

  // Step answers: samples up to the first line that lacks its tag.
  void stepStopsAtBadLine_data() {
    QTest::addColumn<int>("badLine");
    QTest::addColumn<int>("samples");
    QTest::newRow("line 100 without error: 48 samples") << 100 << 48;
    QTest::newRow("line 101 without output: pair 48 incomplete") << 101 << 48;
    QTest::newRow("first sample line bad: none") << 4 << 0;
    QTest::newRow("last output line bad") << 401 << 198;
    QTest::newRow("header lines not examined") << 3 << 199;
    QTest::newRow("trailer lines not examined") << 402 << 199;
  }

  void stepStopsAtBadLine() {
    QFETCH(int, badLine);
    QFETCH(int, samples);
    FSim->SetFault(TFault::MissingTag, badLine);
    QCOMPARE(StepResponseExchange(*FChannel, 1, 50).size(), samples);
    QCOMPARE(FSim->ReceivedCommands(), std::vector<std::string>{"r1c50ok1"});
    QVERIFY(!FChannel->FWaitRS232);
  }

  // A scripted step answer is read pairwise from line 4 in order.
  void stepSampleOrder() {
    std::vector<std::string> lines = {"h0", "h1", "h2", "h3"};
    for (int k = 0; k < 199; ++k) {
      lines.push_back("error: " + std::to_string(k));
      lines.push_back("output: " + std::to_string(-k));
    }
    lines.push_back("end 1.2.3");
    lines.push_back("cycles: x");
    FSim->ScriptAnswer("r", lines);
    const QList<TStepSample> samples = StepResponseExchange(*FChannel, 0, 1);
    QCOMPARE(samples.size(), 199);
    for (int k = 0; k < 199; ++k) {
      QCOMPARE(samples[k].Error, double(k));
      QCOMPARE(samples[k].Output, double(-k));
    }
  }

  // Lines the transactions do not examine may hold anything, even malformed numbers.
  void unexaminedLines_data() {
    QTest::addColumn<TKind>("kind");
    QTest::addColumn<int>("extraLines");
    QTest::addColumn<QString>("command");
    QTest::newRow("tenth status line malformed") << TKind::Status << 1 << "s";
    QTest::newRow("three surplus status lines malformed") << TKind::Status << 3 << "s";
    QTest::newRow("list lines 0 and 1 malformed") << TKind::Params << 0 << "l";
  }

  void unexaminedLines() {
    QFETCH(TKind, kind);
    QFETCH(int, extraLines);
    QFETCH(QString, command);
    std::vector<std::string> lines;
    if (kind == TKind::Status) {
      lines = StatusLines({"1", "2", "3", "4", "5", "6", "7", "1", "0"});
      lines.insert(lines.end(), extraLines, "junk 1.2.3");
    } else {
      lines = {"title 1.2.3", "version +-"};
      for (const char* tag : {"servo enabled:", "(p)", "(i)", "(d)", "(0)", "(1)", "(b)", "(m)",
                              "(f)", "(x)", "(t)", "(h)", "(g)", "(a)", "(c)"})
        lines.push_back(std::string(tag) + " 1");
    }
    FSim->ScriptAnswer(command.toStdString(), lines);
    QVERIFY(Run(kind));
    QVERIFY(!FChannel->FWaitRS232);
  }

  // Every transaction, run twice in a row under a fault mode that leaves the answer usable:
  // the second run also sees what the first left behind (a lone LF, noise, surplus lines).
  void usableAnswers_data() {
    QTest::addColumn<TKind>("kind");
    QTest::addColumn<TFault>("fault");
    QTest::addColumn<int>("param");
    const std::pair<const char*, TKind> kinds[] = {{"s", TKind::Status},
                                                   {"l", TKind::Params},
                                                   {"step", TKind::Step},
                                                   {"set", TKind::Set}};
    for (const auto& [name, kind] : kinds) {
      QTest::addRow("%s: plain CR ends", name) << kind << TFault::None << 0;
      QTest::addRow("%s: CR LF ends", name) << kind << TFault::CrLf << 0;
      QTest::addRow("%s: noise after each answer", name) << kind << TFault::Garbage << 8;
      QTest::addRow("%s: long noise after each answer", name) << kind << TFault::Garbage << 200;
      // A set answer is complete at its first CR; surplus lines may or may not have come.
      if (kind != TKind::Set)
        QTest::addRow("%s: surplus lines", name) << kind << TFault::ExtraLines << 1;
    }
  }

  void usableAnswers() {
    QFETCH(TKind, kind);
    QFETCH(TFault, fault);
    QFETCH(int, param);
    FSim->SetFault(fault, param);
    QVERIFY(Run(kind));
    QVERIFY(Run(kind));
    QVERIFY(!FChannel->FWaitRS232);
    QCOMPARE(FSim->ReceivedCommands().size(), size_t(2));
  }

  // An answer left unread in the port before a transaction is thrown away, not counted.
  void staleAnswerDiscarded() {
    FPort->WriteStr("l\r\n");
    // Let the answer reach the port without processing events, so that it waits there unread.
    for (int i = 0; i < 5000 && FSim->BytesSent() == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    QVERIFY(FSim->BytesSent() > 0);
    FChannel->LineBuf->append("stale line\r");
    TPIDStatus s;
    ReadStatus(*FChannel, s);
    QVERIFY(s.Valid);
  }

  // Eight status lines: the wait gives up after 500 polls and leaves the transaction marked;
  // the next one sends its command only after its idle wait of 1001 polls.
  void shortStatusBlocksNext() {
    FSim->SetFault(TFault::CutShort, 1);
    TPIDStatus s;
    quint64 start = TLineChannel::PollCount();
    ReadStatus(*FChannel, s);
    QCOMPARE(TLineChannel::PollCount() - start, quint64(500));
    QVERIFY(!s.Valid);
    QVERIFY(FChannel->FWaitRS232);
    QCOMPARE(FChannel->LineBuf->size(), 8);

    FSim->SetFault(TFault::None);
    start = TLineChannel::PollCount();
    ReadStatus(*FChannel, s);
    QCOMPARE(FSendPoll - start, quint64(1001));
    QVERIFY(s.Valid);
    QVERIFY(!FChannel->FWaitRS232);
  }

  // No answer at all: the line-count waits give up silently after their poll limits.
  void silentBoard_data() {
    QTest::addColumn<TKind>("kind");
    QTest::addColumn<int>("polls");
    QTest::addColumn<bool>("marked");
    QTest::newRow("status") << TKind::Status << 500 << true;
    QTest::newRow("parameters") << TKind::Params << 500 << true;
    QTest::newRow("step") << TKind::Step << 3000 << false;
  }

  void silentBoard() {
    QFETCH(TKind, kind);
    QFETCH(int, polls);
    QFETCH(bool, marked);
    FSim->SetFault(TFault::NoAnswer);
    const quint64 start = TLineChannel::PollCount();
    QVERIFY(!Run(kind));
    QCOMPARE(TLineChannel::PollCount() - start, quint64(polls));
    QCOMPARE(FChannel->FWaitRS232, marked);
    for (const TLogEntry& e : FLog) QCOMPARE(e.Colour, clGreen);
  }

  // A malformed number is a conversion error that ends the transaction, still marked.
  void malformedNumber_data() {
    QTest::addColumn<TKind>("kind");
    QTest::addColumn<int>("line");
    QTest::addColumn<bool>("marked");
    QTest::newRow("status line 2") << TKind::Status << 2 << true;
    QTest::newRow("parameter line 16") << TKind::Params << 16 << true;
    QTest::newRow("set answer") << TKind::Set << 0 << true;
    QTest::newRow("step error line") << TKind::Step << 50 << false;
  }

  void malformedNumber() {
    QFETCH(TKind, kind);
    QFETCH(int, line);
    QFETCH(bool, marked);
    FSim->SetFault(TFault::MalformedNumber, line);
    try {
      Run(kind);
      QFAIL("no conversion error");
    } catch (const EConvertError& e) {
      QCOMPARE(e.Message(), QString("'1.2.3' is not a valid floating point value"));
    }
    QCOMPARE(FChannel->FWaitRS232, marked);
  }
};

QTEST_MAIN(TTransactionsTest)
#include "transactions_test.moc"
