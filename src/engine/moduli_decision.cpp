#include "engine/moduli_decision.h"

#include <algorithm>
#include <numeric>
#include <optional>

#include "base/checked_math.h"
#include "base/text_format.h"
#include "engine/class_gain_bound.h"
#include "engine/fibre_branching.h"
#include "engine/local_cover_search.h"
#include "engine/orbit_branching.h"
#include "engine/period.h"
#include "engine/projected_bound.h"
#include "engine/unit_orbits.h"

namespace tilvane {
namespace {

enum class NodeResult { Covered, Refuted, OutOfNodes, Stopped };

constexpr std::uint64_t kProgressEvery = 1 << 14;

class Search {
 public:
  Search(std::span<const std::uint32_t> moduli, std::uint32_t period, std::uint64_t max_nodes,
         const ModuliOptions& options, TraceSink* trace, const ModuliProgress& progress,
         ModuliDecision& facts)
      : moduli_(moduli.begin(), moduli.end()),
        counts_(moduli, period),
        classes_(moduli.size(), kUnassigned),
        max_nodes_(max_nodes),
        options_(options),
        trace_(trace),
        progress_(progress),
        facts_(facts) {
    std::uint64_t rest = period;
    for (std::uint64_t p = 2; p * p <= rest; ++p) {
      if (rest % p != 0) continue;
      primes_.push_back(p);
      while (rest % p == 0) rest /= p;
    }
    if (rest > 1) primes_.push_back(rest);
  }

  NodeResult run() {
    if (!options_.symmetry || moduli_.size() < 2) return node();
    // The translation fixes the largest modulus; the unit maps then act on
    // the modulus whose orbits are fewest for its classes.
    const std::size_t first = static_cast<std::size_t>(
        std::max_element(moduli_.begin(), moduli_.end()) - moduli_.begin());
    std::size_t second = first == 0 ? 1 : 0;
    double best = -1;
    for (std::size_t j = 0; j < moduli_.size(); ++j) {
      if (j == first) continue;
      const double saved =
          static_cast<double>(moduli_[j]) /
          static_cast<double>(unit_orbit_classes(moduli_[first], moduli_[j]).size());
      if (saved > best) {
        best = saved;
        second = j;
      }
    }
    if (const auto r = count_node(); r != NodeResult::Refuted) return r;
    write(cat("s ", moduli_[first]));
    assign(first, 0);
    if (orbits_at_root(first)) {
      // Every unit fixes the class 0 of the period; node() branches on
      // orbits of the stabiliser from here on.
      facts_.symmetric += moduli_[first] - 1;
      stabilisers_.push_back(units_modulo(counts_.period()));
      return node();
    }
    if (const auto r = count_node(); r != NodeResult::Refuted) return r;
    const auto reps = unit_orbit_classes(moduli_[first], moduli_[second]);
    facts_.symmetric += moduli_[first] - 1 + moduli_[second] - reps.size();
    write(trace_numbers(cat("u ", moduli_[second]), reps));
    for (const std::uint64_t c : reps) {
      assign(second, static_cast<std::uint32_t>(c));
      const NodeResult r = node();
      if (r != NodeResult::Refuted) return r;
      unassign(second);
    }
    return NodeResult::Refuted;
  }

  // Splitting: a node reached with `level` classes assigned is not
  // searched but handed to frontier (its assignment), and counts as closed
  // here; the search itself takes the same decisions as without it, so the
  // frontier's subtrees, searched on their own, are the sequential search's
  // subtrees, in the same depth-first order.
  void split_at(std::size_t level,
                const std::function<void(const std::vector<std::uint32_t>&)>& frontier) {
    split_level_ = level;
    frontier_ = &frontier;
  }

  // Searches the subtree of a frontier node: the given classes (kFreeModulus for
  // none) are assigned, and the node is searched as the full search would.
  // With orbit branching, the stabiliser of the classes assigned is set up
  // as run() sets it up: the period's class 0 first, then each class (the
  // group does not depend on the order they are taken in).
  NodeResult run_from(std::span<const std::uint32_t> classes) {
    const std::size_t first = static_cast<std::size_t>(
        std::max_element(moduli_.begin(), moduli_.end()) - moduli_.begin());
    if (orbits_at_root(first) && classes[first] == 0) {
      assign(first, 0);
      stabilisers_.push_back(units_modulo(counts_.period()));
    }
    for (std::size_t j = 0; j < classes.size(); ++j) {
      if (classes[j] != kFreeModulus && classes_[j] == kUnassigned) assign(j, classes[j]);
    }
    return node();
  }

