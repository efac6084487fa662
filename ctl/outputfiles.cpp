#include "ctl/outputfiles.h"

#include <QGuiApplication>

#include "outputfile/outputfile.h"
#include "stepplot/stepplot.h"

namespace {

bool WritePicture(TCtlIo& io, const QString& file, TPlotFormat format,
                  const std::vector<TStepRun>& runs, const QString& title) {
  if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
    PrintError(io, file, QStringLiteral("pictures need the program's graphics start-up"));
    return false;
  }
  const TResult<void> saved = SaveStepPlot(file, format, runs, title);
  if (!saved) PrintFailure(io, saved.Failure());
  return saved.Ok();
}

bool WriteCsv(TCtlIo& io, const QString& file, const std::vector<TStepRun>& runs) {
  const QString text = RunsCsv(runs);
  if (file == QLatin1String(kStandardOutput)) {
    io.Out << text << Qt::flush;
    return true;
  }
  const TResult<void> written = WriteOutputFile(file, text.toUtf8());
  if (!written) PrintFailure(io, written.Failure());
  return written.Ok();
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

