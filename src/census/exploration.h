// Exploring a census space: every candidate of a work list is decided (by
// the decision search, or by the node-exact search) and the outcomes are
// gathered in candidate order into the figures a census reports. The work
// list is the space's candidates, or every EVERY-th of them for a sample.
//
// Outcomes may arrive in any order (from worker threads, or from the ranks
// of a cluster); the ledger keeps each until every earlier one has arrived
// and then folds it into the tally, so the tally, and everything written
// from it, depends only on the candidates and their outcomes, never on how
// the work was spread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/fraction.h"
#include "base/moduli_set_list.h"
#include "base/result.h"
#include "census/space.h"
#include "census/work_list.h"

namespace tilvane {

enum class SearchKind { Decide, Exact };

std::string_view search_kind_name(SearchKind kind);

// What one census exploration is: its space, its search, the budget of each
// search (0: none), the sampling stride (1: every candidate) and the part of
// the work list it decides (part 1 of 1: all of it; see part_range).
struct ExplorationPlan {
  CensusSpace space;
  SearchKind search = SearchKind::Decide;
  std::uint64_t max_nodes = 0;
  std::uint64_t sample = 1;
  std::uint64_t part = 1;
  std::uint64_t parts = 1;
  friend bool operator==(const ExplorationPlan&, const ExplorationPlan&) = default;
};

// "simpson space, k = 10, L 512, decide search, no budget, every candidate,
// part 2 of 4": the plan in words, for messages.
std::string describe_plan(const ExplorationPlan& plan);

enum class CandidateKind : std::uint8_t {
  Dropped,      // never an irreducible covering set, seen without a search
  NotCovering,  // no choice of residues covers
  Reducible,    // covers, and so does some one-modulus deletion
  Irreducible,  // covers, and no one-modulus deletion does
  Undecided,    // a search ran out of its budget
  Abandoned,    // a stop request ended its search: it is not decided, and is
                // never recorded, so a resumed run decides it again
};

// The outcome of one candidate. residues: a covering choice, in the order of
// the moduli, for an irreducible set (its certificate); empty otherwise.
struct CandidateOutcome {
  CandidateKind kind = CandidateKind::Undecided;
  std::uint64_t nodes = 0;
  std::vector<std::uint64_t> residues;
  friend bool operator==(const CandidateOutcome&, const CandidateOutcome&) = default;
};

// Decides one candidate under the plan's search and budget, with a memo or
// cache shared by every call of one Decider (any number of threads at once).
struct DecisionOptions;

// The decision search's techniques follow options (all on by default).
class Decider {
 public:
  explicit Decider(const ExplorationPlan& plan);
  Decider(const ExplorationPlan& plan, const DecisionOptions& options);
  ~Decider();
  Decider(const Decider&) = delete;
  Decider& operator=(const Decider&) = delete;

  Result<CandidateOutcome> decide(std::span<const std::uint64_t> moduli) const;

 private:
  struct Shared;
  ExplorationPlan plan_;
  Shared* shared_;
};

// An irreducible covering set with its covering residues.
struct FoundSet {
  ModuliSet moduli;
  std::vector<std::uint64_t> residues;
  friend bool operator==(const FoundSet&, const FoundSet&) = default;
};

// Everything gathered from the decided prefix of the work list.
struct ExplorationTally {
  std::uint64_t decided = 0;  // the length of the prefix
  std::uint64_t dropped = 0;
  std::uint64_t searched = 0;  // decided - dropped
  std::uint64_t nodes = 0;
  std::vector<FoundSet> found;
  ModuliSetList undecided;
  friend bool operator==(const ExplorationTally&, const ExplorationTally&) = default;
};

// The outcomes of a work list, gathered in order. The ledger reads the
// candidates forwards as their outcomes are folded in, so it needs neither
// the list in memory nor the candidates of outcomes still waiting.
class ExplorationLedger {
 public:
  // work: the whole work list (positions 0 to count - 1), which must outlive
  // the ledger; the tally may already hold a decided prefix, as read from a
  // checkpoint (no longer than the list).
  ExplorationLedger(const WorkList& work, ExplorationTally tally);
  // The same over sets held in memory.
  ExplorationLedger(std::span<const ModuliSet> work, ExplorationTally tally);
  ~ExplorationLedger();
  ExplorationLedger(ExplorationLedger&&) noexcept;

  std::uint64_t count() const { return count_; }
  // The first position whose outcome has not been folded in.
  std::uint64_t next() const { return tally_.decided; }
  const ExplorationTally& tally() const { return tally_; }

  // Records the outcome for position; positions before next() and positions
  // recorded before are refused. The tally advances over every outcome now
  // contiguous with the prefix; as it does, an outcome whose count of
  // residues does not match its candidate is refused, and so is a cover of
  // an irreducible set that fails the cover check. Fails when the node total
  // overflows.
  Status record(std::uint64_t position, CandidateOutcome outcome);

  bool complete() const { return tally_.decided == count_; }

 private:
  std::uint64_t count_ = 0;
  std::unique_ptr<WorkReader> reader_;
  std::optional<Error> broken_;  // the reader could not be opened
  ExplorationTally tally_;
  // Outcomes waiting for an earlier one, by position - next().
  std::deque<std::optional<CandidateOutcome>> waiting_;
  ModuliSet candidate_;
};

// Every covering choice a census reports is confirmed by the direct cover
// check, independently of the search that found it.
Status confirm_cover(std::span<const std::uint64_t> moduli,
                     std::span<const std::uint64_t> residues);

// The work list of a plan held in memory: every sample-th candidate, from
// the first.
ModuliSetList sample_work(ModuliSetList candidates, std::uint64_t sample);

// One set as a fixture line: the moduli separated by a blank, and a line
// feed.
std::string render_set_line(std::span<const std::uint64_t> moduli);

// The irreducible sets in fixture form: one line each, in candidate order.
std::string render_found_sets(std::span<const FoundSet> found);

// One candidate file for a found set: k, then one "modulus residue" line per
// modulus.
std::string render_certificate(const FoundSet& set);

// The extrema of the found sets.
struct ExplorationExtrema {
  std::optional<std::uint64_t> min_largest_modulus;
  std::optional<std::uint64_t> max_largest_modulus;
  Fraction max_reciprocal_sum;
};
Result<ExplorationExtrema> exploration_extrema(std::span<const FoundSet> found);

}  // namespace tilvane