  std::vector<std::uint64_t> residues() const {
    std::vector<std::uint64_t> r(moduli_.size(), 0);
    for (std::size_t j = 0; j < moduli_.size(); ++j) {
      if (classes_[j] != kUnassigned) r[j] = classes_[j];
    }
    return r;
  }

 private:
  static constexpr std::uint32_t kUnassigned = kFreeModulus;

  // Whether the root's translation, fixing the class 0 of the largest
  // modulus, leaves every unit acting: only when that modulus is the period.
  bool orbits_at_root(std::size_t first) const {
    return options_.symmetry && moduli_.size() >= 2 && options_.orbits &&
           moduli_[first] == counts_.period() && counts_.period() <= kOrbitPeriodLimit;
  }

  void write(std::string_view line) {
    if (trace_ != nullptr) trace_->line(line);
  }
  // With orbit branching on, every assignment below the root pushes the
  // stabiliser of the classes assigned so far (empty once it is trivial).
  void assign(std::size_t j, std::uint32_t c) {
    classes_[j] = c;
    counts_.add(j, c);
    ++assigned_;
    if (stabilisers_.empty()) return;
    const std::vector<std::uint32_t>& group = stabilisers_.back();
    stabilisers_.push_back(group.size() > 1 ? class_stabiliser(group, moduli_[j], c)
                                            : std::vector<std::uint32_t>{});
  }
  void unassign(std::size_t j) {
    counts_.withdraw(j, classes_[j]);
    classes_[j] = kUnassigned;
    --assigned_;
    if (stabilisers_.size() > 1) stabilisers_.pop_back();
  }
  bool symmetric_node() const { return !stabilisers_.empty() && stabilisers_.back().size() > 1; }

  // Counts a node against the budget; Refuted means "go on".
  NodeResult count_node() {
    if (facts_.nodes >= max_nodes_) return NodeResult::OutOfNodes;
    ++facts_.nodes;
    if (facts_.nodes % kProgressEvery == 0 && progress_ && !progress_(facts_.nodes)) {
      return NodeResult::Stopped;
    }
    return NodeResult::Refuted;
  }

  NodeResult node() {
    if (split_level_ != 0 && assigned_ >= split_level_) {
      (*frontier_)(classes_);
      return NodeResult::Refuted;
    }
    if (const auto r = count_node(); r != NodeResult::Refuted) return r;
    const std::uint64_t uncovered = counts_.uncovered();
    if (uncovered == 0) return NodeResult::Covered;
    std::uint64_t sum = 0;
    std::size_t open = 0;
    gains_.assign(moduli_.size(), 0);
    for (std::size_t j = 0; j < moduli_.size(); ++j) {
      if (classes_[j] != kUnassigned) continue;
      ++open;
      gains_[j] = counts_.gain(j);
      sum += gains_[j];
    }
    if (open == 0 || (options_.bound && sum < uncovered)) {
      ++(open == 0 ? facts_.bare_leaves : facts_.bound_leaves);
      write("B");
      return NodeResult::Refuted;
    }
    if (options_.project && projected_bound_fails()) {
      ++facts_.projected_leaves;
      write("P");
      return NodeResult::Refuted;
    }
    std::size_t best_count = SIZE_MAX;
    std::uint32_t x = choose_residue(sum, uncovered, best_count);
    std::uint64_t fibre_prime = 0;
    if (options_.fibres) fibre_prime = choose_fibre(sum, uncovered, x, best_count);
    if (options_.class_branching || symmetric_node()) {
      const auto j = choose_modulus(sum, uncovered, best_count);
      if (j) return class_branch(*j, sum, uncovered);
    }
    // Children: the moduli that may hold x, most uncovered residues first,
    // then those the bound cuts at once.
    struct Child {
      std::size_t j;
      std::uint32_t gain;
      bool cut;
    };
    std::vector<Child> children;
    for (std::size_t j = 0; j < moduli_.size(); ++j) {
      if (classes_[j] != kUnassigned) continue;
      if (fibre_prime != 0 && full_part(j, fibre_prime)) continue;
      const std::uint32_t g = counts_.in_class(j, x % moduli_[j]);
      children.push_back({j, g, options_.bound && sum - gains_[j] + g < uncovered});
    }
    std::stable_sort(children.begin(), children.end(), [](const Child& a, const Child& b) {
      return a.cut != b.cut ? b.cut : a.gain > b.gain;
    });
    if (fibre_prime != 0) ++facts_.fibre_branches;
    if (trace_ != nullptr) {
      std::string line = fibre_prime != 0 ? cat("f ", fibre_prime, " ", x) : cat("b ", x);
      for (const Child& c : children) line += cat(" ", moduli_[c.j]);
      write(line);
    }
    for (const Child& c : children) {
      if (c.cut) {
        if (const auto r = count_node(); r != NodeResult::Refuted) return r;
        ++facts_.bound_leaves;
        write("B");
        continue;
      }
      assign(c.j, x % moduli_[c.j]);
      const NodeResult r = node();
      if (r == NodeResult::Covered) return r;
      unassign(c.j);
      if (r != NodeResult::Refuted) return r;
    }
    return NodeResult::Refuted;
  }

