// The board's command transactions against the simulated board and its fault modes.

#include <QTest>
#include <QThread>
#include <QTimer>

#include "globals/errors.h"
#include "protocol/transactions.h"
#include "serial/linechannel.h"
#include "serial/portlink.h"
#include "sim/simulator.h"
#include "tests/simgate.h"

using zirvsim::TFault;
using TStrings = std::vector<std::string>;

enum class TKind { Status, Params, Step, Set };

// The simulated board's ticks per servo cycle, which the step test's wait follows.
constexpr int kBoardTicks = 4;

Q_DECLARE_METATYPE(TFault)
Q_DECLARE_METATYPE(TKind)

class TTransactionsTest : public QObject {
  Q_OBJECT

  std::unique_ptr<zirvsim::TBoardSimulator> FSim;
  std::unique_ptr<TPortLink> FLink;
  TLineChannel* FChannel = nullptr;  // FLink's channel, valid from init to cleanup
  QList<QPair<QString, TColor>> FLog;

  // Runs one transaction of kind; returns whether it succeeded by that kind's own measure.
  bool Run(TKind kind) {
    TPIDStatus s;
    TPIDParams p;
    double echoed = 0;
    if (kind == TKind::Status) return ReadStatus(*FChannel, s), s.Valid;
    if (kind == TKind::Params) return ReadParameters(*FChannel, p), p.Valid;
    if (kind == TKind::Step) return StepResponseExchange(*FChannel, 0, 100, kBoardTicks).size() == 199;
    return SetBoardValue(*FChannel, "p", "(p)", 0.5, echoed) && echoed == 0.5;
  }

 private slots:
  void init() {
    FLog.clear();
    const zirvsim::TSimOptions unpaced{.Pacing = false, .EepromFile = {}};
    FSim = std::make_unique<zirvsim::TBoardSimulator>(unpaced);
    FSim->Start();
    FLink = std::make_unique<TPortLink>(
        [this](const QString& text, TColor c) { FLog.append({text, c}); });
    FChannel = &FLink->Channel;
    FLink->Connect(QString::fromStdString(FSim->DevicePath()));
  }
  void cleanup() {
    FLink.reset();  // before the simulator's side goes away
    FChannel = nullptr;
  }

  // The number text on the wire and the value the board echoes (NaN: the set fails). The
  // answer is the board's own (""), a scripted line, or none ("-").
  void setCommands_data() {
    QTest::addColumn<QString>("wire");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<double>("echoed");
    QTest::newRow("zero") << "o 0" << "" << 0.0;
    QTest::newRow("integer") << "m 95" << "" << 95.0;
    QTest::newRow("E form") << "i 1E-5" << "" << 1e-5;
    QTest::newRow("board rounds") << "x 2.5" << "" << 2.0;
    QTest::newRow("no answer") << "p 0.5" << "-" << qQNaN();
    QTest::newRow("another tag") << "p 0.5" << "(i) 0.5" << qQNaN();
  }
  void setCommands() {
    QFETCH(QString, wire);
    QFETCH(QString, answer);
    QFETCH(double, echoed);
    const QString letter = wire.left(1);
    if (answer == "-") FSim->SetFault(TFault::NoAnswer);
    if (answer.size() > 1) FSim->ScriptAnswer(letter.toStdString(), {answer.toStdString()});
    double got = -1;
    QCOMPARE(SetBoardValue(*FChannel, letter, "(" + letter + ")", wire.mid(2).toDouble(), got),
             !qIsNaN(echoed));
    QCOMPARE(got, qIsNaN(echoed) ? -1 : echoed);
    QCOMPARE(FSim->ReceivedCommands(), TStrings{wire.toStdString()});
    QCOMPARE(FLog.contains({"Timeout", clRed}), answer == "-");
    QVERIFY(!FChannel->FWaitRS232);
  }

  // Each "s" line feeds its own field, integers rounded half to even. A line without its tag
  // (none for line 9) ends the parse: later fields keep their values, the transaction marked.
  void statusLines_data() {
    QTest::addColumn<int>("badLine");
    for (int line = 0; line <= 9; ++line) QTest::addRow("line %d", line) << line;
  }
  void statusLines() {
    QFETCH(int, badLine);
    FSim->SetFault(TFault::MissingTag, badLine);
    FSim->SetStatusOverride({1002.5, 2003.5, 3.25, 4.5, -5.75, 6.125, 2.5, 3.5, -2.5});
    TPIDStatus s{true, -7, -7, -7, -7, -7, -7, -7, -7, -7};
    ReadStatus(*FChannel, s);
    QCOMPARE(s.Valid, badLine == 9);
    QCOMPARE(FChannel->FWaitRS232, badLine != 9);
    const double got[] = {double(s.Command), double(s.Feedback), s.Error,  s.ErrorI, s.ErrorD,
                          s.Output, double(s.LimitState), double(s.Enabled), double(s.TestOsc)};
    const double sent[] = {1002, 2004, 3.25, 4.5, -5.75, 6.125, 2, 4, -2};
    for (int line = 0; line < 9; ++line) QCOMPARE(got[line], line < badLine ? sent[line] : -7);
  }

