// The motor model's options for what real machines have, each against a response worked out
// by hand, and today's motors unchanged by them.
#include "sim/plant.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "sim/board.h"

using namespace zirvsim;

namespace {

constexpr double kPeriod = 4e-4;  // the default servo cycle

// A motor without friction and disturbance, with the given extras.
TMotorConstants Clean(TMotorConstants c = {}) {
  c.FrictionPercent = 0;
  c.NoisePercent = 0;
  return c;
}

uint64_t Fnv(const std::string& text) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : text) h = (h ^ c) * 1099511628211ull;
  return h;
}

// The answers of today's motors, recorded before the options existed: a step each way and the
// status after it. Any change to how a motor without the options moves shows here.
TEST(PlantOptionsTest, MotorsWithoutTheOptionsAnswerAsBefore) {
  const TMotorConstants motors[] = {{}, {500, 0.05, 2, 0.5}, {6000, 0.005, 0.3, 0.02}};
  const uint64_t expected[] = {0xdd84567e7e297a39ull, 0xc2369ed7920d5a76ull, 0xb9740dd074b38461ull,
                               0xcdd94f7734e3e269ull, 0x7e3c5c5772ea0e9cull, 0x02f2e319b80fd9e4ull};
  int n = 0;
  for (const TMotorConstants& motor : motors)
    for (const char* command : {"r0c200ok1", "r3c-150ok1"}) {
      TBoardModel board(3, motor);
      std::string all;
      for (const std::string& line : board.Answer(command)) all += line + "|";
      for (const std::string& line : board.Answer("s")) all += line + "|";
      EXPECT_EQ(Fnv(all), expected[n++]) << command;
    }
}

// The same for the machines the options made before the later ones existed: each kind keeps
// its answers when options are added. (The three whose motor reverses within a small step were
// recorded again when such a step came to keep the speed the motor gains past its reversal.)
TEST(PlantOptionsTest, EarlierOptionsAnswerAsBefore) {
  struct TCase {
    const char* Motor;
    uint64_t Expected;
  };
  const TCase cases[] = {
      {"lag=0.002,delay=1", 0x76c93ec72be1fd9aull},
      {"play=3", 0x426e5e2b53a45564ull},
      {"encnoise=1", 0x03bb966cf42eb436ull},
      {"breakaway=2,stribeck=100", 0xb9d9fe5390651102ull},
      {"resonance=80,damping=0.05,ratio=0.5", 0xe03303a4c39b12ceull},
      {"gain=500,tau=0.05,friction=2,noise=0.5,delay=2,play=1.5,encnoise=2", 0x8d95c19178ed2fc7ull},
  };
  for (const TCase& c : cases) {
    TBoardModel board(3, *ParseMotorConstants(c.Motor));
    std::string all;
    for (const char* command : {"r0c200ok1", "r2c-150ok1", "s"})
      for (const std::string& line : board.Answer(command)) all += line + "|";
    EXPECT_EQ(Fnv(all), c.Expected) << c.Motor;
  }
}

struct TOptionText {
  const char* Text;
  bool Valid;
};

// Every option within what a motor can be is taken; values beyond it (which overflowed the
// encoder's counter) and contradictions are refused.
TEST(PlantOptionsTest, ParsesTheOptionsWithinWhatAMotorCanBe) {
  const TOptionText cases[] = {
      {"lag=0.002,delay=2,play=3,encnoise=1,breakaway=2,stribeck=50,resonance=80,damping=0.05,ratio=0.5", true},
      {"delay=0", true}, {"gain=10000000", true}, {"noise=100", true},
      {"gain=1e308", false}, {"noise=1e308", false}, {"friction=1e308", false}, {"tau=1e-300", false},
      {"gain=10000001", false}, {"delay=1.5", false}, {"delay=-1", false}, {"delay=1001", false},
      {"friction=1,breakaway=0.5", false}, {"ratio=0", false}, {"resonance=1e9", false},
      {"play=-1", false}, {"lag=inf", false},
      {"load=-5,gravity=10,angle=-30,spring=0.5,wall=-20,inertia=3,current=40,cogging=1,cogs=12,warm=20,warmgain=0.1,"
       "warmfriction=-0.3,cpr=500,glitch=4,onload=1", true},
      {"onload=2", false}, {"onload=0.5", false}, {"cogs=0", false}, {"cogs=2.5", false}, {"current=0", false},
      {"cpr=0", false}, {"warmgain=-1", false}, {"gravity=-1", false}, {"glitch=-1", false},
  };
  for (const TOptionText& c : cases) EXPECT_EQ(ParseMotorConstants(c.Text).has_value(), c.Valid) << c.Text;
  const auto all = ParseMotorConstants("delay=2,play=3,encnoise=1,breakaway=2,ratio=0.5");
  ASSERT_TRUE(all);
  EXPECT_EQ(all->DelayCycles, 2);
  EXPECT_EQ(all->PlayCounts, 3);
  EXPECT_EQ(all->EncoderNoiseCounts, 1);
  EXPECT_EQ(all->BreakawayPercent, 2);
  EXPECT_EQ(all->InertiaRatio, 0.5);
}

