// The form of a port name "COMn", as the tool resolves it and as the simulator links it.
#include <gtest/gtest.h>

#include <QString>

#include "devices/comnames.h"
#include "portname/portname.h"
#include "sim/portalias.h"

namespace {

struct TNameCase {
  const char* Name;
  int Number;  // 0: not a port name
};

constexpr TNameCase kNames[] = {
    {"COM1", 1},
    {"COM32", 32},
    {"COM33", 33},            // beyond the selector, still reachable through an alias
    {"COM999999", 999999},    // six digits
    {"COM0", 0},              // the tool counts from 1
    {"COM01", 0},             // a leading zero: a second name for COM1
    {"COM007", 0},
    {"COM1000000", 0},        // seven digits
    {"com1", 0},              // the tool reads capitals only
    {"Com1", 0},
    {"COM", 0},
    {"COM-1", 0},
    {"COM+1", 0},
    {"COM 1", 0},
    {"COM1 ", 0},
    {"COM1x", 0},
    {"COM1/../x", 0},         // must never lead outside the alias folder
    {"../COM1", 0},
    {"", 0},
};

TEST(PortNameTest, OneRuleForTheToolAndTheSimulator) {
  for (const TNameCase& c : kNames) {
    EXPECT_EQ(ComNameNumber(c.Name), c.Number) << c.Name;
    EXPECT_EQ(ComNumber(QString::fromLatin1(c.Name)), c.Number) << c.Name;
    EXPECT_EQ(zirvsim::IsValidPortName(c.Name), c.Number != 0) << c.Name;
  }
}

TEST(PortNameTest, NonAsciiLookalikesAreNoPortNames) {
  EXPECT_EQ(ComNumber(QStringLiteral("COM\u0661")), 0);  // an Arabic-Indic digit one
  EXPECT_EQ(ComNumber(QStringLiteral("\uFF23OM1")), 0);  // a full-width C
}

}  // namespace
