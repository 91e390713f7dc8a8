// Running the built program as a child process: where its standard output and
// standard error go, and what it wrote there, its exit status and its peak
// memory. Every test that runs the program goes through here.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace tilvane::testing {

// Where one of the program's two output streams goes.
struct Sink {
  enum Kind { Pipe, Closed, DevFull, Descriptor };
  Kind kind = Pipe;
  // For Descriptor: the descriptor the program gets (a terminal's slave
  // side, say), and the one read in its place (the master side), or -1 when
  // nothing is read. The run takes both over and closes them.
  int child_fd = -1;
  int read_fd = -1;
};

struct ProgramOptions {
  std::string binary = TILVANE_BINARY;  // the executable to run
  std::vector<std::string> args;        // after the program name
  std::string program_name = "tilvane";
  std::string dir;  // runs there when not empty
  Sink out;
  Sink err;
  bool one_cpu = false;  // pinned to the first CPU of this process's mask
};

// The options of a plain run with these arguments.
inline ProgramOptions with_args(std::vector<std::string> args) {
  ProgramOptions options;
  options.args = std::move(args);
  return options;
}

struct ProgramOutcome {
  std::string out;
  std::string err;
  int status = -1;    // the exit status, or 128 plus the signal that ended it
  long peak_kib = 0;  // the program's peak resident memory
};

// Appends everything read from out_fd and err_fd (either may be -1) to out
// and err until both reach end of file, reading both at once so that neither
// can fill up and stall the program; closes both. A terminal whose other side
// has closed reports EIO, which ends it too.
inline void drain_streams(int out_fd, int err_fd, std::string& out, std::string& err) {
  std::array<pollfd, 2> fds = {pollfd{out_fd, POLLIN, 0}, pollfd{err_fd, POLLIN, 0}};
  std::array<std::string*, 2> sinks = {&out, &err};
  int open_count = (out_fd >= 0) + (err_fd >= 0);
  while (open_count > 0) {
    if (::poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (std::size_t i = 0; i < fds.size(); ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[65536];
      const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
}

// Everything fd gives until end of file, an error, or, for a descriptor that
// does not block, until nothing more is waiting.
inline std::string read_available(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t got;
  while ((got = ::read(fd, buffer, sizeof buffer)) > 0) {
    text.append(buffer, static_cast<std::size_t>(got));
  }
  return text;
}

// A pipe whose read end never blocks, standing in for a terminal or a
// report's destination: take() gives what was written since the last look.
struct Pipe {
  Pipe() {
    EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0) << std::strerror(errno);
    ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
  }
  ~Pipe() {
    for (int fd : fds) {
      if (fd >= 0) ::close(fd);
    }
  }
  std::string take() const { return read_available(fds[0]); }
  int fds[2] = {-1, -1};
};

// A run of the program that has been started and not yet collected, so that
// a test can act on a file while the program has it open.
class ProgramRun {
 public:
  explicit ProgramRun(const ProgramOptions& options) {
    std::vector<std::string> texts = {options.program_name};
    texts.insert(texts.end(), options.args.begin(), options.args.end());
    std::vector<char*> argv;
    for (std::string& text : texts) argv.push_back(text.data());
    argv.push_back(nullptr);
    const std::array<Sink, 2> sinks = {options.out, options.err};
    std::array<std::array<int, 2>, 2> pipes = {{{-1, -1}, {-1, -1}}};
    for (std::size_t i = 0; i < 2; ++i) {
      if (sinks[i].kind == Sink::Pipe && ::pipe2(pipes[i].data(), O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return;
      }
    }

    pid_ = ::fork();
    if (pid_ == 0) {
      if (!options.dir.empty() && ::chdir(options.dir.c_str()) != 0) ::_exit(126);
      if (options.one_cpu && !pin_to_first_cpu()) ::_exit(126);
      for (std::size_t i = 0; i < 2; ++i) {
        const int target = i == 0 ? STDOUT_FILENO : STDERR_FILENO;
        switch (sinks[i].kind) {
          case Sink::Pipe:
            ::dup2(pipes[i][1], target);
            break;
          case Sink::Closed:
            ::close(target);
            break;
          case Sink::DevFull: {
            const int full = ::open("/dev/full", O_WRONLY);
            if (full < 0) ::_exit(126);
            ::dup2(full, target);
            ::close(full);
            break;
          }
          case Sink::Descriptor:
            ::dup2(sinks[i].child_fd, target);
            break;
        }
      }
      for (const Sink& sink : sinks) {
        for (int fd : {sink.child_fd, sink.read_fd}) {
          if (fd > STDERR_FILENO) ::close(fd);
        }
      }
      ::execv(options.binary.c_str(), argv.data());
      ::_exit(127);
    }
    for (std::size_t i = 0; i < 2; ++i) {
      if (sinks[i].kind == Sink::Pipe) {
        ::close(pipes[i][1]);
        read_fds_[i] = pipes[i][0];
      } else if (sinks[i].kind == Sink::Descriptor) {
        read_fds_[i] = sinks[i].read_fd;
      }
    }
    // The program's side of a terminal shared by both streams is closed once.
    if (sinks[0].kind == Sink::Descriptor) ::close(sinks[0].child_fd);
    if (sinks[1].kind == Sink::Descriptor && sinks[1].child_fd != sinks[0].child_fd) {
      ::close(sinks[1].child_fd);
    }
  }

  // The program's process, for a signal.
  pid_t pid() const { return pid_; }

  // Drains both streams together until the program ends.
  ProgramOutcome finish() {
    ProgramOutcome outcome;
    drain_streams(read_fds_[0], read_fds_[1], outcome.out, outcome.err);
    if (pid_ < 0) return outcome;
    int wait_status = 0;
    rusage usage{};
    while (::wait4(pid_, &wait_status, 0, &usage) < 0 && errno == EINTR) {
    }
    outcome.peak_kib = usage.ru_maxrss;
    outcome.status =
        WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
    return outcome;
  }

 private:
  static bool pin_to_first_cpu() {
    cpu_set_t mask;
    CPU_ZERO(&mask);
    if (sched_getaffinity(0, sizeof mask, &mask) != 0) return false;
    int first = 0;
    while (!CPU_ISSET(first, &mask)) ++first;
    CPU_ZERO(&mask);
    CPU_SET(first, &mask);
    return sched_setaffinity(0, sizeof mask, &mask) == 0;
  }

  pid_t pid_ = -1;
  std::array<int, 2> read_fds_ = {-1, -1};
};

inline ProgramOutcome run_program(const ProgramOptions& options) {
  return ProgramRun(options).finish();
}

}  // namespace tilvane::testing
