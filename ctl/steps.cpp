#include "ctl/steps.h"

#include <QFile>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <cmath>
#include <cstring>
#include <limits>

#include "ctl/porterrors.h"
#include "globals/numtext.h"
#include "outputfile/outputfile.h"
#include "parameters/paramtable.h"
#include "stepplot/stepplot.h"
#include "steptest/boardlink.h"
#include "steptest/paramswap.h"
#include "steptest/steptest.h"

void AddStepTestOptions(QCommandLineParser& parser) {
  parser.addOption({QStringLiteral("port"), QStringLiteral("The board's port (COM1, or a device path)."),
                    QStringLiteral("NAME")});
  parser.addOption({QStringLiteral("step"), QStringLiteral("The command step in counts (not 0)."),
                    QStringLiteral("N")});
  parser.addOption({QStringLiteral("prediv"),
                    QStringLiteral("Servo cycles between samples, less one (0 to 50)."),
                    QStringLiteral("N")});
}

bool ReadStepTestOptions(TCtlIo& io, const QCommandLineParser& parser, const QString& command,
                         TStepTestOptions& options) {
  options.Port = parser.value(QStringLiteral("port"));
  if (options.Port.isEmpty() || !parser.isSet(QStringLiteral("step"))) {
    PrintError(io, command, QStringLiteral("--port and --step are required"));
    return false;
  }
  if (!IntOption(io, parser, command, QStringLiteral("step"), -1000000000, 1000000000, options.Step) ||
      !IntOption(io, parser, command, QStringLiteral("prediv"), 0, 50, options.Prediv))
    return false;
  if (options.Step != 0) return true;
  PrintError(io, command, QStringLiteral("--step must not be 0"));
  return false;
}

bool OpenRunHistory(TCtlIo& io, TRunStore& store) {
  const QString path = TRunStore::DefaultPath();
  QString error;
  if (store.Open(path, error)) return true;
  PrintError(io, path, error);
  return false;
}

bool OpenBoard(TCtlIo& io, TBoardLink& link, const QString& port, TPIDParams& params) {
  try {
    link.Open(port);
  } catch (const Exception& e) {
    PrintPortError(io, port, e);
    return false;
  }
  QString failure;
  if (ReadBoardParameters(link, params, failure)) return true;
  if (link.Port().DeviceLost())
    PrintError(io, port, failure);
  else
    PrintSilentBoard(io, port, failure, QStringLiteral("l"));
  return false;
}

bool PutBoardBack(TCtlIo& io, TBoardLink& link, TPIDParams& board, const TPIDParams& original) {
  io.Err << link.PortName() << ": putting the board's values back\n" << Qt::flush;
  QString failure;
  if (RestoreParameters(link, board, original, failure)) return true;
  // Every value, so that the user can put them back by hand.
  QStringList values;
  for (const TParamRow& row : ParamTable())
    values.append(QStringLiteral("%1=%2").arg(QLatin1String(row.FileKey),
                                              FormatNumber(RecordValue(original, row))));
  PrintError(io, link.PortName(),
             QStringLiteral("the board's values could not be put back (%1); they were: %2")
                 .arg(failure, values.join(QLatin1Char(' '))));
  return false;
}

bool StoreRun(TCtlIo& io, TRunStore& store, TStepRun& run) {
  QString error;
  if (store.Insert(run, error)) return true;
  PrintError(io, TRunStore::DefaultPath(), error);
  return false;
}

bool ListRuns(TCtlIo& io, TRunStore& store, int last, std::vector<TRunListing>& listings) {
  QString error;
  if (store.List(last, listings, error)) return true;
  PrintError(io, TRunStore::DefaultPath(), error);
  return false;
}

bool LoadRuns(TCtlIo& io, TRunStore& store, const std::vector<qint64>& ids, std::vector<TStepRun>& runs) {
  QString error;
  if (store.Load(ids, runs, error)) return true;
  PrintError(io, TRunStore::DefaultPath(), error);
  return false;
}

bool IntOption(TCtlIo& io, const QCommandLineParser& parser, const QString& command,
               const QString& name, int lo, int hi, int& value) {
  if (!parser.isSet(name)) return true;
  bool ok = false;
  const int v = parser.value(name).toInt(&ok);
  if (ok && v >= lo && v <= hi) {
    value = v;
    return true;
  }
  PrintError(io, command,
             QStringLiteral("--%1 must be a whole number from %2 to %3").arg(name).arg(lo).arg(hi));
  return false;
}

