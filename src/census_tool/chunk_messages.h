// The messages of a cluster run, as text. A computing rank talks only to the
// coordinator and the coordinator to each computing rank; every message is
// one text of lines, each ending in a line feed, with single blanks between
// the words. Numbers are plain decimals without sign or leading zeros. A
// text that is not exactly one of these messages is refused with the reason,
// never skipped.
//
// From a computing rank to the coordinator:
//   hello WORKERS WORK_COUNT SPACE K MAX_LCM SEARCH MAX_NODES SAMPLE
//       the rank's worker threads and the census it was started for; it
//       also asks for the first chunk
//   more            asks for one further chunk; a rank asks before its
//                   workers run out, so it may hold several chunks
//   done N, then N lines "POSITION KIND NODES MICROSECONDS [RESIDUES...]"
//       the outcomes of the oldest chunk the rank holds (all of them, or
//       fewer once the job stops); chunks are returned in the order they
//       were handed out
//   beat            still alive, deciding
//   stop            this rank was told to stop (SIGTERM, SIGINT)
//   fail TEXT       this rank failed; TEXT says why
// From the coordinator to a computing rank:
//   chunk BEGIN COUNT   decide the positions BEGIN to BEGIN + COUNT - 1
//   halt                the job stops: start no further candidate
//   end STATUS          the job is over; exit with STATUS (0, 1 or 2)
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/result.h"
#include "census/exploration.h"

namespace tilvane {

// One decided candidate of a chunk, with the time its decision took.
struct PositionedOutcome {
  std::uint64_t position = 0;
  CandidateOutcome outcome;
  std::uint64_t microseconds = 0;
  friend bool operator==(const PositionedOutcome&, const PositionedOutcome&) = default;
};

struct HelloMessage {
  std::uint64_t workers = 0;
  std::uint64_t work_count = 0;
  ExplorationPlan plan;
  friend bool operator==(const HelloMessage&, const HelloMessage&) = default;
};
struct DoneMessage {
  std::vector<PositionedOutcome> outcomes;
  friend bool operator==(const DoneMessage&, const DoneMessage&) = default;
};
struct MoreMessage {
  friend bool operator==(const MoreMessage&, const MoreMessage&) = default;
};
struct BeatMessage {
  friend bool operator==(const BeatMessage&, const BeatMessage&) = default;
};
struct StopMessage {
  friend bool operator==(const StopMessage&, const StopMessage&) = default;
};
struct FailMessage {
  std::string text;  // one line, not empty
  friend bool operator==(const FailMessage&, const FailMessage&) = default;
};
using RankMessage =
    std::variant<HelloMessage, MoreMessage, DoneMessage, BeatMessage, StopMessage, FailMessage>;

struct ChunkMessage {
  std::uint64_t begin = 0;
  std::uint64_t count = 0;
  friend bool operator==(const ChunkMessage&, const ChunkMessage&) = default;
};
struct HaltMessage {
  friend bool operator==(const HaltMessage&, const HaltMessage&) = default;
};
struct EndMessage {
  int status = 0;
  friend bool operator==(const EndMessage&, const EndMessage&) = default;
};
using CoordinatorMessage = std::variant<ChunkMessage, HaltMessage, EndMessage>;

std::string render_rank_message(const RankMessage& message);
std::string render_coordinator_message(const CoordinatorMessage& message);

// Read a message; the error says what is wrong with the text.
Result<RankMessage> parse_rank_message(std::string_view text);
Result<CoordinatorMessage> parse_coordinator_message(std::string_view text);

// A failure text as one line: line feeds become blanks, and an empty text
// becomes "unknown failure".
std::string one_line(std::string_view text);

}  // namespace tilvane
