#include "ctl/options.h"

#include "globals/numtext.h"

void AddPortOption(QCommandLineParser& parser) {
  parser.addOption({QStringLiteral("port"), QStringLiteral("The board's port (COM1, or a device path)."),
                    QStringLiteral("NAME")});
}

void AddYesOption(QCommandLineParser& parser) {
  parser.addOption({QStringLiteral("yes"), QStringLiteral("Write without asking.")});
}

void AddWriteOptions(QCommandLineParser& parser) {
  AddYesOption(parser);
  parser.addOption({QStringLiteral("dry-run"), QStringLiteral("Show the differences; write nothing.")});
}

void AddStepOptions(QCommandLineParser& parser) {
  parser.addOption({QLatin1String(kStepOption.Name), QStringLiteral("The command step in counts (not 0)."),
                    QStringLiteral("N")});
  parser.addOption({QLatin1String(kPredivOption.Name),
                    QStringLiteral("Servo cycles between samples, less one (0 to 50)."),
                    QStringLiteral("N")});
}

void AddStepTestOptions(QCommandLineParser& parser) {
  AddPortOption(parser);
  AddStepOptions(parser);
}

bool ReadStepTestOptions(TCtlIo& io, const QCommandLineParser& parser, const QString& command,
                         TStepTestOptions& options) {
  options.Port = parser.value(QStringLiteral("port"));
  if (options.Port.isEmpty() || !parser.isSet(QStringLiteral("step"))) {
    PrintError(io, command, QStringLiteral("--port and --step are required"));
    return false;
  }
  if (!IntOption(io, parser, command, kStepOption, options.Step) ||
      !IntOption(io, parser, command, kPredivOption, options.Prediv))
    return false;
  if (options.Step != 0) return true;
  PrintError(io, command, QStringLiteral("--step must not be 0"));
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

bool IntOption(TCtlIo& io, const QCommandLineParser& parser, const QString& command,
               const TIntOption& option, int& value) {
  return IntOption(io, parser, command, QLatin1String(option.Name), option.Lo, option.Hi, value);
}

bool IntOption(TCtlIo& io, const QCommandLineParser& parser, const QString& command,
               const TIntOption& option, std::optional<int>& value) {
  if (!parser.isSet(QLatin1String(option.Name))) return true;
  int v = 0;
  if (!IntOption(io, parser, command, option, v)) return false;
  value = v;
  return true;
}

bool NumberOption(TCtlIo& io, const QCommandLineParser& parser, const QString& command,
                  const QString& name, double lo, double hi, double& value) {
  if (!parser.isSet(name)) return true;
  double v = 0;
  if (TryReadNumber(parser.value(name), v) && v >= lo && v <= hi) {
    value = v;
    return true;
  }
  PrintError(io, command, QStringLiteral("--%1 must be a number from %2 to %3").arg(name).arg(lo).arg(hi));
  return false;
}

bool ReadBackupId(TCtlIo& io, const QString& command, const QString& text, qint64& id) {
  bool ok = false;
  id = (text.startsWith(u'#') ? text.mid(1) : text).toLongLong(&ok);
  if (ok && id > 0) return true;
  PrintError(io, command, QStringLiteral("'%1' is not a backup number (see 'zirv7ctl backups')").arg(text));
  return false;
}

bool ReadRunIds(TCtlIo& io, const QString& command, const QStringList& texts,
                std::vector<qint64>& ids) {
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
                      QStringLiteral("Write the runs' samples to a CSV file; '-' writes them to standard "
                                     "output alone and the table to standard error."),
                      QStringLiteral("FILE")});
}
