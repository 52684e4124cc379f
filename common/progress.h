#pragma once
// The progress line a person watches on a terminal while a backup or restore copies: the area
// being worked on, files and bytes done, the rate and, when an earlier backup's record gives the
// totals, the share done and the time left. The copying code only adds to counters; a thread of
// this module draws the line at most four times a second on standard error, never into a log.
// Every other text the tool writes to its standard streams goes through WriteErrorOutput or
// WriteReportOutput, which take the line away first, so a message always stands on a line of its
// own; the line comes back under it at the next drawing.
//
// Thread safety: every function may be called from any thread.

#include <cstdint>
#include <string>
#include <string_view>

namespace brimora {

namespace platform {
class Folder;
}

struct CopyCounts {
  std::uint64_t files = 0;
  std::uint64_t bytes = 0;
};

// A file or link the copying code has just put in place: `name` in `from`, or the file at
// `path` (read through a link with followLink). Files are always counted, by a relaxed atomic
// add; the copy does not say how many bytes it wrote, so bytes are counted, by a look at the
// source entry, only while CountCopiedBytes(true) asks for them (the progress line or the JSON
// summary shows them).
void NoteCopiedEntry(const platform::Folder& from, const std::string& name);
void NoteCopiedFile(const std::string& path, bool followLink);
void CountCopiedBytes(bool on);
// What was counted since the process started.
CopyCounts CopiedSoFar();

// The area the run works on now, shown at the start of the line.
void SetProgressArea(std::string_view name);
// What the whole run will copy, as an earlier backup of the installation saved it; zeros when
// unknown (then the line shows no share and no time left).
void SetProgressTotals(CopyCounts totals);

// Starts drawing the line, at once and then every 250 ms, with `label` in the area's place until
// the run names its first area; rate and shares count from here. StopProgressLine draws its
// final state, ends it with a line break and stops; it does nothing when the line was not started.
void StartProgressLine(std::string_view label);
void StopProgressLine();

// Writes a message on standard error, or a report on standard output (on standard error once
// ReserveStandardOutput was called: standard output then carries one machine-readable document
// only), with the progress line taken away first.
void WriteErrorOutput(std::string_view text);
void WriteReportOutput(std::string_view text);
void ReserveStandardOutput();

}  // namespace brimora
