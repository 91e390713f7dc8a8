// generate_fixtures: writes the expected-set fixture for one census size by
// running the census decision itself, from scratch, over the same candidates
// with the same decision as the census modes.
//
//   generate_fixtures K OUTPUT [--checkpoint FILE] [--max-nodes N]
//
// K is 8, 9, 10 or 11. Every candidate is decided on the worker pool; the
// irreducible sets are written to OUTPUT in fixture format once all are
// decided, and not before. Progress goes to standard error. The decided prefix
// of the candidate list is saved to the checkpoint file (OUTPUT.checkpoint by
// default) every minute and on SIGINT or SIGTERM, so a run that is stopped
// resumes where it stood; the checkpoint is removed once OUTPUT is written.
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/moduli_set_list.h"
#include "base/rendering.h"
#include "base/result.h"
#include "base/text_format.h"
#include "census/aggregate.h"
#include "census/parallel_census.h"
#include "census/worker_pool.h"
#include "engine/irreducibility.h"
#include "engine/search_cache.h"

namespace tilvane {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint64_t default_max_nodes = 50000000;
constexpr auto checkpoint_interval = std::chrono::seconds(60);

struct Options {
  std::size_t k = 0;
  std::string output;
  std::string checkpoint;
  std::uint64_t max_nodes = default_max_nodes;
};

std::optional<std::uint64_t> parse_u64(const std::string& text) {
  if (text.empty() || text.size() > 20) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    if (__builtin_mul_overflow(value, 10, &value) ||
        __builtin_add_overflow(value, static_cast<std::uint64_t>(c - '0'), &value)) {
      return std::nullopt;
    }
  }
  return value;
}

Result<Options> parse_options(int argc, char** argv) {
  const std::string usage =
      "usage: generate_fixtures K OUTPUT [--checkpoint FILE] [--max-nodes N]  (K = 8 to 11)";
  if (argc < 3) return fail(usage);
  Options options;
  const auto k = parse_u64(argv[1]);
  if (!k || *k < 8 || *k > 11) return fail(usage);
  options.k = static_cast<std::size_t>(*k);
  options.output = argv[2];
  options.checkpoint = options.output + ".checkpoint";
  for (int i = 3; i < argc; i += 2) {
    const std::string flag = argv[i];
    if (i + 1 >= argc) return fail(usage);
    const std::string value = argv[i + 1];
    if (flag == "--checkpoint") {
      options.checkpoint = value;
    } else if (flag == "--max-nodes") {
      const auto n = parse_u64(value);
      if (!n || *n == 0) return fail(usage);
      options.max_nodes = *n;
    } else {
      return fail(usage);
    }
  }
  return options;
}

// Writes text to path so that the file holds either its old contents or all
// of text, never a part: the text goes to a temporary file beside it, is
// flushed to disk, and the temporary file is renamed over path.
Status write_file_atomically(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".tmp";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return fail(cat("cannot create ", temporary, ": ", std::strerror(errno)));
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = errno;
      ::close(fd);
      return fail(cat("cannot write ", temporary, ": ", std::strerror(error)));
    }
    written += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0) {
    return fail(cat("cannot flush ", temporary, ": ", std::strerror(errno)));
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    return fail(cat("cannot rename ", temporary, " to ", path, ": ", std::strerror(errno)));
  }
  return {};
}

// FNV-1a over the sizes and moduli of every candidate: a checkpoint made for
// another candidate list is refused instead of being resumed.
std::uint64_t fingerprint(const ModuliSetList& candidates) {
  std::uint64_t hash = 14695981039346656037ULL;
  const auto mix = [&hash](std::uint64_t value) {
    for (int byte = 0; byte < 8; ++byte) {
      hash ^= (value >> (8 * byte)) & 0xff;
      hash *= 1099511628211ULL;
    }
  };
  for (const ModuliSet& set : candidates) {
    mix(set.size());
    for (std::uint64_t m : set) mix(m);
  }
  return hash;
}

