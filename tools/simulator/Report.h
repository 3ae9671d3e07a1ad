// The machine-readable report of a simulator run (JSON).
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "tools/simulator/Simulator.h"

namespace sim {

struct RunInfo {
  std::string end;    // why the simulator stopped: "signal", "once", "hangup", "time-limit"
  int hostOpens = 0;  // how often the flasher opened the port
  // The settings of the run, each value already a JSON value.
  std::vector<std::pair<std::string, std::string>> settings;
};

struct Summary {
  std::size_t count = 0;
  Micros min{0}, median{0}, p99{0}, max{0};
  Micros total{0};  // where the time of a run goes: the sum, not only the spread
};
// Percentiles by the nearest rank.
Summary Summarize(std::vector<Micros> values);

std::string ReportJson(const Simulator& sim, const RunInfo& info);

// A JSON string literal for `text` (bytes 0x80 and above are passed through).
std::string JsonString(const std::string& text);

}  // namespace sim
