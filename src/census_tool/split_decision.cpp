#include "census_tool/split_decision.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "base/os_error.h"
#include "base/quoted.h"
#include "base/text_format.h"
#include "base/text_scan.h"
#include "census/worker_pool.h"
#include "census_tool/moduli_checkpoint.h"
#include "census_tool/trace_pieces.h"
#include "cli/atomic_file.h"
#include "cli/checked_output.h"
#include "cli/read_file.h"

namespace tilvane {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The texts of a cluster run. Rank 0 sends "begin" (the run's lines and
// the subproblems already decided), "horizon N" (no subproblem after N is
// needed), "stop", and "result WORD" (the outcome; the run is over). The
// other ranks send "chunk N FIRST" followed by a stretch of a trace piece,
// "done ..." (a checkpoint line) once the piece is whole, and "end" ("end
// stopped", "end failed WHY") when their share is done.
constexpr std::string_view kBegin = "begin\n";
constexpr std::string_view kHorizon = "horizon ";
constexpr std::string_view kStop = "stop";
constexpr std::string_view kResult = "result ";
constexpr std::string_view kChunk = "chunk ";
constexpr std::string_view kDone = "done ";
constexpr std::string_view kEnd = "end";
constexpr std::string_view kEndStopped = "end stopped";
constexpr std::string_view kEndFailed = "end failed ";
constexpr std::size_t kChunkBytes = std::size_t{1} << 20;

void add_counts(ModuliDecision& total, const ModuliDecision& part) {
  total.nodes += part.nodes;
  total.bound_leaves += part.bound_leaves;
  total.projected_leaves += part.projected_leaves;
  total.fibre_branches += part.fibre_branches;
  total.class_branches += part.class_branches;
  total.bare_leaves += part.bare_leaves;
}

// The subproblems' slots and the first of them that settles the answer,
// shared by the workers and the thread that waits for them.
class Ledger {
 public:
  Ledger(std::size_t count, std::uint64_t upper_nodes, std::uint64_t max_nodes)
      : slots_(count), upper_nodes_(upper_nodes), max_nodes_(max_nodes) {}

  bool needed(std::size_t index) const { return index <= horizon_.load(); }
  std::size_t horizon() const { return horizon_.load(); }
  bool done(std::size_t index) const { return slots_[index].has_value(); }

  void record(std::size_t index, ModuliDecision decision) {
    std::lock_guard lock(mutex_);
    const ModuliOutcome outcome = decision.outcome;
    slots_[index] = std::move(decision);
    ++done_count_;
    if (outcome != ModuliOutcome::NoCovering) lower_horizon(index);
    // The nodes of the decided prefix: once they pass the budget, nothing
    // after it counts.
    while (prefix_ < slots_.size() && slots_[prefix_]) {
      prefix_nodes_ += slots_[prefix_]->nodes;
      if (upper_nodes_ + prefix_nodes_ > max_nodes_) lower_horizon(prefix_);
      ++prefix_;
    }
  }

  // Whether every subproblem the answer needs is decided.
  bool complete() const {
    std::lock_guard lock(mutex_);
    const std::size_t last = std::min(horizon_.load(), slots_.size() - 1);
    return prefix_ > last;
  }

  std::size_t done_count() const {
    std::lock_guard lock(mutex_);
    return done_count_;
  }
  std::uint64_t nodes() const {
    std::lock_guard lock(mutex_);
    std::uint64_t sum = upper_nodes_;
    for (const auto& slot : slots_) sum += slot ? slot->nodes : 0;
    return sum;
  }

  std::vector<SubproblemRecord> records() const {
    std::lock_guard lock(mutex_);
    std::vector<SubproblemRecord> out;
    for (std::size_t i = 0; i < slots_.size(); ++i) {
      if (slots_[i]) out.push_back({i, *slots_[i]});
    }
    return out;
  }

  // The answer, once complete: the counts of the nodes above the frontier
  // and of the subproblems up to the one that settles it.
  ModuliDecision answer(ModuliDecision upper) const {
    std::lock_guard lock(mutex_);
    upper.outcome = ModuliOutcome::NoCovering;
    for (const auto& slot : slots_) {
      add_counts(upper, *slot);
      if (slot->outcome == ModuliOutcome::Covering) {
        upper.outcome = ModuliOutcome::Covering;
        upper.residues = slot->residues;
        break;
      }
      if (slot->outcome == ModuliOutcome::Undecided || upper.nodes > max_nodes_) {
        upper.outcome = ModuliOutcome::Undecided;
        break;
      }
    }
    return upper;
  }

 private:
  void lower_horizon(std::size_t index) {
    if (index < horizon_.load()) horizon_.store(index);
  }

  mutable std::mutex mutex_;
  std::vector<std::optional<ModuliDecision>> slots_;
  std::atomic<std::size_t> horizon_{SIZE_MAX};
  std::size_t prefix_ = 0;
  std::uint64_t prefix_nodes_ = 0;
  std::size_t done_count_ = 0;
  std::uint64_t upper_nodes_;
  std::uint64_t max_nodes_;
};

Result<std::optional<ModuliCheckpoint>> load_checkpoint(const OutputFile* file,
                                                        const std::string& run) {
  if (file == nullptr) return std::optional<ModuliCheckpoint>();
  std::error_code ec;
  if (!fs::exists(file->target(), ec)) return std::optional<ModuliCheckpoint>();
  auto text = read_text_file(file->target());
  if (!text) return fail(cat("cannot read checkpoint ", file->given(), ": ", text.error()));
  auto checkpoint = parse_moduli_checkpoint(*text);
  if (!checkpoint) {
    return fail(cat(file->given(), ": ", checkpoint.error(),
                    "; remove it to start over, or give another --checkpoint FILE"));
  }
  if (checkpoint->run != run) {
    return fail(cat(file->given(),
                    ": checkpoint belongs to another run (another set, options, budget, proof or "
                    "version); remove it to start over, or give another --checkpoint FILE"));
  }
  return std::optional<ModuliCheckpoint>(std::move(*checkpoint));
}

// The proof of a refutation: the trace above the frontier with each
// subproblem's piece in its place.
Status assemble_proof(const OutputFile& proof, const ModuliSplit& split,
                      const std::string& folder) {
  auto writer = AtomicFileWriter::open(proof.target(), proof.given());
  if (!writer) return std::move(writer).take_error();
  for (std::size_t i = 0; i < split.trace.size(); ++i) {
    if (i > 0) {
      if (auto ok = writer->append_file(piece_path(folder, i - 1)); !ok) return ok;
    }
    if (auto ok = writer->append(split.trace[i]); !ok) return ok;
  }
  if (auto ok = writer->append("end\n"); !ok) return ok;
  return writer->commit();
}

// Appends a "chunk N FIRST" text's stretch to piece N's partial file,
// which FIRST = 1 begins anew.
Status take_chunk(const std::string& folder, std::string_view text) {
  const std::size_t line_end = text.find('\n');
  const std::vector<std::string_view> words = line_end == std::string_view::npos
                                                  ? std::vector<std::string_view>()
                                                  : split_words(text.substr(0, line_end));
  const auto index = words.size() == 3 ? parse_unsigned_decimal(words[1]) : std::nullopt;
  if (!index || (words[2] != "0" && words[2] != "1")) return fail("a rank sent a damaged piece");
  const std::string path = cat(piece_path(folder, *index), ".partial");
  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (words[2] == "1" ? O_TRUNC : O_APPEND);
  const int fd = ::open(path.c_str(), flags, 0666);
  int error_number = fd < 0 ? errno : write_all(fd, text.substr(line_end + 1));
  if (fd >= 0 && ::close(fd) != 0 && error_number == 0) error_number = errno;
  if (error_number != 0) {
    return fail(
        cat("cannot write ", tilvane::quoted(path), ": ", os_error_description(error_number)));
  }
  return {};
}

// Sends a finished subproblem to rank 0: its trace piece (when it is a
// refutation and the run keeps a trace) in stretches, then its result.
Status send_result(MessageLink& link, std::size_t index, const ModuliDecision& decision,
                   const std::string& piece) {
  if (!piece.empty()) {
    const int fd = ::open(piece.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
      return fail(cat("cannot read ", tilvane::quoted(piece), ": ", os_error_description(errno)));
    std::string buffer(kChunkBytes, '\0');
    bool first = true;
    Status status;
    for (;;) {
      const ssize_t got = ::read(fd, buffer.data(), buffer.size());
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        status =
            fail(cat("cannot read ", tilvane::quoted(piece), ": ", os_error_description(errno)));
        break;
      }
      if (got == 0 && !first) break;
      status = link.send(0, cat(kChunk, index, first ? " 1\n" : " 0\n",
                                std::string_view(buffer.data(), static_cast<std::size_t>(got))));
      first = false;
      if (!status || got == 0) break;
    }
    ::close(fd);
    ::unlink(piece.c_str());
    if (!status) return status;
  }
  return link.send(0, render_subproblem_record({index, decision}));
}

// A rank other than 0 of a cluster run: splits the search as rank 0 does,
// hears which subproblems are decided already, decides its share of the
// rest on its pool, and sends every result to rank 0 as it comes, from
// this thread (the only one that may use the link).
Result<SplitResult> decide_share(std::span<const std::uint64_t> moduli, const SplitSettings& s) {
  SplitSettings::Cluster& cluster = *s.cluster;
  const auto stop = [&] { return s.stop && s.stop(); };
  SplitResult result;
  auto split = split_moduli(moduli, s.max_nodes, s.options, s.target, false,
                            [&](std::uint64_t) { return !stop(); });
  if (!split) return std::move(split).take_error();
  const std::size_t count = split->subproblems.size();
  result.subproblems = count;
  result.decision = split->upper;
  if (split->upper.outcome != ModuliOutcome::NoCovering || count == 0) {
    cluster.settled = true;  // rank 0 comes to the same end
    return result;
  }
  const std::string run = cat(s.run_name, "frontier ", split->level, " ", count, " ",
                              split->upper.nodes, "\ntrace ", cluster.traced ? "yes" : "no", "\n");
  std::atomic<bool> halt{false};
  std::atomic<std::size_t> horizon{SIZE_MAX};
  std::optional<ModuliOutcome> outcome;
  std::vector<bool> skip(count, false);
  bool begun = false;
  // What rank 0 says; false when the run is over for this rank.
  const auto hear = [&]() -> Result<bool> {
    for (;;) {
      auto received = cluster.link->receive();
      if (!received) return std::move(received).take_error();
      if (!*received) return true;
      const std::string& text = (*received)->text;
      if (text.starts_with(kResult)) {
        outcome = outcome_of_word(std::string_view(text).substr(kResult.size()));
        halt.store(true);
        cluster.settled = true;
        return false;
      }
      if (text.starts_with(kStop)) halt.store(true);
      if (text.starts_with(kHorizon)) {
        const auto h = parse_unsigned_decimal(std::string_view(text).substr(kHorizon.size()));
        if (h && *h < horizon.load()) horizon.store(*h);
      }
      if (text.starts_with(kBegin)) {
        const std::string_view rest = std::string_view(text).substr(kBegin.size());
        if (!rest.starts_with(run) || !rest.substr(run.size()).starts_with("skip")) {
          return fail(
              "this rank splits the search otherwise than rank 0 (another set, options, "
              "budget or version)");
        }
        for (const std::string_view word : split_words(rest.substr(run.size() + 4))) {
          const auto i = parse_unsigned_decimal(word);
          if (i && *i < count) skip[*i] = true;
        }
        begun = true;
      }
    }
  };
  while (!begun) {
    auto going = hear();
    if (!going) return std::move(going).take_error();
    if (!*going) {
      if (!outcome) return fail("rank 0 ended the run");
      result.decision.outcome = *outcome;
      return result;
    }
    if (!begun) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }

  std::vector<std::size_t> own;
  for (std::size_t i = static_cast<std::size_t>(cluster.rank); i < count;
       i += static_cast<std::size_t>(cluster.ranks)) {
    if (!skip[i]) own.push_back(i);
  }
  const std::uint64_t budget = s.max_nodes == UINT64_MAX
                                   ? UINT64_MAX
                                   : s.max_nodes - std::min(s.max_nodes, split->upper.nodes);
  const std::string stem =
      (fs::temp_directory_path() / cat("tilvane-piece-", ::getpid(), "-")).string();
  struct Finished {
    std::size_t index;
    ModuliDecision decision;
    std::string piece;
  };
  std::mutex mutex;
  std::vector<Finished> finished;
  std::string failure;
  std::atomic<bool> stopped_here{false};
  const auto stop_here = [&] {
    if (stop() && !halt.load()) {
      stopped_here.store(true);
      halt.store(true);
    }
  };
  const auto task = [&](std::size_t k) {
    const std::size_t i = own[k];
    stop_here();
    if (i > horizon.load() || halt.load()) return;
    const std::string piece = cluster.traced ? cat(stem, i) : std::string();
    std::optional<PieceFile> file;
    if (cluster.traced) file.emplace(piece);
    auto decision = decide_moduli_subproblem(
        moduli, split->subproblems[i], budget, s.options, file ? &*file : nullptr,
        [&](std::uint64_t) { return i <= horizon.load() && !halt.load(); });
    const int error_number = file ? file->close() : 0;
    const bool refuted = decision && decision->outcome == ModuliOutcome::NoCovering;
    std::lock_guard lock(mutex);
    if (!decision || (refuted && error_number != 0)) {
      if (failure.empty()) {
        failure = !decision ? decision.error()
                            : cat("cannot write ", tilvane::quoted(piece), ": ",
                                  os_error_description(error_number));
      }
      halt.store(true);
    } else if (decision->outcome != ModuliOutcome::Stopped) {
      finished.push_back({i, std::move(*decision), refuted ? piece : std::string()});
      return;
    }
    if (!piece.empty()) ::unlink(piece.c_str());
  };
  const auto tick = [&] {
    stop_here();
    if (auto going = hear(); !going) {
      std::lock_guard lock(mutex);
      if (failure.empty()) failure = going.error();
      halt.store(true);
    }
    std::vector<Finished> ready;
    {
      std::lock_guard lock(mutex);
      ready.swap(finished);
    }
    for (const Finished& f : ready) {
      if (auto sent = send_result(*cluster.link, f.index, f.decision, f.piece); !sent) {
        std::lock_guard lock(mutex);
        if (failure.empty()) failure = sent.error();
        halt.store(true);
      }
    }
  };
  auto pool = WorkerPool::start(std::max<std::size_t>(s.threads, 1));
  if (!pool) return std::move(pool).take_error();
  (*pool)->for_each_index(own.size(), task, std::chrono::milliseconds(50), tick, &halt);
  tick();
  if (!outcome) {
    const std::string end = !failure.empty()      ? cat(kEndFailed, failure)
                            : stopped_here.load() ? std::string(kEndStopped)
                                                  : std::string(kEnd);
    if (auto sent = cluster.link->send(0, end); !sent) return std::move(sent).take_error();
  }
  while (!outcome && !cluster.settled) {
    auto going = hear();
    if (!going) return std::move(going).take_error();
    if (*going) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!failure.empty()) return fail(failure);
  if (!outcome) return fail("rank 0 ended the run");
  result.decision.outcome = *outcome;
  return result;
}

}  // namespace

void send_unsettled(SplitSettings::Cluster& cluster, const Result<int>& status) {
  if (cluster.settled || cluster.link == nullptr) return;
  cluster.settled = true;
  if (cluster.rank != 0) {
    (void)cluster.link->send(
        0, cat(kEndFailed, status ? std::string("ended before the search") : status.error()));
    return;
  }
  // "result failed" names no outcome: the other ranks fail with rank 0.
  const std::string text =
      cat(kResult, status && *status == 75 ? outcome_word(ModuliOutcome::Stopped) : "failed");
  for (int r = 1; r < cluster.ranks; ++r) (void)cluster.link->send(r, text);
}

Result<SplitResult> decide_split(std::span<const std::uint64_t> moduli, const SplitSettings& s) {
  if (s.cluster != nullptr && s.cluster->ranks > 1 && s.cluster->rank != 0) {
    return decide_share(moduli, s);
  }
  const auto stop = [&] { return s.stop && s.stop(); };
  const bool traced = s.proof != nullptr;
  const std::string folder = traced ? trace_pieces_folder(*s.proof) : std::string();
  std::error_code ec;
  if (traced && fs::exists(fs::symlink_status(folder, ec)) && !is_trace_pieces_folder(folder)) {
    return fail(cat(tilvane::quoted(folder),
                    " is in the way of the trace pieces, and this "
                    "program did not write it; move it away"));
  }
  auto split = split_moduli(moduli, s.max_nodes, s.options, s.target, traced,
                            [&](std::uint64_t) { return !stop(); });
  if (!split) return std::move(split).take_error();
  SplitResult result;
  result.subproblems = split->subproblems.size();
  if (split->upper.outcome == ModuliOutcome::Stopped) {
    // Stopped before the frontier was reached: a checkpoint there stays.
    result.decision = split->upper;
    result.checkpoint_written = s.checkpoint != nullptr && fs::exists(s.checkpoint->target(), ec);
    return result;
  }
  const std::size_t count = split->subproblems.size();
  const std::string run = cat(s.run_name, "frontier ", split->level, " ", count, " ",
                              split->upper.nodes, "\ntrace ", traced ? "yes" : "no", "\n");
  auto loaded = load_checkpoint(s.checkpoint, run);
  if (!loaded) return std::move(loaded).take_error();
  if (split->upper.outcome != ModuliOutcome::NoCovering || count == 0) {
    // Settled above the frontier (as every rank finds).
    if (s.cluster != nullptr) s.cluster->settled = true;
    result.decision = split->upper;
    if (result.decision.outcome == ModuliOutcome::NoCovering && traced) {
      if (auto ok = s.proof->write(cat(split->trace.front(), "end\n")); !ok) {
        return std::move(ok).take_error();
      }
    }
    if (*loaded) {
      if (auto ok = s.checkpoint->remove(); !ok) return std::move(ok).take_error();
    }
    return result;
  }
  std::uint64_t earlier_ms = 0;
  const std::uint64_t budget = s.max_nodes == UINT64_MAX
                                   ? UINT64_MAX
                                   : s.max_nodes - std::min(s.max_nodes, split->upper.nodes);
  Ledger ledger(count, split->upper.nodes, s.max_nodes);
  if (*loaded) {
    earlier_ms = (*loaded)->elapsed_ms;
    for (const SubproblemRecord& r : (*loaded)->done) {
      if (r.index >= count) return fail(cat(s.checkpoint->given(), ": checkpoint is damaged"));
      if (traced && r.decision.outcome == ModuliOutcome::NoCovering &&
          !fs::is_regular_file(piece_path(folder, r.index), ec)) {
        return fail(cat("the trace piece of subproblem ", r.index, " is missing from ",
                        tilvane::quoted(folder), "; remove ", s.checkpoint->given(),
                        " to start over"));
      }
      ledger.record(r.index, r.decision);
    }
    if (s.note) {
      s.note(cat("resuming from ", s.checkpoint->given(), ": ", ledger.done_count(), " of ", count,
                 " subproblems decided"));
    }
  }
  if (traced) {
    if (!*loaded || !fs::exists(fs::symlink_status(folder, ec))) {
      if (auto ok = fresh_pieces_folder(folder); !ok) return std::move(ok).take_error();
    }
  }

  const auto started = Clock::now();
  const auto elapsed_ms = [&] {
    return earlier_ms +
           static_cast<std::uint64_t>(
               std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started)
                   .count());
  };
  const auto save = [&]() -> Status {
    if (s.checkpoint == nullptr) return {};
    flush_pieces(folder);
    return s.checkpoint->write(render_moduli_checkpoint({run, elapsed_ms(), ledger.records()}));
  };

