// The simulator's command line.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tools/simulator/Simulator.h"

namespace sim {

struct Options {
  SimConfig config;
  bool once = false;                // exit after one complete flash dialogue
  Micros linger{15'000'000};        // with once: longest wait for the flasher to close the port
  std::optional<Micros> timeLimit;  // give up after this long (exit code 3)
  std::string attach;               // an existing terminal to use instead of a new pseudo-terminal
  std::string name = "MirbaZento-Simulator";
  bool registerPort = true;
  std::string reportPath;
  std::string flashPath;
  bool verbose = false;
  // The settings as JSON values, for the report.
  std::vector<std::pair<std::string, std::string>> Settings() const;
};

enum class ParseResult { kRun, kHelp, kError };

// Parses argv[1..]; on kError `error` says what is wrong.
ParseResult ParseOptions(const std::vector<std::string>& args, Options& options,
                         std::string& error);

std::string UsageText();

// Exit codes of the program.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitTimeLimit = 3;

}  // namespace sim
