#include <gtest/gtest.h>

#include "globals/errors.h"
#include "protocol/taggedvalue.h"

namespace {

// Answer lines, the tag looked for, and the result: the value read; "-" when the line is
// refused (value untouched); "!run" when the scanned run raises the conversion error.
const QString kCases[][3] = {
    {"\nerror: -12.5\r", "error", "-12.5"},  // the scan starts on the point, not the digit
    {"error_i: 3\r", "error", "3"},          // the tag is only looked for
    {"x: 1e5\r", "x", "5"},                  // the exponent letter stops the scan
    {"output: +4\r", "output", "4"},
    {"(c)3\r", "(c)", "3"},
    {"12 (a) 34\r", "(a)", "34"},
    {"servo enabled\r", "servo enabled", "-"},
    {"Error: 4\r", "error", "-"},
    {"\n\r", "", "-"},
    {"error: 4x\r", "error", "-"},
    {"9 (x)\r", "(x)", "-"},
    {"(p) +-\r", "(p)", "!+-"},
    {"(p) 5-3\r", "(p)", "!5-3"},
    {"\n  error: 7\r", "error", "!: 7"},  // long leading white space moves the start
    {"(p) " + QString(400, u'9') + "\r", "(p)", "!" + QString(400, u'9')},  // beyond a double
};

TEST(ParseTaggedValue, ScansBackFromTheTrimmedLength) {
  for (const auto& [line, tag, result] : kCases) {
    SCOPED_TRACE(line.toStdString());
    double value = -999;
    try {
      const bool ok = ParseTaggedValue(line, tag, value);
      EXPECT_FALSE(result.startsWith(u'!'));
      EXPECT_EQ(ok, result != "-");
      EXPECT_EQ(value, ok ? result.toDouble() : -999);
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message().toStdString(),
                ("'" + result.mid(1) + "' is not a valid floating point value").toStdString());
      EXPECT_EQ(value, -999);
    }
  }
}

}  // namespace
