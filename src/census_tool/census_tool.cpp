#include "census_tool/census_tool.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <optional>
#include <system_error>
#include <vector>

#include "base/os_error.h"
#include "base/rendering.h"
#include "base/text_format.h"
#include "census/checkpoint.h"
#include "census/exploration_driver.h"
#include "census/part_list.h"
#include "census/sample_list.h"
#include "census/space.h"
#include "census/work_list.h"
#include "census/worker_pool.h"
#include "census_tool/estimate.h"
#include "census_tool/moduli_driver.h"
#include "census_tool/stop_request.h"
#include "cli/checked_output.h"
#include "cli/log_progress.h"
#include "cli/output_paths.h"
#include "cli/read_file.h"
#include "cli/run_lock.h"
#include "cli/terminal_progress.h"
#include "engine/simd_level.h"

#ifndef TILVANE_VERSION
#define TILVANE_VERSION "unknown"
#endif

namespace tilvane {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view kProgram = "tilvane-census";
// --estimate without --every decides this many runs of this many
// consecutive candidates, spread evenly over the space; with --sample-time
// it takes runs from a list of up to kTimedEstimateRuns (fewer where the
// space is small), in an order whose every prefix is spread evenly, until
// the time is up. Runs are long because the stores settle a candidate from
// the ones just before it: a run starts with none of its neighbours
// stored, and at k = 12 runs of 512 candidates cost 4 times what the whole
// space costs per candidate, runs of 16384 within 1.5 times.
constexpr std::uint64_t kEstimateRuns = 64;
constexpr std::uint64_t kTimedEstimateRuns = 4096;
constexpr std::uint64_t kEstimateRunLength = 16384;
// The candidates at the start of a run cost about twice what the rest do,
// their neighbours not yet stored: they are decided but left out of the
// mean.
constexpr std::uint64_t kEstimateWarmUp = 2048;

std::string render_extremum(const std::optional<std::uint64_t>& value) {
  return value ? cat(*value) : std::string("none");
}

// "1 worker", "4 workers", or for a cluster run "3 ranks, 8 worker threads
// in all".
std::string workers_text(std::size_t workers, std::size_t ranks) {
  if (ranks > 1) return cat(ranks, " ranks, ", workers, " worker threads in all");
  return cat(workers, workers == 1 ? " worker" : " workers");
}

std::string render_ratio(const Fraction& f) { return cat(f.numerator, "/", f.denominator); }

std::string seconds_text(double seconds) { return decimal_places(seconds, 1); }

std::string json_set(std::span<const std::uint64_t> set) {
  std::string text = "[";
  for (std::size_t i = 0; i < set.size(); ++i) text += cat(i == 0 ? "" : ",", set[i]);
  return text + "]";
}

std::string json_optional(const std::optional<std::uint64_t>& value) {
  return value ? cat(*value) : std::string("null");
}

// The checkpoint of a run without --checkpoint: beside the output, or in
// the current folder under a name that says which run it belongs to, so
// that the same command finds it again.
std::string default_checkpoint_path(const CensusOptions& o) {
  if (!o.output.empty()) return o.output + ".checkpoint";
  const ExplorationPlan& plan = o.plan;
  std::string name = cat("tilvane-census-", space_kind_name(plan.space.kind), "-", plan.space.k,
                         "-", plan.space.bound);
  if (plan.search == SearchKind::Exact) name += "-exact";
  if (plan.max_nodes != 0) name += cat("-nodes-", plan.max_nodes);
  if (plan.sample > 1) name += cat("-every-", plan.sample);
  if (plan.parts > 1) name += cat("-part-", plan.part, "-of-", plan.parts);
  return name + ".checkpoint";
}

// Everything a run writes, checked before it decides anything.
struct Outputs {
  std::optional<OutputFile> list;       // --output; none: standard output
  std::optional<OutputFile> undecided;  // beside a whole run's list
  std::optional<OutputFolder> covers;
  std::optional<OutputFile> checkpoint;
};

Result<Outputs> prepare_outputs(const CensusOptions& o, bool with_checkpoint) {
  Outputs outputs;
  std::vector<NamedOutput> named;
  const auto file = [&](std::optional<OutputFile>& slot, std::string_view option,
                        const std::string& path) -> Status {
    auto prepared = OutputFile::prepare(option, path);
    if (!prepared) return std::move(prepared).take_error();
    named.push_back({option, prepared->target()});
    slot = std::move(*prepared);
    return {};
  };
  if (!o.output.empty()) {
    if (auto ok = file(outputs.list, "--output", o.output); !ok) return std::move(ok).take_error();
    if (o.plan.parts == 1) {
      if (auto ok = file(outputs.undecided, "the undecided list", o.output + ".undecided"); !ok) {
        return std::move(ok).take_error();
      }
    }
  }
  if (with_checkpoint && o.checkpoint != kNoCheckpoint) {
    const std::string path = o.checkpoint.empty() ? default_checkpoint_path(o) : o.checkpoint;
    if (auto ok = file(outputs.checkpoint, "--checkpoint", path); !ok) {
      if (!o.checkpoint.empty()) return std::move(ok).take_error();
      return fail(cat("the checkpoint: ", ok.error(),
                      "; give --checkpoint FILE in a folder you may write, or --checkpoint none to "
                      "run without one"));
    }
  }
  if (!o.covers.empty()) {
    auto folder = OutputFolder::prepare("--covers", o.covers);
    if (!folder) return std::move(folder).take_error();
    named.push_back({"--covers", o.covers});
    outputs.covers = std::move(*folder);
  }
  for (const std::string& input : o.part_lists) named.push_back({"a part list", input, false});
  if (auto distinct = check_distinct_outputs(named); !distinct) {
    return std::move(distinct).take_error();
  }
  return outputs;
}

// The name of a certificate file: the moduli joined by '-'.
std::string certificate_name(const FoundSet& set) {
  std::string name;
  for (std::size_t i = 0; i < set.moduli.size(); ++i) name += cat(i == 0 ? "" : "-", set.moduli[i]);
  return name + ".txt";
}

// The tally to start from: the checkpoint's when there is one (it must be
// intact and of this run), else an empty one.
Result<Checkpoint> load_or_start(const std::optional<OutputFile>& file, const ExplorationPlan& plan,
                                 std::uint64_t work_count) {
  Checkpoint start;
  start.program_version = TILVANE_VERSION;
  start.plan = plan;
  start.work_count = work_count;
  std::error_code ec;
  if (!file || !std::filesystem::exists(file->target(), ec)) return start;
  const std::string& path = file->given();
  auto text = read_text_file(file->target());
  if (!text) return fail(cat("cannot read checkpoint ", path, ": ", text.error()));
  auto checkpoint = parse_checkpoint(*text);
  if (!checkpoint) {
    return fail(cat(path, ": ", checkpoint.error(),
                    "; it cannot be resumed: remove it to start the run over, or give another "
                    "--checkpoint FILE (or --checkpoint none)"));
  }
  if (auto matches = check_checkpoint_matches(*checkpoint, TILVANE_VERSION, plan, work_count);
      !matches) {
    return fail(cat(path, ": ", matches.error(),
                    "; resume it with the command that wrote it, or give this run another "
                    "--checkpoint FILE (or --checkpoint none)"));
  }
  return checkpoint;
}

Status save_checkpoint(const OutputFile& file, const Checkpoint& start,
                       const ExplorationTally& tally, std::uint64_t elapsed_ms) {
  return file.write(render_checkpoint(start, tally, elapsed_ms));
}

// The outputs of a complete run: the list (the found sets, or a part's
// list, which holds its undecided candidates) to its file or to out, the
// undecided list beside a whole run's list, the certificates; the
// checkpoint goes last, once all are written.
Status write_outputs(const Outputs& outputs, const std::string& list, const ExplorationTally& tally,
                     std::ostream& out, std::string& undecided_file) {
  if (outputs.list) {
    if (auto w = outputs.list->write(list); !w) return w;
  } else if (!(out << list).flush()) {
    const auto* checked = dynamic_cast<const CheckedOutputBuffer*>(out.rdbuf());
    const int error_number = checked != nullptr ? checked->error_number() : 0;
    return fail(cat("cannot write the list to standard output",
                    error_number != 0 ? cat(": ", os_error_description(error_number)) : ""));
  }
  if (outputs.undecided) {
    if (tally.undecided.empty()) {
      if (auto r = outputs.undecided->remove(); !r) return r;
    } else {
      std::string text;
      for (const ModuliSet& set : tally.undecided) text += render_set_line(set);
      if (auto w = outputs.undecided->write(text); !w) return w;
      undecided_file = outputs.undecided->given();
    }
  }
  if (outputs.covers) {
    std::vector<std::pair<std::string, std::string>> files;
    files.reserve(tally.found.size());
    for (const FoundSet& set : tally.found) {
      files.emplace_back(certificate_name(set), render_certificate(set));
    }
    if (auto w = outputs.covers->write(std::move(files)); !w) return w;
  }
  if (outputs.checkpoint) return outputs.checkpoint->remove();
  return {};
}

Result<int> explore(const CensusOptions& o, std::ostream& out, std::ostream& log,
                    CensusProgress& progress, ClusterRole* cluster) {
  const auto started = Clock::now();
  const ExplorationPlan& plan = o.plan;
  // A computing rank of a cluster job needs the work list, a pool and a
  // decider, nothing of the checkpoint or the outputs.
  const bool computes_only = cluster != nullptr && !cluster->coordinates();
  const bool estimate = o.action == CensusOptions::Action::Estimate;
  Outputs outputs;
  std::optional<RunLock> lock;
  if (!computes_only) {
    auto prepared = prepare_outputs(o, !estimate);
    if (!prepared) return std::move(prepared).take_error();
    outputs = std::move(*prepared);
    // One run at a time writes a checkpoint (or, without one, an output).
    const std::optional<OutputFile>& locked =
        outputs.checkpoint ? outputs.checkpoint : outputs.list;
    if (locked) {
      auto taken = RunLock::take(locked->target());
      if (!taken) return std::move(taken).take_error();
      lock = std::move(*taken);
    }
  }
  // The summary and messages go to standard error when the list goes to
  // standard output.
  std::ostream& summary = outputs.list || estimate ? out : log;
  auto counted = count_space(plan.space);
  if (!counted) return std::move(counted).take_error();
  const std::uint64_t space_candidates = *counted;
  ExplorationPlan effective = plan;
  // The candidates stream from the space as they are decided; none is held
  // beyond the chunks in flight.
  const bool in_runs = estimate && !o.sample_given;
  std::uint64_t runs = kEstimateRuns;
  if (o.sample_time_s != 0) {
    runs = kTimedEstimateRuns;
    while (runs > kEstimateRuns && runs * kEstimateRunLength * 2 > space_candidates) runs /= 2;
  }
  auto streamed = in_runs ? space_runs_work(plan.space, runs, kEstimateRunLength)
                          : space_work(plan.space, effective.sample);
  if (!streamed) return std::move(streamed).take_error();
  const std::uint64_t whole_work = (*streamed)->count();
  // A part decides its range of the work list as if it were the whole list.
  const std::unique_ptr<WorkList> owned =
      plan.parts > 1 ? part_work(std::move(*streamed), plan.part, plan.parts)
                     : std::move(*streamed);
  const WorkList& work = *owned;
  const ClusterJob job{effective, std::chrono::seconds(o.rank_timeout_s), o.chunk_limit,
                       [] { return stop_requested(); }, [] { request_stop(); }};
  auto start = load_or_start(outputs.checkpoint, effective, work.count());
  if (!start) return std::move(start).take_error();
  if (start->tally.decided != 0) {
    log << cat("resuming from ", outputs.checkpoint->given(), ": ", start->tally.decided, " of ",
               work.count(), " candidates decided, ", start->tally.found.size(), " sets found\n");
    log.flush();
  }

  auto pool = WorkerPool::start(o.threads != 0 ? o.threads : available_cpu_count());
  if (!pool) return std::move(pool).take_error();
  // A stop abandons the searches under way: their candidates stay open in
  // the checkpoint and are decided again on resume.
  DecisionOptions decision = o.decision;
  decision.stop = stop_flag();
  const Decider decider(effective, decision);
  if (computes_only) {
    return cluster->compute(**pool, decider, work, job);
  }
  ExplorationLedger ledger(work, start->tally);
  const std::uint64_t earlier_ms = start->elapsed_ms;
  const auto elapsed_ms = [&] {
    return earlier_ms +
           static_cast<std::uint64_t>(
               std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started)
                   .count());
  };