  // The free modulus with the fewest classes the bound leaves, when they
  // are fewer than best_count; at a symmetric node only one class per
  // orbit counts, and chosen_classes_ keeps the chosen modulus' classes.
  std::optional<std::size_t> choose_modulus(std::uint64_t sum, std::uint64_t uncovered,
                                            std::size_t best_count) {
    std::optional<std::size_t> chosen;
    const bool symmetric = symmetric_node();
    for (std::size_t j = 0; j < moduli_.size(); ++j) {
      if (classes_[j] != kUnassigned) continue;
      if (symmetric) {
        candidate_classes_ = orbit_representatives(stabilisers_.back(), moduli_[j], seen_);
        if (!options_.class_branching && candidate_classes_.size() == moduli_[j]) continue;
      } else {
        candidate_classes_.resize(moduli_[j]);
        std::iota(candidate_classes_.begin(), candidate_classes_.end(), std::uint32_t{0});
      }
      std::size_t count = 0;
      for (std::size_t i = 0; i < candidate_classes_.size() && count < best_count; ++i) {
        const std::uint32_t g = counts_.in_class(j, candidate_classes_[i]);
        if (!options_.bound || sum - gains_[j] + g >= uncovered) ++count;
      }
      if (count < best_count) {
        best_count = count;
        chosen = j;
        chosen_classes_.swap(candidate_classes_);
      }
    }
    return chosen;
  }

  // a M: every class of the free modulus M; o M C...: the classes C, one
  // per orbit of the stabiliser.
  NodeResult class_branch(std::size_t j, std::uint64_t sum, std::uint64_t uncovered) {
    ++facts_.class_branches;
    const std::vector<std::uint32_t> classes = std::move(chosen_classes_);
    if (classes.size() < moduli_[j]) {
      ++facts_.orbit_branches;
      facts_.symmetric += moduli_[j] - classes.size();
      if (trace_ != nullptr) {
        std::string line = cat("o ", moduli_[j]);
        for (const std::uint32_t c : classes) line += cat(" ", c);
        write(line);
      }
    } else {
      write(cat("a ", moduli_[j]));
    }
    for (const std::uint32_t c : classes) {
      if (options_.bound && sum - gains_[j] + counts_.in_class(j, c) < uncovered) {
        if (const auto r = count_node(); r != NodeResult::Refuted) return r;
        ++facts_.bound_leaves;
        write("B");
        continue;
      }
      assign(j, c);
      const NodeResult r = node();
      if (r == NodeResult::Covered) return r;
      unassign(j);
      if (r != NodeResult::Refuted) return r;
    }
    return NodeResult::Refuted;
  }

  // The uncovered residue that the fewest unassigned moduli may hold by the
  // bound (the first uncovered residue without fail_first).
  std::uint32_t choose_residue(std::uint64_t sum, std::uint64_t uncovered,
                               std::size_t& best_count) {
    const std::uint32_t period = counts_.period();
    std::uint32_t best = period;
    for (std::uint32_t x = 0; x < period; ++x) {
      if (!counts_.is_uncovered(x)) continue;
      if (!options_.fail_first) return x;
      std::size_t count = 0;
      for (std::size_t j = 0; j < moduli_.size() && count < best_count; ++j) {
        if (classes_[j] != kUnassigned) continue;
        const std::uint32_t g = counts_.in_class(j, x % moduli_[j]);
        if (!options_.bound || sum - gains_[j] + g >= uncovered) ++count;
      }
      if (count < best_count) {
        best_count = count;
        best = x;
        if (count == 0) break;
      }
    }
    return best;
  }

