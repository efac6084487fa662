// The serial port against a pseudo-terminal whose master side plays the board.

#include <termios.h>
#include <time.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <thread>

#include "globals/errorreport.h"
#include "ptypeer.h"
#include "serial/comport.h"

namespace {

int OpenFdCount() {
  int n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

double ProcessCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Runs call and returns the EComPort it raised; fails the test when none was raised.
EComPort Raised(const std::function<void()>& call) {
  try {
    call();
  } catch (const EComPort& e) {
    return e;
  }
  return EComPort(0, -1);
}

// Fills the pseudo-terminal's buffer towards the peer (which does not read) with short
// write time-outs; returns the bytes the port reported sent.
qint64 FillTowardsPeer(TComPort& port) {
  const TComTimeouts saved = port.Timeouts();
  port.SetTimeouts({0, 200});
  const QString chunk(65536, QLatin1Char('x'));
  qint64 total = 0;
  for (int sent = int(chunk.size()); sent == chunk.size();) {
    sent = port.WriteStr(chunk);
    total += sent;
  }
  port.SetTimeouts(saved);
  return total;
}

}  // namespace

class TComPortTest : public QObject {
  Q_OBJECT

 private:
  QStringList FReports;
  TErrorReporter FSaved;

  void OpenOn(TComPort& port, const TPtyPeer& peer) {
    port.SetPort(peer.SlavePath());
    port.SetConnected(true);
  }

 private slots:
  void init() {
    FReports.clear();
    FSaved = SetErrorReporter([this](const QString& m) { FReports << m; });
  }
  void cleanup() { SetErrorReporter(FSaved); }

  void openFailures_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("busy");
    QTest::addColumn<int>("errnoValue");
    QTest::newRow("missing device path") << "/nonexistent/ttyZ9" << false << ENOENT;
    QTest::newRow("empty name") << "" << false << ENOENT;
    QTest::newRow("name of no known form") << "ttyUSB0" << false << ENOENT;
    QTest::newRow("regular file is not a port") << "<file>" << false << ENOTTY;
    QTest::newRow("port held by another port object") << "<pty>" << true << EWOULDBLOCK;
  }
  void openFailures() {
    QFETCH(QString, name);
    QFETCH(bool, busy);
    QFETCH(int, errnoValue);
    TPtyPeer peer;
    QTemporaryDir dir;
    if (name == "<file>") {
      name = dir.filePath("plain");
      QFile f(name);
      QVERIFY(f.open(QIODevice::WriteOnly));
    }
    if (name == "<pty>") name = peer.SlavePath();
    TComPort holder;
    if (busy) {
      holder.SetPort(name);
      holder.SetConnected(true);
    }
    TComPort port;
    port.SetPort(name);
    const EComPort e = Raised([&] { port.SetConnected(true); });
    QCOMPARE(e.Code, int(CE_OpenFailed));
    QCOMPARE(e.WinCode, errnoValue);
    QCOMPARE(e.Message(), QStringLiteral("Unable to open com port (Error: %1)").arg(errnoValue));
    QVERIFY(!port.Connected());
    if (busy) QVERIFY(holder.Connected());
  }

  void callsOnClosedPort() {
    struct TRow {
      const char* fault;
      std::function<void(TComPort&)> call;
      int code;
      int winCode;
    };
    const TRow rows[] = {
        {"write on closed port not refused", [](TComPort& p) { p.WriteStr("l"); },
         CEPortNotOpen, -1},
        {"read on closed port not refused",
         [](TComPort& p) { QString s; p.ReadStr(s, 4); }, CEPortNotOpen, -1},
        {"input count on closed port not refused", [](TComPort& p) { p.InputCount(); },
         CE_ClearComFailed, EBADF},
        {"purge on closed port not refused", [](TComPort& p) { p.ClearBuffer(true, true); },
         CE_PurgeFailed, EBADF},
    };
    TComPort port;
    for (const TRow& row : rows) {
      const EComPort e = Raised([&] { row.call(port); });
      QVERIFY2(e.Code == row.code && e.WinCode == row.winCode, row.fault);
    }
    QCOMPARE(Raised([&] { port.WriteStr("x"); }).Message(), QStringLiteral("Port Not Open"));
    QCOMPARE(port.WriteStr(QString()), 0);  // empty text: nothing to send, no error
    QString s = "stale";
    QCOMPARE(port.ReadStr(s, 0), 0);
    QVERIFY(s.isEmpty());
  }

