#include "serial/linechannel.h"

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

namespace {

std::atomic<quint64> gPollCount{0};
std::atomic<TLineChannel::TPollGate> gPollGate{nullptr};

constexpr int kReplyPolls = 501;
constexpr int kIdlePolls = 1000;

}  // namespace

TLineChannel::TLineChannel(TComPort& port, TLogLine logLine)
    : FPort(port), FLogLine(std::move(logLine)) {}

void TLineChannel::CreateLineBuf() {
  if (!LineBuf) LineBuf = std::make_unique<QStringList>();
}

void TLineChannel::ComPort1RxChar() {
  QString received;
  FPort.ReadStr(received, FPort.InputCount());
  // RS232Buf holds no CR between calls, so only the new characters need scanning: a long
  // burst without CR costs linear time, not a rescan from the start for every chunk.
  const qsizetype scanFrom = RS232Buf.size();
  RS232Buf += received;
  qsizetype lineStart = 0;
  qsizetype cr = RS232Buf.indexOf(QLatin1Char('\r'), scanFrom);
  if (cr < 0) return;
  QStringList lines;
  for (; cr >= 0; cr = RS232Buf.indexOf(QLatin1Char('\r'), lineStart)) {
    lines.append(RS232Buf.mid(lineStart, cr - lineStart + 1));
    lineStart = cr + 1;
  }
  RS232Buf.remove(0, lineStart);
  Timeout = false;
  CreateLineBuf();  // a line must never be dropped because the list is not made yet
  for (const QString& line : lines) {
    FLogLine(line, clBlue);
    LineBuf->append(line);
  }
}

void TLineChannel::SendLine(const QString& text) {
  Timeout = true;
  FPort.WriteStr(text + QStringLiteral("\r\n"));
  FLogLine(text, clGreen);
}

bool TLineChannel::WaitForReply() {
  for (int r = 0; r < kReplyPolls; ++r) {
    Poll();
    if (!Timeout) return true;
  }
  TimedOut();
  return false;
}

std::optional<QString> TLineChannel::WaitForLineWith(const QString& tag) {
  for (int r = 0; r < kReplyPolls; ++r) {
    Poll();
    // A nested exchange may have emptied or dropped the list meanwhile.
    if (!LineBuf) continue;
    const auto line = std::find_if(LineBuf->cbegin(), LineBuf->cend(),
                                   [&](const QString& l) { return l.contains(tag); });
    if (line != LineBuf->cend()) return *line;
  }
  TimedOut();
  return std::nullopt;
}

void TLineChannel::TimedOut() {
  FLogLine(QStringLiteral("Timeout"), clRed);
  RS232Buf.clear();
}

void TLineChannel::FlushReceive() {
  if (FPort.Connected()) FPort.ClearBuffer(true, true);
  CreateLineBuf();
  LineBuf->clear();
  ++FFlushCount;
}

void TLineChannel::WaitUntilIdle() {
  if (!FWaitRS232) return;
  int r = 0;
  do {
    Poll();
    ++r;
  } while (FWaitRS232 && r <= kIdlePolls);
  if (r > kIdlePolls) FWaitRS232 = false;
}

void TLineChannel::Poll() {
  QCoreApplication::processEvents();
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
  if (const TPollGate gate = gPollGate.load()) gate();
  gPollCount.fetch_add(1, std::memory_order_relaxed);
}

TLineChannel::TPollGate TLineChannel::SetPollGate(TPollGate gate) { return gPollGate.exchange(gate); }

quint64 TLineChannel::PollCount() { return gPollCount.load(std::memory_order_relaxed); }