  SplitSettings::Cluster* const cluster =
      s.cluster != nullptr && s.cluster->ranks > 1 ? s.cluster : nullptr;
  const std::size_t ranks = cluster != nullptr ? static_cast<std::size_t>(cluster->ranks) : 1;
  std::vector<std::size_t> pending;
  std::string begin = cat(kBegin, run, "skip");
  for (std::size_t i = 0; i < count; ++i) {
    if (ledger.done(i)) begin += cat(" ", i);
    if (!ledger.done(i) && i % ranks == 0) pending.push_back(i);
  }
  std::atomic<bool> halt{false};
  std::mutex failure_mutex;
  std::string failure;
  const auto failed = [&](std::string why) {
    std::lock_guard lock(failure_mutex);
    if (failure.empty()) failure = std::move(why);
    halt.store(true);
  };
  // Rank 0 of a cluster run: the other ranks hear what is done already,
  // decide their share, and send each finished subproblem with its trace
  // piece; rank 0 tells them how far the answer needs them, and when to
  // stop.
  std::size_t ended = 0;
  bool broken = false;  // the link failed: no rank can be heard any more
  std::size_t horizon_sent = SIZE_MAX;
  bool stop_sent = false;
  const auto broadcast = [&](const std::string& text) {
    for (int r = 1; r < static_cast<int>(ranks); ++r) {
      if (auto sent = cluster->link->send(r, text); !sent) failed(sent.error());
    }
  };
  const auto serve = [&] {
    for (;;) {
      auto received = cluster->link->receive();
      if (!received) {
        failed(received.error());
        broken = true;
        return;
      }
      if (!*received) break;
      const std::string& text = (*received)->text;
      const int from = (*received)->from;
      if (text.starts_with(kChunk)) {
        if (auto ok = take_chunk(folder, text); !ok) failed(ok.error());
      } else if (text.starts_with(kDone)) {
        auto record = parse_subproblem_record(text);
        if (!record || record->index >= count) {
          failed(cat("rank ", from, " sent a damaged result"));
          continue;
        }
        const std::string piece = piece_path(folder, record->index);
        if (traced && record->decision.outcome == ModuliOutcome::NoCovering &&
            ::rename((piece + ".partial").c_str(), piece.c_str()) != 0) {
          failed(cat("cannot write ", tilvane::quoted(piece), ": ", os_error_description(errno)));
        }
        ledger.record(record->index, std::move(record->decision));
      } else if (text.starts_with(kEnd)) {
        ++ended;
        if (text.starts_with(kEndStopped)) halt.store(true);
        if (text.starts_with(kEndFailed)) {
          failed(cat("rank ", from, ": ", text.substr(kEndFailed.size())));
        }
      }
    }
    if (ledger.horizon() < horizon_sent) {
      horizon_sent = ledger.horizon();
      broadcast(cat(kHorizon, horizon_sent));
    }
    if (halt.load() && !stop_sent) {
      stop_sent = true;
      broadcast(std::string(kStop));
    }
  };
  const auto settle = [&](const SplitResult& r) {
    if (cluster != nullptr) {
      broadcast(cat(kResult, outcome_word(r.decision.outcome)));
      cluster->settled = true;
    }
    return r;
  };
  if (cluster != nullptr) broadcast(begin);
  const auto task = [&](std::size_t k) {
    const std::size_t i = pending[k];
    if (stop()) halt.store(true);
    if (!ledger.needed(i) || halt.load()) return;
    std::optional<PieceFile> piece;
    const std::string partial = traced ? cat(piece_path(folder, i), ".partial") : std::string();
    if (traced) piece.emplace(partial);
    auto decision = decide_moduli_subproblem(
        moduli, split->subproblems[i], budget, s.options, piece ? &*piece : nullptr,
        [&](std::uint64_t) { return ledger.needed(i) && !halt.load(); });
    const int error_number = piece ? piece->close() : 0;
    const bool refuted = decision && decision->outcome == ModuliOutcome::NoCovering;
    std::string wrong;
    if (!decision) wrong = decision.error();
    if (refuted && error_number != 0) {
      wrong =
          cat("cannot write ", tilvane::quoted(partial), ": ", os_error_description(error_number));
    }
    if (refuted && wrong.empty() && traced &&
        ::rename(partial.c_str(), piece_path(folder, i).c_str()) != 0) {
      wrong = cat("cannot write ", tilvane::quoted(piece_path(folder, i)), ": ",
                  os_error_description(errno));
    }
    if (traced && (!refuted || !wrong.empty())) ::unlink(partial.c_str());
    if (!wrong.empty()) return failed(wrong);
    if (decision->outcome != ModuliOutcome::Stopped) ledger.record(i, std::move(*decision));
  };

