#include "census/exploration.h"

#include <algorithm>
#include <limits>
#include <optional>

#include "base/text_format.h"
#include "census/aggregate.h"
#include "engine/congruence.h"
#include "engine/cover_check.h"
#include "engine/cover_store.h"
#include "engine/decision_memo.h"
#include "engine/decision_search.h"
#include "engine/dominance_store.h"
#include "engine/irreducibility.h"
#include "engine/period.h"
#include "engine/prime_power.h"
#include "engine/search_cache.h"
#include "engine/simd_level.h"

namespace tilvane {
namespace {

// The budget the searches are given: 0 means none.
std::uint64_t search_budget(std::uint64_t max_nodes) {
  return max_nodes == 0 ? std::numeric_limits<std::uint64_t>::max() : max_nodes;
}

// A stop request has been made to the decision searches.
bool stop_requested(const DecisionOptions& options) {
  return options.stop != nullptr && options.stop->load(std::memory_order_relaxed);
}

}  // namespace

Status confirm_cover(std::span<const std::uint64_t> moduli,
                     std::span<const std::uint64_t> residues) {
  if (residues.size() != moduli.size()) {
    return fail(cat("search for ", render_set(moduli), " reported ", residues.size(), " residues"));
  }
  std::vector<Congruence> congruences;
  congruences.reserve(moduli.size());
  for (std::size_t i = 0; i < moduli.size(); ++i) {
    if (residues[i] >= moduli[i]) {
      return fail(
          cat("residue ", residues[i], " for modulus ", moduli[i], " of ", render_set(moduli)));
    }
    congruences.push_back({moduli[i], residues[i]});
  }
  auto period = common_period(moduli);
  if (!period) return std::move(period).take_error();
  if (auto covered = verify_displayed_cover(congruences, *period); !covered) {
    return fail(
        cat("reported cover of ", render_set(moduli), " fails the cover check: ", covered.error()));
  }
  return {};
}

std::string_view search_kind_name(SearchKind kind) {
  return kind == SearchKind::Decide ? "decide" : "exact";
}

std::string describe_plan(const ExplorationPlan& plan) {
  return cat(describe_space(plan.space), ", ", search_kind_name(plan.search), " search, ",
             plan.max_nodes == 0 ? std::string("no budget")
                                 : cat("at most ", plan.max_nodes,
                                       plan.max_nodes == 1 ? " node" : " nodes", " per search"),
             ", ",
             plan.sample > 1 ? cat("every ", ordinal(plan.sample), " candidate")
                             : std::string("every candidate"),
             plan.parts > 1 ? cat(", part ", plan.part, " of ", plan.parts) : std::string());
}

// The decision search keeps one memo of failed states, one store of sets
// that do not cover and one of sets that cover for every search of the
// run; the node-exact search one table of deletion-search results.
struct Decider::Shared {
  Shared(const ExplorationPlan& plan, const DecisionOptions& chosen) : options(chosen) {
    if (plan.search == SearchKind::Exact) {
      cache.emplace(search_budget(plan.max_nodes));
    } else {
      memo.emplace();
      if (options.dominance || options.deletions) dominance.emplace();
      if (options.covers) covers.emplace();
    }
  }
  DecisionOptions options;
  std::optional<SearchCache> cache;
  std::optional<DecisionMemo> memo;
  std::optional<DominanceStore> dominance;
  std::optional<CoverStore> covers;
};

Decider::Decider(const ExplorationPlan& plan) : Decider(plan, DecisionOptions{}) {}

Decider::Decider(const ExplorationPlan& plan, const DecisionOptions& options)
    : plan_(plan), shared_(new Shared(plan, options)) {}

Decider::~Decider() { delete shared_; }

Result<CandidateOutcome> Decider::decide(std::span<const std::uint64_t> moduli) const {
  const std::uint64_t budget = search_budget(plan_.max_nodes);
  CandidateOutcome outcome;
  if (plan_.search == SearchKind::Exact) {
    auto classified = classify_irreducible_moduli(moduli, budget, &*shared_->cache);
    if (!classified) return std::move(classified).take_error();
    outcome.nodes = classified->nodes;
    switch (classified->kind) {
      case IrreducibleClass::NotCovering:
        outcome.kind = CandidateKind::NotCovering;
        return outcome;
      case IrreducibleClass::Reducible:
        outcome.kind = CandidateKind::Reducible;
        return outcome;
      case IrreducibleClass::UndecidedWhole:
      case IrreducibleClass::UndecidedDeletion:
        outcome.kind = CandidateKind::Undecided;
        return outcome;
      case IrreducibleClass::Irreducible:
        break;
    }
    // The certificate: the covering choice the whole-set search found.
    outcome.kind = CandidateKind::Irreducible;
    outcome.residues = std::move(classified->residues);
  } else {
    if (prime_power_reducible(moduli)) {
      outcome.kind = CandidateKind::Dropped;
      return outcome;
    }
    auto verdict = decide_irreducible_fast(moduli, budget, &*shared_->memo, detected_simd_level(),
                                           shared_->options,
                                           shared_->dominance ? &*shared_->dominance : nullptr,
                                           shared_->covers ? &*shared_->covers : nullptr);
    if (!verdict) return std::move(verdict).take_error();
    outcome.nodes = verdict->nodes;
    switch (verdict->verdict) {
      case Verdict::NotCovering:
        outcome.kind = CandidateKind::NotCovering;
        return outcome;
      case Verdict::Reducible:
        outcome.kind = CandidateKind::Reducible;
        return outcome;
      case Verdict::Undecided:
        // Out of budget, or ended by a stop request: only the first is an
        // answer.
        outcome.kind =
            stop_requested(shared_->options) ? CandidateKind::Abandoned : CandidateKind::Undecided;
        return outcome;
      case Verdict::Irreducible:
        break;
    }
    outcome.kind = CandidateKind::Irreducible;
    outcome.residues = std::move(verdict->residues);
  }
  if (auto confirmed = confirm_cover(moduli, outcome.residues); !confirmed) {
    return std::move(confirmed).take_error();
  }
  return outcome;
}

ExplorationLedger::ExplorationLedger(const WorkList& work, ExplorationTally tally)
    : count_(work.count()), tally_(std::move(tally)) {
  auto reader = work.read_from(tally_.decided);
  if (reader) {
    reader_ = std::move(*reader);
  } else {
    broken_ = std::move(reader).take_error();
  }
}

ExplorationLedger::ExplorationLedger(std::span<const ModuliSet> work, ExplorationTally tally)
    : ExplorationLedger(*set_work(work), std::move(tally)) {}

ExplorationLedger::~ExplorationLedger() = default;
ExplorationLedger::ExplorationLedger(ExplorationLedger&&) noexcept = default;

Status ExplorationLedger::record(std::uint64_t position, CandidateOutcome outcome) {
  if (broken_) return *broken_;
  if (position < tally_.decided || position >= count_) {
    return fail(cat("outcome for candidate ", position, " is outside the open part of the work"));
  }
  const std::uint64_t offset = position - tally_.decided;
  if (offset >= waiting_.size()) waiting_.resize(offset + 1);
  if (waiting_[offset]) return fail(cat("outcome for candidate ", position, " arrived twice"));
  if (outcome.kind == CandidateKind::Abandoned) {
    return fail(cat("outcome for candidate ", position, " was abandoned, not decided"));
  }
  if (outcome.kind != CandidateKind::Irreducible && !outcome.residues.empty()) {
    return fail(
        cat("outcome for candidate ", position, " has ", outcome.residues.size(), " residues"));
  }
  waiting_[offset] = std::move(outcome);

  // Fold in the contiguous run at the front.
  while (!waiting_.empty() && waiting_.front()) {
    CandidateOutcome& next = *waiting_.front();
    const std::uint64_t at = tally_.decided;
    if (!reader_->next(candidate_)) return fail(cat("work list ends before candidate ", at));
    if (next.kind == CandidateKind::Irreducible) {
      if (next.residues.size() != candidate_.size()) {
        return fail(cat("outcome for candidate ", at, " has ", next.residues.size(), " residues"));
      }
      if (auto confirmed = confirm_cover(candidate_, next.residues); !confirmed) {
        return fail(cat("bad certificate for candidate ", at, ": ", confirmed.error()));
      }
    }
    if (__builtin_add_overflow(tally_.nodes, next.nodes, &tally_.nodes)) {
      return fail("census node counter overflow");
    }
    switch (next.kind) {
      case CandidateKind::Dropped:
        ++tally_.dropped;
        break;
      case CandidateKind::Irreducible:
        tally_.found.push_back({candidate_, std::move(next.residues)});
        break;
      case CandidateKind::Undecided:
        tally_.undecided.push_back(candidate_);
        break;
      case CandidateKind::NotCovering:
      case CandidateKind::Reducible:
      case CandidateKind::Abandoned:
        break;
    }
    if (next.kind != CandidateKind::Dropped) ++tally_.searched;
    ++tally_.decided;
    waiting_.pop_front();
  }
  return {};
}

ModuliSetList sample_work(ModuliSetList candidates, std::uint64_t sample) {
  if (sample <= 1) return candidates;
  ModuliSetList work;
  work.reserve(candidates.size() / sample + 1);
  for (std::size_t i = 0; i < candidates.size(); i += sample)
    work.push_back(std::move(candidates[i]));
  return work;
}

std::string render_set_line(std::span<const std::uint64_t> moduli) {
  std::string text;
  for (std::size_t i = 0; i < moduli.size(); ++i) text += cat(i == 0 ? "" : " ", moduli[i]);
  return text + '\n';
}

std::string render_found_sets(std::span<const FoundSet> found) {
  std::string text;
  for (const FoundSet& set : found) text += render_set_line(set.moduli);
  return text;
}

std::string render_certificate(const FoundSet& set) {
  std::string text = cat(set.moduli.size(), "\n");
  for (std::size_t i = 0; i < set.moduli.size(); ++i) {
    text += cat(set.moduli[i], " ", set.residues[i], "\n");
  }
  return text;
}

Result<ExplorationExtrema> exploration_extrema(std::span<const FoundSet> found) {
  ModuliSetList sets;
  sets.reserve(found.size());
  for (const FoundSet& set : found) sets.push_back(set.moduli);
  auto aggregate = aggregate_found_sets(
      sets, 0, {"reciprocal-sum overflow in the found sets", "fraction comparison overflow"});
  if (!aggregate) return std::move(aggregate).take_error();
  return ExplorationExtrema{aggregate->min_largest_modulus, aggregate->max_largest_modulus,
                            aggregate->max_reciprocal_sum};
}

}  // namespace tilvane