// The settled part of a run: candidates [0, decided) are decided without
// error; nodes is their node total and found the positions of those that are
// irreducible, in increasing order.
struct Progress {
  std::size_t decided = 0;
  std::uint64_t nodes = 0;
  std::vector<std::size_t> found;
};

constexpr std::string_view checkpoint_title = "tilvane fixture checkpoint 1";

std::string checkpoint_text(std::size_t k, const ModuliSetList& candidates,
                            std::uint64_t candidates_fingerprint, const Progress& progress) {
  std::string text =
      cat(checkpoint_title, "\nk ", k, "\ncandidates ", candidates.size(), "\nfingerprint ",
          candidates_fingerprint, "\ndecided ", progress.decided, "\nnodes ", progress.nodes, "\n");
  for (std::size_t i : progress.found) text += cat("found ", i, "\n");
  text += "end\n";
  return text;
}

// Reads a checkpoint written by checkpoint_text for the same k and candidate
// list. No file means a fresh start; anything else that does not match is an
// error, so a stale or damaged checkpoint is never silently resumed.
Result<Progress> read_checkpoint(const std::string& path, std::size_t k,
                                 const ModuliSetList& candidates) {
  std::error_code exists_error;
  if (!std::filesystem::exists(path, exists_error) && !exists_error) return Progress{};
  std::ifstream in(path);
  if (!in) return fail(cat("cannot open checkpoint ", path));
  const std::string bad = cat("checkpoint ", path,
                              " does not belong to this candidate list or is damaged; "
                              "remove it to start afresh");
  std::string line;
  if (!std::getline(in, line) || line != checkpoint_title) return fail(bad);
  const auto field = [&](std::string_view name) -> std::optional<std::uint64_t> {
    std::string l;
    if (!std::getline(in, l) || l.rfind(cat(name, " "), 0) != 0) return std::nullopt;
    return parse_u64(l.substr(name.size() + 1));
  };
  const auto stored_k = field("k");
  const auto count = field("candidates");
  const auto print = field("fingerprint");
  const auto decided = field("decided");
  const auto nodes = field("nodes");
  if (!stored_k || *stored_k != k || !count || *count != candidates.size() || !print ||
      *print != fingerprint(candidates) || !decided || *decided > candidates.size() || !nodes) {
    return fail(bad);
  }
  Progress progress;
  progress.decided = static_cast<std::size_t>(*decided);
  progress.nodes = *nodes;
  while (std::getline(in, line)) {
    if (line == "end") return progress;
    if (line.rfind("found ", 0) != 0) return fail(bad);
    const auto index = parse_u64(line.substr(6));
    if (!index || *index >= progress.decided ||
        (!progress.found.empty() && *index <= progress.found.back())) {
      return fail(bad);
    }
    progress.found.push_back(static_cast<std::size_t>(*index));
  }
  return fail(bad);  // no end line: the file was cut short
}

std::string duration_text(double seconds) {
  if (!(seconds >= 0) || seconds > 1e8) return "?";
  const auto s = static_cast<std::uint64_t>(seconds);
  char buffer[32];
  std::snprintf(
      buffer, sizeof buffer, "%llu:%02llu:%02llu", static_cast<unsigned long long>(s / 3600),
      static_cast<unsigned long long>(s / 60 % 60), static_cast<unsigned long long>(s % 60));
  return buffer;
}

std::atomic<int> stop_signal{0};
extern "C" void on_stop_signal(int signal_number) { stop_signal.store(signal_number); }

// One sitting of the decision: the workers decide the candidates from
// progress.decided on, each writing its own slot and then raising its done
// flag; the monitor (the calling thread's companion) folds the contiguous run
// of done slots into the progress, writes the checkpoint now and then, and
// shows the rate. It stops folding at the first failing candidate, so the
// checkpoint never holds a candidate after an unsettled one.
class Sitting {
 public:
  Sitting(const Options& options, const ModuliSetList& candidates, Progress progress)
      : options_(options),
        candidates_(candidates),
        fingerprint_(fingerprint(candidates)),
        progress_(std::move(progress)),
        slots_(candidates.size(), Result<IrreducibleDecision>(IrreducibleDecision{})),
        done_(candidates.size()) {}

