#include "ctl/steps.h"

#include <QFile>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <cstring>

#include "globals/numtext.h"
#include "stepplot/stepplot.h"
#include "steptest/boardlink.h"
#include "steptest/steptest.h"

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
    PrintError(io, port, e.Message());
    return false;
  }
  QString failure;
  if (ReadBoardParameters(link, params, failure)) return true;
  PrintError(io, port, failure);
  return false;
}

bool StoreRun(TCtlIo& io, TRunStore& store, TStepRun& run) {
  QString error;
  if (store.Insert(run, error)) return true;
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
    const qint64 id = QString(text).remove(QLatin1Char('#')).toLongLong(&ok);
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
  QSaveFile out(file);
  const QByteArray bytes = RunsCsv(runs).toUtf8();
  if (out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size() && out.commit())
    return true;
  PrintError(io, file, out.errorString());
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
  if (parser.optionNames().contains(csv) && parser.isSet(csv))
    ok &= WriteCsv(io, parser.value(csv), runs);
  return ok;
}

QString TimeText(std::optional<double> samples, std::optional<double> periodMs) {
  if (!samples) return QStringLiteral("-");
  if (periodMs) return QString::number(*samples * *periodMs, 'f', 2) + QStringLiteral(" ms");
  return QString::number(*samples, 'f', 1) + QStringLiteral(" smp");
}

void PrintRunTable(TCtlIo& io, const std::vector<TStepRun>& runs) {
  std::vector<QStringList> rows = {{"id", "time", "step", "prediv", "rise", "overshoot", "peak",
                                    "settling", "ss error", "iae", "peak out", "saturated"}};
  for (const TStepRun& run : runs) {
    const TStepFigures& f = run.Figures;
    const std::optional<double> period = SamplePeriodMs(run);
    rows.push_back({run.Id > 0 ? QString::number(run.Id) : QStringLiteral("-"), run.Time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                    QString::number(run.Step), QString::number(run.Prediv),
                    TimeText(f.RiseSamples, period),
                    QString::number(f.OvershootPct, 'f', 1) + QStringLiteral(" %"),
                    TimeText(double(f.PeakSample), period),
                    TimeText(f.SettlingSamples ? std::optional<double>(*f.SettlingSamples)
                                               : std::nullopt,
                             period),
                    QString::number(f.SteadyStateError, 'f', 2), QString::number(f.Iae, 'f', 0),
                    QString::number(f.PeakOutput, 'f', 1) + QStringLiteral(" %"),
                    f.Saturated ? QStringLiteral("yes") : QStringLiteral("no")});
  }
  PrintTable(io, rows, 2);
}

void PrintRunsJson(TCtlIo& io, const std::vector<TStepRun>& runs) {
  QJsonArray array;
  for (const TStepRun& run : runs) array.append(RunJson(run));
  io.Out << QJsonDocument(QJsonObject{{QStringLiteral("runs"), array}}).toJson(QJsonDocument::Indented);
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
