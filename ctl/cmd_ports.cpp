// zirv7ctl ports: the serial ports present, what they are and what stands in the way.
#include <QJsonArray>
#include <QJsonObject>

#include "ctl/commands.h"
#include "devices/comtargets.h"
#include "devices/serialdevices.h"
#include "globals/jsontext.h"

namespace {

QJsonValue OrNull(const QString& text) { return text.isEmpty() ? QJsonValue() : QJsonValue(text); }

QJsonObject DeviceJson(const TSerialDevice& d) {
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

int RunPorts(const TCommandArgs& args, TCtlIo& io) {
  QList<TSerialDevice> devices = ListSerialDevices();
  devices += OtherComTargets(devices);
  if (args.Has("json")) {
    QJsonArray array;
    for (const TSerialDevice& d : devices) array.append(DeviceJson(d));
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
