#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zirvsim {

// Named ways the simulated board misbehaves, for testing how the tool copes. Each takes one
// integer parameter N whose meaning is given per mode; a mode stays active until replaced.
enum class TFault {
  None,                 ///< Answers every command correctly.
  NoAnswer,             ///< Receives and records commands but never answers.
  CutShort,             ///< Drops the last N lines (N < 1 counts as 1) of every answer: "s" with 8 lines.
  MissingTag,           ///< Line N of every answer keeps its number but loses its tag: "l" line 9 without "(m)".
  MalformedNumber,      ///< Line N of every answer carries "1.2.3" instead of its number.
  ExtraLines,           ///< Appends N tagged lines "extra: 0" (N < 1 counts as 1) to every answer: "s" with 10 lines.
  CrLf,                 ///< Ends answer lines with CR LF instead of CR.
  Garbage,              ///< Sends N bytes of noise with NUL bytes (N < 1 counts as 8) after each answer, no line end.
  HangUpAfter,          ///< Answers N more commands, then closes the pty as an unplugged board would.
  SetAnswersDifferent,  ///< Stores and echoes a set value shifted by N (0 counts as 1): "p 0.5" gives "(p) 1.5".
  IntegralPerSecond,    ///< A firmware whose loop integrates error x servo period (I per second), not error per cycle.
};

// Returns the mode's command-line name ("no-answer", "cut-short", ...).
std::string FaultName(TFault fault);

// Returns the mode with the given command-line name, or nothing for an unknown name.
std::optional<TFault> FaultFromName(const std::string& name);

// Applies the line-level modes (CutShort, MissingTag, MalformedNumber, ExtraLines) to an
// answer; other modes leave the lines as they are.
std::vector<std::string> ApplyLineFault(std::vector<std::string> lines, TFault fault, int param);

// Returns the noise the Garbage mode sends after an answer: NUL bytes and printable noise,
// but never CR or LF, so that the noise cannot pass for a line of its own.
std::string GarbageBytes(int count, uint64_t& random);

}  // namespace zirvsim
