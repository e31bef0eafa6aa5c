// The process entry of corveld: tables, command line, run mode.
#pragma once

namespace corvel {

// Loads the account tables (writing missing default files), then runs the plain
// server for a lone "/nontservice" or hands the command line to the service host.
// Always returns 0.
int runCorveld(int argc, char** argv);

}  // namespace corvel
