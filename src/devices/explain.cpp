#include "devices/explain.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>

#include "devices/deviceroot.h"
#include "devices/holders.h"

namespace {

constexpr int kAdaptersShown = 4;

// Everything an explanation says about where the name leads.
struct TPlace {
  TPortTarget Target;
  QString Tty;   // the kernel name it leads to, "" when none
  QString Node;  // the device node as the user knows it ("/dev/ttyUSB0"), else Target.Device
  bool IsCom = false;
  TAudience Audience = TAudience::Window;
};

// How the reader tries again once the cause is cured.
QString TryAgain(const TPlace& place) {
  return place.Audience == TAudience::Window ? QStringLiteral("press Connect again")
                                             : QStringLiteral("run the command again");
}

TPlace PlaceOf(const QString& portName) {
  TPlace place;
  place.Target = ResolvePort(portName);
  place.Tty = TtyNameOf(place.Target);
  place.Node = place.Tty.isEmpty() ? place.Target.Device : QStringLiteral("/dev/") + place.Tty;
  place.IsCom = ComNumber(portName) > 0;
  return place;
}

// "/dev/ttyUSB0 (COM3)", or the path alone when the name is the path.
QString Where(const TPlace& place) {
  if (!place.IsCom) return place.Node;
  return QStringLiteral("%1 (%2)").arg(place.Node, place.Target.Name);
}

// The adapters present other than the one the name leads to, and how to make one of them
// this name.
QString OtherAdapters(const TPlace& place, const TScanContext& context) {
  QList<TSerialDevice> others;
  for (const TSerialDevice& d : ListSerialDevices(context))
    if (d.Name != place.Tty && !d.Problem.startsWith(QLatin1String("no UART"))) others << d;
  if (others.isEmpty())
    return QStringLiteral("\nNo serial adapter is present: plug one in (zirv7ctl ports lists what is found).");
  QString text = QStringLiteral("\nPresent now:");
  for (int i = 0; i < others.size() && i < kAdaptersShown; ++i)
    text += QStringLiteral("\n  %1 — %2").arg(others[i].Device, others[i].Description);
  // Only a name of the tool's own can be linked.
  if (place.IsCom && ComNumber(place.Target.Name) <= kLastCom)
    text += QStringLiteral("\nTo use %1 as %2:\n  zirv7ctl link %2 %1")
                .arg(others.first().Device, place.Target.Name);
  return text;
}

QString Missing(const TPlace& place, const TScanContext& context) {
  QString text;
  if (place.Target.Device.isEmpty())
    text = QStringLiteral("%1 names no port: the tool's ports are COM1 to COM32.").arg(place.Target.Name);
  else if (!place.Target.Alias.isEmpty())
    text = QStringLiteral("%1 is linked to %2, and nothing is there now: the adapter is unplugged "
                          "or was renamed.").arg(place.Target.Name, place.Target.Device);
  else if (place.IsCom)
    text = QStringLiteral("Nothing is at %1, where %2 leads.").arg(place.Target.Device, place.Target.Name);
  else
    text = QStringLiteral("Nothing is at %1.").arg(place.Target.Device);
  return text + OtherAdapters(place, context);
}

QString NoUart(const TPlace& place, const TScanContext& context) {
  return QStringLiteral("%1 is a legacy serial port with no UART behind it: nothing can answer "
                        "there.").arg(Where(place)) + OtherAdapters(place, context);
}

QString NoDevice(const TPlace& place, const TScanContext& context) {
  return QStringLiteral("No device answers at %1: it was unplugged or powered off.").arg(Where(place)) +
         OtherAdapters(place, context);
}

QString Permission(const TPlace& place, const TScanContext& context) {
  const TNodeAccess access = CheckAccess(place.Target.Host, context.Who);
  const QString head = QStringLiteral("You may not open %1").arg(Where(place));
  switch (access.Verdict) {
    case TAccess::JoinGroup:
      return head + QStringLiteral(": it belongs to group %1, and you are not in that group. "
                                   "Join it, then log out and back in:\n  sudo usermod -aG %1 $USER")
                        .arg(access.Group);
    case TAccess::NewLogin:
      return head + QStringLiteral(": it belongs to group %1. You were added to %1 after this "
                                   "session began: log out and back in (or restart) to use it.")
                        .arg(access.Group);
    case TAccess::GroupLacks:
      return head + QStringLiteral(": its permissions (%1, group %2) let only its owner use it. "
                                   "Serial devices are usually rw-rw---- for group dialout.")
                        .arg(access.Mode, access.Group);
    default:
      return head + QStringLiteral(" (group %1): access is refused although the permissions allow "
                                   "it; an access list or security policy may deny it.").arg(access.Group);
  }
}

QString InUse(const TPlace& place, const TScanContext& context) {
  const QList<THolder> holders = OtherHolders(place.Target.Host, place.Tty, -1, context).Holders;
  if (holders.isEmpty())
    return QStringLiteral("%1 is in use by another program. Close it there, then %2.")
        .arg(Where(place), TryAgain(place));
  return QStringLiteral("%1 is in use by %2. Close it there, then %3.")
      .arg(Where(place), HoldersText(holders), TryAgain(place));
}

QString OpenFailure(const TPlace& place, int errorNumber, const TScanContext& context) {
  switch (errorNumber) {
    case EACCES:
    case EPERM: return Permission(place, context);
    case ENOENT: return Missing(place, context);
    case ENXIO:
    case ENODEV: return HasNoUart(place.Tty) ? NoUart(place, context) : NoDevice(place, context);
    case EAGAIN:
    case EBUSY: return InUse(place, context);
    case ENOTTY: return QStringLiteral("%1 is not a serial device.").arg(Where(place));
    default: break;
  }
  return QStringLiteral("%1: %2.").arg(Where(place), QString::fromLocal8Bit(std::strerror(errorNumber)));
}

// The failure of a port that was open at where.
QString LaterFailure(const QString& where, int errorNumber, TAudience audience) {
  if (errorNumber != EIO && errorNumber != ENXIO && errorNumber != ENODEV)
    return QStringLiteral("%1: %2.").arg(where, QString::fromLocal8Bit(std::strerror(errorNumber)));
  // The window has closed the port by the time its box shows (a device that went away cannot
  // be used again as it is), so Connect is what is left to press.
  const QString cure = audience == TAudience::Window
                           ? QStringLiteral("Plug it back in, then press Connect.")
                           : QStringLiteral("Plug it back in, then run the command again.");
  return QStringLiteral("%1 went away while in use: it was unplugged or powered off. %2")
      .arg(where, cure);
}

// A COM name the tool's port selector does not offer.
QString OutsideNames(const QString& portName) {
  if (ComNumber(portName) <= kLastCom) return QString();
  return QStringLiteral("%1 is not one of the tool's port names (COM%2 to COM%3).\n")
      .arg(portName)
      .arg(kFirstCom)
      .arg(kLastCom);
}

// The simulated board holding the device, with the options it was started with: "" when the
// device is not held by zirv7-sim.
QString SimulatorAt(const TPlace& place, const TScanContext& context) {
  for (const THolder& holder : OpenHolders(place.Target.Host, context)) {
    if (holder.Program != QLatin1String("zirv7-sim")) continue;
    QFile file(QStringLiteral("%1/%2/cmdline").arg(context.ProcDir).arg(holder.Pid));
    QStringList args;
    if (file.open(QIODevice::ReadOnly))
      for (const QByteArray& arg : file.read(4096).split('\0')) args << QString::fromLocal8Bit(arg);
    const qsizetype fault = args.indexOf(QStringLiteral("--fault"));
    const QString mode = fault >= 0 ? args.value(fault + 1) : QString();
    const QString head = QStringLiteral("%1 is the simulated board zirv7-sim (PID %2)")
                             .arg(Where(place)).arg(holder.Pid);
    if (!mode.isEmpty())
      return head + QStringLiteral(", started with --fault %1: that fault mode keeps answers "
                                   "from arriving whole. Start it again without it "
                                   "(zirv7-sim --help lists the fault modes).").arg(mode);
    return head + QStringLiteral(": it answers unless it is stopped (Ctrl+Z in its terminal) or "
                                 "was started with a fault mode (zirv7-sim --help lists them).");
  }
  return QString();
}

}  // namespace