  // Decides everything left; returns the first error text in candidate order.
  Status run(WorkerPool& pool) {
    const std::size_t first = progress_.decided;
    start_ = Clock::now();
    std::thread monitor([this] { monitor_loop(); });
    SearchCache cache(options_.max_nodes);
    pool.for_each_index(candidates_.size() - first, [&](std::size_t j) {
      const std::size_t i = first + j;
      slots_[i] = decide_irreducible_moduli(candidates_[i], options_.max_nodes, cache);
      if (slots_[i]) session_nodes_.fetch_add(slots_[i]->nodes, std::memory_order_relaxed);
      done_[i].store(1, std::memory_order_release);
      session_done_.fetch_add(1, std::memory_order_relaxed);
    });
    {
      std::lock_guard lock(monitor_mutex_);
      finished_ = true;
    }
    monitor_wake_.notify_one();
    monitor.join();
    Status folded = fold();
    Status saved = save();
    show_progress(true);
    if (!folded) return folded;
    return saved;
  }

  const Progress& progress() const { return progress_; }

 private:
  // Moves the contiguous run of decided slots into the progress.
  Status fold() {
    while (progress_.decided < candidates_.size() &&
           done_[progress_.decided].load(std::memory_order_acquire) != 0) {
      const std::size_t i = progress_.decided;
      const Result<IrreducibleDecision>& slot = slots_[i];
      if (!slot) return fail(cat("candidate ", render_set(candidates_[i]), ": ", slot.error()));
      if (__builtin_add_overflow(progress_.nodes, slot->nodes, &progress_.nodes)) {
        return fail("node total overflow");
      }
      if (slot->irreducible) progress_.found.push_back(i);
      ++progress_.decided;
    }
    return {};
  }

  Status save() {
    return write_file_atomically(options_.checkpoint,
                                 checkpoint_text(options_.k, candidates_, fingerprint_, progress_));
  }

  void monitor_loop() {
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    const auto show_every = terminal ? std::chrono::seconds(1) : std::chrono::seconds(30);
    auto next_show = Clock::now() + show_every;
    auto next_save = Clock::now() + checkpoint_interval;
    std::unique_lock lock(monitor_mutex_);
    while (!finished_) {
      monitor_wake_.wait_for(lock, std::chrono::milliseconds(250));
      if (finished_) return;
      const int signal_number = stop_signal.load();
      const auto now = Clock::now();
      if (signal_number != 0 || now >= next_save) {
        Status folded = fold();
        Status saved = save();
        if (!saved) std::cerr << "\n" << saved.error() << "\n";
        if (signal_number != 0) {
          show_progress(true);
          std::cerr << "stopped by signal " << signal_number << "; "
                    << (saved ? "progress saved to " + options_.checkpoint : "progress not saved")
                    << "\n";
          std::_Exit(128 + signal_number);
        }
        if (!folded) {
          // A failing candidate ends the census anyway; wait for the rest
          // only to report it in candidate order.
          next_save = Clock::time_point::max();
        } else {
          next_save = now + checkpoint_interval;
        }
      }
      if (now >= next_show) {
        show_progress(false);
        next_show = now + show_every;
      }
    }
  }

  void show_progress(bool final_line) {
    const double elapsed = std::chrono::duration<double>(Clock::now() - start_).count();
    const std::size_t session = session_done_.load(std::memory_order_relaxed);
    const std::size_t done = first_decided_ + session;
    const std::size_t total = candidates_.size();
    const double rate = elapsed > 0 ? static_cast<double>(session) / elapsed : 0;
    const double node_rate =
        elapsed > 0 ? static_cast<double>(session_nodes_.load(std::memory_order_relaxed)) / elapsed
                    : 0;
    const double left = rate > 0 ? static_cast<double>(total - done) / rate : -1;
    char line[256];
    std::snprintf(
        line, sizeof line,
        "k=%zu: %zu/%zu candidates (%.1f%%), %.1f candidates/s, %.3g nodes/s, "
        "elapsed %s, remaining %s",
        options_.k, done, total,
        total > 0 ? 100.0 * static_cast<double>(done) / static_cast<double>(total) : 100.0, rate,
        node_rate, duration_text(elapsed).c_str(),
        done == total ? "0:00:00" : duration_text(left).c_str());
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    std::cerr << (terminal ? "\r" : "") << line << (terminal && !final_line ? "" : "\n")
              << std::flush;
  }