// A delay of N cycles moves the motor as the plain one, N cycles later.
TEST(PlantOptionsTest, DelayShiftsTheDriveByWholeCycles) {
  TMotorConstants delayed = Clean();
  delayed.DelayCycles = 3;
  TMotorPlant plain(1, Clean()), late(1, delayed);
  std::vector<double> positions;
  for (int n = 0; n < 40; ++n) {
    const double drive = n < 20 ? 10 : -5;
    plain.Step(drive, kPeriod);
    late.Step(drive, kPeriod);
    positions.push_back(plain.Position());
    if (n < 3) EXPECT_EQ(late.Position(), 0) << n;
    else EXPECT_DOUBLE_EQ(late.Position(), positions[n - 3]) << n;
  }
}

// With 3 counts of play the encoder stays until the motor has moved 1.5 counts, then follows
// 1.5 behind; turning back, the motor crosses the whole play before the encoder moves again.
TEST(PlantOptionsTest, PlayHoldsTheEncoderUntilTheMotorCrossesIt) {
  TMotorConstants c = Clean();
  c.PlayCounts = 3;
  TMotorPlant plant(1, c);
  double turn = 0;
  int64_t atTurn = 0;
  for (int n = 0; n < 400; ++n) {
    const double drive = n < 200 ? 0.5 : -0.5;
    plant.Step(drive, kPeriod);
    const double x = plant.Position();
    if (x >= turn) {  // still on the way out, the motor's inertia carrying it past the reversal
      const int64_t expected = x <= 1.5 ? 0 : static_cast<int64_t>(std::floor(x - 1.5));
      ASSERT_EQ(plant.EncoderCounts(), expected) << n << " at " << x;
      turn = x;
      atTurn = plant.EncoderCounts();
    } else if (x > turn - 3) {
      ASSERT_EQ(plant.EncoderCounts(), atTurn) << n << " at " << x;
    } else {
      ASSERT_EQ(plant.EncoderCounts(), static_cast<int64_t>(std::floor(x + 1.5))) << n << " at " << x;
    }
  }
  EXPECT_LT(plant.Position(), turn - 10);  // the test did cross the play on the way back
}

// Encoder noise of 1 count: a motor at rest reads -1, 0 and +1, about a quarter, a half and a
// quarter of the time, while the motor itself stays where it is.
TEST(PlantOptionsTest, EncoderNoiseFlickersTheReadingNotTheMotor) {
  TMotorConstants c = Clean();
  c.EncoderNoiseCounts = 1;
  TMotorPlant plant(5, c);
  int counts[3] = {};
  for (int n = 0; n < 4000; ++n) {
    plant.Step(0, kPeriod);
    const int64_t reading = plant.EncoderCounts();
    ASSERT_GE(reading, -1);
    ASSERT_LE(reading, 1);
    ++counts[reading + 1];
  }
  EXPECT_EQ(plant.Position(), 0);
  EXPECT_NEAR(counts[0], 1000, 150);
  EXPECT_NEAR(counts[1], 2000, 150);
  EXPECT_NEAR(counts[2], 1000, 150);
}