  // A whole "l" answer fills every field from its own line; then line 9 without "(m)" leaves
  // the fields of lines 2 to 8 new and MaxOutput on as they were.
  void parameters() {
    TPIDParams p;
    const auto fields = [&p] {
      return QList<double>{double(p.Enabled), p.P, p.I, p.D, p.Deadband, p.MaxOutput, p.FF0,
                           p.FF1, p.FaultError, double(p.Multiplier), double(p.TicksPerServo),
                           double(p.HallTimeout), double(p.DoChargeElcos),
                           double(p.PhaseAdvance), double(p.SVMCycle)};
    };
    FSim->SetParams({1, 0.3, 0.004, 0.05, 2, 80, 0.6, 0.7, 900, 3, 5, 60, 1, 12, 2});
    ReadParameters(*FChannel, p);
    QCOMPARE(fields(), (QList<double>{1, 0.3, 0.004, 0.05, 2, 80, 0.6, 0.7, 900, 3, 5, 60, 1, 12,
                                      2}));
    FSim->SetParams({1, 0.25, 0.125, 0.0625, 3, 70, 1.5, 2.5, 800, 4, 6, 70, 0, 13, 3});
    FSim->SetFault(TFault::MissingTag, 9);
    ReadParameters(*FChannel, p);
    QVERIFY(!p.Valid && FChannel->FWaitRS232);
    QCOMPARE(fields(), (QList<double>{1, 0.25, 0.125, 0.0625, 3, 80, 1.5, 2.5, 900, 3, 5, 60, 1,
                                      12, 2}));
  }

  // Step pairs are read in order from line 4 up to the first line that lacks its tag; the
  // header and trailer lines, here with malformed numbers, are not examined.
  void stepAnswer_data() {
    QTest::addColumn<int>("badLine");
    QTest::addColumn<int>("samples");
    QTest::newRow("whole") << -1 << 199;
    QTest::newRow("line 100 without error") << 100 << 48;
    QTest::newRow("line 101 without output") << 101 << 48;
    QTest::newRow("first sample line") << 4 << 0;
    QTest::newRow("last output line") << 401 << 198;
  }
  void stepAnswer() {
    QFETCH(int, badLine);
    QFETCH(int, samples);
    TStrings lines(4, "header 1.2.3");
    for (int k = 0; k < 199; ++k)
      lines.insert(lines.end(), {"error: " + std::to_string(k), "output: " + std::to_string(-k)});
    lines.insert(lines.end(), 2, "trailer +-");
    if (badLine >= 0) lines[badLine] = "7";
    FSim->ScriptAnswer("r", lines);
    const QList<TStepSample> got = StepResponseExchange(*FChannel, 1, 50, kBoardTicks);
    QCOMPARE(got.size(), samples);
    for (int k = 0; k < got.size(); ++k) QVERIFY(got[k].Error == k && got[k].Output == -k);
    QCOMPARE(FSim->ReceivedCommands(), TStrings{"r1c50ok1"});
    QVERIFY(!FChannel->FWaitRS232);
  }

  // Another exchange that empties the received lines while the step test waits breaks its
  // answer: the lines that follow would parse (every line here carries both tags), but they
  // would be plotted as the answer's first samples, which the board never sent as such.
  void stepAnswerBrokenByAFlushGivesNoSamples() {
    FLink.reset();
    FSim = std::make_unique<zirvsim::TBoardSimulator>();  // paced: the answer takes a while
    FSim->Start();
    FLink = std::make_unique<TPortLink>([](const QString&, TColor) {});
    FChannel = &FLink->Channel;
    FLink->Connect(QString::fromStdString(FSim->DevicePath()));
    TStrings lines;
    for (int k = 0; k < 450; ++k) lines.push_back("error output: " + std::to_string(k));
    FSim->ScriptAnswer("r", lines);
    QTimer breaker;
    connect(&breaker, &QTimer::timeout, [&] {
      if (FChannel->LineBuf->size() < 20) return;
      breaker.stop();
      FChannel->FlushReceive();
    });
    breaker.start(1);
    QCOMPARE(StepResponseExchange(*FChannel, 0, 100, kBoardTicks).size(), 0);
    QVERIFY(!breaker.isActive());
  }

  // An answer left unread in the port, and lines left in the list, before a transaction are
  // thrown away, not counted as its answer: here 17 "l" lines would pass for the 9 of "s".
  void staleAnswerDiscarded() {
    FLink->Port.WriteStr(QStringLiteral("l\r\n"));
    // The answer reaches the port while no events are processed, so it waits there unread.
    for (int i = 0; i < 5000 && FSim->BytesSent() == 0; ++i) QThread::msleep(1);
    QThread::msleep(30);
    QVERIFY(FSim->BytesSent() > 0);
    FChannel->LineBuf->append(QStringLiteral("stale line\r"));
    FSim->SetStatusOverride({1, 2, 3, 4, 5, 6, 7, 1, 0});
    TPIDStatus s;
    ReadStatus(*FChannel, s);
    QVERIFY(s.Valid);
    QCOMPARE(s.Error, 3.0);
  }

