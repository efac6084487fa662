#pragma once

// The options several commands share, each declared once, and the readers of what they give.

#include <QString>
#include <QStringList>
#include <vector>

#include "ctl/commandline.h"
#include "protocol/transactions.h"

inline constexpr TOption kPortOption{"port", "NAME", "The board's port (COM1, or a device path)."};
inline constexpr TOption kStepOption{"step", "N", "The command step in counts (not 0).",
                                     {TValueKind::WholeNumber, -1000000000, 1000000000, true}};
inline constexpr TOption kPredivOption{"prediv", "N", "Servo cycles between samples, less one (0 to 50).",
                                       {TValueKind::WholeNumber, StepMinPrediv, StepMaxPrediv}};
// Each command says what its JSON holds.
inline constexpr TOption kJsonOption{"json"};
inline constexpr TOption kYesOption{"yes", nullptr, "Write without asking."};
inline constexpr TOption kDryRunOption{"dry-run", nullptr, "Show the differences; write nothing."};
inline constexpr TOption kPngOption{"png", "FILE", "Draw the runs into a PNG picture."};
inline constexpr TOption kSvgOption{"svg", "FILE", "Draw the runs into an SVG picture."};
inline constexpr TOption kCsvOption{"csv", "FILE",
                                    "Write the runs' samples to a CSV file; '-' writes them to standard "
                                    "output alone and the table to standard error."};
// Link and unlink say what it changes.
inline constexpr TOption kForceOption{"force"};

// What a step test on the board is given: --port NAME, --step N and --prediv N.
struct TStepTestOptions {
  QString Port;
  int Step = 0;
  int Prediv = 0;
};

// Returns the step test that --port, --step and --prediv ask for.
TStepTestOptions StepTestOptionsOf(const TCommandArgs& args);

// Returns the numbers of runs or backups as RecordNumber reads them, from texts that the
// command line's rules have checked.
std::vector<qint64> RecordNumbers(const QStringList& texts);
