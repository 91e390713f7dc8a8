// tilvane-proof-check FILE: replays the refutation traces in FILE and prints
// VERIFIED (exit status 0) or the first bad step (exit status 1).
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "proof_check/proof_check.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: tilvane-proof-check TRACE_FILE\n");
    return 1;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "tilvane-proof-check: cannot read %s\n", argv[1]);
    return 1;
  }
  std::ostringstream text;
  text << in.rdbuf();
  const tilvane::ProofCheck check = tilvane::check_refutation_file(text.str());
  std::printf("%s\n", check.message.c_str());
  return check.verified ? 0 : 1;
}