QString ExplainPortFailure(const QString& portName, bool atOpen, int errorNumber,
                           const TScanContext& context, TAudience audience) {
  if (errorNumber <= 0) return QString();
  TPlace place = PlaceOf(portName);
  place.Audience = audience;
  return OutsideNames(portName) +
         (atOpen ? OpenFailure(place, errorNumber, context)
                 : LaterFailure(Where(place), errorNumber, audience));
}

QString PortWhere(const QString& portName) { return Where(PlaceOf(portName)); }

QString ExplainFailureInUse(const QString& where, int errorNumber, TAudience audience) {
  if (errorNumber <= 0) return QString();
  return LaterFailure(where, errorNumber, audience);
}

QString UncheckedHoldersNote(const QString& where, int unchecked) {
  if (unchecked <= 0) return QString();
  return QStringLiteral("Whether another program also has %1 open could not be checked: the "
                        "descriptors of %2 of other users cannot be read. A program that has it "
                        "open takes part of the board's answers; as root, fuser -v %3 (package "
                        "psmisc) lists every one.")
      .arg(where, unchecked == 1 ? QStringLiteral("1 process") : QStringLiteral("%1 processes").arg(unchecked),
           where.section(u' ', 0, 0));
}

QString ExplainSilentBoard(const QString& portName, const QString& sent, const TScanContext& context) {
  const TPlace place = PlaceOf(portName);
  const QString head = QStringLiteral("\"%1\" was sent to %2 and no whole answer came back.\n")
                           .arg(sent, Where(place));
  const QString simulator = SimulatorAt(place, context);
  if (!simulator.isEmpty()) return head + simulator;
  const QString adapter = place.IsCom ? QStringLiteral("%1 leads to").arg(place.Target.Name)
                                      : QStringLiteral("%1 is").arg(place.Node);
  return head + QStringLiteral("Check that the board is powered, that the cable is plugged in "
                               "at both ends (at the board's RS232 port), and that %1 the "
                               "adapter the board is on (zirv7ctl ports).").arg(adapter);
}

QString DescribeComName(const QString& com, const QList<TSerialDevice>& present) {
  const TPlace place = PlaceOf(com);
  for (const TSerialDevice& d : present) {
    if (d.Name != place.Tty) continue;
    const QString problem = d.Problem.startsWith(QLatin1String("in use")) ? QString() : d.Problem;
    if (problem == QLatin1String("no UART behind it"))
      return QStringLiteral("%1: no UART behind it — %2").arg(com, d.Device);
    QString text = QStringLiteral("%1: %2 — %3").arg(com, d.Description, d.Device);
    return problem.isEmpty() ? text : QStringLiteral("%1; %2").arg(text, problem);
  }
  if (HasNoUart(place.Tty)) return QStringLiteral("%1: no UART behind it — %2").arg(com, place.Node);
  if (place.Target.Host.isEmpty() || !QFileInfo::exists(place.Target.Host))
    return QStringLiteral("%1: nothing is there — %2").arg(com, place.Target.Device);
  const bool pty = place.Node.startsWith(QLatin1String("/dev/pts/"));
  return QStringLiteral("%1: %2 — %3").arg(com, pty ? QStringLiteral("pseudo-terminal") : QStringLiteral("terminal device"), place.Node);
}