  std::vector<double> seconds;
  DriveHooks hooks;
  hooks.progress = &progress;
  const auto sample_deadline = started + std::chrono::seconds(o.sample_time_s);
  hooks.stop_requested = [&] {
    return stop_requested() || (o.sample_time_s != 0 && Clock::now() >= sample_deadline);
  };
  hooks.checkpoint_interval = std::chrono::seconds(o.checkpoint_interval_s);
  if (estimate) {
    seconds.assign(static_cast<std::size_t>(work.count()), 0.0);
    hooks.durations = &seconds;
  } else if (outputs.checkpoint) {
    hooks.save_checkpoint = [&](const ExplorationTally& tally) {
      return save_checkpoint(*outputs.checkpoint, *start, tally, elapsed_ms());
    };
  }
  set_stop_notice(estimate             ? "stopping\n"
                  : outputs.checkpoint ? "stopping: writing the checkpoint\n"
                                       : "stopping\n");
  ProgressStage stage(progress, cat("k=", plan.space.k), work.count(), ledger.next());
  auto end = cluster != nullptr ? cluster->drive(**pool, decider, work, ledger, hooks, job)
                                : drive_exploration(**pool, decider, work, ledger, hooks);
  stage.finish();
  if (!end) return std::move(end).take_error();

  const std::string simd = simd_level_name(detected_simd_level());
  const std::size_t workers =
      cluster != nullptr ? static_cast<std::size_t>(cluster->workers()) : (*pool)->worker_count();
  const std::size_t ranks = cluster != nullptr ? static_cast<std::size_t>(cluster->ranks()) : 1;
  if (*end == DriveEnd::Stopped && !(estimate && !stop_requested())) {
    // Stopped by a signal; an estimate whose sampling time is up goes on
    // with what was decided.
    // The line goes to standard error, which a batch log keeps, whatever
    // becomes of standard output.
    if (estimate) {
      log << cat("stopped after ", ledger.next(), " of ", work.count(),
                 " sampled candidates; nothing is estimated\n");
      return kExitStopped;
    }
    if (!outputs.checkpoint) {
      log << cat("stopped after ", ledger.next(), " of ", work.count(),
                 " candidates; no checkpoint (--checkpoint none), so a new run starts over\n");
      return kExitStopped;
    }
    if (auto saved = save_checkpoint(*outputs.checkpoint, *start, ledger.tally(), elapsed_ms());
        !saved) {
      return std::move(saved).take_error();
    }
    log << cat("stopped after ", ledger.next(), " of ", work.count(),
               " candidates; checkpoint written to ", outputs.checkpoint->given(),
               "; run the same command again to resume\n");
    return kExitStopped;
  }
  if (estimate) {
    const std::uint64_t sampled = ledger.next();
    EstimateSample sample;
    const bool whole_space = work.count() == space_candidates;
    const std::span<const double> decided =
        std::span(seconds).first(static_cast<std::size_t>(sampled));
    std::vector<double> timed;
    if (in_runs && !whole_space) {
      for (std::size_t i = 0; i < decided.size(); ++i) {
        if (i % kEstimateRunLength >= kEstimateWarmUp) timed.push_back(decided[i]);
      }
      sample.seconds = timed;
      sample.block = kEstimateRunLength - kEstimateWarmUp;
    } else {
      sample.seconds = decided;
      sample.block = in_runs ? kEstimateRunLength : 1;
    }
    sample.decided = sampled;
    if (in_runs && !whole_space && plan.search == SearchKind::Decide) {
      sample.whole_run_factor =
          whole_run_factor(static_cast<double>(sampled) / static_cast<double>(space_candidates));
    }
    sample.found = ledger.tally().found.size();
    const std::uint64_t whole_runs = (sampled + kEstimateRunLength - 1) / kEstimateRunLength;
    sample.how =
        !in_runs ? cat("every ", ordinal(plan.sample))
        : whole_space
            ? std::string("the whole space")
            : cat(whole_runs, " runs of ", kEstimateRunLength,
                  " consecutive candidates, spread evenly",
                  o.sample_time_s != 0 ? cat(", in ", o.sample_time_s, " s") : "", "; the first ",
                  kEstimateWarmUp, " of each fill the stores and are left out of the mean");
    // The dearest three, read again from the work list.
    for (std::size_t at : dearest_positions(decided, 3)) {
      auto reader = work.read_from(at);
      ModuliSet set;
      if (reader && (*reader)->next(set)) sample.dearest.emplace_back(seconds[at], std::move(set));
    }
    out << render_estimate(effective, sample, space_candidates, workers, simd, o.json);
    return kExitDone;
  }

