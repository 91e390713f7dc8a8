#include "census_tool/moduli_driver.h"

#include <algorithm>
#include <chrono>
#include <ctime>

#include "base/checksum.h"
#include "base/text_format.h"
#include "census/worker_pool.h"
#include "census_tool/census_tool.h"
#include "census_tool/least_lcm.h"
#include "census_tool/moduli_options.h"
#include "census_tool/split_decision.h"
#include "census_tool/stop_request.h"
#include "cli/output_paths.h"
#include "cli/read_file.h"
#include "cli/run_lock.h"
#include "engine/congruence.h"
#include "engine/cover_check.h"
#include "engine/period.h"
#include "engine/residue_search.h"

namespace tilvane {
namespace {

double cpu_seconds_since(std::clock_t start) {
  return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
}

std::string seconds(double s) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", s);
  return text;
}

// The covering as a candidate file, by modulus, after the cover check.
Result<std::string> covering_text(std::span<const std::uint64_t> moduli,
                                  std::span<const std::uint64_t> residues, std::uint64_t period) {
  std::vector<Congruence> cover;
  for (std::size_t j = 0; j < moduli.size(); ++j) cover.push_back({moduli[j], residues[j]});
  if (auto checked = verify_displayed_cover(cover, period); !checked) {
    return fail(
        cat("the search reported a covering that the cover check refutes: ", checked.error()));
  }
  std::sort(cover.begin(), cover.end(),
            [](const Congruence& a, const Congruence& b) { return a.modulus < b.modulus; });
  std::string text = cat(cover.size(), "\n");
  for (const Congruence& c : cover) text += cat(c.modulus, " ", c.residue, "\n");
  return text;
}

// Progress lines every interval seconds on the log.
class ProgressLines {
 public:
  ProgressLines(std::ostream& log, bool on, std::uint64_t interval_s)
      : log_(log), on_(on), interval_(interval_s), next_(std::chrono::steady_clock::now()) {
    next_ += interval_;
  }
  bool on() const { return on_; }
  bool operator()(std::string_view what, std::uint64_t nodes) {
    // SIGINT, SIGTERM and SIGHUP stop the search at its next progress check.
    if (stop_requested()) return false;
    if (!on_) return true;
    const auto now = std::chrono::steady_clock::now();
    if (now < next_) return true;
    next_ = now + interval_;
    log_ << cat("tilvane-census: ", what, ": ", nodes, " nodes\n") << std::flush;
    return true;
  }

