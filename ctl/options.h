#pragma once

// The options several commands share, each declared once, and the readers of number options.

#include <QCommandLineParser>
#include <QString>
#include <optional>
#include <vector>

#include "ctl/command.h"
#include "protocol/transactions.h"

// An integer option and the values it takes.
struct TIntOption {
  const char* Name;
  int Lo;
  int Hi;
};

inline constexpr TIntOption kStepOption{"step", -1000000000, 1000000000};
inline constexpr TIntOption kPredivOption{"prediv", StepMinPrediv, StepMaxPrediv};

// Adds --port NAME.
void AddPortOption(QCommandLineParser& parser);

// Adds --yes: write the board's EEPROM without asking.
void AddYesOption(QCommandLineParser& parser);

// Adds --yes and --dry-run (show the differences, write nothing), for a command that writes a
// parameter set to the board.
void AddWriteOptions(QCommandLineParser& parser);

// Adds --step N and --prediv N.
void AddStepOptions(QCommandLineParser& parser);

// What a step test on the board is given: --port NAME, --step N and --prediv N.
struct TStepTestOptions {
  QString Port;
  int Step = 0;
  int Prediv = 0;
};

// Adds --port, --step and --prediv to a parser.
void AddStepTestOptions(QCommandLineParser& parser);

// Reads --port, --step and --prediv; port and step are required, and the step is not 0.
// Prints a usage error naming the command and returns false when one is missing or wrong.
bool ReadStepTestOptions(TCtlIo& io, const QCommandLineParser& parser, const QString& command,
                         TStepTestOptions& options);

// Reads an integer option; prints a usage error and returns false when it is not an integer
// in [lo, hi]. An option that is not given keeps value.
bool IntOption(TCtlIo& io, const QCommandLineParser& parser, const QString& command,
               const QString& name, int lo, int hi, int& value);
bool IntOption(TCtlIo& io, const QCommandLineParser& parser, const QString& command,
               const TIntOption& option, int& value);
// As IntOption; an option that is not given leaves value empty.
bool IntOption(TCtlIo& io, const QCommandLineParser& parser, const QString& command,
               const TIntOption& option, std::optional<int>& value);

// Reads a number option (number text as the tool reads it); prints a usage error and returns
// false when it is not a number in [lo, hi]. An option that is not given keeps value.
bool NumberOption(TCtlIo& io, const QCommandLineParser& parser, const QString& command,
                  const QString& name, double lo, double hi, double& value);

// Reads run numbers ("12" or "#12"); prints a usage error naming the command and returns false
// at the first text that is not one.
bool ReadRunIds(TCtlIo& io, const QString& command, const QStringList& texts,
                std::vector<qint64>& ids);

// Reads a backup's number ("3" or "#3"); prints a usage error naming the command and returns
// false when the text is not one.
bool ReadBackupId(TCtlIo& io, const QString& command, const QString& text, qint64& id);

// The options --png FILE, --svg FILE and, with csv, --csv FILE, added to a parser.
void AddOutputOptions(QCommandLineParser& parser, bool csv);
