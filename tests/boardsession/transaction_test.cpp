// The write transaction against the simulated board, without a command around it: what it
// sends, how it reads the board's answers, and that its account says what the board holds.
#include <gtest/gtest.h>

#include "boardsession/transaction.h"
#include "parameters/paramtable.h"
#include "sim/simulator.h"
#include "tests/simgate.h"

namespace {

using TStrings = std::vector<std::string>;

// A journal in memory that can be told to refuse.
class TFakeJournal : public TBoardJournal {
 public:
  TResult<qint64> Begin(const TPIDParams& originals) override {
    if (RefuseBegin) return TFailure{QStringLiteral("refused"), {}};
    Kept.push_back(originals);
    return qint64(Kept.size());
  }
  TResult<void> Finish(qint64 id, const QString& outcome) override {
    if (RefuseFinish) return TFailure{QStringLiteral("database is locked"), {}};
    Outcomes.push_back(QStringLiteral("%1 %2").arg(id).arg(outcome).toStdString());
    return {};
  }
  bool RefuseBegin = false;
  bool RefuseFinish = false;
  std::vector<TPIDParams> Kept;
  TStrings Outcomes;
};

// A parameter set that changes every one of the fourteen rows.
TParamValues EveryRowChanged() { return {0.31, 0.0007, 0.0021, 2, 80, 0.3, 0.7, 900, 2, 5, 60, 1, 12, 2}; }

class TransactionTest : public testing::Test {
 protected:
  void SetUp() override {
    FSim.Start();
    FOriginal = FSim.Params();
    const TResult<void> opened = FSession.Open(QString::fromStdString(FSim.DevicePath()));
    ASSERT_TRUE(opened) << opened.Failure().Message.toStdString() << "\n" << opened.Failure().Explanation.toStdString();
    FSim.ClearReceived();
  }

  // The board's values with some rows changed (file key, value).
  TParamValues With(std::initializer_list<std::pair<const char*, double>> changes) {
    TParamValues values = ParamValuesOf(FSession.Board());
    for (const auto& [key, value] : changes) values[RowIndexOf(key)] = value;
    return values;
  }

