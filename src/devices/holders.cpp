#include "devices/holders.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <climits>
#include <cstring>

#include "devices/deviceroot.h"

namespace {

QString ProgramOf(qint64 pid, const TScanContext& context) {
  return ReadAttribute(QStringLiteral("%1/%2/comm").arg(context.ProcDir).arg(pid));
}

bool IsAlive(qint64 pid, const TScanContext& context) {
  return pid > 0 && QFileInfo::exists(QStringLiteral("%1/%2").arg(context.ProcDir).arg(pid));
}

void AddHolder(QList<THolder>& holders, qint64 pid, const TScanContext& context) {
  for (const THolder& h : holders)
    if (h.Pid == pid) return;
  holders << THolder{pid, ProgramOf(pid, context)};
}

// The lock table names a file by its file system's device (hex major:minor) and inode.
QList<qint64> LockTablePids(const QString& hostPath, const TScanContext& context) {
  struct stat node {};
  if (::stat(QFile::encodeName(hostPath).constData(), &node) != 0) return {};
  const QString key = QStringLiteral("%1:%2:%3")
                          .arg(major(node.st_dev), 2, 16, QLatin1Char('0'))
                          .arg(minor(node.st_dev), 2, 16, QLatin1Char('0'))
                          .arg(quint64(node.st_ino));
  QFile table(context.ProcDir + QStringLiteral("/locks"));
  if (!table.open(QIODevice::ReadOnly)) return {};
  QList<qint64> pids;
  for (const QByteArray& line : table.readAll().split('\n')) {
    const QList<QByteArray> fields = line.simplified().split(' ');
    // "1: FLOCK ADVISORY WRITE 4242 00:1a:5 0 EOF"; waiting requests carry "->" and hold nothing.
    if (fields.size() < 6 || fields[1] == "->") continue;
    if (QString::fromLatin1(fields[5]) == key) pids << fields[4].toLongLong();
  }
  return pids;
}

// A lock file holds the PID as ASCII digits (HDB style) or as a binary int. A binary PID always
// has a NUL byte (PIDs stay below 2^22), and text never does: a binary PID such as 2617, whose
// bytes read "9\n\0\0", must not pass for the digits before its NULs.
qint64 LockFilePid(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return 0;
  const QByteArray bytes = file.read(64);
  if (bytes.contains('\0')) {
    if (bytes.size() != sizeof(int)) return 0;
    int binary = 0;
    std::memcpy(&binary, bytes.constData(), sizeof binary);
    return binary;
  }
  bool ascii = false;
  const qint64 pid = bytes.trimmed().toLongLong(&ascii);
  return ascii ? pid : 0;
}

// The pseudo-terminal index of a device path "/dev/pts/7": 7, or -1 for any other device.
int PtyIndex(const QString& device) {
  static const QString kPts = QStringLiteral("/dev/pts/");
  if (!device.startsWith(kPts)) return -1;
  bool number = false;
  const int index = device.mid(kPts.size()).toInt(&number);
  return number ? index : -1;
}

// Returns whether the descriptor whose link reads target is the master side of the
// pseudo-terminal index: the multiplexer /dev/ptmx (or /dev/pts/ptmx), whose fdinfo tells
// the index of the terminal it made.
bool IsPtyMasterOf(const QString& target, const QString& fdInfo, int index) {
  if (index < 0 || !target.endsWith(QLatin1String("/ptmx"))) return false;
  QFile info(fdInfo);
  if (!info.open(QIODevice::ReadOnly)) return false;
  for (const QByteArray& line : info.readAll().split('\n'))
    if (line.startsWith("tty-index:")) return line.mid(10).trimmed().toInt() == index;
  return false;
}

// Returns whether pid is a kernel thread, which holds no files: PF_KTHREAD among the flags, the
// ninth field of its stat line (after the name in parentheses, which may hold anything).
bool IsKernelThread(const QString& procDir, const QString& pid) {
  constexpr quint64 kKernelThread = 0x00200000;
  QFile stat(QStringLiteral("%1/%2/stat").arg(procDir, pid));
  if (!stat.open(QIODevice::ReadOnly)) return false;
  const QByteArray line = stat.readAll();
  const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 1).simplified().split(' ');
  return fields.size() > 6 && (fields[6].toULongLong() & kKernelThread) != 0;
}

// What one look through the processes' descriptors leaves out.
struct TOpenScan {
  int OwnFd = -1;                   // this process's own descriptor of the device
  bool LeaveOutPtyMasters = false;  // processes holding the device's pty master side
};

// One process's descriptors: whether one leads to the device, whether one is the master side
// of its pty, and whether they could be read at all.
struct TProcessFds {
  bool Readable = true;
  bool HoldsDevice = false;
  bool HoldsMaster = false;
};

