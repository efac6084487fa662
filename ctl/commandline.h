#pragma once

// The companion's commands as data: a command's options, arguments and texts, from which its
// parser, its usage line and its --help text are all made (and from the help, the manual
// page), so that none of them can say what another does not.

#include <QMap>
#include <QString>
#include <QStringList>
#include <optional>
#include <span>

#include "ctl/ctlio.h"
#include "globals/result.h"

// What an option's value or an argument must be. It is checked before the command runs, so
// that bad usage costs nothing on the board.
enum class TValueKind {
  Text,          // any text
  WholeNumber,   // an integer from Lo to Hi
  Number,        // number text as the tool reads it, from Lo to Hi
  ComName,       // a port name of the tool: COM1 to COM32, in capitals as the tool writes them
  RunNumber,     // a stored run: "12" or "#12"
  BackupNumber,  // a backup: "3" or "#3"
  Duration,      // a length of time: seconds, or a number with ms, s, m or h ("90", "1500ms",
                 // "5m"), from Lo to Hi seconds
};

struct TValueRule {
  TValueKind Kind = TValueKind::Text;
  double Lo = 0;
  double Hi = 0;
  bool NonZero = false;  // 0 lies between Lo and Hi but means nothing
};

// An option as every command that takes it shares it: --Name, or --Name Value.
struct TOption {
  const char* Name;
  const char* Value = nullptr;  // the value's name ("NAME"); none for a switch
  const char* Help = "";
  TValueRule Rule = {};
};

// An option as one command takes it.
struct TOptionUse {
  const TOption* Option;
  bool Required = false;
  const char* Help = nullptr;    // the command's own words for it, in place of the option's
  const char* Unless = nullptr;  // a required option is not required when this one is given
  const char* Needs = nullptr;   // the option is taken only together with this one
};

// Says that an argument may be given any number of times.
inline constexpr int kAnyCount = -1;

// Positional arguments of one kind. Only the last kind of a command may take several.
struct TArgument {
  const char* Name;             // as the help lists it
  const char* Help;
  const char* Usage = nullptr;  // as the usage line shows it, when not as Name
  int Min = 1;
  int Max = 1;                  // or kAnyCount
  TValueRule Rule = {};
  const char* After = nullptr;  // more values of this option, taken only when it is given
};

class TCommandArgs;

// One command of zirv7ctl: its name, the one-line summary of the overview, the description
// of its --help, what it takes, and its entry point, which returns a TExitCode.
struct TCommand {
  const char* Name;
  const char* Summary;
  const char* Description;
  std::span<const TOptionUse> Options = {};
  std::span<const TArgument> Arguments = {};
  int (*Run)(const TCommandArgs& args, TCtlIo& io);
};

// A command line as its command's table entry reads it, every rule of the entry checked.
class TCommandArgs {
 public:
  // Returns the command's name.
  QString Name() const { return FName; }
  // Returns the arguments after the command's name, as given.
  const QStringList& Given() const { return FGiven; }
  // Returns whether --help was asked for (then nothing else was checked).
  bool HelpAsked() const { return FHelpAsked; }
  // Returns whether the option was given.
  bool Has(const char* option) const;
  // Returns the option's last value; "" when it was not given.
  QString Value(const char* option) const;
  // Returns every value given to the option, in order.
  QStringList Values(const char* option) const;
  // Returns the whole number the option gives, or fallback when it was not given.
  int WholeNumber(const char* option, int fallback) const;
  std::optional<int> WholeNumber(const char* option) const;
  // Returns the number the option gives, or fallback when it was not given.
  double Number(const char* option, double fallback) const;
  // Returns the duration the option gives in milliseconds (a fraction rounded up), or none when
  // it was not given.
  std::optional<qint64> DurationMs(const char* option) const;
  // Returns the positional arguments.
  const QStringList& Positional() const { return FPositional; }

 private:
  friend TResult<TCommandArgs> ParseCommandArgs(const TCommand& command, const QStringList& args);
  QString FName;
  QStringList FGiven;
  bool FHelpAsked = false;
  QMap<QString, QStringList> FValues;
  QStringList FPositional;
};

// Reads a command's arguments (those after its name) by its table entry: options known and
// with a value where they take one, required options given, the count of arguments, and each
// value by its rule. The failure is a usage error, its message starting with what it
// concerns: "step: --port and --step are required", "COM33: not a port name of the tool ...".
TResult<TCommandArgs> ParseCommandArgs(const TCommand& command, const QStringList& args);

// Returns the command's usage line: "zirv7ctl <name>", its required options, its arguments,
// then every other option in brackets, each as "--name VALUE".
QString UsageLine(const TCommand& command);

// Returns the command's --help: the usage line, the description, its options and arguments.
QString HelpText(const TCommand& command);

// Returns the number of a stored run or a backup given as "12" or "#12"; none when the text
// is not one.
std::optional<qint64> RecordNumber(const QString& text);

// Returns why text is no run number ("'x' is not a run number"); "" when it is one.
QString RunNumberProblem(const QString& text);
