// Measures the receive path: a pseudo-terminal peer writes board lines as fast as it can,
// and the port's notifications run ComPort1RxChar, which cuts and logs them. Prints:
//   receive_lines_per_s       lines cut and logged per second, idle event loop
//   receive_lines_per_s_polled  the same while a wait polls (events, then 1 ms sleep)
//   receive_1mib_no_cr_ms     time to take in a 1 MiB burst without CR
//   receive_unread_wakeups_per_s  event thread wake-ups while received bytes stay unread

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <thread>

#include "ptypeer.h"
#include "serial/linechannel.h"
#include "serial/portlink.h"
#include "threadstats.h"

namespace {

struct TRig {
  TPtyPeer Peer;
  qint64 Lines = 0;
  TPortLink Link{[this](const QString&, TColor) { ++Lines; },
                    // a transaction would consume the lines; keep memory flat
                    [this] { Link.Channel.LineBuf->clear(); }};

  TRig() {
    Link.Connect(Peer.SlavePath());
  }
};

// Runs the peer writing count lines while pump() turns the event loop; returns lines/s.
double LinesPerSecond(int count, const std::function<void()>& pump) {
  TRig rig;
  QByteArray block;
  for (int i = 0; i < count; ++i) block += "s " + QByteArray::number(1000 + i) + ".25\r\n";
  QElapsedTimer clock;
  clock.start();
  std::thread writer([&] { rig.Peer.Write(block, 60000); });
  while (rig.Lines < count && clock.elapsed() < 60000) pump();
  const double seconds = clock.nsecsElapsed() / 1e9;
  writer.join();
  return rig.Lines / seconds;
}

double BurstMs() {
  TRig rig;
  const QByteArray burst(1 << 20, 'a');
  QElapsedTimer clock;
  clock.start();
  std::thread writer([&] { rig.Peer.Write(burst, 60000); });
  while (rig.Link.Channel.RS232Buf.size() < burst.size() && clock.elapsed() < 60000) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  const double ms = clock.nsecsElapsed() / 1e6;
  writer.join();
  return ms;
}

// Leaves a line unread for a second while the event loop runs; returns how often the event
// thread woke meanwhile (waiting for the next event: none; polling: one per poll period).
double UnreadWakeupsPerSecond() {
  TPtyPeer peer;
  TComPort port;
  int notifications = 0;
  port.OnRxChar = [&](TComPort*, int) { ++notifications; };
  port.SetPort(peer.SlavePath());
  port.SetConnected(true);
  peer.Write("s 1.25\r");
  PumpUntil([&] { return notifications == 1; });
  PumpFor(50);  // the hand-off has ended
  const QList<int> threads = EventThreads();
  if (threads.size() != 1) return -1;
  const qint64 before = Sleeps(threads[0]);
  PumpFor(1000);
  return double(Sleeps(threads[0]) - before);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const double idle = LinesPerSecond(200000, [] {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  });
  std::printf("receive_lines_per_s %.0f lines/s\n", idle);
  const double polled = LinesPerSecond(50000, [] { TLineChannel::Poll(); });
  std::printf("receive_lines_per_s_polled %.0f lines/s\n", polled);
  std::printf("receive_1mib_no_cr_ms %.1f ms\n", BurstMs());
  std::printf("receive_unread_wakeups_per_s %.0f wake-ups/s\n", UnreadWakeupsPerSecond());
  return 0;
}
