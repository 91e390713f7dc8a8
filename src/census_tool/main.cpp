// The entry point of tilvane-census; an MPI build starts through the cluster
// entry point, which runs the plain program when no MPI launcher started it.
#include "census_tool/census_tool.h"
#ifdef TILVANE_MPI
#include "census_tool/mpi_run.h"
#endif

int main(int argc, char** argv) {
#ifdef TILVANE_MPI
  return tilvane::census_tool_mpi_main(argc, argv);
#else
  return tilvane::census_tool_main(argc, argv);
#endif
}
