#include "census_tool/mpi_run.h"

#include <mpi.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "base/text_format.h"
#include "census_tool/census_tool.h"
#include "census_tool/cluster_role.h"
#include "census_tool/coordinator.h"
#include "census_tool/message_link.h"
#include "census_tool/rank_worker.h"
#include "census_tool/stop_request.h"
#include "cli/checked_output.h"

namespace tilvane {
namespace {

// Every text of the job travels under this one tag.
constexpr int kTag = 17;

// What the launchers that start MPI jobs put into the environment of each
// process: Open MPI's mpirun, the PMIx and PMI interfaces of srun and of
// other launchers.
constexpr const char* kLauncherVariables[] = {"OMPI_COMM_WORLD_SIZE", "PMIX_RANK", "PMI_RANK",
                                              "PMI_SIZE"};

bool started_by_launcher() {
  return std::any_of(std::begin(kLauncherVariables), std::end(kLauncherVariables),
                     [](const char* name) { return std::getenv(name) != nullptr; });
}

std::string mpi_error_text(int code) {
  char text[MPI_MAX_ERROR_STRING];
  int length = 0;
  if (MPI_Error_string(code, text, &length) != MPI_SUCCESS) return cat("MPI error ", code);
  return std::string(text, static_cast<std::size_t>(length));
}

Status checked(int code, std::string_view what) {
  if (code == MPI_SUCCESS) return {};
  return fail(cat(what, ": ", mpi_error_text(code)));
}

// A rank sends heartbeats four times within the timeout, at most every ten
// seconds and at least every tenth of a second.
std::chrono::milliseconds heartbeat_of(std::chrono::milliseconds timeout) {
  return std::clamp<std::chrono::milliseconds>(timeout / 4, std::chrono::milliseconds(100),
                                               std::chrono::milliseconds(10000));
}

// Texts over MPI_COMM_WORLD. Only the main thread of a process calls MPI
// (MPI_THREAD_FUNNELED), so a probe and the receive after it see the same
// message. source: the rank to hear from, or MPI_ANY_SOURCE.
class MpiLink : public MessageLink {
 public:
  explicit MpiLink(int source) : source_(source) {}

  Status send(int to, std::string text) override {
    if (text.size() > static_cast<std::size_t>(INT_MAX)) {
      return fail(cat("message of ", text.size(), " bytes for rank ", to, " is too long"));
    }
    return checked(
        MPI_Send(text.data(), static_cast<int>(text.size()), MPI_CHAR, to, kTag, MPI_COMM_WORLD),
        cat("cannot send to rank ", to));
  }

  Result<std::optional<Envelope>> receive() override {
    int arrived = 0;
    MPI_Status status;
    if (auto probed = checked(MPI_Iprobe(source_, kTag, MPI_COMM_WORLD, &arrived, &status),
                              "cannot look for messages");
        !probed) {
      return std::move(probed).take_error();
    }
    if (arrived == 0) return std::optional<Envelope>();
    int count = 0;
    if (auto counted = checked(MPI_Get_count(&status, MPI_CHAR, &count), "cannot size a message");
        !counted) {
      return std::move(counted).take_error();
    }
    Envelope envelope{status.MPI_SOURCE, std::string(static_cast<std::size_t>(count), '\0')};
    if (auto got = checked(MPI_Recv(envelope.text.data(), count, MPI_CHAR, status.MPI_SOURCE, kTag,
                                    MPI_COMM_WORLD, MPI_STATUS_IGNORE),
                           cat("cannot receive from rank ", status.MPI_SOURCE));
        !got) {
      return std::move(got).take_error();
    }
    return std::optional<Envelope>(std::move(envelope));
  }

 private:
  int source_;
};

// Rank 0's coordinator hears its own computing thread through the hub and
// every other rank through MPI.
class CoordinatorLink : public MessageLink {
 public:
  CoordinatorLink(LocalHub& hub, MpiLink& mpi) : hub_(hub), mpi_(mpi) {}