 private:
  std::ostream& log_;
  bool on_;
  std::chrono::seconds interval_;
  std::chrono::steady_clock::time_point next_;
};

Result<std::vector<std::uint64_t>> moduli_of(const CensusOptions& o) {
  if (o.moduli_file.empty()) return o.moduli;
  auto text = read_text_file(o.moduli_file);
  if (!text) return fail(cat("cannot read ", o.moduli_file, ": ", text.error()));
  auto moduli = parse_moduli_list(*text);
  if (!moduli) return fail(cat(o.moduli_file, ": ", moduli.error()));
  return moduli;
}

// The checkpoint of a moduli decision without --checkpoint: beside the
// proof, or in the current folder under a name that says which set and
// budget it belongs to, so that the same command finds it again.
std::string default_moduli_checkpoint(const CensusOptions& o,
                                      const std::optional<OutputFile>& proof,
                                      std::span<const std::uint64_t> moduli) {
  if (proof) return proof->given() + ".checkpoint";
  std::string name = o.divisors_of != 0
                         ? cat("tilvane-census-divisors-", o.divisors_of, "-", o.min_modulus)
                         : cat("tilvane-census-moduli-",
                               checksum_hex(trace_numbers("moduli", moduli)).substr(0, 8));
  if (o.plan.max_nodes != 0) name += cat("-nodes-", o.plan.max_nodes);
  return name + ".checkpoint";
}

// Prepares the checkpoint (unless --checkpoint none) and takes the run lock
// on it, or on the proof when there is no checkpoint.
Status prepare_checkpoint(const CensusOptions& o, const std::optional<OutputFile>& proof,
                          std::span<const std::uint64_t> moduli,
                          std::optional<OutputFile>& checkpoint, std::optional<RunLock>& lock) {
  if (o.checkpoint != kNoCheckpoint) {
    const std::string path =
        o.checkpoint.empty() ? default_moduli_checkpoint(o, proof, moduli) : o.checkpoint;
    auto file = OutputFile::prepare("--checkpoint", path);
    if (!file) {
      if (!o.checkpoint.empty()) return std::move(file).take_error();
      return fail(cat("the checkpoint: ", file.error(),
                      "; give --checkpoint FILE in a folder you may write, or --checkpoint none to "
                      "run without one"));
    }
    checkpoint = std::move(*file);
  }
  std::vector<NamedOutput> named;
  if (proof) named.push_back({"--proof", proof->target()});
  if (proof) named.push_back({"the trace pieces", trace_pieces_folder(*proof)});
  if (checkpoint) named.push_back({"--checkpoint", checkpoint->target()});
  if (auto distinct = check_distinct_outputs(named); !distinct) return distinct;
  const std::optional<OutputFile>& locked = checkpoint ? checkpoint : proof;
  if (locked) {
    auto taken = RunLock::take(locked->target());
    if (!taken) return std::move(taken).take_error();
    lock = std::move(*taken);
  }
  return {};
}

// The lines that name a decision in its checkpoint.
std::string run_name(const CensusOptions& o, std::span<const std::uint64_t> moduli) {
  const ModuliOptions& m = o.moduli_search;
  std::string switches;
  for (const bool on :
       {m.bound, m.fail_first, m.symmetry, m.project, m.fibres, m.class_branching}) {
    switches += on ? '1' : '0';
  }
  return cat("version ", TILVANE_VERSION, "\n", trace_numbers("moduli", moduli), "\noptions ",
             switches, "\nmax-nodes ", o.plan.max_nodes, "\n");
}

Result<int> decide_one(const CensusOptions& o, std::ostream& out, std::ostream& log,
                       ProgressLines& progress, const std::optional<OutputFile>& proof) {
  auto moduli = moduli_of(o);
  if (!moduli) return std::move(moduli).take_error();
  auto period = common_period(*moduli);
  if (!period) return std::move(period).take_error();
  const std::clock_t start = std::clock();
  log << cat("moduli: ", moduli->size(), ", period ", *period, "\n");
  std::optional<OutputFile> checkpoint;
  std::optional<RunLock> lock;
  if (auto ok = prepare_checkpoint(o, proof, *moduli, checkpoint, lock); !ok) {
    return std::move(ok).take_error();
  }
  if (reciprocal_sum_below_one(*moduli)) {
    if (proof) {
      if (auto w = proof->write(cat(trace_numbers("density", *moduli), "\n")); !w) {
        return std::move(w).take_error();
      }
    }
    out << "no covering\n";
    log << "settled by: reciprocal sum below 1 (no search)\n";
    return kExitNoCovering;
  }
  SplitSettings settings;
  settings.max_nodes = o.plan.max_nodes == 0 ? UINT64_MAX : o.plan.max_nodes;
  settings.options = o.moduli_search;
  settings.threads = o.threads != 0 ? o.threads : available_cpu_count();
  settings.proof = proof ? &*proof : nullptr;
  settings.checkpoint = checkpoint ? &*checkpoint : nullptr;
  settings.run_name = run_name(o, *moduli);
  settings.checkpoint_interval = std::chrono::seconds(o.checkpoint_interval_s);
  settings.progress_interval = std::chrono::seconds(o.progress_interval_s);
  if (progress.on()) {
    settings.progress = [&](std::string_view line) {
      log << cat("tilvane-census: ", line, "\n") << std::flush;
    };
  }
  settings.stop = [] { return stop_requested(); };
  settings.note = [&](std::string_view line) { log << cat(line, "\n") << std::flush; };
  auto split = decide_split(*moduli, settings);
  if (!split) return std::move(split).take_error();
  const ModuliDecision* decision = &split->decision;
  const std::string facts =
      cat(decision->nodes, " nodes, ", seconds(cpu_seconds_since(start)), " s CPU, ",
          split->subproblems, " subproblems on ", settings.threads,
          settings.threads == 1 ? " thread; " : " threads; ",
          moduli_techniques(*decision, o.moduli_search));
  switch (decision->outcome) {
    case ModuliOutcome::Covering: {
      auto text = covering_text(*moduli, decision->residues, *period);
      if (!text) return std::move(text).take_error();
      out << *text;
      log << cat("covering: ", facts, "; confirmed by the cover check\n");
      return kExitCovering;
    }
    case ModuliOutcome::NoCovering:
      out << "no covering\n";
      log << cat("no covering: ", facts, "\n");
      return kExitNoCovering;
    case ModuliOutcome::Undecided:
      log << cat("undecided within --max-nodes: ", facts, "\n");
      return kExitIncomplete;
    case ModuliOutcome::Stopped:
      log << cat("stopped: ", facts, "\n");
      log << (split->checkpoint_written ? cat("checkpoint written to ", checkpoint->given(),
                                              "; run the same command again to resume\n")
                                        : std::string("no checkpoint, so a new run starts over\n"));
      return kExitStopped;
  }
  return kExitFailure;
}

Result<int> least_lcm(const CensusOptions& o, std::ostream& out, std::ostream& log,
                      ProgressLines& progress, const std::optional<OutputFile>& proof) {
  TraceText trace;
  const std::uint64_t budget = o.plan.max_nodes == 0 ? UINT64_MAX : o.plan.max_nodes;
  const std::uint64_t max_lcm = o.plan.space.bound == 0 ? kPeriodLimit : o.plan.space.bound;
  const std::clock_t start = std::clock();
  bool undecided = false;
  std::string refuted;
  // Each searched L is told as soon as it is settled: a long scan shows
  // what it has done so far.
  const auto report = [&](const LeastLcmStep& step) {
    const ModuliDecision& d = step.decision;
    const std::string facts =
        cat(step.moduli, " moduli, ", d.nodes, " nodes, ", seconds(step.cpu_seconds), " s CPU");
    switch (d.outcome) {
      case ModuliOutcome::NoCovering:
        out << cat("L = ", step.l, ": no covering (", facts, "; ",
                   moduli_techniques(d, o.moduli_search), ")\n");
        refuted += cat(refuted.empty() ? "" : " ", step.l);
        break;
      case ModuliOutcome::Covering:
        out << cat("L = ", step.l, ": covering (", facts, "; confirmed by the cover check)\n");
        break;
      case ModuliOutcome::Undecided:
        out << cat("L = ", step.l, ": undecided within --max-nodes (", facts, ")\n");
        undecided = true;
        break;
      case ModuliOutcome::Stopped:
        out << cat("L = ", step.l, ": stopped (", facts, ")\n");
        break;
    }
    out.flush();
  };
  auto scan = scan_least_lcm(
      o.min_modulus, max_lcm, budget, o.moduli_search, proof ? &trace : nullptr,
      [&](std::uint64_t l, std::uint64_t nodes) { return progress(cat("L = ", l), nodes); },
      report);
  if (!scan) return std::move(scan).take_error();
  out << cat("settled by density (reciprocal sum below 1): ", scan->density_settled,
             " values of L\n");
  out << cat("refuted by search: ", refuted.empty() ? std::string("none") : refuted, "\n");
  if (proof && (scan->least || !scan->stopped)) {
    if (auto w = proof->write(trace.text()); !w) return std::move(w).take_error();
  }
  log << cat("total: ", seconds(cpu_seconds_since(start)), " s CPU\n");
  if (scan->stopped) {
    out << cat("stopped at L = ", scan->reached, "\n");
    return kExitStopped;
  }
  if (!scan->least) {
    out << cat("no covering with LCM at most ", max_lcm, " and least modulus at least ",
               o.min_modulus, "\n");
    return undecided ? kExitIncomplete : kExitNoCovering;
  }
  const LeastLcmStep& found = scan->searched.back();
  const std::vector<std::uint64_t> moduli = divisors_at_least(found.l, o.min_modulus);
  auto text = covering_text(moduli, found.decision.residues, found.l);
  if (!text) return std::move(text).take_error();
  out << cat("least LCM for least modulus ", o.min_modulus, ": ", found.l,
             undecided ? " (if the undecided L above have no covering)" : "",
             "; its covering, a candidate file:\n", *text);
  return undecided ? kExitIncomplete : kExitCovering;
}

}  // namespace

Result<int> run_moduli_action(const CensusOptions& o, std::ostream& out, std::ostream& log,
                              bool progress) {
  std::optional<OutputFile> proof;
  if (!o.proof.empty()) {
    auto file = OutputFile::prepare("--proof", o.proof);
    if (!file) return std::move(file).take_error();
    proof = std::move(*file);
  }
  set_stop_notice("stopping\n");
  ProgressLines lines(log, progress, o.progress_interval_s);
  return o.action == CensusOptions::Action::LeastLcm ? least_lcm(o, out, log, lines, proof)
                                                     : decide_one(o, out, log, lines, proof);
}

}  // namespace tilvane