// Stribeck friction: a motor at rest needs the breakaway drive to start, and once moving only
// the Coulomb friction; with a Stribeck speed its steady speed v solves
// v = gain x (drive - friction - (breakaway - friction) x exp(-v / speed)).
TEST(PlantOptionsTest, BreakawayHoldsAtRestAndStribeckFallsWithSpeed) {
  TMotorConstants c{1000, 0.01, 0.5, 0};
  c.BreakawayPercent = 2;
  for (double drive : {1.9, -1.9}) {
    TMotorPlant held(1, c);
    for (int n = 0; n < 100; ++n) held.Step(drive, kPeriod);
    EXPECT_EQ(held.Position(), 0) << drive;
  }
  TMotorPlant going(1, c);
  for (int n = 0; n < 100; ++n) going.Step(2.1, kPeriod);
  for (int n = 0; n < 500; ++n) going.Step(1.0, kPeriod);  // above Coulomb, below breakaway
  EXPECT_NEAR(going.Velocity(), 1000 * (1.0 - 0.5), 1);

  c.StribeckSpeed = 100;
  TMotorPlant stribeck(1, c);
  for (int n = 0; n < 2000; ++n) stribeck.Step(3, kPeriod);
  double v = 1000 * 2.5;  // the fixed point, by iteration
  for (int i = 0; i < 200; ++i) v = 1000 * (3 - 0.5 - 1.5 * std::exp(-v / 100));
  EXPECT_NEAR(stribeck.Velocity(), v, 0.5);
}

// A drive lag L before a motor of time constant T: from rest, with drive u, the position is
// gain u (t - (T^2 (1 - e^(-t/T)) - L^2 (1 - e^(-t/L))) / (T - L)).
TEST(PlantOptionsTest, DriveLagFollowsTheTwoTimeConstants) {
  TMotorConstants c = Clean({1000, 0.01, 0, 0});
  c.DriveLag = 0.004;
  TMotorPlant plant(1, c);
  const double T = 0.01, L = 0.004, u = 10;
  for (int n = 1; n <= 100; ++n) {
    plant.Step(u, kPeriod);
    const double t = n * kPeriod;
    const double x = 1000 * u * (t - (T * T * (1 - std::exp(-t / T)) - L * L * (1 - std::exp(-t / L))) / (T - L));
    ASSERT_NEAR(plant.Position(), x, 1e-6 * 1000 * u * t + 1e-9) << t;
  }
}

// A second mass of the motor's inertia on an undamped spring at 50 Hz, on a motor whose time
// constant is long enough not to damp: after a kick the motor's speed swings between the kick's
// speed and 0 (the masses trade it) at 50 Hz, around half the kick (the common speed).
TEST(PlantOptionsTest, SecondMassSwingsAtTheResonance) {
  TMotorConstants c = Clean({1000, 100, 0, 0});
  c.ResonanceHz = 50;
  c.InertiaRatio = 1;
  TMotorPlant plant(1, c);
  plant.Step(100, kPeriod);
  const double kick = plant.Velocity();
  std::vector<double> v;
  for (int n = 0; n < 1000; ++n) {
    plant.Step(0, kPeriod);
    v.push_back(plant.Velocity());
  }
  std::vector<int> peaks;
  for (size_t k = 1; k + 1 < v.size(); ++k)
    if (v[k] > v[k - 1] && v[k] >= v[k + 1]) peaks.push_back(static_cast<int>(k));
  ASSERT_GE(peaks.size(), 10u);
  const double period = (peaks.back() - peaks.front()) * kPeriod / (peaks.size() - 1);
  EXPECT_NEAR(1 / period, 50, 0.5);
  const auto [low, high] = std::minmax_element(v.begin(), v.end());
  EXPECT_NEAR(*low, 0, 0.03 * kick);
  EXPECT_NEAR(*high, kick, 0.03 * kick);
}

}  // namespace

