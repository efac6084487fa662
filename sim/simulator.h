#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/board.h"
#include "sim/eepromwriter.h"
#include "sim/faults.h"

namespace zirvsim {

// Bytes per second of the board's serial line: 57600 baud, 8N1 = 10 bit times per byte.
constexpr double kWireBytesPerSecond = 5760.0;

// How the simulated board behaves on its line.
struct TSimOptions {
  bool Pacing = true;      // send no faster than the serial line would
  bool CrLf = false;       // end answer lines with CR LF instead of CR
  uint64_t Seed = 1;       // fixes the motor's disturbance and the garbage bytes
  std::string EepromFile;  // where the parameters persist; empty = nowhere
  int ReplyDelayMs = 2;    // time from a command's line end to the first answer byte
  TMotorConstants Motor = {};  // the motor the board drives
  TEepromWriter::TSave SaveEeprom = SaveParams;  // writes EepromFile
};

// The ZIRV7 board behind a pseudo-terminal: the tool opens DevicePath() as its serial port.
// A thread of its own reads commands, runs the board and writes the answers.
class TBoardSimulator {
 public:
  // Creates a stopped simulator; loads the parameters from options.EepromFile if it exists.
  explicit TBoardSimulator(TSimOptions options = {});
  // Stops the simulator.
  ~TBoardSimulator();
  TBoardSimulator(const TBoardSimulator&) = delete;
  TBoardSimulator& operator=(const TBoardSimulator&) = delete;

  // Opens the pty, sets its slave side raw and starts the board thread; throws
  // std::runtime_error when the pty cannot be made.
  void Start();

  // Stops the board thread and closes the pty (when running), and waits until the EEPROM
  // file holds the last parameters.
  void Stop();

  // Returns whether the board thread runs (false after Stop and after a HangUpAfter fault).
  bool Running() const;

  // Returns the slave device that the tool opens, e.g. "/dev/pts/7".
  std::string DevicePath() const;

  // Switches a fault mode on (TFault::None switches it off); see TFault for the parameter.
  void SetFault(TFault fault, int param = 0);

  // Returns the configured delay before an answer starts, in milliseconds.
  int ReplyDelayMs() const { return FOptions.ReplyDelayMs; }

  // Returns a copy of every command line received so far, without its line end.
  std::vector<std::string> ReceivedCommands() const;

  // Forgets the received command lines.
  void ClearReceived();

  // Returns the stored parameters.
  TBoardParams Params() const;

  // Replaces the stored parameters (clamped as the board would) and persists them. The file
  // is written behind the answers, never before them (see TEepromWriter).
  void SetParams(const TBoardParams& params);

  // Makes the next "s" answer carry the given values instead of the servo's.
  void SetStatusOverride(const TStatusOverride& status);

  // Makes the next answer to a command carry exactly the given lines (line ends are added).
  // The key matches a command line that equals it, or, when the key is one character, any
  // command line starting with it ("p" matches "p 0.5"). Answers queue per key.
  void ScriptAnswer(const std::string& command, std::vector<std::string> lines);

  // Holds back the answer to the next command that matches key (as ScriptAnswer matches),
  // and every answer behind it, until ReleaseAnswers: a board that answers late, or falls
  // silent, for exactly as long as a test needs.
  void HoldAnswerTo(const std::string& key);

  // Lets the held answers go on the line, and holds no more.
  void ReleaseAnswers();

  // Makes the board read the next commands that match key (as ScriptAnswer matches) late, one
  // delay each in seconds: it runs that much longer before it takes its values, and answers
  // that much later, as a board whose main loop comes to a request when it can.
  void DelayReading(const std::string& key, std::vector<double> seconds);

  // Calls hook on the board thread after each command has been answered (the answer queued,
  // not yet on the line), with every command received so far: a test acts between two
  // commands of the tool, whatever the machine's load. The hook may call the other functions.
  void OnCommand(std::function<void(const std::vector<std::string>& received)> hook);

  // Waits (at most 2 s) until the board has read and handled every byte that has reached its
  // end of the line and has put on the line what is due (the first byte of a paced answer, or
  // as much as the line holds); then hurries what it wrote to the tool's end. A board that has
  // neither read nor written since its last wait ran out is not waited for again. The kernel hands a
  // pty's bytes on in a worker of its own, which a busy machine may keep waiting for longer
  // than the tool waits for an answer.
  void CatchUp();
  // CatchUp for every simulated board running in this process: a poll gate of the tool's.
  static void CatchUpAll();

  // Returns the number of answer bytes written to the line so far.
  uint64_t BytesSent() const;

 private:
  using TClock = std::chrono::steady_clock;

  // A piece of output and the moment its first byte may go on the wire.
  struct TOutput {
    std::string Bytes;
    TClock::time_point StartAt;
    size_t Written = 0;
    bool Held = false;  // waits for ReleaseAnswers
  };

  void Run();
  void ReadInput();
  void HandleCommand(const std::string& command);
  std::vector<std::string> AnswerLines(const std::string& command);
  void Queue(std::string bytes, double extraDelaySeconds, bool held);
  int WriteDueOutput();
  void HangUp();
  void ClientClosed();
  bool CaughtUp();
  void CloseFds();
  void AdvanceBoard();
  bool TakeScripted(const std::string& command, std::vector<std::string>& lines);
  double TakeReadDelay(const std::string& command);

  TSimOptions FOptions;
  mutable std::mutex FMutex;  // guards everything below that the API reaches
  TBoardModel FBoard;
  TFault FFault = TFault::None;
  int FFaultParam = 0;
  int FCommandsSinceFault = 0;
  std::vector<std::string> FReceived;
  std::map<std::string, std::deque<std::vector<std::string>>> FScripts;
  std::map<std::string, std::deque<double>> FReadDelays;
  std::string FHoldKey;  // the answer to the next command it matches is held; "" none
  std::function<void(const std::vector<std::string>&)> FOnCommand;
  uint64_t FBytesSent = 0;
  uint64_t FGarbageRandom;
  bool FRunning = false;
  std::unique_ptr<TEepromWriter> FEeprom;  // none without an EEPROM file

  // Owned by the board thread while it runs.
  int FMaster = -1;
  int FSlave = -1;  // kept open so the master never sees a hang-up while the tool is away
  int FWake[2] = {-1, -1};
  int FCloses = -1;  // inotify instance reporting the clients' closes of the device
  std::string FDevicePath;
  std::string FInput;
  std::deque<TOutput> FOutput;
  TClock::time_point FWireFreeAt;
  TClock::time_point FLastAdvance;
  bool FHangUpPending = false;
  std::thread FThread;
  std::atomic<bool> FReading{false};  // the board thread is reading and handling commands
  bool FLineFull = false;  // the last write found the tool's end of the line full
  // Counts the board thread's reads and writes; FStalledAt is the count at which the last
  // CatchUp ran out of time (none: the largest count).
  std::atomic<uint64_t> FProgress{0};
  std::atomic<uint64_t> FStalledAt{UINT64_MAX};
};

}  // namespace zirvsim