  auto pool = WorkerPool::start(std::max<std::size_t>(s.threads, 1));
  if (!pool) return std::move(pool).take_error();
  auto next_progress = Clock::now() + s.progress_interval;
  auto next_checkpoint = Clock::now() + s.checkpoint_interval;
  const auto tick = [&] {
    if (stop()) halt.store(true);
    if (cluster != nullptr) serve();
    const auto now = Clock::now();
    if (s.progress && now >= next_progress) {
      next_progress = now + s.progress_interval;
      s.progress(cat("subproblems ", ledger.done_count(), " of ", count, ", ", ledger.nodes(),
                     " nodes, ", elapsed_ms() / 1000, " s"));
    }
    if (s.checkpoint != nullptr && now >= next_checkpoint) {
      next_checkpoint = now + s.checkpoint_interval;
      if (auto ok = save(); !ok) failed(ok.error());
    }
  };
  (*pool)->for_each_index(pending.size(), task, std::chrono::milliseconds(50), tick, &halt);
  while (!broken && ended + 1 < ranks) {
    tick();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!failure.empty()) return fail(failure);

  if (!ledger.complete()) {
    // Stopped before the answer: the checkpoint keeps what is decided.
    result.decision = split->upper;
    for (const SubproblemRecord& r : ledger.records()) add_counts(result.decision, r.decision);
    result.decision.outcome = ModuliOutcome::Stopped;
    if (s.checkpoint != nullptr) {
      if (auto ok = save(); !ok) return std::move(ok).take_error();
      result.checkpoint_written = true;
    } else if (traced) {
      remove_pieces_folder(folder);
    }
    return settle(result);
  }
  result.decision = ledger.answer(split->upper);
  if (result.decision.outcome == ModuliOutcome::NoCovering && traced) {
    if (auto ok = assemble_proof(*s.proof, *split, folder); !ok) return std::move(ok).take_error();
  }
  if (traced) remove_pieces_folder(folder);
  if (s.checkpoint != nullptr) {
    if (auto ok = s.checkpoint->remove(); !ok) return std::move(ok).take_error();
  }
  return settle(result);
}

}  // namespace tilvane