namespace {

// What a row of the table below reads after the run.
enum class TRead { Position, Velocity, Reading, LoadReading };

// One machine, driven by a constant drive from rest at position 0 for some time, and what it
// reads then by the physics worked out by hand.
struct THandCase {
  const char* Name;
  const char* Motor;  // --motor text; friction and noise are 0 unless it says otherwise
  double Drive;
  double Seconds;
  TRead Read;
  double Expected;
  double Tolerance;
};

constexpr double kRad = 2 * M_PI / 4000;  // radians per count of the reference encoder

double Reading(const TMotorPlant& plant, TRead read) {
  switch (read) {
    case TRead::Position: return plant.Position();
    case TRead::Velocity: return plant.Velocity();
    case TRead::Reading:
    case TRead::LoadReading: return static_cast<double>(plant.EncoderCounts());
  }
  return 0;
}

// Free travel of the plain motor: gain u (t - tau (1 - e^(-t / tau))).
double Travel(double gain, double tau, double u, double t) { return gain * u * (t - tau * (1 - std::exp(-t / tau))); }

// Two masses (motor 1, load r) on a spring swinging at w, a force a (acceleration of the motor
// alone) on the motor: the centre of mass moves at a t^2 / (2 (1 + r)), the twist q is
// (a / w^2) (1 - cos wt); the motor leads the centre by r q / (1 + r), the load trails it by
// q / (1 + r).
double TwoMassTravel(double a, double r, double hz, double t, bool load) {
  const double w = 2 * M_PI * hz;
  const double centre = a * t * t / (2 * (1 + r));
  const double q = a / (w * w) * (1 - std::cos(w * t));
  return load ? centre - q / (1 + r) : centre + r * q / (1 + r);
}

const THandCase kHandCases[] = {
    // A constant load eats its drive: the speed is gain (u - load).
    {"load_eats_its_drive", "friction=0,noise=0,load=3", 10, 0.5, TRead::Velocity, 2000 * 7, 1e-3},
    // An arm hanging down rests where gravity's pull G sin(angle) equals the drive: 30 degrees
    // for half of G, a twelfth of a revolution.
    {"arm_rests_where_gravity_balances", "friction=0,noise=0,gravity=10,angle=0", 5, 2, TRead::Position, 4000.0 / 12, 1e-3},
    // Held level at the start (90 degrees), the arm takes its whole weight.
    {"level_arm_takes_its_weight", "friction=0,noise=0,gravity=4", 4, 1, TRead::Position, 0, 1e-6},
    // The spring is met at the wall, then pressed in until it pushes back with the drive.
    {"spring_pressed_until_it_balances", "friction=0,noise=0,spring=0.1,wall=100", 5, 2, TRead::Position, 150, 1e-3},
    {"spring_below_a_negative_wall", "friction=0,noise=0,spring=0.1,wall=-100", -5, 2, TRead::Position, -150, 1e-3},
    // Cogging holds the motor in the slope of its detent: A sin(N x rad) = u.
    {"cogging_holds_in_its_detent", "friction=0,noise=0,cogging=2,cogs=24", 1, 2, TRead::Position,
     std::asin(0.5) / (24 * kRad), 1e-3},
    // Upright on a crank (180 degrees, where the inertia is 1 + R and changes least), the
    // motor's time constant is (1 + R) times its own.
    {"inertia_lengthens_the_time_constant", "friction=0,noise=0,gain=1000,tau=0.01,inertia=3,angle=180", 0.001, 0.02,
     TRead::Velocity, 1000 * 0.001 * (1 - std::exp(-0.02 / 0.04)), 1e-5},
    // The current limit holds the torque: a constant acceleration gain C / tau.
    {"current_limit_holds_the_acceleration", "friction=0,noise=0,current=10", 100, 0.05, TRead::Position,
     0.5 * 2000 * 10 / 0.015 * 0.05 * 0.05, 1e-3},
    // An encoder of fewer counts per revolution reads the same motion in fewer counts.
    {"reference_encoder", "friction=0,noise=0", 1, 0.1, TRead::Reading, std::floor(Travel(2000, 0.015, 1, 0.1)), 0},
    {"coarse_encoder_tenth", "friction=0,noise=0,cpr=400", 1, 0.1, TRead::Reading,
     std::floor(Travel(2000, 0.015, 1, 0.1) / 10), 0},
    {"coarse_encoder_fortieth", "friction=0,noise=0,cpr=100", 1, 0.1, TRead::Reading,
     std::floor(Travel(2000, 0.015, 1, 0.1) / 40), 0},
    // Warm after three time constants of warming: gain 20 % down by 95 %, friction 50 % down by
    // 95 %: the speed is gain (1 - 0.2 w) (u - f (1 - 0.5 w)), w = 1 - e^-3.
    {"warmed_up_speed", "noise=0,friction=2,warm=1,warmgain=-0.2,warmfriction=-0.5", 10, 3, TRead::Velocity,
     2000 * (1 - 0.2 * (1 - std::exp(-3.0))) * (10 - 2 * (1 - 0.5 * (1 - std::exp(-3.0)))), 1e-3},
    // A second mass of the motor's inertia on an undamped spring, pushed from rest: the encoder
    // on the motor runs ahead of the centre of mass, the one on the load behind it.
    {"sensor_on_the_motor", "friction=0,noise=0,gain=10000000,tau=100,resonance=20,ratio=1", 1, 0.1, TRead::Reading,
     TwoMassTravel(1e7 * 2 / 100, 1, 20, 0.1, false), 1.5},
    {"sensor_on_the_load", "friction=0,noise=0,gain=10000000,tau=100,resonance=20,ratio=1,onload=1", 1, 0.1,
     TRead::LoadReading, TwoMassTravel(1e7 * 2 / 100, 1, 20, 0.1, true), 1.5},
};

// Each option of the machine against the physics worked out by hand, not by the plant's code.
TEST(PlantOptionsTest, HandWorkedResponses) {
  for (const THandCase& c : kHandCases) {
    const auto motor = ParseMotorConstants(c.Motor);
    ASSERT_TRUE(motor) << c.Name;
    TMotorPlant plant(1, *motor);
    const int cycles = static_cast<int>(std::lround(c.Seconds / kPeriod));
    for (int n = 0; n < cycles; ++n) plant.Step(c.Drive, kPeriod);
    const double tolerance = c.Read == TRead::Position || c.Read == TRead::Velocity
                                 ? c.Tolerance * std::max(1.0, std::abs(c.Expected))
                                 : c.Tolerance;
    EXPECT_NEAR(Reading(plant, c.Read), c.Expected, tolerance) << c.Name;
  }
}

// A motor that a drive reverses passes through rest within a small step and goes on the other
// way, friction turning with it: with a load too small to matter (which only makes the plant take
// small steps), it moves as the same motor without options, whose cycles are worked out exactly.
TEST(PlantOptionsTest, ADriveReversesTheMotorWithoutStoppingIt) {
  TMotorPlant exact(1, *ParseMotorConstants("noise=0,friction=2"));
  TMotorPlant stepped(1, *ParseMotorConstants("noise=0,friction=2,load=1e-9"));
  for (double drive : {60.0, -60.0, 60.0, -60.0})
    for (int n = 0; n < 10; ++n) {
      exact.Step(drive, kPeriod);
      stepped.Step(drive, kPeriod);
      ASSERT_NEAR(stepped.Velocity(), exact.Velocity(), 0.01 * std::max(1000.0, std::abs(exact.Velocity()))) << drive << " " << n;
      ASSERT_NEAR(stepped.Position(), exact.Position(), 0.05) << drive << " " << n;
    }
}

// An inertia that changes along the motion trades speed for it: a motor coasting (no drive,
// a time constant so long that back-EMF hardly brakes it) keeps its energy J v^2 / 2, so its
// speed falls as 1 / sqrt(J) from hanging down (J = 1) to upright (J = 1 + R).
TEST(PlantOptionsTest, CoastingThroughAChangingInertiaKeepsItsEnergy) {
  TMotorPlant plant(1, *ParseMotorConstants("friction=0,noise=0,gain=10000000,tau=100,inertia=3,angle=0"));
  const auto inertia = [](double x) { return 1 + 1.5 * (1 - std::cos(kRad * x)); };
  for (int n = 0; n < 25; ++n) plant.Step(100, kPeriod);  // pushed to speed, near the bottom
  const double energy = inertia(plant.Position()) * plant.Velocity() * plant.Velocity();
  while (plant.Position() < 2000) {
    plant.Step(0, kPeriod);
    ASSERT_NEAR(inertia(plant.Position()) * plant.Velocity() * plant.Velocity(), energy, 0.01 * energy)
        << plant.Position();
  }
}

// Glitches: the reading of a motor at rest jumps by 1 or 2 counts, either way, for one cycle at
// a time, at the rate asked for (500 expected in 100 s at 5 per second; 4 standard deviations).
TEST(PlantOptionsTest, GlitchesJumpOneReadingAtTheRateAskedFor) {
  TMotorPlant plant(7, *ParseMotorConstants("friction=0,noise=0,glitch=5"));
  int glitches = 0;
  int64_t previous = 0;
  for (int n = 0; n < 250000; ++n) {
    plant.Step(0, kPeriod);
    const int64_t reading = plant.EncoderCounts();
    ASSERT_LE(std::abs(reading), 2) << n;
    if (reading != 0) {
      ASSERT_EQ(previous, 0) << "a glitch lasted more than one reading, at " << n;
      ++glitches;
    }
    previous = reading;
  }
  EXPECT_EQ(plant.Position(), 0);
  EXPECT_NEAR(glitches, 500, 90);
}

}  // namespace
