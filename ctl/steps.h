#pragma once

// What the step-response commands (step, compare, show, history) share: opening the history
// and the board, tables, JSON, pictures and CSV of runs.

#include <QCommandLineParser>
#include <QString>
#include <optional>
#include <vector>

#include "ctl/command.h"
#include "runstore/runstore.h"
#include "steprun/steprun.h"

class TBoardLink;

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

// Opens the run history at its default place; on failure prints "zirv7ctl: <file>: <why>".
bool OpenRunHistory(TCtlIo& io, TRunStore& store);

// Opens the named port and reads the board's parameters; on failure prints
// "zirv7ctl: <port>: <why>" (the port's own message when it cannot be opened).
bool OpenBoard(TCtlIo& io, TBoardLink& link, const QString& port, TPIDParams& params);

// Puts the board's original values back and checks them with a read (RestoreParameters);
// board is the board's values as last known. On failure prints why and every original value.
bool PutBoardBack(TCtlIo& io, TBoardLink& link, TPIDParams& board, const TPIDParams& original);

// Stores the run; on failure prints why. Returns whether it was stored.
bool StoreRun(TCtlIo& io, TRunStore& store, TStepRun& run);

// Lists the last stored runs (TRunStore::List); on failure prints why.
bool ListRuns(TCtlIo& io, TRunStore& store, int last, std::vector<TRunListing>& listings);

// Loads stored runs with their samples (TRunStore::Load); on failure prints why.
bool LoadRuns(TCtlIo& io, TRunStore& store, const std::vector<qint64>& ids, std::vector<TStepRun>& runs);

// Reads an integer option; prints a usage error and returns false when it is not an integer
// in [lo, hi]. An option that is not given keeps value.
bool IntOption(TCtlIo& io, const QCommandLineParser& parser, const QString& command,
               const QString& name, int lo, int hi, int& value);

// Reads run numbers ("12" or "#12"); prints a usage error naming the command and returns false
// at the first text that is not one.
bool ReadRunIds(TCtlIo& io, const QString& command, const QStringList& texts, std::vector<qint64>& ids);

// The options --png FILE, --svg FILE and --csv FILE, added to a parser.
void AddOutputOptions(QCommandLineParser& parser, bool csv);

// Writes the pictures and CSV file the options ask for. Returns false (after a message) when a
// file could not be written.
bool WriteRunFiles(TCtlIo& io, const QCommandLineParser& parser, const std::vector<TStepRun>& runs,
                   const QString& title);

// The figures of a run as the tables show them, in the order of kAllFigures.
enum class TFigure { Rise, Overshoot, Peak, Settling, SteadyStateError, Iae, PeakOutput, Saturated };
inline constexpr TFigure kAllFigures[] = {TFigure::Rise,     TFigure::Overshoot,
                                          TFigure::Peak,     TFigure::Settling,
                                          TFigure::SteadyStateError, TFigure::Iae,
                                          TFigure::PeakOutput, TFigure::Saturated};

// Returns the figure's column caption ("rise", "overshoot", ...).
QString FigureCaption(TFigure figure);

// Returns the figure of a run as a table cell: times as TimeText, percentages with " %".
QString FigureText(const TStepRun& run, TFigure figure);

// Returns a key by which the lower figure is the better: times in ms where the sample period
// is known, the size of the steady-state error, infinity for a figure that does not exist.
double FigureKey(const TStepRun& run, TFigure figure);

// Returns the run's number in the history, "-" for a run that is not stored.
QString RunNumberText(const TStepRun& run);

// Prints one row per run: id, time, step, prediv and the figures.
void PrintRunTable(TCtlIo& io, const std::vector<TStepRun>& runs);

// Prints {"runs": [...]} with each run's RunJson (samples as arrays).
void PrintRunsJson(TCtlIo& io, const std::vector<TStepRun>& runs);

// Prints {"runs": [...]} with each listed run's RunJson (sample_count, no samples).
void PrintRunsJson(TCtlIo& io, const std::vector<TRunListing>& listings);

// Formats a figure in ms when the period is known, else in samples; "-" when it is empty.
QString TimeText(std::optional<double> samples, std::optional<double> periodMs);

// Returns whether the arguments ask for a picture (--png or --svg), which needs a
// QGuiApplication for its fonts.
bool ArgumentsWantPicture(int argc, char** argv);