  const ExplorationTally& tally = ledger.tally();
  auto extrema = exploration_extrema(tally.found);
  if (!extrema) return std::move(extrema).take_error();
  RunFacts facts{space_candidates, whole_work, 0, elapsed_ms(), workers, ranks, simd, {}};
  const bool part = plan.parts > 1;
  // A part's list and a sample's carry headers that say what they are.
  const std::string list =
      part ? render_part_list({TILVANE_VERSION, effective, whole_work, tally, facts.elapsed_ms, {}})
      : plan.sample > 1 ? render_sample_list(TILVANE_VERSION, effective, space_candidates, tally)
                        : render_found_sets(tally.found);
  if (auto written = write_outputs(outputs, list, tally, out, facts.undecided_file); !written) {
    return std::move(written).take_error();
  }
  summary << (o.json ? render_summary_json(effective, tally, *extrema, facts)
                     : render_summary(effective, tally, *extrema, facts));
  return tally.undecided.empty() ? kExitDone : kExitIncomplete;
}

// Merges the parts' lists into the whole run's outputs and summary.
Result<int> merge(const CensusOptions& o, std::ostream& out, std::ostream& log) {
  auto outputs = prepare_outputs(o, false);
  if (!outputs) return std::move(outputs).take_error();
  std::ostream& summary = outputs->list ? out : log;
  std::vector<PartList> parts;
  for (const std::string& path : o.part_lists) {
    auto text = read_text_file(path);
    if (!text) return fail(cat("cannot read part list ", path, ": ", text.error()));
    auto part = parse_part_list(*text);
    if (!part) return fail(cat(path, ": ", part.error()));
    part->source = path;
    parts.push_back(std::move(*part));
  }
  auto whole = merge_part_lists(parts);
  if (!whole) return std::move(whole).take_error();
  const ExplorationTally& tally = whole->tally;
  auto counted = count_space(whole->plan.space);
  if (!counted) return std::move(counted).take_error();
  auto extrema = exploration_extrema(tally.found);
  if (!extrema) return std::move(extrema).take_error();
  RunFacts facts{*counted, whole->whole_count, parts.size(), whole->elapsed_ms, 0, 1, std::string(),
                 {}};
  if (auto written =
          write_outputs(*outputs, render_found_sets(tally.found), tally, out, facts.undecided_file);
      !written) {
    return std::move(written).take_error();
  }
  summary << (o.json ? render_summary_json(whole->plan, tally, *extrema, facts)
                     : render_summary(whole->plan, tally, *extrema, facts));
  return tally.undecided.empty() ? kExitDone : kExitIncomplete;
}

}  // namespace

