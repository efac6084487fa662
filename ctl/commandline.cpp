#include "ctl/commandline.h"

#include <QCommandLineParser>
#include <QRegularExpression>
#include <cmath>

#include "devices/comnames.h"
#include "globals/numtext.h"

namespace {

const QString kProgram = QStringLiteral("zirv7ctl");

QString Latin(const char* text) { return QString::fromLatin1(text); }

QString HelpOf(const TOptionUse& use) { return QString::fromUtf8(use.Help ? use.Help : use.Option->Help); }

// Declares the command's options and arguments to Qt's parser, which reads the syntax (an
// unknown option, a missing value) and writes the help's lists; the help option comes last.
void Declare(QCommandLineParser& parser, const TCommand& command) {
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  parser.setApplicationDescription(QString::fromUtf8(command.Description));
  for (const TOptionUse& use : command.Options) {
    const TOption& o = *use.Option;
    parser.addOption(o.Value ? QCommandLineOption(Latin(o.Name), HelpOf(use), Latin(o.Value))
                             : QCommandLineOption(Latin(o.Name), HelpOf(use)));
  }
  parser.addOption({{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help and exit.")});
  for (const TArgument& a : command.Arguments)
    parser.addPositionalArgument(Latin(a.Name), QString::fromUtf8(a.Help));
}

// Reads a duration ("90", "90s", "1500ms", "5m", "2h") into seconds; none when the text is
// not one.
std::optional<double> DurationSeconds(const QString& text) {
  static const QRegularExpression form(QStringLiteral("^([0-9]+(?:\\.[0-9]+)?)(ms|s|m|h)?$"));
  const QRegularExpressionMatch m = form.match(text.trimmed());
  if (!m.hasMatch()) return std::nullopt;
  const QString unit = m.captured(2);
  const double scale = unit == u"ms" ? 0.001 : unit == u"m" ? 60 : unit == u"h" ? 3600 : 1;
  return m.captured(1).toDouble() * scale;
}

QString UsageError(const TCommand& command, const QString& message) {
  return Latin(command.Name) + QStringLiteral(": ") + message;
}

// Returns what is wrong with a value by its rule: "" when nothing is. what names the value in
// the message ("--step", or "" for an argument).
QString RuleProblem(const TCommand& command, const TValueRule& rule, const QString& what, const QString& value) {
  switch (rule.Kind) {
    case TValueKind::Text:
      return {};
    case TValueKind::WholeNumber: {
      bool ok = false;
      const int v = value.toInt(&ok);
      if (!ok || v < rule.Lo || v > rule.Hi)
        return UsageError(command, QStringLiteral("%1 must be a whole number from %2 to %3")
                                    .arg(what).arg(qint64(rule.Lo)).arg(qint64(rule.Hi)));
      return rule.NonZero && v == 0 ? UsageError(command, what + QStringLiteral(" must not be 0")) : QString();
    }
    case TValueKind::Number: {
      double v = 0;
      if (TryReadNumber(value, v) && v >= rule.Lo && v <= rule.Hi) return {};
      return UsageError(command, QStringLiteral("%1 must be a number from %2 to %3")
                                  .arg(what, FormatNumber(rule.Lo), FormatNumber(rule.Hi)));
    }
    case TValueKind::Duration: {
      const std::optional<double> v = DurationSeconds(value);
      if (v && *v >= rule.Lo && *v <= rule.Hi) return {};
      return UsageError(command, QStringLiteral("%1 must be a duration from %2 to %3 s: seconds, or a number "
                                                "with ms, s, m or h (30s, 5m)")
                                  .arg(what, FormatNumber(rule.Lo), FormatNumber(rule.Hi)));
    }
    case TValueKind::ComName: {
      // Only the one form the tool reads: "com4" would make an alias that --port com4 and the
      // window never find.
      const int number = ComNumber(value);
      if (number >= kFirstCom && number <= kLastCom) return {};
      return (value.isEmpty() ? QStringLiteral("''") : value) +
             QStringLiteral(": not a port name of the tool (COM1 to COM32)");
    }
    case TValueKind::RunNumber: {
      const QString problem = RunNumberProblem(value);
      return problem.isEmpty() ? problem : UsageError(command, problem);
    }
    case TValueKind::BackupNumber:
      if (RecordNumber(value)) return {};
      return UsageError(command, QStringLiteral("'%1' is not a backup number (see 'zirv7ctl backups')").arg(value));
  }
  return {};
}

// Returns "--a", "--a and --b", "--a, --b and --c".
QString OptionList(const QStringList& names) {
  if (names.size() == 1) return names.first();
  return names.mid(0, names.size() - 1).join(QStringLiteral(", ")) + QStringLiteral(" and ") + names.last();
}

// Required options: all of them are named when one is missing, as "--port and --step are
// required" tells at once what a command cannot do without. An empty value is none.
QString MissingOptionProblem(const TCommand& command, const TCommandArgs& args) {
  QStringList required;
  bool missing = false;
  for (const TOptionUse& use : command.Options) {
    if (!use.Required || (use.Unless && args.Has(use.Unless))) continue;
    required.append(QStringLiteral("--") + Latin(use.Option->Name));
    missing |= args.Value(use.Option->Name).isEmpty();
  }
  if (!missing) return {};
  return UsageError(command, OptionList(required) + (required.size() == 1 ? QStringLiteral(" is required")
                                                                       : QStringLiteral(" are required")));
}

QString NeedsProblem(const TCommand& command, const TCommandArgs& args) {
  for (const TOptionUse& use : command.Options)
    if (use.Needs && args.Has(use.Option->Name) && args.Value(use.Needs).isEmpty())
      return UsageError(command, QStringLiteral("--%1 needs --%2").arg(Latin(use.Option->Name), Latin(use.Needs)));
  return {};
}

// The arguments' usage: each kind as the usage line shows it, those after an option left out.
QStringList ArgumentsUsage(const TCommand& command) {
  QStringList parts;
  for (const TArgument& a : command.Arguments)
    if (!a.After) parts.append(Latin(a.Usage ? a.Usage : a.Name));
  return parts;
}

QString CountProblem(const TCommand& command, const TCommandArgs& args) {
  int min = 0, max = 0;
  for (const TArgument& a : command.Arguments) {
    if (a.After && !args.Has(a.After)) continue;
    min += a.Min;
    max = (max == kAnyCount || a.Max == kAnyCount) ? kAnyCount : max + a.Max;
  }
  const QStringList& given = args.Positional();
  if (given.size() < min)
    return UsageError(command, QStringLiteral("expects %1; see 'zirv7ctl %2 --help'")
                                .arg(ArgumentsUsage(command).join(u' '), Latin(command.Name)));
  if (max == kAnyCount || given.size() <= max) return {};
  if (command.Arguments.empty()) return UsageError(command, QStringLiteral("takes no arguments"));
  return UsageError(command, QStringLiteral("unexpected argument '%1'").arg(given.at(max)));
}

// Checks every value given by its rule: the options' in the order of the entry, then the
// arguments', each kind taking its share in turn.
QString ValueProblem(const TCommand& command, const TCommandArgs& args) {
  for (const TOptionUse& use : command.Options) {
    const QString what = QStringLiteral("--") + Latin(use.Option->Name);
    for (const QString& value : args.Values(use.Option->Name))
      if (QString problem = RuleProblem(command, use.Option->Rule, what, value); !problem.isEmpty()) return problem;
  }
  qsizetype next = 0;
  for (const TArgument& a : command.Arguments) {
    const qsizetype end = a.Max == kAnyCount ? args.Positional().size() : next + a.Max;
    for (; next < end && next < args.Positional().size(); ++next)
      if (QString problem = RuleProblem(command, a.Rule, {}, args.Positional().at(next)); !problem.isEmpty())
        return problem;
  }
  return {};
}

}  // namespace

bool TCommandArgs::Has(const char* option) const { return FValues.contains(Latin(option)); }

QString TCommandArgs::Value(const char* option) const {
  const QStringList values = Values(option);
  return values.isEmpty() ? QString() : values.last();
}

QStringList TCommandArgs::Values(const char* option) const { return FValues.value(Latin(option)); }

int TCommandArgs::WholeNumber(const char* option, int fallback) const {
  return Has(option) ? Value(option).toInt() : fallback;
}

std::optional<int> TCommandArgs::WholeNumber(const char* option) const {
  if (!Has(option)) return std::nullopt;
  return Value(option).toInt();
}

double TCommandArgs::Number(const char* option, double fallback) const {
  double value = fallback;
  if (Has(option)) TryReadNumber(Value(option), value);
  return value;
}

std::optional<qint64> TCommandArgs::DurationMs(const char* option) const {
  if (!Has(option)) return std::nullopt;
  return qint64(std::ceil(DurationSeconds(Value(option)).value_or(0) * 1000));
}

TResult<TCommandArgs> ParseCommandArgs(const TCommand& command, const QStringList& args) {
  QCommandLineParser parser;
  Declare(parser, command);
  // Qt's parser expects the program's name first.
  if (!parser.parse(QStringList{kProgram} + args)) return TFailure{UsageError(command, parser.errorText()), {}};
  TCommandArgs parsed;
  parsed.FName = Latin(command.Name);
  parsed.FGiven = args;
  parsed.FPositional = parser.positionalArguments();
  for (const TOptionUse& use : command.Options) {
    const QString name = Latin(use.Option->Name);
    if (!parser.isSet(name)) continue;
    parsed.FValues.insert(name, use.Option->Value ? parser.values(name) : QStringList{QString()});
  }
  parsed.FHelpAsked = parser.isSet(QStringLiteral("help"));
  if (parsed.FHelpAsked) return parsed;
  for (auto check : {MissingOptionProblem, NeedsProblem, CountProblem, ValueProblem})
    if (const QString problem = check(command, parsed); !problem.isEmpty()) return TFailure{problem, {}};
  return parsed;
}

QString UsageLine(const TCommand& command) {
  QStringList required{kProgram, Latin(command.Name)};
  QStringList optional;
  for (const TOptionUse& use : command.Options) {
    const TOption& o = *use.Option;
    QString part = QStringLiteral("--") + Latin(o.Name);
    if (o.Value) part += u' ' + Latin(o.Value);
    // Arguments that continue an option's values show as its value repeated.
    for (const TArgument& a : command.Arguments)
      if (a.After && qstrcmp(a.After, o.Name) == 0) part += QStringLiteral("...");
    if (use.Required)
      required.append(part);
    else
      optional.append(u'[' + part + u']');
  }
  return (required + ArgumentsUsage(command) + optional).join(u' ');
}

QString HelpText(const TCommand& command) {
  QCommandLineParser parser;
  Declare(parser, command);
  QString text = parser.helpText();
  // Qt's first line names the program only; the command's usage line goes in its place.
  text.replace(0, text.indexOf(u'\n'), QStringLiteral("Usage: ") + UsageLine(command));
  return text;
}

std::optional<qint64> RecordNumber(const QString& text) {
  bool ok = false;
  const qint64 number = (text.startsWith(u'#') ? text.mid(1) : text).toLongLong(&ok);
  if (!ok || number <= 0) return std::nullopt;
  return number;
}

QString RunNumberProblem(const QString& text) {
  return RecordNumber(text) ? QString() : QStringLiteral("'%1' is not a run number").arg(text);
}
