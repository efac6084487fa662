// Prints the cost of the numeric entry fields' text rules, one figure a line:
// formatting a value with 7 decimals, reading it back, and judging a typed character.

#include <cstdio>

#include "benchutil.h"
#include "ui/spineditrules.h"

int main() {
  constexpr int kCalls = 200000;
  volatile double sink = 0;
  const double format = NanosecondsPerCall(kCalls, [&](int i) {
    sink = sink + double(SpinFloatText(i * 0.00001 - 1.0, 7).size());
  });
  const QString text = QStringLiteral("123.4567890");
  const double readFloat = NanosecondsPerCall(kCalls, [&](int) {
    sink = sink + ReadAdvFloatValue(text, 0);
  });
  const QString intText = QStringLiteral("-2147483");
  const double readInt = NanosecondsPerCall(kCalls, [&](int) {
    sink = sink + ReadAdvValue(intText, 0);
  });
  const TSpinEditState state{QStringLiteral("0.1234567"), 9, 0};
  const double judge = NanosecondsPerCall(kCalls, [&](int i) {
    sink = sink + int(AdvCharRule(char32_t(u'0' + i % 10), sptFloat, 7, false, state, u',').Verdict);
  });
  std::printf("spin_float_text_p7 %.1f ns\n", format);
  std::printf("spin_read_float %.1f ns\n", readFloat);
  std::printf("spin_read_int %.1f ns\n", readInt);
  std::printf("spin_char_rule %.1f ns\n", judge);
  return 0;
}