  // Whether moduli_[j] holds the whole power of p in the period.
  bool full_part(std::size_t j, std::uint64_t p) const {
    std::uint64_t m = moduli_[j];
    std::uint64_t period = counts_.period();
    while (period % p == 0) {
      if (m % p != 0) return false;
      period /= p;
      m /= p;
    }
    return true;
  }

  // The projected bound (projected_bound.h) at this node.
  bool projected_bound_fails() {
    std::uint64_t sub = 1;
    for (std::size_t j = 0; j < moduli_.size(); ++j) {
      if (classes_[j] == kUnassigned) sub = std::lcm(sub, std::uint64_t{moduli_[j]});
    }
    if (sub == counts_.period()) return false;
    return projected_gain_shortfall(counts_, moduli_, classes_, kUnassigned,
                                    static_cast<std::uint32_t>(sub), scratch_);
  }

  // The fibre rule (fibre_branching.h): an over-full fibre of a prime p
  // whose uncovered residue has fewer workable moduli of smaller p-part
  // than best_count replaces x; returns p, or 0 when none does.
  std::uint64_t choose_fibre(std::uint64_t sum, std::uint64_t uncovered, std::uint32_t& x,
                             std::size_t& best_count) {
    std::uint64_t chosen = 0;
    for (const std::uint64_t p : primes_) {
      std::size_t full = 0;
      for (std::size_t j = 0; j < moduli_.size(); ++j) {
        if (classes_[j] == kUnassigned && full_part(j, p)) ++full;
      }
      const auto y = overfull_fibre_residue(counts_, static_cast<std::uint32_t>(p), full);
      if (!y) continue;
      std::size_t count = 0;
      for (std::size_t j = 0; j < moduli_.size(); ++j) {
        if (classes_[j] != kUnassigned || full_part(j, p)) continue;
        const std::uint32_t g = counts_.in_class(j, *y % moduli_[j]);
        if (!options_.bound || sum - gains_[j] + g >= uncovered) ++count;
      }
      if (count < best_count) {
        best_count = count;
        x = *y;
        chosen = p;
      }
    }
    return chosen;
  }

  std::vector<std::uint64_t> primes_;
  std::vector<std::uint8_t> scratch_;
  // The stabilisers of the assigned classes, one per assignment below the
  // root (orbit_branching.h); empty when orbit branching is off.
  std::vector<std::vector<std::uint32_t>> stabilisers_;
  std::vector<std::uint32_t> candidate_classes_;
  std::vector<std::uint32_t> chosen_classes_;
  std::vector<std::uint8_t> seen_;
  std::vector<std::uint32_t> moduli_;
  ClassCounts counts_;
  std::vector<std::uint32_t> classes_;
  std::vector<std::uint32_t> gains_;
  std::uint64_t max_nodes_;
  const ModuliOptions& options_;
  TraceSink* trace_;
  const ModuliProgress& progress_;
  ModuliDecision& facts_;
  std::size_t assigned_ = 0;
  std::size_t split_level_ = 0;  // 0: no frontier
  const std::function<void(const std::vector<std::uint32_t>&)>* frontier_ = nullptr;
};

ModuliOutcome outcome_of(NodeResult r) {
  switch (r) {
    case NodeResult::Covered:
      return ModuliOutcome::Covering;
    case NodeResult::Refuted:
      return ModuliOutcome::NoCovering;
    case NodeResult::OutOfNodes:
      return ModuliOutcome::Undecided;
    case NodeResult::Stopped:
      break;
  }
  return ModuliOutcome::Stopped;
}

// The period of a moduli set the search accepts, or why it refuses it.
Result<std::uint64_t> checked_period(std::span<const std::uint64_t> moduli) {
  std::vector<std::uint64_t> sorted(moduli.begin(), moduli.end());
  std::sort(sorted.begin(), sorted.end());
  if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end()) {
    return fail("the moduli must be distinct");
  }
  if (!sorted.empty() && sorted.front() == 0) return fail("a modulus must be at least 1");
  if (moduli.size() > 60000) return fail("at most 60000 moduli");
  return common_period(moduli);
}

// Keeps the lines of a trace in segments, a new one begun at each frontier
// node.
class SegmentedTrace final : public TraceSink {
 public:
  void line(std::string_view text) override {
    segments_.back() += text;
    segments_.back() += '\n';
  }
  void cut() { segments_.emplace_back(); }
  std::vector<std::string> take() { return std::move(segments_); }

