// Every command's JSON by one number rule: each number is the shortest text that reads back as
// the same double, in plain decimal where the tables write it so; every run carries every key.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

#include "tests/ctl/ctlrun.h"
#include "tests/ctl/simboard.h"

namespace {

// Returns the number texts of a JSON text, in order, the texts inside strings left out.
QStringList NumberTokens(const QByteArray& json) {
  QStringList tokens;
  for (qsizetype k = 0; k < json.size();) {
    const char c = json[k];
    if (c == '"') {
      for (++k; k < json.size() && json[k] != '"'; ++k)
        if (json[k] == '\\') ++k;
      ++k;
    } else if (c == '-' || (c >= '0' && c <= '9')) {
      const qsizetype from = k;
      while (k < json.size() && QByteArray("+-.eE0123456789").contains(json[k])) ++k;
      tokens << QString::fromLatin1(json.mid(from, k - from));
    } else {
      ++k;
    }
  }
  return tokens;
}

// Returns why a number text breaks the rule, "" when it keeps it: it reads back as a double
// whose shortest form has as many significant digits, and it is plain decimal (no exponent)
// when that double lies from 0.0001 to below 1E15 in magnitude.
QString RuleBroken(const QString& token) {
  const std::string text = token.toStdString();
  double value = 0;
  if (std::from_chars(text.data(), text.data() + text.size(), value).ec != std::errc())
    return QStringLiteral("not a number");
  char shortest[64];
  const auto end = std::to_chars(shortest, shortest + sizeof shortest, value, std::chars_format::scientific).ptr;
  const std::string mantissa(shortest, std::find(shortest, end, 'e'));
  auto digits = [](std::string s) {  // significant digits, without sign, point, exponent
    s = s.substr(0, s.find_first_of("eE"));
    std::erase_if(s, [](char d) { return d < '0' || d > '9'; });
    s.erase(0, std::min(s.find_first_not_of('0'), s.size()));
    while (!s.empty() && s.back() == '0') s.pop_back();
    return s.empty() ? std::string("0") : s;
  };
  if (value != 0 && digits(text) != digits(mantissa)) return QStringLiteral("not the shortest text");
  const bool plainRange = std::fabs(value) >= 1e-4 && std::fabs(value) < 1e15;
  if (plainRange && token.contains(QRegularExpression(QStringLiteral("[eE]"))))
    return QStringLiteral("exponent where the tables write plain decimal");
  return QString();
}

class JsonTest : public testing::Test, public TSimBoardFixture {};

TEST_F(JsonTest, EveryCommandsNumbersFollowOneRule) {
  const QString pset = File("softer.pset");
  Write(pset, "[ZIRVParam]\r\nP=0.15\r\nI=0.00001\r\nD=0.0015\r\nDeadband=0\r\nMaxOutput=95\r\nFF0=0\r\n"
              "FF1=0\r\nFaultError=1000\r\nStepMultiplier=1\r\nTPSC=4\r\nHallTimeout=50\r\nChargeElcos=0\r\n"
              "PhaseAdvance=0\r\nSVMCycle=3\r\n");
  struct TCase {
    const char* Name;
    QStringList Args;
    const char* Says = nullptr;  // a number as the tables write it
  } cases[] = {
      {"params", {"params", "--port", Port(), "--json"}, "\"I\": 0.0005,"},
      {"step", {"step", "--port", Port(), "--step", "100", "--json"}, "\"sample_period_ms\": 0.4,"},
      {"compare", {"compare", "--port", Port(), "--step", "100", pset, "--yes", "--json"}, "\"I\": 1E-5,"},
      {"history", {"history", "--json"}, "\"I\": 0.0005,"},
      {"show", {"show", "1", "2", "--json"}, "\"I\": 1E-5,"},
      {"backups", {"backups", "--json"}, "\"I\": 0.0005,"},
      {"ports", {"ports", "--json"}},
      {"suggest", {"suggest", "--port", Port(), "--step", "200", "--json"}, "\"P\": 0.2,"},
  };
  for (const TCase& c : cases) {
    const TCtlResult r = RunCtlCaptured(c.Args);
    EXPECT_EQ(r.Status, kExitOk) << c.Name << ": " << r.Err.toStdString();
    const QByteArray json = r.Out.toUtf8();
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << c.Name << ": " << json.left(300).constData();
    for (const QString& token : NumberTokens(json)) {
      EXPECT_EQ(RuleBroken(token), QString()) << c.Name << ": " << token.toStdString();
    }
    if (c.Says) {
      EXPECT_TRUE(json.contains(c.Says)) << c.Name << ": " << json.left(2000).constData();
    }
    for (const QJsonValue run : document.object().value("runs").toArray()) {
      if (!run.isObject()) continue;  // suggest lists its runs by number
      for (const char* key : {"note", "label", "rise_ms", "rest_error_pp"})
        EXPECT_TRUE(run.toObject().contains(key)) << c.Name << ": " << key;
    }
  }
}

}  // namespace
