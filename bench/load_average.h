#pragma once

#include <cstdio>
#include <string>

// The 1, 5 and 15 minute load averages, as /proc/loadavg gives them; figures
// measured on a busy machine say little, so every benchmark prints them.
inline std::string LoadAverage() {
  std::FILE* file = std::fopen("/proc/loadavg", "r");
  if (!file) return "unknown";
  double one = 0, five = 0, fifteen = 0;
  const int read = std::fscanf(file, "%lf %lf %lf", &one, &five, &fifteen);
  std::fclose(file);
  if (read != 3) return "unknown";
  char text[64];
  std::snprintf(text, sizeof text, "%.2f %.2f %.2f", one, five, fifteen);
  return text;
}

inline void PrintLoadAverage() { std::printf("load average at start: %s\n", LoadAverage().c_str()); }
