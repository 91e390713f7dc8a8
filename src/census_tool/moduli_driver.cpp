#include "census_tool/moduli_driver.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>

#include "base/checksum.h"
#include "base/quoted.h"
#include "base/text_format.h"
#include "census/worker_pool.h"
#include "census_tool/census_tool.h"
#include "census_tool/least_lcm.h"
#include "census_tool/moduli_options.h"
#include "census_tool/split_decision.h"
#include "census_tool/stop_request.h"
#include "cli/atomic_file.h"
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

// What every split decision of a run shares; progress lines begin with
// what (with a colon) when it is not empty.
SplitSettings split_settings(const CensusOptions& o, bool progress, std::ostream& log,
                             const std::string& what) {
  SplitSettings settings;
  settings.max_nodes = o.plan.max_nodes == 0 ? UINT64_MAX : o.plan.max_nodes;
  settings.options = o.moduli_search;
  settings.threads = o.threads != 0 ? o.threads : available_cpu_count();
  settings.checkpoint_interval = std::chrono::seconds(o.checkpoint_interval_s);
  settings.progress_interval = std::chrono::seconds(o.progress_interval_s);
  if (progress) {
    settings.progress = [&log, what](std::string_view line) {
      log << cat("tilvane-census: ", what, what.empty() ? "" : ": ", line, "\n") << std::flush;
    };
  }
  settings.stop = [] { return stop_requested(); };
  settings.note = [&log](std::string_view line) { log << cat(line, "\n") << std::flush; };
  return settings;
}

// The proof of a scan, streamed to its file as the scan goes: lines, and
// whole traces from files, in order. Nothing takes the file's name before
// commit.
class StreamedProof final : public TraceSink {
 public:
  explicit StreamedProof(AtomicFileWriter writer) : writer_(std::move(writer)) {}
  void line(std::string_view text) override {
    buffer_ += text;
    buffer_ += '\n';
    if (buffer_.size() >= (1 << 16)) flush();
  }
  void append_file(const std::string& path) {
    flush();
    if (status_) status_ = writer_.append_file(path);
  }
  Status commit() {
    flush();
    if (!status_) return status_;
    return writer_.commit();
  }

 private:
  void flush() {
    if (status_ && !buffer_.empty()) status_ = writer_.append(buffer_);
    buffer_.clear();
  }
  AtomicFileWriter writer_;
  std::string buffer_;
  Status status_;
};

