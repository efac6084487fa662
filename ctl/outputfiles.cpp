#include "ctl/outputfiles.h"

#include <QGuiApplication>

#include "ctl/options.h"
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

bool WriteRunFiles(TCtlIo& io, const TCommandArgs& args, const std::vector<TStepRun>& runs,
                   const QString& title) {
  bool ok = true;
  if (args.Has(kPngOption.Name)) ok &= WritePicture(io, args.Value(kPngOption.Name), TPlotFormat::Png, runs, title);
  if (args.Has(kSvgOption.Name)) ok &= WritePicture(io, args.Value(kSvgOption.Name), TPlotFormat::Svg, runs, title);
  if (args.Has(kCsvOption.Name)) ok &= WriteCsv(io, args.Value(kCsvOption.Name), runs);
  return ok;
}

