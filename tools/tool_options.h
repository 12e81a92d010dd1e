// Command-line values shared by the race tools (dvrace, dvlearn).
#pragma once
#include <cstdlib>
#include <cstring>

// A whole decimal number within low..high; 0 (and *out untouched) otherwise.
inline int parse_count(const char *text, int low, int high, int *out) {
  char *end;
  long v = strtol(text, &end, 10);
  if (end == text || *end || v < low || v > high) return 0;
  *out = (int)v;
  return 1;
}

// A robot skill: "Novice", "Amateur", "Expert" or 0..2. 0 when it is none of them.
inline int parse_skill(const char *text, int *out) {
  static const char *const names[3] = {"Novice", "Amateur", "Expert"};
  for (int k = 0; k < 3; k++)
    if (!strcmp(text, names[k])) {
      *out = k;
      return 1;
    }
  return parse_count(text, 0, 2, out);
}
