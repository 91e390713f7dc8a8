// Reading what a child process writes on two pipes at once, so that neither
// pipe can fill up and stall the child while the other is being read.
#pragma once

#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <string>

namespace tilvane::testing {

// Appends everything read from out_fd and err_fd to out and err until both
// reach end of file; closes both descriptors.
inline void drain_streams(int out_fd, int err_fd, std::string& out, std::string& err) {
  std::array<pollfd, 2> fds = {pollfd{out_fd, POLLIN, 0}, pollfd{err_fd, POLLIN, 0}};
  std::array<std::string*, 2> sinks = {&out, &err};
  int open_count = 2;
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

}  // namespace tilvane::testing