  Status send(int to, std::string text) override {
    return to == 0 ? hub_.coordinator_link().send(0, std::move(text))
                   : mpi_.send(to, std::move(text));
  }
  Result<std::optional<Envelope>> receive() override {
    auto local = hub_.coordinator_link().receive();
    if (!local || *local) return local;
    return mpi_.receive();
  }

 private:
  LocalHub& hub_;
  MpiLink& mpi_;
};

class MpiRole : public ClusterRole {
 public:
  MpiRole(int rank, int size) : rank_(rank), size_(size), link_(rank == 0 ? MPI_ANY_SOURCE : 0) {}
  MpiRole(const MpiRole&) = delete;
  MpiRole& operator=(const MpiRole&) = delete;
  ~MpiRole() override {
    if (local_.joinable()) local_.detach();
  }

  bool coordinates() const override { return rank_ == 0; }
  bool must_abort() const { return abort_; }
  std::uint64_t workers() const override { return workers_; }
  std::uint64_t ranks() const override { return static_cast<std::uint64_t>(size_); }
  int rank() const override { return rank_; }
  MessageLink* link() override { return &link_; }

  Result<DriveEnd> drive(WorkerPool& pool, const Decider& decider, const WorkList& work,
                         ExplorationLedger& ledger, const DriveHooks& hooks,
                         const ClusterJob& job) override;
  Result<int> compute(WorkerPool& pool, const Decider& decider, const WorkList& work,
                      const ClusterJob& job) override;
  Result<int> conclude(Result<int> run) override;

 private:
  // How far this process has come: before the ranks agreed to start, after
  // they found one that could not, while the job runs, after it settled.
  enum class Phase { Starting, Refused, Running, Settled };

  // Every process says once, at the same point of its run, whether it got
  // as far as deciding; the answers of all ranks, by rank.
  Result<std::vector<int>> agree(bool ready);