std::string render_summary(const ExplorationPlan& plan, const ExplorationTally& tally,
                           const ExplorationExtrema& extrema, const RunFacts& facts) {
  std::string text = cat("space: ", describe_space(plan.space), "\n");
  text += cat("search: ", search_kind_name(plan.search),
              plan.max_nodes == 0 ? std::string(", no budget")
                                  : cat(", at most ", plan.max_nodes,
                                        plan.max_nodes == 1 ? " node" : " nodes", " per search"),
              "\n");
  text += plan.sample > 1 ? cat("candidates: ", tally.decided, " (every ", ordinal(plan.sample),
                                " of ", facts.space_candidates, ")\n")
                          : cat("candidates: ", tally.decided, "\n");
  if (plan.parts > 1) {
    const PartRange range = part_range(facts.whole_work, plan.part, plan.parts);
    text += cat("part: ", plan.part, " of ", plan.parts, ", positions ", range.begin, " to ",
                range.end, " (exclusive) of ", facts.whole_work,
                "; not the whole census until every part is merged\n");
  }
  text += cat("dropped without search: ", tally.dropped, "\n");
  text += cat("irreducible covering sets: ", tally.found.size(), "\n");
  text += cat("least largest modulus: ", render_extremum(extrema.min_largest_modulus), "\n");
  text += cat("greatest largest modulus: ", render_extremum(extrema.max_largest_modulus), "\n");
  text += cat("greatest reciprocal sum: ",
              tally.found.empty() ? std::string("none") : render_ratio(extrema.max_reciprocal_sum),
              "\n");
  if (plan.search == SearchKind::Exact) text += cat("nodes: ", tally.nodes, "\n");
  text += cat("undecided: ", tally.undecided.size(), "\n");
  for (const ModuliSet& set : tally.undecided) text += cat("  ", render_set(set), "\n");
  if (!facts.undecided_file.empty()) text += cat("undecided list: ", facts.undecided_file, "\n");
  const std::string wall = seconds_text(static_cast<double>(facts.elapsed_ms) / 1000);
  text += facts.merged_parts != 0
              ? cat("wall time: ", wall, " s, the sum over ", facts.merged_parts, " parts\n")
              : cat("wall time: ", wall, " s on ", workers_text(facts.workers, facts.ranks),
                    ", SIMD level ", facts.simd_level, "\n");
  return text;
}