TProcessFds ReadProcessFds(const QString& procDir, const QString& pid, const QString& device,
                           int ptyIndex, int skipFd) {
  TProcessFds result;
  const QString fdDir = QStringLiteral("%1/%2/fd").arg(procDir, pid);
  DIR* dir = ::opendir(QFile::encodeName(fdDir).constData());
  if (!dir) {
    result.Readable = errno != EACCES && errno != EPERM;
    return result;
  }
  char target[PATH_MAX];
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    const ssize_t n = ::readlinkat(::dirfd(dir), entry->d_name, target, sizeof target - 1);
    if (n <= 0) continue;
    const QString link = QFile::decodeName(QByteArray(target, int(n)));
    const QString fd = QString::fromLatin1(entry->d_name);
    if (link == device && fd.toInt() != skipFd) result.HoldsDevice = true;
    if (IsPtyMasterOf(link, QStringLiteral("%1/%2/fdinfo/%3").arg(procDir, pid, fd), ptyIndex))
      result.HoldsMaster = true;
  }
  ::closedir(dir);
  return result;
}

// Looks through every process's descriptors for the device at hostPath.
THolderScan ScanOpenHolders(const QString& hostPath, const TOpenScan& scan, const TScanContext& context) {
  const QString device = QFileInfo(hostPath).canonicalFilePath();
  if (device.isEmpty()) return {};
  const int ptyIndex = scan.LeaveOutPtyMasters ? PtyIndex(device) : -1;
  const QString self = QString::number(::getpid());
  THolderScan found;
  const QDir proc(context.ProcDir);
  for (const QString& entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    bool isPid = false;
    const qint64 pid = entry.toLongLong(&isPid);
    if (!isPid) continue;
    const TProcessFds fds =
        ReadProcessFds(context.ProcDir, entry, device, ptyIndex, entry == self ? scan.OwnFd : -1);
    if (!fds.Readable) {
      if (!IsKernelThread(context.ProcDir, entry)) ++found.Unchecked;
      continue;
    }
    if (fds.HoldsDevice && !fds.HoldsMaster) AddHolder(found.Holders, pid, context);
  }
  return found;
}

}  // namespace

QList<THolder> LockHolders(const QString& hostPath, const QString& ttyName, const TScanContext& context) {
  QList<THolder> holders;
  for (qint64 pid : LockTablePids(hostPath, context))
    if (IsAlive(pid, context)) AddHolder(holders, pid, context);
  if (ttyName.isEmpty()) return holders;
  for (const QString& dir : context.LockDirs) {
    const qint64 pid = LockFilePid(dir + QStringLiteral("/LCK..") + ttyName);
    if (IsAlive(pid, context)) AddHolder(holders, pid, context);
  }
  return holders;
}

QList<THolder> OpenHolders(const QString& hostPath, const TScanContext& context) {
  return ScanOpenHolders(hostPath, {}, context).Holders;
}

THolderScan OtherHolders(const QString& hostPath, const QString& ttyName, int ownFd,
                         const TScanContext& context) {
  TOpenScan scan;
  scan.OwnFd = ownFd;
  scan.LeaveOutPtyMasters = true;
  const THolderScan open = ScanOpenHolders(hostPath, scan, context);
  THolderScan found;
  found.Unchecked = open.Unchecked;
  const qint64 self = ::getpid();
  // With the caller's own lock taken, the lock table's entry of its own process is that lock.
  for (const THolder& h : LockHolders(hostPath, ttyName, context))
    if (ownFd < 0 || h.Pid != self) found.Holders << h;
  for (const THolder& h : open.Holders)
    if (!found.Holders.contains(h)) found.Holders << h;
  return found;
}

QString HoldersText(const QList<THolder>& holders) {
  QStringList parts;
  for (const THolder& h : holders) {
    const QString program = h.Program.isEmpty() ? QStringLiteral("a program") : h.Program;
    parts << QStringLiteral("%1 (PID %2)").arg(program).arg(h.Pid);
  }
  return parts.join(QStringLiteral(", "));
}

std::optional<QDateTime> ProcessStartTime(qint64 pid, const TScanContext& context) {
  QFile stat(QStringLiteral("%1/%2/stat").arg(context.ProcDir).arg(pid));
  QFile system(context.ProcDir + QStringLiteral("/stat"));
  if (!stat.open(QIODevice::ReadOnly) || !system.open(QIODevice::ReadOnly)) return std::nullopt;
  // "4242 (zirv7ctl) S 1 ...": the name may hold blanks and parentheses, so the fields are
  // counted after its last ')'. The start time is field 22, the 20th after the name.
  const QByteArray line = stat.readAll();
  const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 1).simplified().split(' ');
  bool ticksOk = false;
  const qint64 ticks = fields.value(19).toLongLong(&ticksOk);
  qint64 boot = -1;
  for (const QByteArray& row : system.readAll().split('\n'))
    if (row.startsWith("btime ")) boot = row.mid(6).trimmed().toLongLong();
  const long perSecond = ::sysconf(_SC_CLK_TCK);
  if (!ticksOk || boot < 0 || perSecond <= 0) return std::nullopt;
  return QDateTime::fromMSecsSinceEpoch(boot * 1000 + ticks * 1000 / perSecond);
}
