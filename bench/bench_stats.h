// Figures the benchmarks share.
#pragma once

#include <algorithm>
#include <vector>

// The middle value of the runs (the upper one of an even count): steadier than the mean on a busy machine.
inline double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}