  void errorTexts() {
    QCOMPARE(EComPort(CE_SetStateFailed, 22).Message(),
             QStringLiteral("SetCommState function failed (Error: 22)"));
    QCOMPARE(EComPort(CE_WriteFailed, 0).WinCode, -1);
    QCOMPARE(EComPort(CE_WriteFailed, 0).Message(), QStringLiteral("WriteFile function failed"));
    QCOMPARE(EComPort::CodeText(18), QStringLiteral("Link (un)registration failed"));
    QCOMPARE(EComPort::CodeText(25), QString());
  }

  void resolvePortDevice_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");
    QTest::newRow("COM1 maps to ttyS0") << "COM1" << "/dev/ttyS0";
    QTest::newRow("two-digit COM number") << "COM12" << "/dev/ttyS11";
    QTest::newRow("alias link wins") << "COM3" << "<alias>";
    QTest::newRow("device path kept") << "/dev/pts/7" << "/dev/pts/7";
    QTest::newRow("lower-case name refused") << "com1" << "";
    QTest::newRow("COM0 refused") << "COM0" << "";
    QTest::newRow("empty name refused") << "" << "";
  }
  void resolvePortDevice() {
    QFETCH(QString, name);
    QFETCH(QString, expected);
    QTemporaryDir config;
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QDir().mkpath(config.filePath("zirv7tune/ports"));
    const QString alias = config.filePath("zirv7tune/ports/COM3");
    QVERIFY(QFile::link("/dev/null", alias));
    if (expected == "<alias>") expected = alias;
    QCOMPARE(ResolvePortDevice(name), expected);
    qputenv("XDG_CONFIG_HOME", saved);
  }

  void lineSettings_data() {
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("speed");
    QTest::newRow("br110") << int(br110) << int(B110);
    QTest::newRow("br9600") << int(br9600) << int(B9600);
    QTest::newRow("br57600 used by the tool") << int(br57600) << int(B57600);
    QTest::newRow("br115200") << int(br115200) << int(B115200);
    QTest::newRow("br14400 has no constant") << int(br14400) << int(CBAUDEX);
    QTest::newRow("br256000 has no constant") << int(br256000) << int(CBAUDEX);
  }
  void lineSettings() {
    QFETCH(int, rate);
    QFETCH(int, speed);
    TPtyPeer peer;
    TComPort port;
    OpenOn(port, peer);
    port.SetBaudRate(TBaudRate(rate));  // applied in place while open
    QVERIFY(port.Connected());
    termios tio{};
    QCOMPARE(tcgetattr(peer.Master(), &tio), 0);  // on the master this reads the slave
    QCOMPARE(int(tio.c_cflag & CBAUD), speed);
    QCOMPARE(tio.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t(CS8));
    QCOMPARE(tio.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
    QCOMPARE(tio.c_iflag & (IXON | IXOFF | IXANY | ICRNL | ISTRIP), tcflag_t(0));
    QCOMPARE(tio.c_lflag & (ICANON | ECHO | ISIG), tcflag_t(0));
    QCOMPARE(tio.c_oflag & OPOST, tcflag_t(0));
  }

  void settingsWithoutReopen() {
    TPtyPeer peer;
    TPtyPeer other;
    TComPort port;
    port.SetBaudRate(br57600);  // closed: stored only
    OpenOn(port, peer);
    termios tio{};
    tcgetattr(peer.Master(), &tio);
    cfsetospeed(&tio, B1200);
    tcsetattr(peer.Master(), TCSANOW, &tio);
    port.SetConnected(true);              // already open: nothing re-applied
    port.SetPort(peer.SlavePath());       // same name: no reopen
    tcgetattr(peer.Master(), &tio);
    QCOMPARE(cfgetospeed(&tio), speed_t(B1200));
    port.SetPort(other.SlavePath());  // another name: closed and opened there
    QVERIFY(port.Connected());
    QCOMPARE(port.WriteStr("hi"), 2);
    QCOMPARE(other.Read(2), QByteArray("hi"));
    tcgetattr(other.Master(), &tio);
    QCOMPARE(cfgetospeed(&tio), speed_t(B57600));
  }

  void allByteValuesPassUnchanged() {
    TPtyPeer peer;
    TComPort port;
    QByteArray all;
    for (int b = 0; b < 256; ++b) all.append(char(b));
    QString received;
    port.OnRxChar = [&](TComPort* p, int count) {
      QString s;
      p->ReadStr(s, count);
      received += s;
    };
    OpenOn(port, peer);
    QCOMPARE(peer.Write(all), 256);
    QVERIFY(PumpUntil([&] { return received.size() >= 256; }));
    QCOMPARE(received.toLatin1(), all);
    QCOMPARE(port.WriteStr(QString::fromLatin1(all)), 256);
    QCOMPARE(peer.Read(256), all);
    QCOMPARE(port.WriteStr(QString(QChar(0x20AC))), 1);  // outside Latin-1
    QCOMPARE(peer.Read(1), QByteArray("?"));
  }

  void readAndPurge() {
    TPtyPeer peer;
    TComPort port;
    OpenOn(port, peer);
    peer.Write("abc");
    QVERIFY(PumpUntil([&] { return port.InputCount() == 3; }));
    QString s;
    QCOMPARE(port.ReadStr(s, 100), 3);  // asks for more than waits: never blocks
    QCOMPARE(s, QStringLiteral("abc"));
    peer.Write("def");
    QVERIFY(PumpUntil([&] { return port.InputCount() == 3; }));
    port.ClearBuffer(true, true);
    QCOMPARE(port.InputCount(), 0);
    peer.Write("unread");
    QVERIFY(PumpUntil([&] { return port.InputCount() == 6; }));
    port.SetConnected(false);
    port.SetConnected(true);
    QCOMPARE(port.InputCount(), 0);  // unread bytes do not survive a reopen
  }

  void notificationsFollowArrivals() {
    TPtyPeer peer;
    TComPort port;
    QList<int> counts;
    port.OnRxChar = [&](TComPort* p, int count) {
      counts << count;
      QString s;
      p->ReadStr(s, p->InputCount());
    };
    OpenOn(port, peer);
    peer.Write("ab");
    QVERIFY(PumpUntil([&] { return counts.size() == 1; }));
    peer.Write("cde");
    QVERIFY(PumpUntil([&] { return counts.size() == 2; }));
    QCOMPARE(counts, (QList<int>{2, 3}));
    // Both pieces waiting before the handler runs: one notification reads both, and the
    // next wake-up finds nothing to announce.
    counts.clear();
    peer.Write("fg");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    peer.Write("hij");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    PumpFor(200);
    QCOMPARE(counts, QList<int>{5});
  }

  void unreadBytesDoNotSpinTheThread() {
    TPtyPeer peer;
    TComPort port;
    int calls = 0;
    port.OnRxChar = [&](TComPort*, int) { ++calls; };  // reads nothing
    OpenOn(port, peer);
    peer.Write("xyz");
    QVERIFY(PumpUntil([&] { return calls == 1; }));
    const double cpu = ProcessCpuMs();
    PumpFor(500);
    QCOMPARE(calls, 1);  // no repeat for the same bytes
    QVERIFY2(ProcessCpuMs() - cpu < 250, "event thread busy on unread bytes");
    peer.Write("w");
    QVERIFY(PumpUntil([&] { return calls == 2; }));  // a new arrival is announced
  }

  void writeEndsByTimeoutWithRightCount() {
    TPtyPeer peer;
    TComPort port;
    OpenOn(port, peer);
    qint64 total = FillTowardsPeer(port);
    QElapsedTimer clock;
    clock.start();
    const int sent = port.WriteStr(QStringLiteral("0123456789"));  // 100 * 10 + 1000 ms
    const qint64 elapsed = clock.elapsed();
    QVERIFY(sent >= 0 && sent < 10);
    QVERIFY2(elapsed >= 1900 && elapsed < 2600, qPrintable(QString::number(elapsed)));
    total += sent;
    QCOMPARE(qint64(peer.ReadAll(1500).size()), total);  // every counted byte arrived
  }

  void hangUpWhileIdle() {
    TPtyPeer peer;
    TPtyPeer next;
    TComPort port;
    QString received;
    port.OnRxChar = [&](TComPort* p, int count) {
      QString s;
      p->ReadStr(s, count);
      received += s;
    };
    OpenOn(port, peer);
    peer.HangUp();
    QVERIFY(PumpUntil([&] { return port.DeviceLost(); }));
    const double cpu = ProcessCpuMs();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    PumpFor(100);
    QVERIFY2(ProcessCpuMs() - cpu < 100, "event thread spins on a hung-up device");
    QCOMPARE(FReports, QStringList{"ReadFile function failed (Error: 5)"});
    QVERIFY(port.Connected());
    QCOMPARE(Raised([&] { port.WriteStr("s\r\n"); }).Code, int(CE_WriteFailed));
    port.SetConnected(false);
    OpenOn(port, next);  // Close and a new Open restore reception
    QVERIFY(!port.DeviceLost());
    next.Write("ok");
    QVERIFY(PumpUntil([&] { return received == "ok"; }));
  }

  void hangUpDuringWrite() {
    TPtyPeer peer;
    TComPort port;
    OpenOn(port, peer);
    FillTowardsPeer(port);
    std::thread hangUp([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      peer.HangUp();
    });
    QElapsedTimer clock;
    clock.start();
    const EComPort e = Raised([&] { port.WriteStr(QString(1000, QLatin1Char('y'))); });
    hangUp.join();
    QCOMPARE(e.Code, int(CE_WriteFailed));
    QCOMPARE(e.WinCode, EIO);
    QVERIFY(clock.elapsed() < 5000);  // ended by the hang-up, not by its 101 s time-out
  }

  void handlerErrorIsReportedAndReceptionGoesOn() {
    TPtyPeer peer;
    TComPort port;
    int calls = 0;
    port.OnRxChar = [&](TComPort* p, int count) {
      QString s;
      p->ReadStr(s, count);
      if (++calls == 1) throw Exception("handler failed");
    };
    OpenOn(port, peer);
    peer.Write("a");
    QVERIFY(PumpUntil([&] { return calls == 1; }));
    peer.Write("b");
    QVERIFY(PumpUntil([&] { return calls == 2; }));
    QCOMPARE(FReports, QStringList{"handler failed"});
  }

  void closeRunsQueuedNotification() {
    TPtyPeer peer;
    TComPort port;
    QList<bool> connectedDuringCall;
    port.OnRxChar = [&](TComPort* p, int) { connectedDuringCall << p->Connected(); };
    OpenOn(port, peer);
    peer.Write("late");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // hand-off now queued
    port.SetConnected(false);
    QCOMPARE(connectedDuringCall, QList<bool>{true});
    PumpFor(100);  // the posted event of that hand-off is stale now
    QCOMPARE(connectedDuringCall.size(), 1);
  }

  void closeFromInsideHandler() {
    TPtyPeer peer;
    TComPort port;
    port.OnRxChar = [&](TComPort* p, int) { p->SetConnected(false); };
    OpenOn(port, peer);
    peer.Write("x");
    QVERIFY(PumpUntil([&] { return !port.Connected(); }));
    port.SetConnected(true);  // the device is free again
    QVERIFY(port.Connected());
  }

  void openCloseCyclesLeakNoDescriptor() {
    TPtyPeer peer;
    TComPort port;
    port.SetPort(peer.SlavePath());
    port.SetConnected(true);
    port.SetConnected(false);
    const int before = OpenFdCount();
    for (int i = 0; i < 200; ++i) {
      port.SetConnected(true);
      port.SetConnected(false);
    }
    QCOMPARE(OpenFdCount(), before);
  }

  void destroyingAnOpenPortReleasesIt() {
    TPtyPeer peer;
    auto first = std::make_unique<TComPort>();
    OpenOn(*first, peer);
    first.reset();
    TComPort second;
    OpenOn(second, peer);
    QVERIFY(second.Connected());
  }
};

QTEST_GUILESS_MAIN(TComPortTest)
#include "comport_test.moc"