  // Every transaction, run twice in a row under a fault mode that leaves the answer usable:
  // the second run also sees what the first left behind (a lone LF, noise, surplus lines).
  void usableAnswers_data() {
    QTest::addColumn<TKind>("kind");
    QTest::addColumn<TFault>("fault");
    QTest::addColumn<int>("param");
    const std::pair<const char*, TKind> kinds[] = {
        {"s", TKind::Status}, {"l", TKind::Params}, {"step", TKind::Step}, {"set", TKind::Set}};
    for (const auto& [name, kind] : kinds) {
      QTest::addRow("%s: CR LF", name) << kind << TFault::CrLf << 0;
      QTest::addRow("%s: noise", name) << kind << TFault::Garbage << 8;
      QTest::addRow("%s: long noise", name) << kind << TFault::Garbage << 200;
      // A set answer is complete at its first CR; surplus lines may or may not have come.
      if (kind != TKind::Set) QTest::addRow("%s: surplus", name) << kind << TFault::ExtraLines << 1;
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

  // Short or missing answers: the waits give up silently. "s" and "l" leave the transaction
  // marked, so the next waits 1001 polls first; the step exchange neither waits nor marks.
  void answersTooShortOrMissing() {
    FSim->SetFault(TFault::CutShort, 1);  // eight status lines
    quint64 start = TLineChannel::PollCount();
    QVERIFY(!Run(TKind::Status));
    QCOMPARE(TLineChannel::PollCount() - start, quint64(500));
    QVERIFY(FChannel->FWaitRS232);
    FSim->SetFault(TFault::NoAnswer);
    start = TLineChannel::PollCount();
    QVERIFY(!Run(TKind::Params));
    QCOMPARE(TLineChannel::PollCount() - start, quint64(1001 + 500));
    QVERIFY(FChannel->FWaitRS232);
    start = TLineChannel::PollCount();
    QVERIFY(!Run(TKind::Step));
    QCOMPARE(TLineChannel::PollCount() - start, quint64(3000));
    QCOMPARE(FLog.size(), 11);  // the three commands and eight lines; no "Timeout"
  }

  // The step-test wait in polls: the specified 3000 where a board at 4 ticks per servo cycle
  // answers within them, and beyond that as long as the board's cycles and the 404 lines at
  // 57600 baud take, over the whole range of "Prediv:".
  void stepWaitCoversTheBoard_data() {
    QTest::addColumn<int>("prediv");
    QTest::addColumn<int>("ticks");
    QTest::addColumn<int>("polls");
    QTest::newRow("prediv 0, the usual ticks") << 0 << 4 << 3000;
    QTest::newRow("prediv 2, the usual ticks") << 2 << 4 << 3000;
    QTest::newRow("prediv 12, 10 ticks") << 12 << 10 << -1;
    QTest::newRow("prediv 31") << 31 << 4 << -1;
    QTest::newRow("prediv 50") << 50 << 4 << -1;
    QTest::newRow("prediv 50, 100 ticks") << 50 << 100 << -1;
  }
  void stepWaitCoversTheBoard() {
    QFETCH(int, prediv);
    QFETCH(int, ticks);
    QFETCH(int, polls);
    const int waited = StepAnswerPolls(prediv, ticks);
    if (polls > 0) {
      QCOMPARE(waited, polls);
      return;
    }
    // 199 samples of prediv + 1 cycles of ticks x 100 us, and 404 lines of up to 32 bytes.
    const double boardMs = 199.0 * (prediv + 1) * ticks * 0.1 + 404 * 32 * 1000.0 / 5760;
    QVERIFY2(waited >= boardMs, qPrintable(QStringLiteral("%1 polls for %2 ms").arg(waited).arg(boardMs)));
  }

  // A malformed number on an examined line is a conversion error that ends the transaction,
  // still marked (the step exchange never marks); "l" lines 0 and 1 are not examined.
  void malformedNumber() {
    const std::tuple<TKind, int, bool> rows[] = {
        {TKind::Status, 2, true}, {TKind::Params, 16, true}, {TKind::Set, 0, true},
        {TKind::Step, 50, true},  {TKind::Params, 0, false}, {TKind::Params, 1, false}};
    for (const auto& [kind, line, raises] : rows) {
      FSim->SetFault(TFault::MalformedNumber, line);
      FChannel->FWaitRS232 = false;
      try {
        QVERIFY(Run(kind) && !raises);
      } catch (const EConvertError& e) {
        QCOMPARE(e.Message(), QString("'1.2.3' is not a valid floating point value"));
        QVERIFY(raises);
      }
      QCOMPARE(FChannel->FWaitRS232, raises && kind != TKind::Step);
    }
  }
};

QTEST_MAIN(TTransactionsTest)
#include "transactions_test.moc"