  zirvsim::TBoardSimulator FSim{{.Pacing = false, .EepromFile = {}, .ReplyDelayMs = 0}};
  zirvsim::TBoardParams FOriginal;
  TBoardSession FSession;
  TFakeJournal FJournal;
};

TEST_F(TransactionTest, PutBackCoversAllFourteenValuesEveryDigit) {
  zirvsim::TBoardParams fine = FOriginal;
  fine.P = 0.12345678901234567;
  fine.FeedForward1 = 1.0 / 3;
  FSim.SetParams(fine);
  ASSERT_TRUE(FSession.Read());
  TWriteTransaction txn(FSession, &FJournal);
  ASSERT_TRUE(txn.Write(EveryRowChanged(), TValueText::Shown));
  EXPECT_EQ(FSim.Params().FeedForward1, 0.7);
  EXPECT_TRUE(txn.PutBack());
  EXPECT_EQ(FSim.Params(), fine);
  EXPECT_EQ(txn.Result().End, TTransactionEnd::PutBack);
  EXPECT_EQ(FSim.ReceivedCommands().back(), "l");  // checked with a read
  EXPECT_EQ(FJournal.Outcomes, TStrings{"1 put back"});
}

// What the board answers to a value decides how the transaction goes on.
TEST_F(TransactionTest, EchoesDecideWhetherTheWriteGoesOn) {
  struct TCase {
    const char* Name;
    TParamValues Target;
    std::function<void(zirvsim::TBoardSimulator&)> Board;
    TEcho Echo;        // of the first value sent
    bool Written;      // the write went through
    TTransactionEnd End;
    TStrings Sets;     // the set commands the board received
  } cases[] = {
      {"as_sent", With({{"P", 0.5}}), {}, TEcho::AsSent, true, TTransactionEnd::Open, {"p 0.5"}},
      // MaxOutput is a share of the drive: 100 is the board's known limit.
      {"limited", With({{"MaxOutput", 150}}), {}, TEcho::Limited, true, TTransactionEnd::Open, {"m 150"}},
      // Stored otherwise once: the write stops at P and puts it back.
      {"stored_otherwise_once", With({{"P", 0.5}, {"D", 0.002}}),
       [](auto& sim) { sim.ScriptAnswer("p", {"(p) 9.99"}); }, TEcho::Otherwise, false, TTransactionEnd::PutBack,
       {"p 0.5", "p 0.2"}},
      // A board that shifts every value: the put-back is stored otherwise too and not tried again.
      {"stored_otherwise_always", With({{"P", 0.5}, {"D", 0.002}}),
       [](auto& sim) { sim.SetFault(zirvsim::TFault::SetAnswersDifferent, 3); }, TEcho::Otherwise, false,
       TTransactionEnd::NotPutBack, {"p 0.5", "p 0.2"}},
      // A value sent below its known limit and stored as that limit is limited, not otherwise.
      {"deadband_below_zero", With({{"Deadband", -2}}), {}, TEcho::Limited, true, TTransactionEnd::Open, {"b -2"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    FSim.SetFault(zirvsim::TFault::None);
    FSim.SetParams(FOriginal);
    ASSERT_TRUE(FSession.Read());
    FSim.ClearReceived();
    if (c.Board) c.Board(FSim);
    TWriteTransaction txn(FSession, &FJournal);
    EXPECT_EQ(bool(txn.Write(c.Target, TValueText::Shown)), c.Written);
    ASSERT_FALSE(txn.LastWrite().empty());
    EXPECT_EQ(txn.LastWrite().front().Echo, c.Echo);
    EXPECT_EQ(txn.Result().End, c.End);
    TStrings sets;
    for (const std::string& cmd : FSim.ReceivedCommands())
      if (cmd.size() > 2 && cmd[1] == ' ') sets.push_back(cmd);
    EXPECT_EQ(sets, c.Sets);
    if (c.End == TTransactionEnd::NotPutBack) {
      EXPECT_EQ(DifferencesText(txn.Result().Left).toStdString(), "P 3.2 (was 0.2)");
      EXPECT_TRUE(txn.Result().Failure->Message.contains("the board holds P 3.5 where 0.5 was sent"));
    }
    FSim.SetFault(zirvsim::TFault::None);
    txn.PutBack();
  }
}

// A garbled answer during the put-back: the board is read again and the rest written; three in
// a row, and it gives up, saying what the board may still hold.
TEST_F(TransactionTest, PutBackTriesThreeTimesAfterGarbledAnswers) {
  for (int garbled : {1, 3}) {
    SCOPED_TRACE(garbled);
    TWriteTransaction txn(FSession, &FJournal);
    ASSERT_TRUE(txn.Write(With({{"FF1", 0.7}}), TValueText::Shown));
    FSim.ClearReceived();
    for (int i = 0; i < garbled; ++i) FSim.ScriptAnswer("1 0", {"noise"});
    EXPECT_EQ(txn.PutBack(), garbled < 3);
    int tries = 0;
    for (const std::string& c : FSim.ReceivedCommands()) tries += c == "1 0";
    EXPECT_EQ(tries, std::min(garbled + 1, 3));
    if (garbled == 3) {
      EXPECT_EQ(DifferencesText(txn.Result().Left).toStdString(), "FF1 unknown (was 0)");
      FSim.SetParams(FOriginal);
      ASSERT_TRUE(FSession.Read());
    }
  }
}

// The board goes away with a write on its way: the row's value is unknown, and the device that
// is gone is not written again.
TEST_F(TransactionTest, BoardGoneLeavesTheRowUnknown) {
  FSim.SetFault(zirvsim::TFault::HangUpAfter, 2);  // answers "p" and its check, then goes
  TWriteTransaction txn(FSession, &FJournal);
  ASSERT_TRUE(txn.Write(With({{"P", 0.5}}), TValueText::Shown));
  EXPECT_FALSE(txn.Write(With({{"P", 0.5}, {"I", 0.001}}), TValueText::Shown));
  EXPECT_EQ(txn.Result().End, TTransactionEnd::NotPutBack);
  EXPECT_EQ(OriginalValuesText(txn.Result().Left).toStdString(), "P=0.2 I=0.0005");
  EXPECT_EQ(DifferencesText(txn.Result().Left).toStdString(), "P 0.5 (was 0.2), I unknown (was 0.0005)");
  EXPECT_TRUE(FJournal.Outcomes.empty());  // the entry stays unfinished: the board is changed
}

// Trials in one transaction: one journal entry, only what changes is written, Undo brings the
// originals back and keeps the transaction open; the keep is journaled once.
TEST_F(TransactionTest, TrialsShareOneJournalEntry) {
  TWriteTransaction txn(FSession, &FJournal);
  ASSERT_TRUE(txn.Write(With({{"P", 0.5}, {"D", 0.002}}), TValueText::Shown));
  ASSERT_TRUE(txn.Write(With({{"P", 0.5}, {"D", 0.003}}), TValueText::Shown));
  ASSERT_TRUE(txn.Undo());
  EXPECT_TRUE(txn.IsOpen());
  EXPECT_EQ(FSim.Params(), FOriginal);
  ASSERT_TRUE(txn.Write(With({{"P", 0.4}}), TValueText::Shown));
  ASSERT_TRUE(txn.Keep());
  TStrings sets;
  for (const std::string& c : FSim.ReceivedCommands())
    if (c.size() > 2 && c[1] == ' ') sets.push_back(c);
  EXPECT_EQ(sets, (TStrings{"p 0.5", "d 0.002", "d 0.003", "p 0.2", "d 0.0015", "p 0.4"}));
  EXPECT_EQ(FJournal.Kept.size(), 1u);
  EXPECT_EQ(FJournal.Outcomes, TStrings{"1 kept"});
  EXPECT_EQ(txn.Result().End, TTransactionEnd::Kept);
  EXPECT_EQ(FSim.Params().P, 0.4);
}

// The journal and the stop check decide before anything is sent; a stop due at the keep puts
// back; a transaction left open is put back by its end; a finish that fails is told.
TEST_F(TransactionTest, NothingIsSentUnjournaledOrAfterAStop) {
  struct TCase {
    const char* Name;
    bool RefuseBegin, RefuseFinish;
    int StopAt;        // the stop check's call that says stop; 0: never
    bool Keep;         // keep (else leave the transaction to its end)
    TTransactionEnd End;
    bool JournalFailure;
    size_t Sets;
  } cases[] = {
      {"journal_refuses", true, false, 0, true, TTransactionEnd::Untouched, false, 0},
      {"stop_before_the_first_value", false, false, 1, true, TTransactionEnd::Untouched, false, 0},
      {"stop_at_the_keep", false, false, 2, true, TTransactionEnd::PutBack, false, 2},
      {"left_open", false, false, 0, false, TTransactionEnd::PutBack, false, 2},
      {"finish_refused", false, true, 0, true, TTransactionEnd::Kept, true, 1},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    FSim.SetParams(FOriginal);
    ASSERT_TRUE(FSession.Read());
    FSim.ClearReceived();
    TFakeJournal journal;
    journal.RefuseBegin = c.RefuseBegin;
    journal.RefuseFinish = c.RefuseFinish;
    int calls = 0;
    TTransactionHooks hooks;
    hooks.Stop = [&]() -> std::optional<TFailure> {
      if (++calls == c.StopAt) return TFailure{QStringLiteral("interrupted"), {}};
      return std::nullopt;
    };
    TTransactionResult result;
    {
      TWriteTransaction txn(FSession, &journal, hooks);
      (void)txn.Write(With({{"P", 0.5}}), TValueText::Shown);
      if (c.Keep) (void)txn.Keep();
      result = txn.Result();
      EXPECT_EQ(txn.IsOpen(), !c.Keep);
    }
    EXPECT_EQ(result.End, c.Keep ? c.End : TTransactionEnd::Open);
    EXPECT_EQ(result.JournalFailure.has_value(), c.JournalFailure);
    EXPECT_EQ(journal.Kept.size(), c.Sets == 0 ? 0u : 1u);
    size_t sets = 0;
    for (const std::string& cmd : FSim.ReceivedCommands()) sets += cmd.size() > 2 && cmd[1] == ' ';
    EXPECT_EQ(sets, c.Sets);
    if (c.End != TTransactionEnd::Kept) {
      EXPECT_EQ(FSim.Params(), FOriginal);
    }
  }
}

TEST(TransactionOpenTest, APortThatCannotOpenSaysWhy) {
  TBoardSession session;
  const TResult<void> opened = session.Open(QStringLiteral("/nonexistent/tty"));
  ASSERT_FALSE(opened);
  EXPECT_TRUE(opened.Failure().Message.startsWith("Unable to open com port")) << opened.Failure().Message.toStdString();
}

}  // namespace
