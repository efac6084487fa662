// zirv7ctl ports: the serial ports present, what they are and what stands in the way.
#include <QJsonArray>
#include <QJsonObject>

#include "ctl/commands.h"
#include "devices/comtargets.h"
#include "devices/serialdevices.h"
#include "globals/jsontext.h"

namespace {

QJsonValue OrNull(const QString& text) { return text.isEmpty() ? QJsonValue() : QJsonValue(text); }

QJsonObject JsonOf(const TSerialDevice& d) {
  return {{QStringLiteral("device"), d.Device},         {QStringLiteral("by_id"), OrNull(d.ById)},
          {QStringLiteral("description"), d.Description}, {QStringLiteral("vendor_id"), OrNull(d.VendorId)},
          {QStringLiteral("product_id"), OrNull(d.ProductId)}, {QStringLiteral("serial"), OrNull(d.Serial)},
          {QStringLiteral("com"), OrNull(d.Com)},       {QStringLiteral("problem"), OrNull(d.Problem)}};
}

QString Dash(const QString& text) { return text.isEmpty() ? QStringLiteral("-") : text; }

// One row per device; the stable name goes last because it is long.
void PrintDeviceTable(TCtlIo& io, const QList<TSerialDevice>& devices) {
  std::vector<QStringList> rows = {{"DEVICE", "COM", "USB ID", "DESCRIPTION", "PROBLEM", "BY-ID"}};
  for (const TSerialDevice& d : devices) {
    const QString usbId = d.VendorId.isEmpty() ? QString() : d.VendorId + u':' + d.ProductId;
    rows.push_back({d.Device, Dash(d.Com), Dash(usbId), d.Description, Dash(d.Problem), Dash(d.ById)});
  }
  PrintTable(io, rows, int(rows.front().size()));
}

}  // namespace

int RunPorts(const QStringList& args, TCtlIo& io) {
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Lists every serial device present: its device path, the COM name that leads to it, its\n"
      "USB vendor and product IDs, a description, what keeps the tool from using it, and its\n"
      "stable name under /dev/serial/by-id. COM names that lead elsewhere (a pseudo-terminal\n"
      "of the simulated board, another terminal, nothing) follow with what is there."));
  const QCommandLineOption json(QStringLiteral("json"),
                                QStringLiteral("Print a JSON array (null where a value is absent)."));
  parser.addOption(json);
  int exitCode = kExitOk;
  if (!ParseCommandLine(parser, QStringLiteral("ports"), QStringLiteral("[--json]"), args, io, exitCode))
    return exitCode;
  if (!TakesNoArguments(parser, QStringLiteral("ports"), io)) return kExitUsage;
  QList<TSerialDevice> devices = ListSerialDevices();
  devices += OtherComTargets(devices);
  if (parser.isSet(json)) {
    QJsonArray array;
    for (const TSerialDevice& d : devices) array.append(JsonOf(d));
    io.Out << JsonText(array);
    return kExitOk;
  }
  if (devices.isEmpty()) {
    io.Err << "No serial device found. Plug in the adapter, then run 'zirv7ctl ports' again.\n";
    return kExitOk;
  }
  PrintDeviceTable(io, devices);
  return kExitOk;
}