  const Options& options_;
  const ModuliSetList& candidates_;
  const std::uint64_t fingerprint_;
  Progress progress_;
  const std::size_t first_decided_ = progress_.decided;
  std::vector<Result<IrreducibleDecision>> slots_;
  std::vector<std::atomic<std::uint8_t>> done_;
  std::atomic<std::size_t> session_done_{0};
  std::atomic<std::uint64_t> session_nodes_{0};
  Clock::time_point start_;
  std::mutex monitor_mutex_;
  std::condition_variable monitor_wake_;
  bool finished_ = false;
};

std::string fixture_text(const ModuliSetList& sets) {
  std::string text;
  for (const ModuliSet& set : sets) {
    for (std::size_t i = 0; i < set.size(); ++i) text += cat(i == 0 ? "" : " ", set[i]);
    text += "\n";
  }
  return text;
}

Status generate(const Options& options) {
  const auto wall_start = Clock::now();
  auto candidates = fixture_census_candidates(options.k);
  if (!candidates) return std::move(candidates).take_error();
  std::cerr << "k=" << options.k << ": " << candidates->size() << " candidates generated in "
            << std::chrono::duration<double>(Clock::now() - wall_start).count() << " s\n";

  auto progress = read_checkpoint(options.checkpoint, options.k, *candidates);
  if (!progress) return std::move(progress).take_error();
  if (progress->decided > 0) {
    std::cerr << "resuming from " << options.checkpoint << ": " << progress->decided
              << " candidates decided, " << progress->found.size() << " irreducible\n";
  }

  auto pool = shared_worker_pool();
  if (!pool) return std::move(pool).take_error();
  std::cerr << "deciding on " << (*pool)->worker_count() << " workers with max-nodes "
            << options.max_nodes << "\n";
  std::signal(SIGINT, on_stop_signal);
  std::signal(SIGTERM, on_stop_signal);

  Sitting sitting(options, *candidates, std::move(progress).value());
  Status decided = sitting.run(**pool);
  if (!decided) return decided;

  const Progress& done = sitting.progress();
  ModuliSetList found;
  for (std::size_t i : done.found) found.push_back((*candidates)[i]);
  auto aggregate = aggregate_found_sets(
      found, candidates->size(), {"reciprocal-sum overflow", "fraction comparison overflow"});
  if (!aggregate) return std::move(aggregate).take_error();

  const std::string text = fixture_text(found);
  Status written = write_file_atomically(options.output, text);
  if (!written) return written;
  std::remove(options.checkpoint.c_str());

  std::cerr << "wrote " << options.output << ": " << found.size() << " sets, " << text.size()
            << " bytes; " << candidates->size() << " candidates, " << done.nodes
            << " nodes; minimum largest modulus " << render_optional(aggregate->min_largest_modulus)
            << ", maximum largest modulus " << render_optional(aggregate->max_largest_modulus)
            << ", maximum reciprocal sum " << render_fraction(aggregate->max_reciprocal_sum)
            << "; this sitting took "
            << std::chrono::duration<double>(Clock::now() - wall_start).count() << " s\n";
  return {};
}

}  // namespace
}  // namespace tilvane

int main(int argc, char** argv) {
  auto options = tilvane::parse_options(argc, argv);
  if (!options) {
    std::cerr << options.error() << "\n";
    return 2;
  }
  tilvane::Status status = tilvane::generate(*options);
  if (!status) {
    std::cerr << "generate_fixtures: " << status.error() << "\n";
    return 1;
  }
  return 0;
}
