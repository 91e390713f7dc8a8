// The entry point: builds nothing of its own and returns run's exit status.
#include "tilvane/run.h"

int main(int argc, char** argv) { return tilvane::main_entry(argc, argv); }