  int rank_;
  int size_;
  MpiLink link_;
  Phase phase_ = Phase::Starting;
  bool abort_ = false;
  std::uint64_t workers_ = 0;
  std::unique_ptr<LocalHub> hub_;
  std::unique_ptr<Coordinator> coordinator_;
  std::thread local_;
  std::optional<Result<int>> local_result_;
};

Result<std::vector<int>> MpiRole::agree(bool ready) {
  int mine = ready ? 1 : 0;
  std::vector<int> all(static_cast<std::size_t>(size_), 0);
  if (auto gathered =
          checked(MPI_Allgather(&mine, 1, MPI_INT, all.data(), 1, MPI_INT, MPI_COMM_WORLD),
                  "cannot agree with the other ranks on the start");
      !gathered) {
    abort_ = true;
    return std::move(gathered).take_error();
  }
  return all;
}

// Rank 0's own threads compute as computing rank 0, on a thread that talks
// to the coordinator through an in-process hub; the main thread serves the
// coordinator and is the only one that calls MPI. Once the job settles the
// computing thread is ended, since its pool, decider and work list belong to
// the caller. On a failure the hub is closed, which makes the computing
// thread start no further candidate, and it is joined for the same reason
// before the failure goes up (the job is aborted after it is reported).
Result<DriveEnd> MpiRole::drive(WorkerPool& pool, const Decider& decider, const WorkList& work,
                                ExplorationLedger& ledger, const DriveHooks& hooks,
                                const ClusterJob& job) {
  auto ready = agree(true);
  if (!ready) return std::move(ready).take_error();
  std::string missing;
  for (std::size_t r = 1; r < ready->size(); ++r) {
    if ((*ready)[r] == 0) missing += cat(missing.empty() ? "" : ", ", r);
  }
  if (!missing.empty()) {
    phase_ = Phase::Refused;
    return fail(cat("rank ", missing, " could not start (see its message); nothing was decided"));
  }
  phase_ = Phase::Running;

  hub_ = std::make_unique<LocalHub>(1);
  coordinator_ =
      std::make_unique<Coordinator>(CoordinatorSettings{job.plan, static_cast<std::size_t>(size_),
                                                        job.rank_timeout, job.chunk_limit},
                                    ledger, hooks.durations, Coordinator::Clock::now());
  const RankWorkerSettings local{
      job.plan, heartbeat_of(job.rank_timeout), {}, job.abandon_searches};
  try {
    local_ = std::thread([this, &pool, &decider, &work, local] {
      local_result_ = run_rank_worker(hub_->rank_link(0), pool, decider, work, local);
    });
  } catch (const std::system_error& e) {
    abort_ = true;
    return fail(cat("cannot start the computing thread of rank 0: ", e.code().message()));
  }
  CoordinatorLink link(*hub_, link_);
  auto end = serve_exploration(link, *coordinator_, ledger, hooks);
  if (!end) {
    hub_->close();
    local_.join();
    return end;
  }
  (void)hub_->coordinator_link().send(0, render_coordinator_message(EndMessage{0}));
  local_.join();
  workers_ = coordinator_->workers();
  phase_ = Phase::Settled;
  return end;
}

Result<int> MpiRole::compute(WorkerPool& pool, const Decider& decider, const WorkList& work,
                             const ClusterJob& job) {
  auto ready = agree(true);
  if (!ready) return std::move(ready).take_error();
  if (std::count(ready->begin(), ready->end(), 0) != 0) {
    phase_ = Phase::Refused;
    return kExitFailure;
  }
  phase_ = Phase::Running;
  const RankWorkerSettings settings{job.plan, heartbeat_of(job.rank_timeout), job.stop_requested,
                                    job.abandon_searches};
  auto status = run_rank_worker(link_, pool, decider, work, settings);
  if (status) phase_ = Phase::Settled;
  return status;
}

// A failure before the start is reported by the rank it happened on, except
// when rank 0 failed too: the ranks run the same command line, so rank 0's
// message says it for all. A failure while the job runs aborts the job,
// since a rank may be waiting for a message that will never come.
Result<int> MpiRole::conclude(Result<int> run) {
  switch (phase_) {
    case Phase::Starting: {
      auto ready = agree(run.ok());
      if (!ready) return std::move(ready).take_error();
      if (rank_ == 0 || run) return run;
      if ((*ready)[0] == 0) return kExitFailure;
      return fail(cat("rank ", rank_, ": ", run.error()));
    }
    case Phase::Refused:
      return run;
    case Phase::Running:
      if (run) return run;
      abort_ = true;
      return rank_ == 0 ? std::move(run)
                        : Result<int>(fail(cat("rank ", rank_, ": ", run.error())));
    case Phase::Settled:
      break;
  }
  if (rank_ != 0) return run;
  for (Outgoing& o : coordinator_->end(run ? *run : kExitFailure)) {
    if (o.to == 0) continue;
    if (auto sent = link_.send(o.to, std::move(o.text)); !sent) {
      abort_ = true;
      return std::move(sent).take_error();
    }
  }
  return run;
}

}  // namespace

int census_tool_mpi_main(int argc, char** argv) {
  if (!started_by_launcher()) return census_tool_main(argc, argv);
  // A stop while MPI starts (which takes seconds) is kept for the run.
  install_stop_handlers();
  int provided = 0;
  if (MPI_Init_thread(&argc, &argv, MPI_THREAD_FUNNELED, &provided) != MPI_SUCCESS) {
    (void)write_all(STDERR_FILENO, "tilvane-census: cannot join the MPI job\n");
    return kExitFailure;
  }
  MPI_Comm_set_errhandler(MPI_COMM_WORLD, MPI_ERRORS_RETURN);
  int rank = 0;
  int size = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &size);
  int code = kExitFailure;
  if (provided < MPI_THREAD_FUNNELED) {
    if (rank == 0) {
      (void)write_all(STDERR_FILENO,
                      "tilvane-census: the MPI library cannot serve a threaded process\n");
    }
  } else {
    MpiRole role(rank, size);
    code = census_tool_main(argc, argv, &role);
    if (role.must_abort()) MPI_Abort(MPI_COMM_WORLD, code);
  }
  MPI_Finalize();
  return code;
}

}  // namespace tilvane