bool ReadRunIds(TCtlIo& io, const QString& command, const QStringList& texts, std::vector<qint64>& ids) {
  for (const QString& text : texts) {
    bool ok = false;
    const qint64 id = (text.startsWith(u'#') ? text.mid(1) : text).toLongLong(&ok);
    if (!ok || id <= 0) {
      PrintError(io, command, QStringLiteral("'%1' is not a run number").arg(text));
      return false;
    }
    ids.push_back(id);
  }
  return true;
}

void AddOutputOptions(QCommandLineParser& parser, bool csv) {
  parser.addOption({QStringLiteral("png"), QStringLiteral("Draw the runs into a PNG picture."),
                    QStringLiteral("FILE")});
  parser.addOption({QStringLiteral("svg"), QStringLiteral("Draw the runs into an SVG picture."),
                    QStringLiteral("FILE")});
  if (csv)
    parser.addOption({QStringLiteral("csv"),
                      QStringLiteral("Write the runs' samples to a CSV file."),
                      QStringLiteral("FILE")});
}

namespace {

bool WritePicture(TCtlIo& io, const QString& file, TPlotFormat format,
                  const std::vector<TStepRun>& runs, const QString& title) {
  if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
    PrintError(io, file, QStringLiteral("pictures need the program's graphics start-up"));
    return false;
  }
  QString error;
  if (SaveStepPlot(file, format, runs, title, error)) return true;
  PrintError(io, file, error);
  return false;
}

bool WriteCsv(TCtlIo& io, const QString& file, const std::vector<TStepRun>& runs) {
  const QString text = RunsCsv(runs);
  if (file == QLatin1String(kStandardOutput)) {
    io.Out << text << Qt::flush;
    return true;
  }
  QString error;
  if (WriteOutputFile(file, text.toUtf8(), error)) return true;
  PrintError(io, file, error);
  return false;
}

}  // namespace

bool WriteRunFiles(TCtlIo& io, const QCommandLineParser& parser, const std::vector<TStepRun>& runs,
                   const QString& title) {
  bool ok = true;
  const QString png = QStringLiteral("png"), svg = QStringLiteral("svg"),
                csv = QStringLiteral("csv");
  if (parser.isSet(png)) ok &= WritePicture(io, parser.value(png), TPlotFormat::Png, runs, title);
  if (parser.isSet(svg)) ok &= WritePicture(io, parser.value(svg), TPlotFormat::Svg, runs, title);
  // optionNames() holds the options given: compare and suggest have no --csv, and isSet()
  // would warn of an option never added.
  if (parser.optionNames().contains(csv)) ok &= WriteCsv(io, parser.value(csv), runs);
  return ok;
}

QString TimeText(std::optional<double> samples, std::optional<double> periodMs) {
  if (!samples) return QStringLiteral("-");
  if (periodMs) return QString::number(*samples * *periodMs, 'f', 2) + QStringLiteral(" ms");
  return QString::number(*samples, 'f', 1) + QStringLiteral(" smp");
}

