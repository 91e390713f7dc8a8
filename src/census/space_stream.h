// A census space as a stream: the candidates in the order space_candidates
// lists them, produced one at a time, with random access by index. Its
// memory depends on the size and bound of the space only, never on how many
// candidates the space holds, so spaces of hundreds of millions of sets can
// be walked, split into index ranges and resumed from an index.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/moduli_set_list.h"
#include "base/result.h"
#include "census/space.h"

namespace tilvane {

// A cursor over the candidates of a space. Copies share the tables built by
// open() and move independently, so one opened space can feed several
// workers, each seeking to its own range.
class SpaceCursor {
 public:
  // Fails as count_space does; in the reduced build a Simpson space fails as
  // space_candidates does. The cursor starts at index 0.
  static Result<SpaceCursor> open(const CensusSpace& space);

  const CensusSpace& space() const;
  // The exact number of candidates, as count_space gives it.
  std::uint64_t count() const;
  // The index of the candidate that next() returns; count() at the end.
  std::uint64_t index() const { return index_; }

  // Positions the cursor at candidate `index` without walking the candidates
  // before it; index == count() is the end. Fails beyond the end.
  Status seek(std::uint64_t index);

  // Stores the candidate at the current index in out and advances, or
  // returns false at the end (leaving out as it was).
  bool next(ModuliSet& out);

 private:
  struct Tables;
  // One admissible next value of a prefix, with the least common multiple of
  // the prefix extended by it.
  struct Child {
    std::uint32_t value = 0;
    std::uint32_t lcm = 0;
  };
  // One level of the walk: the admissible next values of the prefix above
  // it, in increasing order, and which of them the current candidate takes.
  struct Level {
    std::vector<Child> children;
    std::size_t chosen = 0;
  };

  explicit SpaceCursor(std::shared_ptr<const Tables> tables);

  // Sets the levels from `depth` down to the last to their first children,
  // the prefix above depth being the current one.
  void descend_first(std::size_t depth);
  // Moves to the candidate after the current one, which exists.
  void advance();

  std::shared_ptr<const Tables> tables_;
  std::uint64_t index_ = 0;
  // The candidate at index_, when index_ < count().
  ModuliSet current_;
  // For the common-multiple kinds, one level per element of current_.
  std::vector<Level> levels_;
  // Room for the divisors of one value, reused from node to node.
  std::vector<std::uint32_t> divisors_;
};

}  // namespace tilvane
