// The table of commands: what each takes and says of itself. A command's entry point lives in
// its own file (cmd_<name>.cpp); its arguments are read and checked by its entry here before
// it runs.
#include "ctl/commands.h"

#include "ctl/options.h"

namespace {

constexpr TValueRule kComName{TValueKind::ComName};
constexpr TValueRule kRunNumber{TValueKind::RunNumber};
constexpr TValueRule kBackupNumber{TValueKind::BackupNumber};

// ---- ports

constexpr TOptionUse kPortsOptions[] = {
    {.Option = &kJsonOption, .Help = "Print a JSON array (null where a value is absent)."},
};
constexpr const char* kPortsDescription =
    "Lists every serial device present: its device path, the COM name that leads to it, its\n"
    "USB vendor and product IDs, a description, what keeps the tool from using it, and its\n"
    "stable name under /dev/serial/by-id. COM names that lead elsewhere (a pseudo-terminal\n"
    "of the simulated board, another terminal, nothing) follow with what is there.";

// ---- link

constexpr TOptionUse kLinkOptions[] = {
    {.Option = &kForceOption, .Help = "Re-point the link even when its device is in use."},
};
constexpr TArgument kLinkArguments[] = {
    {.Name = "COMn", .Help = "The port name to link.", .Rule = kComName},
    {"DEVICE", "The device it leads to."},
};
constexpr const char* kLinkDescription =
    "Makes COMn (COM1 to COM32) lead to DEVICE (for example /dev/ttyUSB0), through its\n"
    "stable name under /dev/serial/by-id when it has one, so that the link survives\n"
    "re-plugging and reboots. The link is ${XDG_CONFIG_HOME:-~/.config}/zirv7tune/ports/COMn.\n"
    "DEVICE must be a serial port or another terminal device under /dev. A link that leads\n"
    "to a device some program holds now is not re-pointed unless --force.";

// ---- unlink

constexpr TOptionUse kUnlinkOptions[] = {
    {.Option = &kForceOption, .Help = "Remove the link even when its device is in use."},
};
constexpr TArgument kUnlinkArguments[] = {
    {.Name = "COMn", .Help = "The port name to unlink.", .Rule = kComName},
};
constexpr const char* kUnlinkDescription =
    "Removes the link made by 'zirv7ctl link'; COMn then leads to /dev/ttyS<n-1> again.\n"
    "A link that leads to a device some program holds now is not removed unless --force.";

// ---- step

constexpr TOption kRunsOption{"runs", "K", "How many tests to run (default 1).", {TValueKind::WholeNumber, 1, 1000}};
constexpr TOption kFwdRevOption{"fwd-rev", nullptr, "Flip the step's sign after each run."};
constexpr TOptionUse kStepOptions[] = {
    {.Option = &kPortOption, .Required = true},
    {.Option = &kStepOption, .Required = true},
    {&kPredivOption},
    {&kRunsOption},
    {&kFwdRevOption},
    {.Option = &kJsonOption, .Help = "Print the runs as JSON."},
    {&kPngOption},
    {&kSvgOption},
    {&kCsvOption},
};
constexpr const char* kStepDescription =
    "Runs step-response tests (\"r<prediv>c<step>ok1\") and prints the figures of each run:\n"
    "rise (10 % to 90 %), overshoot, peak, settling (2 %), steady-state error (mean of the\n"
    "last 10 %), IAE, peak output and whether the output reached its limit. Times are in\n"
    "ms (from the board's ticks per servo cycle and the prediv). Every run is stored in the\n"
    "history; --json adds the samples as [error, output] pairs. A test waits as long as the\n"
    "board needs at its ticks per servo cycle and the prediv; a board still answering when\n"
    "that time is up is waited for before the next command.";

// ---- compare

constexpr TOptionUse kCompareOptions[] = {
    {.Option = &kPortOption, .Required = true},
    {.Option = &kStepOption, .Required = true},
    {&kPredivOption},
    {.Option = &kJsonOption, .Help = "Print the runs as JSON."},
    {&kYesOption},
    {&kPngOption},
    {&kSvgOption},
};
constexpr TArgument kCompareArguments[] = {
    {.Name = "files", .Help = "Parameter files (.pset).", .Usage = "A.pset B.pset ...", .Max = kAnyCount},
};
constexpr const char* kCompareDescription =
    "For each parameter file: writes to the board the values that differ from what it\n"
    "holds, runs a step test and stores it. At the end the board's own values are written\n"
    "back and checked with a read, also after Ctrl+C, a failed run or output nobody can\n"
    "read any more. Prints one column per file, the best figure of each row marked with *.";

// ---- history

constexpr TOption kLastOption{"last", "N", "Only the last N runs.", {TValueKind::WholeNumber, 1, 1000000000}};
constexpr TOptionUse kHistoryOptions[] = {
    {.Option = &kJsonOption, .Help = "Print the runs as JSON (with sample_count, without the samples)."},
    {&kLastOption},
};
constexpr const char* kHistoryDescription =
    "Lists the stored step-response runs, oldest first, with the time each was made.\n"
    "The history is ${XDG_DATA_HOME:-~/.local/share}/zirv7tune/runs.sqlite.";

// ---- show

constexpr TOptionUse kShowOptions[] = {
    {.Option = &kJsonOption, .Help = "Print the runs as JSON."},
    {&kPngOption},
    {&kSvgOption},
    {&kCsvOption},
};
constexpr TArgument kShowArguments[] = {
    {.Name = "runs", .Help = "Run numbers.", .Usage = "RUN...", .Max = kAnyCount, .Rule = kRunNumber},
};
constexpr const char* kShowDescription =
    "Shows stored runs by their numbers (see 'zirv7ctl history'): their figures, or\n"
    "overlaid in a picture, or their samples as CSV.";

// ---- suggest

constexpr TOption kTargetOvershootOption{"target-overshoot", "PCT", "The most overshoot allowed, % (default 5).",
                                        {TValueKind::Number, 0, 100}};
constexpr TOption kMismatchOption{"mismatch", "PCT", "How far off gain and time constant may be, % (default 20).",
                                  {TValueKind::Number, 0, 90}};
constexpr TOption kCornerAllowanceOption{
    "corner-allowance", "PCT", "Points of overshoot beyond the target allowed with the mismatch (default 3).",
    {TValueKind::Number, 0, 100}};
constexpr TOption kCountJumpOption{
    "count-jump", "PCT", "The most one count of error may move the output, % of \"Max Output (m):\" (default 20).",
    {TValueKind::Number, 1, 1000}};
constexpr TOption kApplyOption{"apply", nullptr,
                               "Try the suggestion on the board, and where it fails or there is none, search for gains there."};
constexpr TOption kFromHistoryOption{"from-history", "RUN", "Fit stored runs instead of a new test.", kRunNumber};
constexpr TOptionUse kSuggestOptions[] = {
    {.Option = &kPortOption, .Required = true, .Unless = "from-history"},
    {.Option = &kStepOption, .Required = true, .Unless = "from-history"},
    {&kPredivOption},
    {&kTargetOvershootOption},
    {&kMismatchOption},
    {&kCornerAllowanceOption},
    {&kCountJumpOption},
    {.Option = &kApplyOption, .Needs = "port"},
    {&kYesOption},
    {.Option = &kJsonOption, .Help = "Print the result as JSON."},
    {&kFromHistoryOption},
    {&kPngOption},
    {&kSvgOption},
};
constexpr TArgument kSuggestArguments[] = {
    {.Name = "RUN",
     .Help = "More stored runs after --from-history.",
     .Min = 0,
     .Max = kAnyCount,
     .Rule = kRunNumber,
     .After = "from-history"},
};
constexpr const char* kSuggestDescription =
    "Measures the board with its present gains: the step, the step back and a rest record\n"
    "(199 cycles, the command left alone); or takes stored runs of one measurement (such as\n"
    "the three a suggest stores) and gives the answer the live suggest gave from them; runs of\n"
    "different boards or different loop settings are refused. Checks that the board's\n"
    "outputs follow the loop law the model assumes (a board whose loop differs gets\n"
    "nothing), fits the motor (gain, time constant, Coulomb friction, a drive lag and a\n"
    "delay of whole servo cycles, a load constant or changing with position, play between\n"
    "motor and encoder, and the speed a step back starts with), says what the records show\n"
    "beyond it (a flickering count, hunting at rest, ringing; ringing refuses), and chooses\n"
    "P, I, D and FF1 for the shortest 2 % settling with at most the target overshoot on the\n"
    "fitted motor. The step back, from where the step leaves the loop, must do as well, and\n"
    "the output must stay within the rest limit in the settled tails. With gain and time\n"
    "constant off by the mismatch (each way, all four corners) the test must still settle\n"
    "(within twice the run), with at most the target overshoot plus the corner allowance (3\n"
    "points by default, --corner-allowance): the corners are the edges of what the fit may\n"
    "be off by, and a board's measured overshoot is allowed as much beyond the target, as no\n"
    "model matches a board exactly. Prints the suggestion beside the present gains with\n"
    "predicted figures for both, then asks. The motor must come within a count of target\n"
    "by the end of both runs, also with half a percent more friction than fitted (the fit\n"
    "may be off), and rest quietly with half the friction too; where no gains that meet the\n"
    "goal do, \"Deadband (b):\" is set a count wider, or nothing is suggested. Where the\n"
    "count flickers (glitches, noise, a motor on the edge of a count) the deadband is set to\n"
    "the flicker, and where it flickers often (noise) one count may move the output by at\n"
    "most 10 %; where the fit finds play between motor and encoder, the deadband is a count\n"
    "at least, so that the loop does not hunt across the play. Values are those the window's\n"
    "fields show exactly.\n"
    "\n"
    "--apply shows its plan and asks first (unless --yes); it refuses while the servo is\n"
    "disabled. It tries the suggestion with a quarter of the step, then measures it (step,\n"
    "step back, rest record): it stays only when settling, overshoot, steady-state error (a\n"
    "count, or the deadband), IAE and the output's peak-to-peak at rest (10 % of \"Max Output\n"
    "(m):\") are within the goal and none is worse than before. Where it fails, or where the\n"
    "model gives none (a poor fit, a load, a lag, a mode it does not hold; not a board whose\n"
    "loop law differs), gains are searched on the board: P, I, D and \"Deadband (b):\", from\n"
    "the present gains towards bolder ones, one step test a trial, a move a trial, each judged\n"
    "by the same figures; FF1 stays as the suggestion chose it. A trial that shows a growing\n"
    "oscillation, the output held at its limit for more than a tenth of the record, or a\n"
    "following error beyond half of \"Fault Error (f):\" gets the board's values back at once;\n"
    "a trip of the servo ends the search. The whole tuning keeps within 60 step tests and 90\n"
    "s on a board that runs in real time; progress goes to standard error, trial by trial\n"
    "with the best so far. The best gains found are verified as the suggestion is, and stay\n"
    "only when they pass; otherwise the board gets its values back, the reason is named and\n"
    "the exit status is 1. All of it is one write, with one backup in the history, and every\n"
    "trial is stored there with its runs. --png/--svg draw before, predicted, the trials\n"
    "that became the best and after, with the rest records.\n"
    "\n"
    "The count jump: the encoder reports whole counts, and one count of error moves the\n"
    "output by P + I + D / servo period in the cycle it appears (the board's D acts on the\n"
    "error's change per second). The suggestion keeps that within 20 % of \"Max Output (m):\"\n"
    "(--count-jump): a count that flickers while the motor stands still then swings the drive\n"
    "by at most a fifth of its range, instead of buzzing and heating the motor, and the loop\n"
    "keeps a linear range of five counts or more. Gains that settle sooner with a larger jump\n"
    "are left out; present gains beyond it are never kept.";

// ---- params

constexpr TOptionUse kParamsOptions[] = {
    {.Option = &kPortOption, .Required = true},
    {.Option = &kJsonOption, .Help = "Print the values as a JSON object by file key."},
};
constexpr const char* kParamsDescription =
    "Reads the board's fourteen parameters (\"l\") and prints them with the captions of the\n"
    "window's \"Parameters\" page and the keys of a parameter file; --json prints an object\n"
    "by the file keys. Nothing is written.";

// ---- save

constexpr TOptionUse kSaveOptions[] = {
    {.Option = &kPortOption, .Required = true},
};
constexpr TArgument kSaveArguments[] = {
    {"FILE", "The parameter file (.pset) to write."},
};
constexpr const char* kSaveDescription =
    "Reads the board's fourteen parameters and writes them into FILE as the window's \"Save\n"
    "Parameters\" writes them after \"Read ZIRV parameters\": the section [ZIRVParam], the\n"
    "same keys, number text and line ends, each value as its entry field shows it. Every\n"
    "other line of an existing file stays as it was. Nothing is written to the board.";

// ---- write

constexpr TOptionUse kWriteOptions[] = {
    {.Option = &kPortOption, .Required = true},
    {&kYesOption},
    {&kDryRunOption},
};
constexpr TArgument kWriteArguments[] = {
    {"FILE", "The parameter file (.pset) to write."},
};
constexpr const char* kWriteDescription =
    "Writes the values of FILE that differ from the board's, as the window's \"Write to ZIRV\n"
    "EE-Prom\" writes them after \"Open Parameters\": each value as its entry field shows it,\n"
    "one set command per differing value in the order of the \"Parameters\" page, every\n"
    "answer checked and the values read back. Shows the differences and asks first,\n"
    "unless --yes; --dry-run only shows them. A value the board limits is reported as\n"
    "limited, and the command fails. A value the board stores otherwise than sent, a failed\n"
    "write, Ctrl+C or standard output that cannot be written puts the board's values back;\n"
    "the table printed says what the board holds in the end.";

// ---- diff

constexpr TArgument kDiffArguments[] = {
    {"A", "FILE, #RUN or board:NAME."},
    {"B", "FILE, #RUN or board:NAME."},
};
constexpr const char* kDiffDescription =
    "Prints the parameters whose values differ between A and B, side by side. Each is a\n"
    "parameter file, a stored run (#12, its board's values) or board:NAME (the values the\n"
    "board on that port holds now). Values compare as the window marks a field changed.\n"
    "Exit status: 0 when nothing differs, 1 when something does, 2 on trouble, as diff's.";

// ---- backups

constexpr TOption kFinishOption{"finish", "ID", "Mark backup ID finished, leaving the board as it is.", kBackupNumber};
constexpr TOptionUse kBackupsOptions[] = {
    {.Option = &kJsonOption, .Help = "Print the backups as a JSON array."},
    {&kFinishOption},
};
constexpr const char* kBackupsDescription =
    "Lists the backups in the run history: before its first EEPROM write, every command of\n"
    "the companion that writes a board (write, restore, compare, suggest --apply) keeps what\n"
    "the board held, with the port, the time, the command line and what it was about to\n"
    "write. The state says how the command ended: \"kept\" (the change was meant to stay),\n"
    "\"put back\", or UNFINISHED when it never could say (killed, unplugged, power lost): the\n"
    "board may then still hold what it was writing. 'zirv7ctl restore --port NAME ID' writes\n"
    "a backup's values back. --json adds each backup's fourteen values.\n"
    "\n"
    "A command whose values are on the board but whose backup could not be marked\n"
    "finished (the history locked or full) says so and names --finish ID, which marks the\n"
    "backup finished without writing the board: its values stay as they are.";

// ---- restore

constexpr TOptionUse kRestoreOptions[] = {
    {.Option = &kPortOption, .Required = true},
    {&kYesOption},
    {&kDryRunOption},
};
constexpr TArgument kRestoreArguments[] = {
    {.Name = "BACKUP", .Help = "The backup's number.", .Rule = kBackupNumber},
};
constexpr const char* kRestoreDescription =
    "Writes the values of a backup (see 'zirv7ctl backups') back to the board, as 'write'\n"
    "writes a file: only the values that differ, one set command each in the order of the\n"
    "\"Parameters\" page, every answer checked, the differences shown and the question asked\n"
    "first unless --yes. Values go back with every digit the board gave them. The board's\n"
    "values before the restore are kept as a backup of their own; from a history that can\n"
    "only be read, the restore says that it cannot keep them, and asks. An unfinished backup\n"
    "is marked finished once its values are back. When the board holds values the backup's\n"
    "command never wrote, it may be another board on the same adapter: the restore says so,\n"
    "and then only a person's answer writes (--yes does not).";

// ---- watch

constexpr TOption kEveryOption{"every", "MS",
                               "Milliseconds from one sample's start to the next (default 1000); 0: as fast "
                               "as the serial line allows.",
                               {TValueKind::WholeNumber, 0, 3600000}};
constexpr TOption kForDurationOption{"for", "DURATION",
                                     "Stop after this long: seconds, or a number with ms, s, m or h (30s, 5m).",
                                     {TValueKind::Duration, 0.001, 1000000}};
constexpr TOptionUse kWatchOptions[] = {
    {.Option = &kPortOption, .Required = true},
    {&kEveryOption},
    {&kForDurationOption},
    {.Option = &kCsvOption,
     .Help = "Append the samples as CSV to FILE (a header first when it is empty); - for standard output."},
    {.Option = &kJsonOption, .Help = "Print JSON Lines: one object a sample."},
};
constexpr const char* kWatchDescription =
    "Streams the board's status (\"s\"): its nine values, each sample stamped with the seconds\n"
    "since the start and the wall-clock time (ISO 8601). Runs until --for is up, Ctrl+C, or a\n"
    "pipe that closes (| head), then prints a summary on standard error: samples, rate, and\n"
    "the minimum, mean and maximum of error and output. A sample that fails is counted and\n"
    "told; five in a row end the stream (exit status 1). A CSV file is appended to in place,\n"
    "one sample a line, so that `tail -f` follows it; a write that fails (a full disk) keeps\n"
    "what was written and ends with exit status 1. The board's values are never written.\n"
    "With a period shorter than an exchange (0 among them), the next \"s\" goes out while the\n"
    "last two lines of the answer before it are still coming, so that the line is never idle;\n"
    "a board that cannot take a command while it sends wants --every 25 or more.\n"
    "\n"
    "Example: zirv7ctl watch --port COM2 --every 0 --for 10s --csv status.csv";

// ---- track

constexpr TOption kSpeedOption{"speed", "V",
                               "The speed in \"Pos X 10 per sec:\" units: V moves 10 x V counts a second; "
                               "negative moves back.",
                               {TValueKind::WholeNumber, -2940000, 2940000, true}};
constexpr TOption kForSecondsOption{"for", "SECONDS", "The longest a move lasts, in seconds (default 2).",
                                    {TValueKind::Number, 0.1, 600}};
constexpr TOption kDistanceOption{"distance", "COUNTS", "The farthest a move goes, in counts (default 4000).",
                                  {TValueKind::Number, 1, 1e9}};
constexpr TOption kRippleOption{"ripple", nullptr,
                                "Record 199 servo cycles in a row during the move (a step test of step 0)."};
constexpr TOptionUse kTrackOptions[] = {
    {.Option = &kPortOption, .Required = true},
    {.Option = &kSpeedOption, .Required = true},
    {&kForSecondsOption},
    {&kDistanceOption},
    {.Option = &kFwdRevOption, .Help = "Move back as far, so that the axis ends where it started."},
    {&kRippleOption},
    {.Option = &kApplyOption, .Help = "Write the FF1 suggested, measure again, keep it only when nothing is worse."},
    {&kYesOption},
    {.Option = &kPngOption, .Help = "Draw error and output against time into a PNG picture."},
    {.Option = &kSvgOption, .Help = "Draw error and output against time into an SVG picture."},
};
constexpr const char* kTrackDescription =
    "Runs the board's test oscillator at a speed in the window's \"Pos X 10 per sec:\" units\n"
    "(sent as the window sends it: \"o <round(2940000 / V)>\") and samples the status while the\n"
    "axis moves, as fast as the line allows. The move ends at --for or --distance, whichever\n"
    "comes first; --fwd-rev then moves back as far. Refuses to start while the servo is\n"
    "disabled. Prints the speed measured from the command (the slope of the command samples\n"
    "over when the board read them: each timed by its answer's arrival less the answer's wire\n"
    "time at 57600 baud, so that a request a busy computer sends late does not bend it; those\n"
    "whose answer came late beyond the usual are left out), the following error at speed (mean\n"
    "and peak-to-peak over the samples after it settled within 10 % of its mean, or a count),\n"
    "the output at speed, the time the error took to settle, whether the servo tripped, and\n"
    "what FF1 (the feed-forward of the command's speed) would do by the board's loop law.\n"
    "--apply writes that FF1, measures again and keeps it only when nothing is worse. The\n"
    "oscillator is stopped before anything else on every way out (Ctrl+C, a signal, a closed\n"
    "pipe, an error); a move is kept in the history until it is stopped, and the next command\n"
    "on the port stops one that a kill left running.\n"
    "\n"
    "Example: zirv7ctl track --port COM2 --speed 100 --fwd-rev --png track.png";

// ---- stop

constexpr TOptionUse kStopOptions[] = {
    {.Option = &kPortOption, .Required = true},
};
constexpr const char* kStopDescription =
    "Stops the board's test oscillator (\"o 0\") at once, whoever started it: a track that was\n"
    "killed, the window's \"Set\", a terminal program. A move the history kept as running is\n"
    "marked stopped. Nothing else is sent first, not even a read of the parameters.\n"
    "\n"
    "Example: zirv7ctl stop --port COM2";

constexpr TCommand kTable[] = {
    {.Name = "ports",
     .Summary = "list the serial ports present and what they are",
     .Description = kPortsDescription,
     .Options = kPortsOptions,
     .Run = RunPorts},
    {.Name = "link",
     .Summary = "make COMn lead to a serial device",
     .Description = kLinkDescription,
     .Options = kLinkOptions,
     .Arguments = kLinkArguments,
     .Run = RunLink},
    {.Name = "unlink",
     .Summary = "remove the link of COMn",
     .Description = kUnlinkDescription,
     .Options = kUnlinkOptions,
     .Arguments = kUnlinkArguments,
     .Run = RunUnlink},
    {.Name = "step",
     .Summary = "run step-response tests and print their figures",
     .Description = kStepDescription,
     .Options = kStepOptions,
     .Run = RunStep},
    {.Name = "compare",
     .Summary = "run a step test with each parameter file, side by side",
     .Description = kCompareDescription,
     .Options = kCompareOptions,
     .Arguments = kCompareArguments,
     .Run = RunCompare},
    {.Name = "history",
     .Summary = "list the stored step-response runs",
     .Description = kHistoryDescription,
     .Options = kHistoryOptions,
     .Run = RunHistory},
    {.Name = "show",
     .Summary = "show stored runs as figures, a picture or CSV",
     .Description = kShowDescription,
     .Options = kShowOptions,
     .Arguments = kShowArguments,
     .Run = RunShow},
    {.Name = "suggest",
     .Summary = "fit the motor to a step test and suggest gains for it",
     .Description = kSuggestDescription,
     .Options = kSuggestOptions,
     .Arguments = kSuggestArguments,
     .Run = RunSuggest},
    {.Name = "params",
     .Summary = "print the board's fourteen parameters",
     .Description = kParamsDescription,
     .Options = kParamsOptions,
     .Run = RunParams},
    {.Name = "save",
     .Summary = "save the board's parameters into a parameter file",
     .Description = kSaveDescription,
     .Options = kSaveOptions,
     .Arguments = kSaveArguments,
     .Run = RunSave},
    {.Name = "write",
     .Summary = "write a parameter file's differing values to the board",
     .Description = kWriteDescription,
     .Options = kWriteOptions,
     .Arguments = kWriteArguments,
     .Run = RunWrite},
    {.Name = "diff",
     .Summary = "show the values that differ between files, stored runs and boards",
     .Description = kDiffDescription,
     .Arguments = kDiffArguments,
     .Run = RunDiff},
    {.Name = "backups",
     .Summary = "list the board's values kept before each EEPROM write",
     .Description = kBackupsDescription,
     .Options = kBackupsOptions,
     .Run = RunBackups},
    {.Name = "restore",
     .Summary = "write a backup's values back to the board",
     .Description = kRestoreDescription,
     .Options = kRestoreOptions,
     .Arguments = kRestoreArguments,
     .Run = RunRestore},
    {.Name = "watch",
     .Summary = "stream the board's status to the terminal, a CSV file or JSON Lines",
     .Description = kWatchDescription,
     .Options = kWatchOptions,
     .Run = RunWatch},
    {.Name = "track",
     .Summary = "measure the following error and the output at a constant speed",
     .Description = kTrackDescription,
     .Options = kTrackOptions,
     .Run = RunTrack},
    {.Name = "stop",
     .Summary = "stop the board's test oscillator",
     .Description = kStopDescription,
     .Options = kStopOptions,
     .Run = RunStop},
};

}  // namespace

const std::span<const TCommand> kCommands = kTable;