namespace {

// How a table shows a figure and ranks it.
struct TFigureForm {
  const char* Caption;
  QString (*Text)(const TStepRun&);
  double (*Key)(const TStepRun&);
};

constexpr double kNoFigure = std::numeric_limits<double>::infinity();

std::optional<double> Settling(const TStepRun& r) {
  if (!r.Figures.SettlingSamples) return std::nullopt;
  return double(*r.Figures.SettlingSamples);
}

// A time figure of a run whose response lies within one sample is left empty.
std::optional<double> Measurable(const TStepRun& r, std::optional<double> samples) {
  return CoarseSamplingNote(r).isEmpty() ? samples : std::nullopt;
}

// Times rank in ms where the sample period is known, so that runs of other prediv compare.
double TimeKey(std::optional<double> samples, const TStepRun& r) {
  return samples.value_or(kNoFigure) * SamplePeriodMs(r).value_or(1);
}

QString Percent(double value) { return QString::number(value, 'f', 1) + QStringLiteral(" %"); }

// Indexed by TFigure.
const TFigureForm kFigureForms[] = {
    {"rise", [](const TStepRun& r) { return TimeText(Measurable(r, r.Figures.RiseSamples), SamplePeriodMs(r)); },
     [](const TStepRun& r) { return TimeKey(r.Figures.RiseSamples, r); }},
    {"overshoot", [](const TStepRun& r) { return Percent(r.Figures.OvershootPct); },
     [](const TStepRun& r) { return r.Figures.OvershootPct; }},
    {"peak", [](const TStepRun& r) { return TimeText(Measurable(r, double(r.Figures.PeakSample)), SamplePeriodMs(r)); },
     [](const TStepRun& r) { return TimeKey(double(r.Figures.PeakSample), r); }},
    {"settling", [](const TStepRun& r) { return TimeText(Measurable(r, Settling(r)), SamplePeriodMs(r)); },
     [](const TStepRun& r) { return TimeKey(Settling(r), r); }},
    {"ss error", [](const TStepRun& r) { return QString::number(r.Figures.SteadyStateError, 'f', 2); },
     [](const TStepRun& r) { return std::fabs(r.Figures.SteadyStateError); }},
    {"iae", [](const TStepRun& r) { return QString::number(r.Figures.Iae, 'f', 0); },
     [](const TStepRun& r) { return r.Figures.Iae; }},
    {"peak out", [](const TStepRun& r) { return Percent(r.Figures.PeakOutput); },
     [](const TStepRun& r) { return r.Figures.PeakOutput; }},
    {"saturated", [](const TStepRun& r) { return QString::fromLatin1(r.Figures.Saturated ? "yes" : "no"); },
     [](const TStepRun& r) { return r.Figures.Saturated ? 1.0 : 0.0; }},
};
static_assert(std::size(kFigureForms) == std::size(kAllFigures));

const TFigureForm& FormOf(TFigure figure) { return kFigureForms[size_t(figure)]; }

}  // namespace

QString FigureCaption(TFigure figure) { return QLatin1String(FormOf(figure).Caption); }

QString FigureText(const TStepRun& run, TFigure figure) { return FormOf(figure).Text(run); }

double FigureKey(const TStepRun& run, TFigure figure) { return FormOf(figure).Key(run); }

QString RunNumberText(const TStepRun& run) {
  return run.Id > 0 ? QString::number(run.Id) : QStringLiteral("-");
}

void PrintRunTable(TCtlIo& io, const std::vector<TStepRun>& runs) {
  QStringList header = {"id", "time", "step", "prediv"};
  for (TFigure figure : kAllFigures) header.append(FigureCaption(figure));
  std::vector<QStringList> rows = {header};
  for (const TStepRun& run : runs) {
    QStringList row = {RunNumberText(run), run.Time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                       QString::number(run.Step), QString::number(run.Prediv)};
    for (TFigure figure : kAllFigures) row.append(FigureText(run, figure));
    rows.push_back(row);
  }
  PrintTable(io, rows, 2);
  for (const TStepRun& run : runs) {
    const QString note = CoarseSamplingNote(run);
    if (!note.isEmpty()) io.Err << "run " << RunNumberText(run) << ": " << note << "\n" << Qt::flush;
  }
}

namespace {

void PrintRunsObject(TCtlIo& io, const QJsonArray& runs) {
  io.Out << QJsonDocument(QJsonObject{{QStringLiteral("runs"), runs}}).toJson(QJsonDocument::Indented);
}

}  // namespace

void PrintRunsJson(TCtlIo& io, const std::vector<TStepRun>& runs) {
  QJsonArray array;
  for (const TStepRun& run : runs) array.append(RunJson(run));
  PrintRunsObject(io, array);
}

void PrintRunsJson(TCtlIo& io, const std::vector<TRunListing>& listings) {
  QJsonArray array;
  for (const TRunListing& l : listings) array.append(RunJson(l.Run, l.SampleCount));
  PrintRunsObject(io, array);
}

bool ArgumentsWantPicture(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    for (const char* option : {"--png", "--svg", "-png", "-svg"}) {
      const size_t n = std::strlen(option);
      if (std::strncmp(a, option, n) == 0 && (a[n] == '\0' || a[n] == '=')) return true;
    }
  }
  return false;
}