std::string render_summary_json(const ExplorationPlan& plan, const ExplorationTally& tally,
                                const ExplorationExtrema& extrema, const RunFacts& facts) {
  std::string undecided = "[";
  for (std::size_t i = 0; i < tally.undecided.size(); ++i) {
    undecided += cat(i == 0 ? "" : ",", json_set(tally.undecided[i]));
  }
  undecided += "]";
  return cat("{\"space\":\"", space_kind_name(plan.space.kind), "\",\"size\":", plan.space.k,
             ",\"max_lcm\":", plan.space.bound, ",\"search\":\"", search_kind_name(plan.search),
             "\",\"max_nodes\":", plan.max_nodes, ",\"sample\":", plan.sample,
             ",\"part\":", plan.part, ",\"parts\":", plan.parts,
             ",\"merged_parts\":", facts.merged_parts,
             ",\"space_candidates\":", facts.space_candidates, ",\"candidates\":", tally.decided,
             ",\"dropped\":", tally.dropped, ",\"found\":", tally.found.size(),
             ",\"min_largest_modulus\":", json_optional(extrema.min_largest_modulus),
             ",\"max_largest_modulus\":", json_optional(extrema.max_largest_modulus),
             ",\"max_reciprocal_sum\":\"", render_ratio(extrema.max_reciprocal_sum), "\"",
             plan.search == SearchKind::Exact ? cat(",\"nodes\":", tally.nodes) : std::string(),
             ",\"undecided\":", undecided,
             ",\"wall_seconds\":", seconds_text(static_cast<double>(facts.elapsed_ms) / 1000),
             ",\"workers\":", facts.workers, ",\"ranks\":", facts.ranks, ",\"simd_level\":\"",
             facts.simd_level, "\"}\n");
}

