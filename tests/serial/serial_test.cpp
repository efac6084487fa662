// The serial port and the line channel against a pseudo-terminal whose master plays the board.

#include <sys/resource.h>
#include <termios.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <ctime>
#include <filesystem>

#include "errorof.h"
#include "globals/errorreport.h"
#include "ptypeer.h"
#include "serial/linechannel.h"
#include "serial/portlink.h"
#include "threadstats.h"
#include "virtualclock.h"

using namespace std::chrono_literals;
using TLogEntry = QPair<QString, TColor>;

namespace {

double CpuMsOf(const std::function<void()>& call) {
  const std::clock_t start = std::clock();
  call();
  return double(std::clock() - start) * 1000 / CLOCKS_PER_SEC;
}

// Returns a thread's nice value (field 19 of its stat line; the name before may hold spaces).
int NiceOf(int tid) {
  const QByteArray stat = ThreadFile(tid, "stat");
  return stat.mid(stat.lastIndexOf(')') + 2).split(' ').value(16).toInt();
}

}  // namespace

// Every test starts with the port open on a fresh peer and feeding the line channel.
class TSerialTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TPtyPeer> FPeer;
  std::unique_ptr<TPortLink> FLink;
  TComPort* FPort = nullptr;  // FLink's parts, valid from init to cleanup
  TLineChannel* FChannel = nullptr;
  QList<TLogEntry> FLog;
  QStringList FReports;

  // Sends bytes from the board and polls until the channel has taken them in.
  bool Deliver(const QByteArray& bytes) {
    const auto taken = [this] {
      return FChannel->RS232Buf.size() + FChannel->LineBuf->join(QString()).size();
    };
    const qsizetype target = taken() + bytes.size();
    FPeer->Write(bytes);
    return PumpUntil([&] { return taken() >= target; });
  }

  // Fills the buffer towards the peer, which does not read; returns the bytes reported sent.
  qint64 FillTowardsPeer() {
    FPort->Timeouts().SetWriteTotalMultiplier(0);
    FPort->Timeouts().SetWriteTotalConstant(200);
    const QString chunk(65536, QLatin1Char('x'));
    qint64 total = 0;
    for (int sent = int(chunk.size()); sent == chunk.size(); total += sent)
      sent = FPort->WriteStr(chunk);
    FPort->Timeouts().SetWriteTotalMultiplier(100);
    FPort->Timeouts().SetWriteTotalConstant(1000);
    return total;
  }

 private slots:
  void init() {
    FLog.clear();
    FReports.clear();
    SetErrorReporter([this](const QString& m) { FReports << m; });
    FPeer = std::make_unique<TPtyPeer>();
    FLink = std::make_unique<TPortLink>(
        [this](const QString& text, TColor c) { FLog << TLogEntry(text, c); });
    FPort = &FLink->Port;
    FChannel = &FLink->Channel;
    FPort->SetPort(FPeer->SlavePath());  // at 9600 bit/s: tests change the rate in place
    FPort->SetConnected(true);
  }
  void cleanup() {
    FLink.reset();  // before its peer goes away
    FPort = nullptr;
    FChannel = nullptr;
  }

  // Names resolve without alias links here (the window's tests connect through one). Opening
  // fails for a missing path, a file that is no terminal, and a port held by FPort.
  void portNamesAndOpenFailures() {
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", dir.path().toLocal8Bit());
    const QStringList devices[] = {{"COM1", "/dev/ttyS0"}, {"COM12", "/dev/ttyS11"},
                                   {"/dev/pts/7", "/dev/pts/7"}, {"com1", ""}, {"COM0", ""}};
    for (const QStringList& row : devices) QCOMPARE(ResolvePortDevice(row[0]), row[1]);
    QFile file(dir.filePath("plain"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    const std::pair<QString, int> failures[] = {
        {"/nonexistent/ttyZ9", ENOENT}, {"", ENOENT}, {"ttyUSB0", ENOENT},
        {file.fileName(), ENOTTY}, {FPeer->SlavePath(), EWOULDBLOCK}};
    for (const auto& [name, error] : failures) {
      TComPort port;
      port.SetPort(name);
      QCOMPARE(ErrorOf([&] { port.SetConnected(true); }),
               QStringLiteral("Unable to open com port (Error: %1)").arg(error));
    }
  }

  void rawLineSettings() {
    FPort->SetBaudRate(br57600);  // applied in place while open
    termios tio{};
    QCOMPARE(tcgetattr(FPeer->Master(), &tio), 0);
    QCOMPARE(tio.c_cflag & CBAUD, tcflag_t(B57600));
    QCOMPARE(tio.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS | CLOCAL | CREAD),
             tcflag_t(CS8 | CLOCAL | CREAD));
    QCOMPARE(tio.c_iflag & (IXON | IXOFF | IXANY | ICRNL | ISTRIP), tcflag_t(0));
    QCOMPARE(tio.c_lflag & (ICANON | ECHO | ISIG), tcflag_t(0));
    QCOMPARE(tio.c_oflag & OPOST, tcflag_t(0));
  }

  // Calls on a closed port raise their own errors, an empty write or read does nothing, and an
  // error without a platform number is the code's text alone.
  void closedPortCallsAndErrorTexts() {
    TComPort closed;
    const std::tuple<const char*, std::function<void()>, int, int> rows[] = {
        {"write", [&] { closed.WriteStr(QStringLiteral("l")); }, CEPortNotOpen, -1},
        {"read", [&] { QString s; closed.ReadStr(s, 4); }, CEPortNotOpen, -1},
        {"input count", [&] { closed.InputCount(); }, CE_ClearComFailed, EBADF},
        {"purge", [&] { closed.ClearBuffer(true, true); }, CE_PurgeFailed, EBADF},
    };
    for (const auto& [name, call, code, winCode] : rows) {
      try {
        call();
        QFAIL(name);
      } catch (const EComPort& e) {
        QVERIFY2(e.Code == code && e.WinCode == winCode, name);
      }
    }
    QCOMPARE(ErrorOf([&] { closed.WriteStr(QStringLiteral("x")); }),
             QStringLiteral("Port Not Open"));
    QCOMPARE(closed.WriteStr(QString()), 0);
    QString text = QStringLiteral("stale");
    QCOMPARE(closed.ReadStr(text, 0), 0);
    QVERIFY(text.isEmpty());
    QCOMPARE(EComPort(CE_SetStateFailed, 22).Message(),
             QStringLiteral("SetCommState function failed (Error: 22)"));
    QCOMPARE(EComPort(CE_WriteFailed, 0).Message(), QStringLiteral("WriteFile function failed"));
    QCOMPARE(EComPort(CE_WriteFailed, 0).WinCode, -1);
    QCOMPARE(EComPort::CodeText(CE_RegFailed), QStringLiteral("Link (un)registration failed"));
    QCOMPARE(EComPort::CodeText(CEPortNotOpen + 1), QString());
  }

  // Connected := True on an open port and Port := its own name change nothing (here the
  // peer's speed, set behind the port's back, stays); another name reopens the port there
  // with every setting applied.
  void settingsReopenOnlyWhenTheNameChanges() {
    FPort->SetBaudRate(br57600);
    termios tio{};
    tcgetattr(FPeer->Master(), &tio);
    cfsetospeed(&tio, B1200);
    tcsetattr(FPeer->Master(), TCSANOW, &tio);
    FPort->SetConnected(true);
    FPort->SetPort(FPeer->SlavePath());
    tcgetattr(FPeer->Master(), &tio);
    QCOMPARE(cfgetospeed(&tio), speed_t(B1200));
    TPtyPeer other;
    FPort->SetPort(other.SlavePath());
    QVERIFY(FPort->Connected());
    QCOMPARE(FPort->WriteStr(QStringLiteral("hi")), 2);
    QCOMPARE(other.Read(2), QByteArray("hi"));
    tcgetattr(other.Master(), &tio);
    QCOMPARE(cfgetospeed(&tio), speed_t(B57600));
    FPort->SetConnected(false);  // before other goes away
  }

  // With a handler that reads nothing: ReadStr takes what has come without waiting for more,
  // ClearBuffer empties the input, and unread bytes do not survive a reopen. A character
  // outside Latin-1 is sent as "?", one byte.
  void readPurgeAndReopen() {
    FPort->OnRxChar = [](TComPort*, int) {};
    FPeer->Write("abc");
    QVERIFY(PumpUntil([&] { return FPort->InputCount() == 3; }));
    QString text;
    QCOMPARE(FPort->ReadStr(text, 100), 3);
    QCOMPARE(text, QStringLiteral("abc"));
    FPeer->Write("def");
    QVERIFY(PumpUntil([&] { return FPort->InputCount() == 3; }));
    FPort->ClearBuffer(true, true);
    QCOMPARE(FPort->InputCount(), 0);
    FPeer->Write("unread");
    QVERIFY(PumpUntil([&] { return FPort->InputCount() == 6; }));
    FPort->SetConnected(false);
    FPort->SetConnected(true);
    QCOMPARE(FPort->InputCount(), 0);
    QCOMPARE(FPort->WriteStr(QString(QChar(0x20AC))), 1);
    QCOMPARE(FPeer->Read(1), QByteArray("?"));
  }

  // Each notification carries the count waiting then; a piece that comes before the handler
  // runs is read with the one before, and the next wake-up announces nothing.
  void notificationsCarryTheCountWaiting() {
    QList<int> counts;
    FPort->OnRxChar = [&](TComPort* p, int count) {
      counts << count;
      QString text;
      p->ReadStr(text, p->InputCount());
    };
    FPeer->Write("ab");
    QVERIFY(PumpUntil([&] { return counts.size() == 1; }));
    FPeer->Write("cde");
    QVERIFY(PumpUntil([&] { return counts.size() == 2; }));
    QCOMPARE(counts, (QList<int>{2, 3}));
    counts.clear();
    FPeer->Write("fg");
    FPeer->Write("hij");
    QVERIFY(WaitUntil([&] { return FPort->InputCount() == 5; }));
    PumpFor(200);
    QCOMPARE(counts, QList<int>{5});
  }

  // Destroying an open port closes it: another port can then open the device.
  void destroyingAnOpenPortReleasesIt() {
    FLink.reset();
    FPort = nullptr;
    FChannel = nullptr;
    TComPort second;
    second.SetPort(FPeer->SlavePath());
    second.SetConnected(true);
    QVERIFY(second.Connected());
  }

  void allByteValuesPassUnchanged() {
    QByteArray all;
    for (int b = 0; b < 256; ++b) all.append(char(b));
    QVERIFY(Deliver(all));
    QCOMPARE((FChannel->LineBuf->join(QString()) + FChannel->RS232Buf).toLatin1(), all);
    QCOMPARE(FPort->WriteStr(QString::fromLatin1(all)), 256);
    QCOMPARE(FPeer->Read(256), all);
  }

  // Bytes left unread are announced once and cost the event thread no wake-up until more
  // come, also when a re-apply of the line settings (which wakes every reader) intervenes.
  // Close runs a queued hand-off (so it cannot deadlock waiting for the thread), whose posted
  // event is then stale.
  void notificationsOfUnreadBytesAndClose() {
    QList<bool> connectedDuringCall;
    FPort->OnRxChar = [&](TComPort* p, int) { connectedDuringCall << p->Connected(); };
    FPeer->Write("xyz");
    QVERIFY(PumpUntil([&] { return connectedDuringCall.size() == 1; }));
    // The previous test's thread, joined, can stay listed for a moment.
    QVERIFY(PumpUntil([] { return EventThreads().size() == 1; }));
    const QList<int> threads = EventThreads();
    const qint64 sleeps = Sleeps(threads[0]);
    FPort->SetBaudRate(br115200);
    QVERIFY2(CpuMsOf([] { PumpFor(500); }) < 250, "event thread busy on unread bytes");
    // At most the end of the hand-off and the one wake-up of the re-apply; polling would be
    // one every few milliseconds.
    QVERIFY2(Sleeps(threads[0]) - sleeps <= 3,
             qPrintable(QString::number(Sleeps(threads[0]) - sleeps)));
    QCOMPARE(connectedDuringCall.size(), 1);
    // Close once the event thread has queued the hand-off for the late bytes and waits for it.
    const qint64 beforeLate = Sleeps(threads[0]);
    FPeer->Write("late");
    QVERIFY(WaitUntil([&] { return FPort->InputCount() == 7 && Sleeps(threads[0]) > beforeLate; }));
    FPort->SetConnected(false);
    QCOMPARE(connectedDuringCall, (QList<bool>{true, true}));
    PumpFor(100);
    QCOMPARE(connectedDuringCall.size(), 2);
  }

  // Back-pressure: the peer stops reading. A write ends by its time-out (100 ms per byte plus
  // 1000 ms), counted on the port's clock, with the count of bytes sent; a hang-up ends it at
  // once with an error.
  void writeAgainstBackPressure() {
    qint64 total = FillTowardsPeer();
    TVirtualPortClock clock;
    FPort->SetClock(&clock);
    const int sent = FPort->WriteStr(QStringLiteral("0123456789"));
    FPort->SetClock(nullptr);
    QCOMPARE(clock.NowMs(), int64_t(2000));
    QVERIFY(sent >= 0 && sent < 10);
    total += sent;
    // The count is exact: that many bytes come, and no more.
    QCOMPARE(qint64(FPeer->Read(total, 10000).size()), total);
    QCOMPARE(FPeer->Read(1, 300), QByteArray());
    FillTowardsPeer();
    std::thread hangUp([&] {
      std::this_thread::sleep_for(300ms);
      FPeer->HangUp();
    });
    const QString error = ErrorOf([&] { FPort->WriteStr(QString(1000, QLatin1Char('y'))); });
    hangUp.join();
    // An error, not the count a time-out (here 101 s) would return.
    QCOMPARE(error, QStringLiteral("WriteFile function failed (Error: %1)").arg(EIO));
    QVERIFY(PumpUntil([&] { return FPort->DeviceLost(); }));
  }

  // The board sends part of an answer and goes away during the wait, which ends after 501 polls
  // with "Timeout" and drops the partial answer. The event thread reports the loss once and
  // stops instead of spinning on the endless hang-up; Close and a new Open restore reception.
  void hangUpDuringWaitAndIdle() {
    FChannel->SendLine("s");
    QCOMPARE(FPeer->Read(3), QByteArray("s\r\n"));
    QCOMPARE(FLog, QList<TLogEntry>{TLogEntry("s", clGreen)});
    QVERIFY(Deliver("partial"));
    QTimer::singleShot(50, [this] { FPeer->HangUp(); });
    const quint64 before = TLineChannel::PollCount();
    QVERIFY(!FChannel->WaitForReply());
    QCOMPARE(TLineChannel::PollCount() - before, quint64(501));
    QCOMPARE(FLog.last(), TLogEntry("Timeout", clRed));
    QVERIFY(FChannel->RS232Buf.isEmpty() && FChannel->Timeout);
    const double cpu = CpuMsOf([] {
      std::this_thread::sleep_for(1s);
      PumpFor(100);
    });
    QVERIFY2(cpu < 100, "event thread spins on a hung-up device");
    QCOMPARE(FReports, QStringList{"ReadFile function failed (Error: 5)"});
    FPort->SetConnected(false);
    FPeer = std::make_unique<TPtyPeer>();
    FPort->SetPort(FPeer->SlavePath());
    FPort->SetConnected(true);
    QVERIFY(Deliver("ok\r"));
  }

  // An error of the handler is reported and reception goes on; closing from inside the
  // handler must not deadlock on the hand-off it runs in.
  void handlerErrorsAndCloseInsideHandler() {
    int calls = 0;
    FPort->OnRxChar = [&](TComPort* p, int count) {
      QString s;
      p->ReadStr(s, count);  // what is left unread is not announced again
      if (++calls == 1) throw Exception("handler failed");
      p->SetConnected(false);
    };
    FPeer->Write("a");
    QVERIFY(PumpUntil([&] { return calls == 1; }));
    FPeer->Write("b");
    QVERIFY(PumpUntil([&] { return !FPort->Connected(); }));
    QCOMPARE(FReports, QStringList{"handler failed"});
    FPort->SetConnected(true);  // the device is free again
  }

  // The event thread runs at the priority set before the open, relative to the process's
  // (lowering needs no privilege); with no events to watch there is none.
  void eventThreadPriorityAndEvents() {
    errno = 0;
    const int base = getpriority(PRIO_PROCESS, 0);
    QCOMPARE(errno, 0);
    const std::pair<TThreadPriority, int> rows[] = {{tpLowest, 10}, {tpLower, 5}, {tpNormal, 0}};
    for (const auto& [priority, offset] : rows) {
      // A joined thread can stay listed for a moment after Close: wait for the new one.
      const QList<int> before = EventThreads();
      FPort->SetConnected(false);
      FPort->SetEventThreadPriority(priority);
      FPort->SetConnected(true);
      int thread = 0;
      QVERIFY(PumpUntil([&] {
        for (int tid : EventThreads())
          if (!before.contains(tid)) thread = tid;
        return thread != 0;
      }));
      QCOMPARE(NiceOf(thread), std::min(base + offset, 19));
    }
    FPort->SetConnected(false);
    FPort->SetEvents({});
    FPort->SetConnected(true);
    QVERIFY(PumpUntil([] { return EventThreads().isEmpty(); }));
    PumpFor(50);
    QVERIFY(EventThreads().isEmpty());
  }

  void openCloseCyclesLeakNoDescriptor() {
    const auto openFds = [] {
      return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
    };
    FPort->SetConnected(false);
    const auto before = openFds();
    for (int i = 0; i < 200; ++i) {
      FPort->SetConnected(true);
      FPort->SetConnected(false);
    }
    QCOMPARE(openFds(), before);
  }

  // Each text arrives whole and split at every byte position: the lines end at CR (an LF
  // starts the next one), and an answer stays pending until its first CR has come.
  void cutting() {
    const QStringList rows[] = {{"abc\r\ndef\r\n", "abc\r|\ndef\r", "\n"},
                                {"L 1.5\r\nM 2\r\nstatus 0\r", "L 1.5\r|\nM 2\r|\nstatus 0\r", ""},
                                {"\r", "\r", ""}, {"x\r\n\r", "x\r|\n\r", ""}, {"abc", "", "abc"}};
    for (const QStringList& row : rows) {
      const QStringList lines = row[1].split('|', Qt::SkipEmptyParts);
      for (int k = 0; k < row[0].size(); ++k) {
        FChannel->LineBuf->clear();
        FChannel->RS232Buf.clear();
        FLog.clear();
        FChannel->Timeout = true;
        QVERIFY(Deliver(row[0].left(k).toLatin1()));
        QCOMPARE(FChannel->Timeout, !row[0].left(k).contains(u'\r'));
        QVERIFY(Deliver(row[0].mid(k).toLatin1()));
        QCOMPARE(FChannel->Timeout, !row[0].contains(u'\r'));
        QCOMPARE(*FChannel->LineBuf, lines);
        QCOMPARE(FChannel->RS232Buf, row[2]);
        QCOMPARE(FLog.size(), lines.size());
        for (int i = 0; i < lines.size(); ++i) QCOMPARE(FLog[i], TLogEntry(lines[i], clBlue));
      }
    }
  }

  void longBurstWithoutCR() {
    const QByteArray burst(1 << 20, 'a');
    std::thread writer([&] { FPeer->Write(burst, 20000); });
    const bool all = PumpUntil([&] { return FChannel->RS232Buf.size() == burst.size(); }, 20000);
    writer.join();
    QVERIFY2(all, qPrintable(QString::number(FChannel->RS232Buf.size())));
    QVERIFY(FChannel->LineBuf->isEmpty());
  }

  // The idle wait returns at once when no transaction runs, and as soon as the running one
  // ends, long before its limit of 1001 polls.
  void waitUntilIdleEndsWithTheTransaction() {
    quint64 before = TLineChannel::PollCount();
    FChannel->WaitUntilIdle();
    QCOMPARE(TLineChannel::PollCount() - before, quint64(0));
    FChannel->FWaitRS232 = true;
    QTimer::singleShot(30, [this] { FChannel->FWaitRS232 = false; });
    before = TLineChannel::PollCount();
    FChannel->WaitUntilIdle();
    const quint64 polls = TLineChannel::PollCount() - before;
    QVERIFY2(polls >= 1 && polls < 1001, qPrintable(QString::number(polls)));
    QVERIFY(!FChannel->FWaitRS232);
  }

  // Discards what waits in the port and the stored lines, but keeps the unfinished rest.
  void flushReceive() {
    QVERIFY(Deliver("done\r\npart"));
    FPeer->Write("unread\r");
    QVERIFY(WaitUntil([&] { return FPort->InputCount() == 7; }));
    FChannel->FlushReceive();
    PumpFor(50);
    QVERIFY(FChannel->LineBuf->isEmpty());
    QCOMPARE(FChannel->RS232Buf, QStringLiteral("\npart"));
  }

  // Close must not wait forever when the device goes away just as Close begins: the event
  // thread's last hand-off has to wake the closing thread, which then runs it.
  void closeRacingAHangUp() {
    for (int i = 0; i < 3000; ++i) {
      FPort->SetConnected(false);
      FPeer = std::make_unique<TPtyPeer>();
      FPort->SetPort(FPeer->SlavePath());
      FPort->SetConnected(true);
      FPeer->HangUp();
      const auto spin = std::chrono::steady_clock::now() + std::chrono::microseconds(i % 60);
      while (std::chrono::steady_clock::now() < spin) {
      }
    }
    FPort->SetConnected(false);
  }

  // A purge that meets the event thread counting the bytes it discards must not hide the next
  // arrival: after it, fewer bytes than were counted are still new. The purge waits for the
  // kernel to finish passing the bytes on, which is when the event thread wakes and counts.
  void arrivalAfterARacingPurge() {
    int announced = 0;
    FPort->OnRxChar = [&](TComPort* p, int n) {
      QString s;
      p->ReadStr(s, n);
      announced += int(s.size());
    };
    for (int i = 0; i < 400; ++i) {
      FPeer->Write("12345678");
      const auto spin = std::chrono::steady_clock::now() + std::chrono::microseconds(i % 80);
      while (std::chrono::steady_clock::now() < spin) {
      }
      FPort->ClearBuffer(true, false);
      PumpFor(1);
      announced = 0;
      FPeer->Write("a");
      // A hidden arrival never comes: the bound only ends a failing test.
      QVERIFY2(PumpUntil([&] { return announced > 0; }, 10000), qPrintable(QString::number(i)));
    }
  }

  // A line must not be lost when it arrives before the list is made.
  void linesArriveBeforeTheListIsMade() {
    FChannel->LineBuf.reset();
    FPeer->Write("early\r");
    QVERIFY(PumpUntil([&] { return FChannel->LineBuf && !FChannel->LineBuf->isEmpty(); }));
    QCOMPARE(*FChannel->LineBuf, QStringList{"early\r"});
  }
};

QTEST_GUILESS_MAIN(TSerialTest)
#include "serial_test.moc"