Result<int> decide_one(const CensusOptions& o, std::ostream& out, std::ostream& log, bool progress,
                       const std::optional<OutputFile>& proof, SplitSettings::Cluster* cluster) {
  auto moduli = moduli_of(o);
  if (!moduli) return std::move(moduli).take_error();
  auto period = common_period(*moduli);
  if (!period) return std::move(period).take_error();
  const std::clock_t start = std::clock();
  log << cat("moduli: ", moduli->size(), ", period ", *period, "\n");
  std::optional<OutputFile> checkpoint;
  std::optional<RunLock> lock;
  // Rank 0 alone keeps the checkpoint and writes the outputs.
  const bool computes_only = cluster != nullptr && cluster->rank != 0;
  if (!computes_only) {
    if (auto ok = prepare_checkpoint(o, proof, *moduli, checkpoint, lock); !ok) {
      return std::move(ok).take_error();
    }
  }
  if (reciprocal_sum_below_one(*moduli)) {
    if (proof) {
      if (auto w = proof->write(cat(trace_numbers("density", *moduli), "\n")); !w) {
        return std::move(w).take_error();
      }
    }
    if (cluster != nullptr) cluster->settled = true;  // as on every rank
    out << "no covering\n";
    log << "settled by: reciprocal sum below 1 (no search)\n";
    return kExitNoCovering;
  }
  SplitSettings settings = split_settings(o, progress, log, "");
  settings.proof = proof ? &*proof : nullptr;
  settings.checkpoint = checkpoint ? &*checkpoint : nullptr;
  settings.run_name = run_name(o, *moduli);
  settings.cluster = cluster;
  auto split = decide_split(*moduli, settings);
  if (!split) return std::move(split).take_error();
  const ModuliDecision* decision = &split->decision;
  if (computes_only) {
    // Another rank knows the outcome, not the covering: rank 0 tells it.
    switch (decision->outcome) {
      case ModuliOutcome::Covering:
        return kExitCovering;
      case ModuliOutcome::NoCovering:
        return kExitNoCovering;
      case ModuliOutcome::Undecided:
        return kExitIncomplete;
      case ModuliOutcome::Stopped:
        return kExitStopped;
    }
  }
  const std::string workers =
      cat(cluster != nullptr ? cat(cluster->ranks, " ranks of ") : std::string(), settings.threads,
          settings.threads == 1 ? " thread" : " threads");
  const std::string facts =
      cat(decision->nodes, " nodes, ", seconds(cpu_seconds_since(start)), " s CPU",
          cluster != nullptr ? " on rank 0, " : ", ", split->subproblems, " subproblems on ",
          workers, "; ", moduli_techniques(*decision, o.moduli_search));
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

Result<int> least_lcm(const CensusOptions& o, std::ostream& out, std::ostream& log, bool progress,
                      const std::optional<OutputFile>& proof) {
  // Each L's trace goes to a file of its own beside the proof, and from
  // there to the end of the proof, which takes its name when the scan ends.
  std::optional<StreamedProof> trace;
  std::optional<OutputFile> searching;
  if (proof) {
    const std::string path = proof->target() + ".searching";
    std::error_code ec;
    if (std::filesystem::exists(std::filesystem::symlink_status(path, ec))) {
      return fail(cat(quoted(path), " is in the way of the proof; move it away"));
    }
    auto file = OutputFile::prepare("--proof", path);
    if (!file) return std::move(file).take_error();
    searching = std::move(*file);
    auto writer = AtomicFileWriter::open(proof->target(), proof->given());
    if (!writer) return std::move(writer).take_error();
    trace.emplace(std::move(*writer));
  }
  const LeastLcmDecider decide = [&](std::uint64_t l, std::span<const std::uint64_t> moduli,
                                     TraceSink*) -> Result<ModuliDecision> {
    SplitSettings settings = split_settings(o, progress, log, cat("L = ", l));
    settings.proof = searching ? &*searching : nullptr;
    auto split = decide_split(moduli, settings);
    if (!split) return std::move(split).take_error();
    if (split->decision.outcome == ModuliOutcome::NoCovering && searching) {
      trace->append_file(searching->target());
      if (auto removed = searching->remove(); !removed) return std::move(removed).take_error();
    }
    return split->decision;
  };
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
  auto scan = scan_least_lcm(o.min_modulus, max_lcm, budget, o.moduli_search,
                             trace ? &*trace : nullptr, {}, report, decide);
  if (!scan) return std::move(scan).take_error();
  out << cat("settled by density (reciprocal sum below 1): ", scan->density_settled,
             " values of L\n");
  out << cat("refuted by search: ", refuted.empty() ? std::string("none") : refuted, "\n");
  if (trace && (scan->least || !scan->stopped)) {
    if (auto w = trace->commit(); !w) return std::move(w).take_error();
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
                              bool progress, ClusterRole* cluster) {
  if (cluster != nullptr && cluster->ranks() > 1 && cluster->link() != nullptr &&
      o.action == CensusOptions::Action::Moduli) {
    SplitSettings::Cluster role{cluster->rank(), static_cast<int>(cluster->ranks()),
                                cluster->link(), !o.proof.empty()};
    std::optional<OutputFile> proof;
    if (role.rank == 0 && !o.proof.empty()) {
      auto file = OutputFile::prepare("--proof", o.proof);
      if (!file) {
        send_unsettled(role, Result<int>(fail(file.error())));
        return std::move(file).take_error();
      }
      proof = std::move(*file);
    }
    set_stop_notice(role.rank == 0 ? "stopping\n" : nullptr);
    Result<int> status = decide_one(o, out, log, progress && role.rank == 0, proof, &role);
    send_unsettled(role, status);
    return status;
  }
  if (cluster != nullptr && !cluster->coordinates()) return kExitDone;
  std::optional<OutputFile> proof;
  if (!o.proof.empty()) {
    auto file = OutputFile::prepare("--proof", o.proof);
    if (!file) return std::move(file).take_error();
    proof = std::move(*file);
  }
  set_stop_notice("stopping\n");
  return o.action == CensusOptions::Action::LeastLcm
             ? least_lcm(o, out, log, progress, proof)
             : decide_one(o, out, log, progress, proof, nullptr);
}

}  // namespace tilvane
