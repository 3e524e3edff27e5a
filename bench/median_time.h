#pragma once

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <vector>

// The median wall time of a few runs, in seconds.
inline double Seconds(const std::function<void()>& work, int runs = 3) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    work();
    times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

// CPU seconds of this process so far: steadier than wall time on a shared machine.
inline double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}