 private:
  std::vector<std::string> segments_ = std::vector<std::string>(1);
};

// The whole search of a set, from the root, within budget nodes in all
// (facts may hold nodes spent before).
void search_whole(std::span<const std::uint64_t> moduli, std::span<const std::uint32_t> narrow,
                  std::uint64_t period, std::uint64_t budget, const ModuliOptions& options,
                  TraceSink* sink, const ModuliProgress& progress, ModuliDecision& facts) {
  facts.period = period;
  if (sink != nullptr) {
    sink->line(kTraceHeader);
    sink->line(trace_numbers("moduli", moduli));
  }
  Search search(narrow, static_cast<std::uint32_t>(period), budget, options, sink, progress, facts);
  facts.outcome = outcome_of(search.run());
  if (facts.outcome == ModuliOutcome::Covering) facts.residues = search.residues();
  if (facts.outcome == ModuliOutcome::NoCovering && sink != nullptr) sink->line("end");
}

// Most sets of a scan are refuted in a few nodes, far fewer than the local
// search's moves: a short search comes first, and only a set it leaves open
// pays for the local search and then the whole search. The opening's
// decision settles the set unless it is Undecided within the budget; its
// trace is the short search's.
struct Opening {
  ModuliDecision decision;
  TraceText trace;
  bool settles = false;
};

std::optional<Opening> open_search(std::span<const std::uint64_t> moduli,
                                   std::span<const std::uint32_t> narrow, std::uint64_t period,
                                   std::uint64_t max_nodes, const ModuliOptions& options,
                                   bool traced, const ModuliProgress& progress) {
  if (!options.local_search || moduli.size() < options.local_min_moduli) return std::nullopt;
  Opening opening;
  ModuliDecision& quick = opening.decision;
  search_whole(moduli, narrow, period, std::min(max_nodes, options.local_after_nodes), options,
               traced ? &opening.trace : nullptr, progress, quick);
  if (quick.outcome != ModuliOutcome::Undecided || quick.nodes >= max_nodes) {
    opening.settles = true;
  } else if (auto found = local_cover_restarts(moduli, options.local_tries, options.local_moves)) {
    quick.outcome = ModuliOutcome::Covering;
    quick.residues = std::move(*found);
    quick.by_local_search = true;
    opening.settles = true;
  }
  return opening;
}

}  // namespace

Result<ModuliDecision> decide_moduli(std::span<const std::uint64_t> moduli, std::uint64_t max_nodes,
                                     const ModuliOptions& options, TraceSink* trace,
                                     const ModuliProgress& progress) {
  auto period = checked_period(moduli);
  if (!period) return std::move(period).take_error();
  const std::vector<std::uint32_t> narrow(moduli.begin(), moduli.end());
  ModuliDecision facts;
  if (auto opening =
          open_search(moduli, narrow, *period, max_nodes, options, trace != nullptr, progress)) {
    if (opening->settles) {
      if (trace != nullptr && !opening->decision.by_local_search) opening->trace.replay(*trace);
      return std::move(opening->decision);
    }
    facts.nodes = opening->decision.nodes;
  }
  search_whole(moduli, narrow, *period, max_nodes, options, trace, progress, facts);
  return facts;
}

