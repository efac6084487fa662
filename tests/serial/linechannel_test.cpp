// The line channel against a pseudo-terminal whose master side plays the board.

#include <QTest>
#include <QTimer>
#include <thread>

#include "globals/errorreport.h"
#include "ptypeer.h"
#include "serial/linechannel.h"

using TLogEntry = QPair<QString, TColor>;
Q_DECLARE_METATYPE(QList<bool>)

class TLineChannelTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<TPtyPeer> FPeer;
  std::unique_ptr<TComPort> FPort;
  std::unique_ptr<TLineChannel> FChannel;
  QList<TLogEntry> FLog;
  QStringList FReports;
  TErrorReporter FSaved;

  // Characters the channel has taken in: stored lines plus the unfinished rest.
  qsizetype Consumed() const {
    qsizetype n = FChannel->RS232Buf.size();
    for (const QString& line : *FChannel->LineBuf) n += line.size();
    return n;
  }

  // Sends bytes from the board and polls until the channel has taken them in.
  bool Deliver(const QByteArray& bytes) {
    const qsizetype target = Consumed() + bytes.size();
    FPeer->Write(bytes);
    return PumpUntil([&] { return Consumed() >= target; });
  }

 private slots:
  void init() {
    FLog.clear();
    FReports.clear();
    FSaved = SetErrorReporter([this](const QString& m) { FReports << m; });
    FPeer = std::make_unique<TPtyPeer>();
    FPort = std::make_unique<TComPort>();
    FChannel = std::make_unique<TLineChannel>(
        *FPort, [this](const QString& text, TColor c) { FLog << TLogEntry(text, c); });
    FChannel->CreateLineBuf();
    FPort->OnRxChar = [this](TComPort*, int) { FChannel->ComPort1RxChar(); };
    FPort->SetPort(FPeer->SlavePath());
    FPort->SetConnected(true);
  }
  void cleanup() {
    FChannel.reset();
    FPort.reset();
    FPeer.reset();
    SetErrorReporter(FSaved);
  }

  void cutting_data() {
    QTest::addColumn<QStringList>("pieces");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("rest");
    QTest::addColumn<QList<bool>>("timeoutAfter");
    QTest::newRow("CR LF burst leaves LF for the next line")
        << QStringList{"abc\r\ndef\r\n"} << QStringList{"abc\r", "\ndef\r"} << "\n"
        << QList<bool>{false};
    QTest::newRow("line completed by a second notification")
        << QStringList{"ab", "c\r"} << QStringList{"abc\r"} << "" << QList<bool>{true, false};
    QTest::newRow("bare CR is a line") << QStringList{"\r"} << QStringList{"\r"} << ""
                                       << QList<bool>{false};
    QTest::newRow("bare CR after CR LF keeps the LF")
        << QStringList{"x\r\n", "\r"} << QStringList{"x\r", "\n\r"} << ""
        << QList<bool>{false, false};
    QTest::newRow("no CR: nothing cut, answer still pending")
        << QStringList{"abc"} << QStringList{} << "abc" << QList<bool>{true};
    QTest::newRow("NUL and high bytes inside a line")
        << QStringList{QString::fromLatin1("a\0\xe9\r", 4)}
        << QStringList{QString::fromLatin1("a\0\xe9\r", 4)} << "" << QList<bool>{false};
  }
  void cutting() {
    QFETCH(QStringList, pieces);
    QFETCH(QStringList, lines);
    QFETCH(QString, rest);
    QFETCH(QList<bool>, timeoutAfter);
    FChannel->Timeout = true;
    QList<bool> timeouts;
    for (const QString& piece : pieces) {
      QVERIFY(Deliver(piece.toLatin1()));
      timeouts << FChannel->Timeout;
    }
    QCOMPARE(*FChannel->LineBuf, lines);
    QCOMPARE(FChannel->RS232Buf, rest);
    QCOMPARE(timeouts, timeoutAfter);
    QCOMPARE(FLog.size(), lines.size());
    for (int i = 0; i < lines.size(); ++i) QCOMPARE(FLog[i], TLogEntry(lines[i], clBlue));
  }

  void splitAtEveryBytePosition() {
    const QByteArray answer("L 1.5\r\nM 2\r\nstatus 0\r");
    const QStringList expected{"L 1.5\r", "\nM 2\r", "\nstatus 0\r"};
    for (int k = 1; k < answer.size(); ++k) {
      FChannel->LineBuf->clear();
      FChannel->RS232Buf.clear();
      QVERIFY(Deliver(answer.left(k)));
      QVERIFY(Deliver(answer.mid(k)));
      QVERIFY2(*FChannel->LineBuf == expected, qPrintable(QString("split at %1").arg(k)));
      QCOMPARE(FChannel->RS232Buf, QString());
    }
  }

  void longBurstWithoutCR() {
    const QByteArray burst(1 << 20, 'a');
    std::thread writer([&] { FPeer->Write(burst, 20000); });
    const bool all = PumpUntil([&] { return FChannel->RS232Buf.size() == burst.size(); }, 20000);
    writer.join();
    QVERIFY2(all, qPrintable(QString::number(FChannel->RS232Buf.size())));
    QVERIFY(FChannel->LineBuf->isEmpty());
    QVERIFY(Deliver("\r"));
    QCOMPARE(FChannel->LineBuf->size(), 1);
    QCOMPARE(FChannel->LineBuf->first().size(), burst.size() + 1);
    QVERIFY(FChannel->RS232Buf.isEmpty());
  }

  void sendAndWaitForReply() {
    FChannel->SendLine("l");
    QCOMPARE(FPeer->Read(3), QByteArray("l\r\n"));
    QCOMPARE(FLog, QList<TLogEntry>{TLogEntry("l", clGreen)});
    QVERIFY(FChannel->Timeout);
    FPeer->Write("ZIRV7\r");
    QVERIFY(FChannel->WaitForReply());
    QCOMPARE(*FChannel->LineBuf, QStringList{"ZIRV7\r"});
  }

  void waitForReplyTimesOutAfter501Polls() {
    FChannel->SendLine("s");
    FPeer->Write("partial");
    const quint64 before = TLineChannel::PollCount();
    QVERIFY(!FChannel->WaitForReply());
    QCOMPARE(TLineChannel::PollCount() - before, quint64(501));
    QCOMPARE(FLog.last(), TLogEntry("Timeout", clRed));
    QVERIFY(FChannel->RS232Buf.isEmpty());  // the partial answer is dropped
    QVERIFY(FChannel->Timeout);
  }

  void waitUntilIdle_data() {
    QTest::addColumn<bool>("busy");
    QTest::addColumn<int>("clearAfterMs");
    QTest::addColumn<int>("minPolls");
    QTest::addColumn<int>("maxPolls");
    QTest::newRow("idle: returns without polling") << false << -1 << 0 << 0;
    QTest::newRow("stuck flag: gives up after 1001 polls") << true << -1 << 1001 << 1001;
    QTest::newRow("transaction ends: returns early") << true << 30 << 1 << 900;
  }
  void waitUntilIdle() {
    QFETCH(bool, busy);
    QFETCH(int, clearAfterMs);
    QFETCH(int, minPolls);
    QFETCH(int, maxPolls);
    FChannel->FWaitRS232 = busy;
    if (clearAfterMs >= 0) {
      QTimer::singleShot(clearAfterMs, [this] { FChannel->FWaitRS232 = false; });
    }
    const quint64 before = TLineChannel::PollCount();
    FChannel->WaitUntilIdle();
    const int polls = int(TLineChannel::PollCount() - before);
    QVERIFY2(polls >= minPolls && polls <= maxPolls, qPrintable(QString::number(polls)));
    QVERIFY(!FChannel->FWaitRS232);
  }

  void flushReceive() {
    FChannel->Timeout = true;
    QVERIFY(Deliver("done\r\npart"));
    FPeer->Write("unread\r");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // waiting, not yet handled
    FChannel->FlushReceive();
    QVERIFY(FChannel->LineBuf->isEmpty());
    QCOMPARE(FPort->InputCount(), 0);
    QCOMPARE(FChannel->RS232Buf, QStringLiteral("\npart"));  // kept for the next line
    PumpFor(50);
    QVERIFY(FChannel->LineBuf->isEmpty());
  }

  void flushReceiveWhileDisconnected() {
    FChannel->LineBuf->append("old\r");
    FPort->SetConnected(false);
    FChannel->FlushReceive();  // must not reach the closed port
    QVERIFY(FChannel->LineBuf->isEmpty());
  }

  void sendLineOnClosedPort() {
    FPort->SetConnected(false);
    try {
      FChannel->SendLine("l");
      QFAIL("no error raised");
    } catch (const EComPort& e) {
      QCOMPARE(e.Code, int(CEPortNotOpen));
    }
    QVERIFY(FChannel->Timeout);
    QVERIFY(FLog.isEmpty());
  }

  void linesArriveBeforeTheListIsMade() {
    FChannel->LineBuf.reset();
    QVERIFY(PumpUntil([&] { return true; }));
    FPeer->Write("early\r");
    QVERIFY(PumpUntil([&] { return FChannel->LineBuf && !FChannel->LineBuf->isEmpty(); }));
    QCOMPARE(*FChannel->LineBuf, QStringList{"early\r"});
  }

  void boardHangsUpDuringWaitForReply() {
    FChannel->SendLine("s");
    std::thread hangUp([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      FPeer->HangUp();
    });
    const bool replied = FChannel->WaitForReply();
    hangUp.join();
    QVERIFY(!replied);
    QCOMPARE(FLog.last(), TLogEntry("Timeout", clRed));
    QCOMPARE(FReports.size(), 1);  // the loss is reported once
    QVERIFY(FPort->DeviceLost());
  }
};

QTEST_GUILESS_MAIN(TLineChannelTest)
#include "linechannel_test.moc"
