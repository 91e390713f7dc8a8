// tilvane-census on an MPI cluster. Built only when the project is
// configured with TILVANE_MPI; only the tilvane-census executable links it.
#pragma once

namespace tilvane {

// The entry point of an MPI build. A process started by an MPI launcher
// (mpirun, or srun under Slurm) joins the job: rank 0 coordinates and every
// rank, rank 0 included, decides on its own threads (a job of one rank is
// rank 0 alone). A process started any other way never initialises MPI and
// runs exactly as the program built without it.
int census_tool_mpi_main(int argc, char** argv);

}  // namespace tilvane