// The frontier is found by deepening: level 1, 2, ... assigned classes,
// until it holds at least `target` nodes, or everything above it is
// settled. A level whose frontier overshoots 64 times the target gives way
// to the level above when that one holds at least a sixteenth of it. Each
// try searches only the nodes above its frontier, so the tries cost about
// as much as the last one; only the last counts its nodes.
Result<ModuliSplit> split_moduli(std::span<const std::uint64_t> moduli, std::uint64_t max_nodes,
                                 const ModuliOptions& options, std::size_t target, bool with_trace,
                                 const ModuliProgress& progress) {
  auto period = checked_period(moduli);
  if (!period) return std::move(period).take_error();
  const std::vector<std::uint32_t> narrow(moduli.begin(), moduli.end());
  // The same opening as the whole search's: a set it settles has no
  // frontier, and its trace (less "end") is the one segment.
  std::uint64_t spent = 0;
  if (auto opening =
          open_search(moduli, narrow, *period, max_nodes, options, with_trace, progress)) {
    if (opening->settles) {
      ModuliSplit split;
      split.upper = std::move(opening->decision);
      if (with_trace) {
        std::string text = opening->trace.text();
        if (split.upper.outcome == ModuliOutcome::NoCovering) {
          text.resize(text.size() - std::string_view("end\n").size());
        }
        split.trace.push_back(std::move(text));
      }
      return split;
    }
    spent = opening->decision.nodes;
  }
  const auto attempt = [&](std::size_t level, bool traced) {
    ModuliSplit split;
    split.level = level;
    split.upper.period = *period;
    split.upper.nodes = spent;
    SegmentedTrace segments;
    if (traced) {
      segments.line(kTraceHeader);
      segments.line(trace_numbers("moduli", moduli));
    }
    const std::function<void(const std::vector<std::uint32_t>&)> frontier =
        [&](const std::vector<std::uint32_t>& classes) {
          split.subproblems.push_back(classes);
          if (traced) segments.cut();
        };
    Search search(narrow, static_cast<std::uint32_t>(*period), max_nodes, options,
                  traced ? &segments : nullptr, progress, split.upper);
    search.split_at(level, frontier);
    split.upper.outcome = outcome_of(search.run());
    if (split.upper.outcome == ModuliOutcome::Covering) {
      split.upper.residues = search.residues();
    }
    if (split.upper.outcome != ModuliOutcome::NoCovering) split.subproblems.clear();
    if (traced) split.trace = segments.take();
    return split;
  };
  std::size_t before = 0;
  for (std::size_t level = 1;; ++level) {
    ModuliSplit split = attempt(level, false);
    const std::size_t count = split.subproblems.size();
    if (count > 64 * target && level > 1 && before * 16 >= target) {
      return attempt(level - 1, with_trace);
    }
    if (count >= target || count == 0 || level >= moduli.size() ||
        split.upper.outcome != ModuliOutcome::NoCovering) {
      return with_trace ? attempt(level, true) : split;
    }
    before = count;
  }
}

Result<ModuliDecision> decide_moduli_subproblem(std::span<const std::uint64_t> moduli,
                                                std::span<const std::uint32_t> classes,
                                                std::uint64_t max_nodes,
                                                const ModuliOptions& options, TraceSink* trace,
                                                const ModuliProgress& progress) {
  auto period = checked_period(moduli);
  if (!period) return std::move(period).take_error();
  if (classes.size() != moduli.size()) return fail("a subproblem gives one class per modulus");
  for (std::size_t j = 0; j < moduli.size(); ++j) {
    if (classes[j] != kFreeModulus && classes[j] >= moduli[j]) {
      return fail("a subproblem's class must lie below its modulus");
    }
  }
  ModuliDecision facts;
  facts.period = *period;
  const std::vector<std::uint32_t> narrow(moduli.begin(), moduli.end());
  Search search(narrow, static_cast<std::uint32_t>(*period), max_nodes, options, trace, progress,
                facts);
  facts.outcome = outcome_of(search.run_from(classes));
  if (facts.outcome == ModuliOutcome::Covering) facts.residues = search.residues();
  return facts;
}

std::string moduli_techniques(const ModuliDecision& decision, const ModuliOptions& options) {
  if (decision.by_local_search) return "min-conflicts local search, after a short search";
  std::string text = "branching on uncovered residues";
  if (options.fail_first) text += " (fewest moduli first)";
  if (decision.bound_leaves > 0)
    text += cat(", class-gain bound (", decision.bound_leaves, " leaves)");
  if (decision.projected_leaves > 0) {
    text += cat(", projected bound (", decision.projected_leaves, " leaves)");
  }
  if (decision.fibre_branches > 0)
    text += cat(", fibre rule (", decision.fibre_branches, " branches)");
  if (decision.class_branches > 0) {
    text += cat(", branching on a modulus' classes (", decision.class_branches, " branches)");
  }
  if (decision.orbit_branches > 0) {
    text += cat(", one class per orbit of the stabiliser (", decision.orbit_branches, " branches)");
  }
  if (decision.symmetric > 0) text += ", translation and unit symmetry";
  return text;
}

}  // namespace tilvane
