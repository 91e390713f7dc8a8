// The entry point of tilvane-census.
#include "census_tool/census_tool.h"

int main(int argc, char** argv) { return tilvane::census_tool_main(argc, argv); }
