#include "census_tool/split_decision.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <mutex>
#include <optional>
#include <vector>

#include "base/os_error.h"
#include "base/quoted.h"
#include "base/text_format.h"
#include "census/worker_pool.h"
#include "census_tool/moduli_checkpoint.h"
#include "cli/atomic_file.h"
#include "cli/checked_output.h"
#include "cli/read_file.h"

namespace tilvane {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The mark of a folder of trace pieces this program wrote: it holds the
// mark and files named by a subproblem's number, or that number and
// ".partial" while the subproblem is searched.
constexpr std::string_view kPiecesMark = ".tilvane-trace-pieces";

std::string piece_path(const std::string& folder, std::size_t index) {
  return cat(folder, "/", index);
}

bool piece_name(std::string_view name) {
  if (name.ends_with(".partial")) name.remove_suffix(8);
  return !name.empty() &&
         std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Whether path is a folder of trace pieces this program wrote.
bool our_pieces_folder(const std::string& path) {
  std::error_code ec;
  if (!fs::is_directory(fs::symlink_status(path, ec))) return false;
  bool marked = false;
  for (const auto& entry : fs::directory_iterator(path, ec)) {
    const std::string name = entry.path().filename().string();
    if (!entry.is_regular_file(ec)) return false;
    if (name == kPiecesMark) {
      marked = true;
    } else if (!piece_name(name)) {
      return false;
    }
  }
  return marked && !ec;
}

// Makes an empty folder of trace pieces at path: a new one, or one this
// program wrote before, emptied; anything else there makes it fail.
Status fresh_pieces_folder(const std::string& path) {
  std::error_code ec;
  if (our_pieces_folder(path)) fs::remove_all(path, ec);
  if (!fs::create_directory(path, ec)) {
    return fail(cat("cannot make the folder ", tilvane::quoted(path), ": ", ec.message()));
  }
  return write_file_atomically(cat(path, "/", kPiecesMark), "trace pieces of tilvane-census\n");
}

void remove_pieces_folder(const std::string& path) {
  if (!our_pieces_folder(path)) return;
  std::error_code ec;
  fs::remove_all(path, ec);
}

// A trace sink that streams its lines to a file through a buffer.
class PieceFile final : public TraceSink {
 public:
  explicit PieceFile(std::string path) : path_(std::move(path)) {
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) error_ = errno;
  }
  PieceFile(const PieceFile&) = delete;
  PieceFile& operator=(const PieceFile&) = delete;
  ~PieceFile() override {
    if (fd_ >= 0) ::close(fd_);
  }
  void line(std::string_view text) override {
    buffer_ += text;
    buffer_ += '\n';
    if (buffer_.size() >= (1 << 16)) flush();
  }
  // Flushes and closes; the system's error number, or 0.
  int close() {
    flush();
    if (fd_ >= 0 && ::close(fd_) != 0 && error_ == 0) error_ = errno;
    fd_ = -1;
    return error_;
  }

 private:
  void flush() {
    if (error_ == 0 && fd_ >= 0) error_ = write_all(fd_, buffer_);
    buffer_.clear();
  }
  std::string path_;
  std::string buffer_;
  int fd_ = -1;
  int error_ = 0;
};

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

// Flushes the pieces to the disk, so that a checkpoint never names a piece
// that a crash could lose.
void flush_pieces(const std::string& folder) {
  if (folder.empty()) return;
  if (const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
    (void)::syncfs(dir);
    ::close(dir);
  }
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

}  // namespace

std::string trace_pieces_folder(const OutputFile& proof) { return proof.target() + ".pieces"; }

Result<SplitResult> decide_split(std::span<const std::uint64_t> moduli, const SplitSettings& s) {
  const auto stop = [&] { return s.stop && s.stop(); };
  const bool traced = s.proof != nullptr;
  const std::string folder = traced ? trace_pieces_folder(*s.proof) : std::string();
  std::error_code ec;
  if (traced && fs::exists(fs::symlink_status(folder, ec)) && !our_pieces_folder(folder)) {
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
    // Settled above the frontier.
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

  std::vector<std::size_t> pending;
  for (std::size_t i = 0; i < count; ++i) {
    if (!ledger.done(i)) pending.push_back(i);
  }
  std::atomic<bool> halt{false};
  std::mutex failure_mutex;
  std::string failure;
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
    if (!wrong.empty()) {
      std::lock_guard lock(failure_mutex);
      if (failure.empty()) failure = wrong;
      halt.store(true);
      return;
    }
    if (decision->outcome != ModuliOutcome::Stopped) ledger.record(i, std::move(*decision));
  };

  auto pool = WorkerPool::start(std::max<std::size_t>(s.threads, 1));
  if (!pool) return std::move(pool).take_error();
  auto next_progress = Clock::now() + s.progress_interval;
  auto next_checkpoint = Clock::now() + s.checkpoint_interval;
  std::string save_failure;
  (*pool)->for_each_index(
      pending.size(), task, std::chrono::milliseconds(100),
      [&] {
        if (stop()) halt.store(true);
        const auto now = Clock::now();
        if (s.progress && now >= next_progress) {
          next_progress = now + s.progress_interval;
          s.progress(cat("subproblems ", ledger.done_count(), " of ", count, ", ", ledger.nodes(),
                         " nodes, ", elapsed_ms() / 1000, " s"));
        }
        if (s.checkpoint != nullptr && now >= next_checkpoint) {
          next_checkpoint = now + s.checkpoint_interval;
          if (auto ok = save(); !ok && save_failure.empty()) save_failure = ok.error();
        }
      },
      &halt);
  if (!failure.empty()) return fail(failure);
  if (!save_failure.empty()) return fail(save_failure);

  if (!ledger.complete()) {
    // Stopped before the answer: the checkpoint keeps what is decided.
    result.decision = split->upper;
    result.decision.nodes = ledger.nodes();
    result.decision.outcome = ModuliOutcome::Stopped;
    if (s.checkpoint != nullptr) {
      if (auto ok = save(); !ok) return std::move(ok).take_error();
      result.checkpoint_written = true;
    } else if (traced) {
      remove_pieces_folder(folder);
    }
    return result;
  }
  result.decision = ledger.answer(split->upper);
  if (result.decision.outcome == ModuliOutcome::NoCovering && traced) {
    if (auto ok = assemble_proof(*s.proof, *split, folder); !ok) return std::move(ok).take_error();
  }
  if (traced) remove_pieces_folder(folder);
  if (s.checkpoint != nullptr) {
    if (auto ok = s.checkpoint->remove(); !ok) return std::move(ok).take_error();
  }
  return result;
}

}  // namespace tilvane
