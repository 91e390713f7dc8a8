// The work list of an exploration: the candidates to decide, by position.
// A list is read forwards from any position by readers, each owned by one
// thread; a list made from a space streams its candidates (every sample-th
// of the space) without holding them, so its memory does not grow with the
// space.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "base/moduli_set_list.h"
#include "base/result.h"
#include "census/space.h"

namespace tilvane {

// Reads a work list forwards from the position it was opened at.
class WorkReader {
 public:
  virtual ~WorkReader() = default;
  // The candidate at the next position, or false after the last.
  virtual bool next(ModuliSet& out) = 0;
};

class WorkList {
 public:
  virtual ~WorkList() = default;
  virtual std::uint64_t count() const = 0;
  // A reader whose first candidate is the one at position (count() gives
  // a reader at the end). Fails beyond the end.
  virtual Result<std::unique_ptr<WorkReader>> read_from(std::uint64_t position) const = 0;
};

// Every sample-th candidate of the space, from the first (sample >= 1).
// Fails as count_space does.
Result<std::unique_ptr<WorkList>> space_work(const CensusSpace& space, std::uint64_t sample);

// `runs` runs of `run_length` consecutive candidates of the space, their
// starts spread evenly over it (the whole space when it is no larger). A
// sample of this shape sees what a whole run sees of the searches' shared
// memo and dominance store, which a sample of scattered candidates does
// not. When runs is a power of two the runs come in bit-reversed order of
// their starts, so that every prefix of whole runs is spread evenly too,
// and a sample cut short (at a time limit) is still fair to the space.
Result<std::unique_ptr<WorkList>> space_runs_work(const CensusSpace& space, std::uint64_t runs,
                                                  std::uint64_t run_length);

// Part `part` of `parts` (1 <= part <= parts) of a list of `count`
// positions: positions begin to end - 1. The parts are contiguous, in order,
// cover every position once, and differ in length by at most one.
struct PartRange {
  std::uint64_t begin = 0;
  std::uint64_t end = 0;
};
PartRange part_range(std::uint64_t count, std::uint64_t part, std::uint64_t parts);

// The positions of part `part` of `parts` of the whole list, as a list of
// their own (its position 0 is the whole's position begin).
std::unique_ptr<WorkList> part_work(std::unique_ptr<WorkList> whole, std::uint64_t part,
                                    std::uint64_t parts);

// The sets given, which must outlive the list.
std::unique_ptr<WorkList> set_work(std::span<const ModuliSet> sets);

}  // namespace tilvane
