// The board in motion without a command around it: the stream's columns and stamps, its
// summary, and moves of the simulated board's oscillator against values worked out by hand.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTemporaryDir>
#include <memory>
#include <QTimeZone>
#include <algorithm>
#include <array>
#include <cmath>
#include <thread>

#include "boardsession/move.h"
#include "boardsession/session.h"
#include "motion/track.h"
#include "protocol/transactions.h"
#include "sim/simulator.h"
#include "tests/simgate.h"

namespace {

TStatusSample Sample(double seconds, double error, double output) {
  TStatusSample s;
  s.Seconds = seconds;
  s.Time = QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9, 45), QTimeZone(3600));
  s.Status = {true, 1, error, -12.5, 250, 1998, 2000, output, 0, 29400};
  return s;
}

TEST(StatusStream, ColumnsAndStamps) {
  EXPECT_EQ(StatusCsvHeader(),
            "seconds,time,command,feedback,error,error_i,error_d,output,limit_state,servo_enabled,test_osc");
  struct TCase {
    const char* Name;
    double Seconds, Error, Output;
    const char* Csv;
    const char* Json;
  } cases[] = {
      {"stamps to the millisecond, the offset kept", 1.2345678, 2, 0.95,
       "1.235,2024-03-05T14:07:09.045+01:00,2000,1998,2,-12.5,250,0.95,0,1,29400",
       R"({"seconds":1.235,"time":"2024-03-05T14:07:09.045+01:00","command":2000,"feedback":1998,"error":2,)"
       R"("error_i":-12.5,"error_d":250,"output":0.95,"limit_state":0,"servo_enabled":1,"test_osc":29400})"},
      {"values as the board gave them, no exponent for small ones", 0, -0.0001, 1e-4,
       "0.000,2024-03-05T14:07:09.045+01:00,2000,1998,-0.0001,-12.5,250,0.0001,0,1,29400",
       R"({"seconds":0,"time":"2024-03-05T14:07:09.045+01:00","command":2000,"feedback":1998,"error":-0.0001,)"
       R"("error_i":-12.5,"error_d":250,"output":0.0001,"limit_state":0,"servo_enabled":1,"test_osc":29400})"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const TStatusSample s = Sample(c.Seconds, c.Error, c.Output);
    EXPECT_EQ(StatusCsvRow(s).toStdString(), c.Csv);
    EXPECT_EQ(StatusJsonLine(s).toStdString(), c.Json);
  }
}

TEST(StatusStream, SummaryKeepsRangesWithoutTheSamples) {
  struct TCase {
    const char* Name;
    std::vector<std::pair<double, double>> Samples;  // error, output; one a second
    int Failures;
    const char* Text;
  } cases[] = {
      {"none yet", {}, 2, "0 samples in 0.0 s (0.0 a second), 2 failed; error none, output none"},
      {"min, mean and max of each", {{-3, 10}, {1, -2}, {5, 1}}, 0,
       "3 samples in 2.0 s (1.5 a second), 0 failed; error min -3 mean 1.000 max 5, output min -2 mean 3.000 max 10"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TStreamSummary summary;
    for (size_t k = 0; k < c.Samples.size(); ++k) summary.Add(Sample(double(k), c.Samples[k].first, c.Samples[k].second));
    for (int f = 0; f < c.Failures; ++f) summary.AddFailure();
    EXPECT_EQ(SummaryText(summary).toStdString(), c.Text);
  }
}

// The speed of a move from samples whose answers a busy machine took in late: a few early in a
// move where the board comes to each request a millisecond later than to the one before (so
// that the time it takes to read one grows), or four in five of the last two thirds by 5 to
// 17 ms. Their late stamps do not tilt the speed.
TEST(MoveSpeed, AnswersTakenInLateDoNotTiltIt) {
  constexpr double kSpeed = 4000, kEvery = 0.035, kCycle = 0.0004;
  struct TCase {
    const char* Name;
    double BoardLaterBy;           // s, each request read this much later than the one before
    int LateFrom, LateTo, OnTime;  // the samples taken in late, but every OnTime-th when not 0
    double LateBy, LateToo;        // s, by turns
  } cases[] = {
      {"a few early, the board later and later", 0.001, 2, 6, 0, 0.025, 0.025},
      {"four in five of the last two thirds", 0, 14, 42, 5, 0.005, 0.017},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::vector<TStatusSample> samples;
    for (int k = 0; k * kEvery < 1.5; ++k) {
      TStatusSample s;
      s.Seconds = k * kEvery;
      s.ReadAfterSeconds = s.Seconds + 0.00035;
      const double read = s.ReadAfterSeconds + k * c.BoardLaterBy;
      // The values of the last servo cycle before the reading.
      s.Status.Command = int(std::floor(kSpeed * std::floor(read / kCycle) * kCycle));
      const bool late = k >= c.LateFrom && k <= c.LateTo && (c.OnTime == 0 || k % c.OnTime != 0);
      s.ReadBySeconds = read + 0.002 + (late ? (k % 2 ? c.LateBy : c.LateToo) : 0);
      s.AnsweredSeconds = s.ReadBySeconds + 0.026;
      samples.push_back(s);
    }
    const TMoveFigures f = MoveFigures(samples, 0, 1.5, kSpeed);
    ASSERT_TRUE(f.Speed);
    EXPECT_NEAR(*f.Speed, kSpeed, 0.001 * kSpeed);
  }
}

// The paced simulated board and a session open on it; the session closes before the board.
struct TOpenBoard {
  TOpenBoard() {
    Sim.Start();
    Opened = Session.Open(QString::fromStdString(Sim.DevicePath()));
  }
  zirvsim::TBoardSimulator Sim;
  TBoardSession Session;
  TResult<void> Opened;
};

// The stream against the paced board: every "s" that went out is answered and its sample
// written, also the one asked for ahead while the sample before it was written; the stamps
// follow one another; and whatever way the stream ends, the line is quiet after it, so that the
// next exchange of the session reads its own answer.
TEST(StatusStream, EveryRequestIsAnsweredAndTheLineIsQuietAfterwards) {
  struct TCase {
    const char* Name;
    int EveryMs;
    qint64 ForMs;
    int StopAfter;   // the stop check says stop once this many samples were written; 0: never
    int FailWrite;   // the sample whose write fails; 0: none
    TWatchEnd End;
  } cases[] = {
      {"as fast as the line, until the time is up", 0, 400, 0, 0, TWatchEnd::Time},
      {"every 30 ms, until the time is up", 30, 400, 0, 0, TWatchEnd::Time},
      {"as fast as the line, stopped", 0, 5000, 4, 0, TWatchEnd::Stopped},
      {"as fast as the line, the third write fails", 0, 5000, 0, 3, TWatchEnd::Output},
      {"the first write fails", 0, 5000, 0, 1, TWatchEnd::Output},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TOpenBoard board;
    ASSERT_TRUE(board.Opened) << board.Opened.Failure().Message.toStdString();
    board.Sim.ClearReceived();
    std::vector<double> stamps;
    TWatchHooks hooks;
    hooks.Sample = [&](const TStatusSample& sample) -> TResult<void> {
      stamps.push_back(sample.Seconds);
      if (int(stamps.size()) == c.FailWrite) return TFailure{QStringLiteral("disk full"), {}};
      return {};
    };
    hooks.Stop = [&] { return c.StopAfter > 0 && int(stamps.size()) >= c.StopAfter; };
    const TWatchResult r = WatchStatus(board.Session, {.EveryMs = c.EveryMs, .ForMs = c.ForMs}, hooks);
    EXPECT_EQ(r.End, c.End);
    EXPECT_EQ(r.Summary.Failures(), 0);
    // Every request the stream sent has reached the board: the one asked ahead of a sample whose
    // write failed too, which is answered and not written.
    const size_t sent = stamps.size() + (c.FailWrite ? 1 : 0);
    QElapsedTimer waited;
    waited.start();
    while (board.Sim.ReceivedCommands().size() < sent && waited.elapsed() < 2000) QThread::msleep(1);
    const std::vector<std::string> asked = board.Sim.ReceivedCommands();
    EXPECT_EQ(asked, std::vector<std::string>(sent, "s"));
    EXPECT_EQ(r.Summary.Samples(), int(stamps.size()));
    if (c.FailWrite) {
      EXPECT_EQ(int(stamps.size()), c.FailWrite);
    }
    if (c.StopAfter) {
      EXPECT_LE(int(stamps.size()), c.StopAfter + 1);
    }
    EXPECT_FALSE(stamps.empty());
    // No sample goes out before its time: a period after the one before began, or later.
    for (size_t k = 1; k < stamps.size(); ++k) {
      EXPECT_GT(stamps[k], stamps[k - 1]);
      EXPECT_GE(stamps[k], double(k) * c.EveryMs / 1000.0);
    }
    // The next exchange reads its own answer, not one left on its way.
    zirvsim::TStatusOverride mark;
    mark.Command = 123456;
    board.Sim.SetStatusOverride(mark);
    const TResult<TPIDStatus> next = ReadStatusNow(board.Session);
    ASSERT_TRUE(next) << next.Failure().Message.toStdString();
    EXPECT_EQ(next->Command, 123456);
    const TResult<void> read = board.Session.Read();
    EXPECT_TRUE(read) << read.Failure().Message.toStdString();
  }
}

// Lines left from an earlier answer, still on the line when the next "s" went out, are not read
// as the next answer: a board that sends a line more, once or every time, costs no sample;
// an answer that does not read costs its own sample only. The stream ends on a count of
// samples, not on a clock a loaded machine stretches.
TEST(StatusStream, LinesLeftFromAnEarlierAnswerAreNotReadAsTheNext) {
  constexpr int kSamples = 6;
  const std::vector<std::string> status = {"command: 777", "feedback: 775", "error: 2",
                                           "error_i: 0",   "error_d: 0",    "output: 1.5",
                                           "limit_state: 0", "servo enabled: 1", "test_osc: 0"};
  auto with = [&](std::vector<std::string> lines, std::vector<std::string> more) {
    lines.insert(lines.end(), more.begin(), more.end());
    return lines;
  };
  struct TCase {
    const char* Name;
    std::vector<std::string> FirstAnswer;  // the answer to the first "s"; empty: the board's own
    zirvsim::TFault Fault;
    int Failures;
    const char* Failure;  // what the failed sample says
  } cases[] = {
      {"the first answer two lines longer", with(status, {"extra: 1", "extra: 2"}), zirvsim::TFault::None, 0, ""},
      {"every answer a line longer", {}, zirvsim::TFault::ExtraLines, 0, ""},
      {"the first answer without its first tag", with({"777"}, {status.begin() + 1, status.end()}),
       zirvsim::TFault::None, 1, "does not read as the board's status"},
      {"the first answer cut short", {status.begin(), status.begin() + 5}, zirvsim::TFault::None, 1,
       "no complete answer"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TOpenBoard board;
    ASSERT_TRUE(board.Opened) << board.Opened.Failure().Message.toStdString();
    board.Sim.SetFault(c.Fault, 1);
    if (!c.FirstAnswer.empty()) board.Sim.ScriptAnswer("s", c.FirstAnswer);
    std::vector<TPIDStatus> samples;
    std::vector<QString> failures;
    TWatchHooks hooks;
    hooks.Sample = [&](const TStatusSample& sample) -> TResult<void> {
      samples.push_back(sample.Status);
      return {};
    };
    hooks.SampleFailed = [&](const TFailure& why, int) { failures.push_back(why.Message); };
    hooks.Stop = [&] { return int(samples.size()) >= kSamples; };
    const TWatchResult r = WatchStatus(board.Session, {.EveryMs = 0, .ForMs = std::nullopt}, hooks);
    EXPECT_EQ(r.End, TWatchEnd::Stopped);
    ASSERT_EQ(int(failures.size()), c.Failures)
        << QStringList(failures.begin(), failures.end()).join(QStringLiteral("; ")).toStdString();
    if (c.Failures) {
      EXPECT_TRUE(failures.front().contains(QLatin1String(c.Failure))) << failures.front().toStdString();
    }
    // The stop is looked at before each request; one asked ahead of it still comes in.
    EXPECT_GE(int(samples.size()), kSamples);
    EXPECT_LE(int(samples.size()), kSamples + 1);
    if (!c.FirstAnswer.empty() && !c.Failures) {
      EXPECT_EQ(samples.front().Command, 777);
    }
    for (const TPIDStatus& s : samples) EXPECT_EQ(s.Enabled, 1);
  }
}

// A status whose request timed out comes late, a line at a time, just as the oscillator is told
// to stop: the stop reads its own "(o)" behind those lines, sent once, rather than taking each
// of them for a failed answer until its attempts run out.
TEST(MoveStop, ReadsItsOwnAnswerBehindALateStatus) {
  TOpenBoard board;
  ASSERT_TRUE(board.Opened) << board.Opened.Failure().Message.toStdString();
  board.Sim.ClearReceived();
  board.Sim.DelayReading("s", {0.3});
  // A machine so busy that the status came in whole after all leaves the line quiet: nothing
  // to show then.
  if (ReadStatusNow(board.Session, 100)) return;
  const TResult<void> stopped = StopOscillator(board.Session);
  EXPECT_TRUE(stopped) << stopped.Failure().Message.toStdString();
  EXPECT_EQ(board.Sim.ReceivedCommands(), (std::vector<std::string>{"s", "o 0"}));
}

// A board on a motor without friction or noise, paced as the real line.
class MotionTest : public testing::Test {
 protected:
  void Start(const zirvsim::TMotorConstants& motor, zirvsim::TBoardParams gains) {
    ASSERT_TRUE(FHome.isValid());
    qputenv("XDG_DATA_HOME", FHome.path().toLocal8Bit());
    FSim = std::make_unique<zirvsim::TBoardSimulator>(
        zirvsim::TSimOptions{.Pacing = true, .EepromFile = {}, .ReplyDelayMs = 2, .Motor = motor});
    FSim->SetParams(gains);
    FSim->Start();
    FSession = std::make_unique<TBoardSession>();
    const TResult<void> opened = FSession->Open(QString::fromStdString(FSim->DevicePath()));
    ASSERT_TRUE(opened) << opened.Failure().Message.toStdString();
    FStore = std::make_unique<TRunStore>();
    ASSERT_TRUE(FStore->Open(FHome.filePath("runs.sqlite")));
  }

  TTrackReport Track(TTrackRequest request, TTrackHooks hooks = {}) {
    return RunTrack(*FSession, *FStore, request, hooks);
  }

  // Returns the last oscillator command the board received ("o 0").
  std::string LastOscillatorCommand() const {
    const std::vector<std::string> received = FSim->ReceivedCommands();
    for (auto c = received.rbegin(); c != received.rend(); ++c)
      if (c->rfind("o ", 0) == 0) return *c;
    return {};
  }

  void Stop() {
    FSession.reset();
    FStore.reset();
    FSim.reset();
  }

  QTemporaryDir FHome;
  std::unique_ptr<zirvsim::TBoardSimulator> FSim;
  std::unique_ptr<TBoardSession> FSession;
  std::unique_ptr<TRunStore> FStore;
};

zirvsim::TMotorConstants Frictionless(double gain) {
  return {.CountsPerSecondPerPercent = gain, .TimeConstant = 0.015, .FrictionPercent = 0, .NoisePercent = 0};
}

zirvsim::TBoardParams POnly(double p) {
  zirvsim::TBoardParams gains;
  gains.P = p;
  gains.I = gains.D = 0;
  return gains;
}

// With P alone and no friction, the motor at speed v needs v / gain % of drive, which only
// P x error gives: the following error is v / (gain x P), whichever way it moves. The speed is
// the window's units times 10, as "o <round(2940000 / V)>" promises, also when the board comes
// to each request a millisecond later than to the one before (as a busy computer's late sends
// or a board's busy main loop make it): a speed timed by when the requests went out would
// come out 2 % high.
TEST_F(MotionTest, FollowingErrorWithPAloneIsSpeedOverGainTimesP) {
  struct TCase {
    double Gain, P;
    int Speed;
    double Error;  // 10 x Speed / (Gain x P)
    double ReadLaterBy;  // s, each request read this much later than the one before
  } cases[] = {{2000, 0.2, 400, 10, 0}, {5000, 0.1, -500, -10, 0}, {2000, 0.5, 300, 3, 0}, {2000, 0.2, 400, 10, 0.001}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "gain " << c.Gain << ", P " << c.P << ", speed " << c.Speed << ", later by "
                                    << c.ReadLaterBy);
    Start(Frictionless(c.Gain), POnly(c.P));
    if (HasFatalFailure()) return;
    std::vector<double> late(100);
    for (size_t k = 0; k < late.size(); ++k) late[k] = double(k) * c.ReadLaterBy;
    FSim->DelayReading("s", late);
    const TTrackReport r = Track({.Speed = c.Speed, .ForSeconds = 1.5, .Distance = 1e6, .FwdRev = false, .Ripple = false, .Apply = false, .CommandLine = {}});
    ASSERT_TRUE(r.Before) << (r.Failure ? r.Failure->Message.toStdString() : "");
    const TMoveFigures& f = r.Before->Legs.at(0).Figures;
    ASSERT_TRUE(f.SettleSeconds);
    EXPECT_NEAR(f.Error.Mean, c.Error, 0.25);
    ASSERT_TRUE(f.Speed);
    EXPECT_NEAR(*f.Speed, 10.0 * c.Speed, 0.01 * 10 * std::abs(c.Speed));
    EXPECT_EQ(LastOscillatorCommand(), "o 0");
    Stop();
  }
}

// One sample that a busy machine keeps waiting (here its answer held back 400 ms) is no
// measure of the next: while the move has time left for a sample as short as the shortest one
// so far, it is sampled on.
TEST_F(MotionTest, OneSlowSampleDoesNotEndTheSampling) {
  Start(Frictionless(2000), POnly(0.2));
  if (HasFatalFailure()) return;
  int asked = 0;
  std::thread releaser;
  TTrackHooks hooks;
  hooks.Stop = [&]() -> std::optional<TFailure> {
    // Asked before the move starts and before each of its samples: the second one's answer is held.
    if (++asked == 3) {
      FSim->HoldAnswerTo("s");
      releaser = std::thread([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        FSim->ReleaseAnswers();
      });
    }
    return std::nullopt;
  };
  const TTrackReport r = Track({.Speed = 400, .ForSeconds = 0.8, .Distance = 1e6, .FwdRev = false, .Ripple = false, .Apply = false, .CommandLine = {}}, hooks);
  if (releaser.joinable()) releaser.join();
  ASSERT_TRUE(r.Before) << (r.Failure ? r.Failure->Message.toStdString() : "");
  const TTrackLeg& leg = r.Before->Legs.at(0);
  // The samples: the one before the move, then the move's (and those after its stop).
  const std::vector<TStatusSample>& samples = r.Before->Samples;
  ASSERT_GT(samples.size(), 3u);
  const TStatusSample& held = samples[2];
  double shortest = INFINITY;
  int after = 0;
  for (size_t k = 1; k < samples.size() && samples[k].Seconds <= leg.StopSeconds; ++k) {
    shortest = std::min(shortest, samples[k].AnsweredSeconds - samples[k].Seconds);
    after += k > 2;
  }
  // A machine so busy that the held answer came too near the move's end leaves nothing to count.
  if (held.AnsweredSeconds + 2 * shortest < leg.StopSeconds) {
    EXPECT_GE(after, 1);
  }
}

// FF1 predicted by the loop law from the moves with the board's values, written, and measured
// again: the following error comes out as predicted, in each direction, with and without
// friction (which FF1 carries at the speed measured, as the loop law sees no difference).
TEST_F(MotionTest, FeedForwardPredictionIsMetOnTheBoard) {
  struct TCase {
    double Friction;
    int Speed;
    bool FwdRev;
  } cases[] = {{0, 400, false}, {2, 300, true}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "friction " << c.Friction << ", speed " << c.Speed);
    zirvsim::TMotorConstants motor = Frictionless(2000);
    motor.FrictionPercent = c.Friction;
    Start(motor, POnly(0.2));
    if (HasFatalFailure()) return;
    const TTrackReport r = Track({.Speed = c.Speed, .ForSeconds = 1.5, .Distance = 1e6, .FwdRev = c.FwdRev, .Ripple = false, .Apply = true, .CommandLine = {}});
    ASSERT_TRUE(r.FeedForward) << r.FeedForwardNote.toStdString();
    ASSERT_TRUE(r.After) << (r.Failure ? r.Failure->Message.toStdString() : "");
    ASSERT_EQ(r.After->Legs.size(), c.FwdRev ? 2u : 1u);
    for (size_t i = 0; i < r.After->Legs.size(); ++i) {
      EXPECT_GT(std::abs(r.Before->Legs[i].Figures.Error.Mean), 3.0);
      // The loop law predicts the error in fractions of a count; the board reads it in whole
      // counts of an encoder, and a mean of those lies up to half a count off a sub-count error
      // (the axis a fraction ahead reads -1 or 0). Both means carry that: the one before, from
      // which FF1 and its prediction are worked out, and the one after. With their scatter, the
      // prediction is met within a count and a half.
      EXPECT_NEAR(r.After->Legs[i].Figures.Error.Mean, r.FeedForward->Errors[i], 1.5);
    }
    EXPECT_TRUE(r.Kept) << r.Worse.join(", ").toStdString();
    // The way back ends on the board's own command, not on a clock: wherever it ends, it is
    // nowhere near as far as the way out went.
    if (c.FwdRev) {
      const double out = std::abs(r.After->Legs[0].Figures.Travel);
      EXPECT_LT(std::abs(r.After->EndCommand - r.After->StartCommand), out / 4);
    }
    EXPECT_EQ(FSim->Params().FeedForward1, r.FeedForward->FF1);
    EXPECT_EQ(LastOscillatorCommand(), "o 0");
    Stop();
  }
}

}  // namespace