Result<int> run_census_tool(std::span<const std::string_view> args, std::ostream& out,
                            std::ostream& log, int progress_fd, ClusterRole* cluster) {
  auto options = parse_census_options(args);
  if (!options) return std::move(options).take_error();
  TerminalProgress terminal(progress_fd);
  LogProgress logged(progress_fd, std::chrono::seconds(options->progress_interval_s));
  CensusProgress& progress = progress_fd < 0              ? no_progress()
                             : ::isatty(progress_fd) == 1 ? static_cast<CensusProgress&>(terminal)
                                                          : logged;
  switch (options->action) {
    case CensusOptions::Action::Help:
      out << census_usage(kProgram);
      return kExitDone;
    case CensusOptions::Action::Version:
      out << cat(kProgram, " ", TILVANE_VERSION, "\n");
      return kExitDone;
    case CensusOptions::Action::Merge:
      if (cluster != nullptr && !cluster->coordinates()) return kExitDone;
      return merge(*options, out, log);
    case CensusOptions::Action::Moduli:
    case CensusOptions::Action::LeastLcm:
      return run_moduli_action(*options, out, log, progress_fd >= 0, cluster);
    case CensusOptions::Action::Explore:
    case CensusOptions::Action::Estimate:
      break;
  }
  return explore(*options, out, log, progress, cluster);
}

int census_tool_main(int argc, char** argv, ClusterRole* cluster) {
  install_stop_handlers();
  std::signal(SIGPIPE, SIG_IGN);
  const std::vector<std::string_view> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  const bool silent = cluster != nullptr && !cluster->coordinates();
  CheckedOutputBuffer buffer(STDOUT_FILENO);
  std::ostream out(silent ? nullptr : &buffer);
  CheckedOutputBuffer log_buffer(STDERR_FILENO);
  std::ostream log(silent ? nullptr : &log_buffer);
  Result<int> status = run_census_tool(args, out, log, silent ? -1 : STDERR_FILENO, cluster);
  out.flush();
  log.flush();
  if (status && buffer.error_number() != 0) {
    status =
        fail(cat("cannot write to standard output: ", os_error_description(buffer.error_number())));
  }
  if (cluster != nullptr) status = cluster->conclude(std::move(status));
  if (status) return *status;
  (void)write_all(STDERR_FILENO, cat(kProgram, ": ", status.error(), "\n"));
  return kExitFailure;
}

}  // namespace tilvane
