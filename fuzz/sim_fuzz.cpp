// Fuzzes what the simulated board reads from outside: the first byte picks
//   0: the command line, arguments separated by NUL bytes;
//   1: command lines from the serial line, one per LF, answered by one board in turn;
//   2: the --motor text.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "sim/board.h"
#include "sim/commandline.h"
#include "sim/plant.h"

namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t end = text.find(separator); end != std::string::npos; end = text.find(separator, start)) {
    parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  parts.push_back(text.substr(start));
  return parts;
}

void CommandLine(const std::string& text) {
  std::vector<std::string> words = Split(text, '\0');
  std::vector<char*> argv = {const_cast<char*>("zirv7-sim")};
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  zirvsim::TCommandLine line;
  zirvsim::ParseArguments(int(argv.size() - 1), argv.data(), line);
}

// A step test runs 199 x (prediv + 1) servo cycles, as the board does: up to two million for
// one line, and prints some four hundred lines. That cost is the board's own, so the fuzz
// answers one step test per input, of at most ten cycles a sample, and passes over the others
// (their command still goes through the board's parser). The commands of one input are
// bounded as well: a few dozen already meet every state the board keeps, and the long inputs
// libFuzzer grows would otherwise spend their time printing parameter lists.
constexpr int kMaxFuzzPrediv = 9;
constexpr int kMaxFuzzCommands = 32;

void SerialLines(const std::string& text) {
  zirvsim::TBoardModel board;
  bool stepped = false;
  int commands = 0;
  for (const std::string& command : Split(text, '\n')) {
    if (++commands > kMaxFuzzCommands) break;
    int prediv = 0;
    long long step = 0;
    if (zirvsim::ParseStepCommand(command, prediv, step)) {
      if (stepped || prediv > kMaxFuzzPrediv) continue;
      stepped = true;
    }
    board.Answer(command);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 3) {
    case 0: CommandLine(text); break;
    case 1: SerialLines(text); break;
    default: zirvsim::ParseMotorConstants(text); break;
  }
  return 0;
}
