// The scanner the track's text files are read with, over a file held in memory.
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "track/track_local.h"

static int is_space(char ch) { return ch == ' ' || (ch >= '\t' && ch <= '\r'); }

static void skip_space(TextCursor *c) {
  while (c->p < c->end && is_space(*c->p)) c->p++;
}

// Copies the characters a number may be made of into `token`; returns how many.
static int number_token(const TextCursor *c, char *token, int size) {
  int n = 0;
  const char *p = c->p;
  while (p < c->end && n < size - 1) {
    char ch = *p;
    if (!(isalnum((unsigned char)ch) || ch == '.' || ch == '+' || ch == '-')) break;
    token[n++] = ch;
    p++;
  }
  token[n] = 0;
  return n;
}

static int scan_float(TextCursor *c, float *out) {
  char token[64];
  if (number_token(c, token, sizeof token) == 0) return 0;
  char *end = nullptr;
  float v = strtof(token, &end);
  if (end == token || !std::isfinite(v)) return 0;
  c->p += end - token;
  *out = v;
  return 1;
}

static int scan_int(TextCursor *c, int *out) {
  char token[64];
  if (number_token(c, token, sizeof token) == 0) return 0;
  // Decimal only, like %d: a sign and digits.
  int n = 0;
  if (token[0] == '+' || token[0] == '-') n = 1;
  if (!isdigit((unsigned char)token[n])) return 0;
  char *end = nullptr;
  long long v = strtoll(token, &end, 10);
  if (v > 2147483647LL) v = 2147483647LL;
  if (v < -2147483647LL - 1) v = -2147483647LL - 1;
  c->p += end - token;
  *out = (int)v;
  return 1;
}

int text_vscan(TextCursor *c, const char *format, va_list args) {
  int assigned = 0;
  const char *f = format;
  while (*f) {
    if (is_space(*f)) {
      while (is_space(*f)) f++;
      skip_space(c);
      continue;
    }
    if (*f != '%') {
      if (c->p >= c->end) return assigned ? assigned : -1;
      if (*c->p != *f) return assigned;
      c->p++;
      f++;
      continue;
    }
    f++;
    int width = 0;
    while (*f >= '0' && *f <= '9') width = width * 10 + (*f++ - '0');
    char conversion = *f ? *f++ : 0;
    skip_space(c);
    if (c->p >= c->end) return assigned ? assigned : -1;
    if (conversion == 'f') {
      float *out = va_arg(args, float *);
      if (!scan_float(c, out)) return assigned;
    } else if (conversion == 'd') {
      int *out = va_arg(args, int *);
      if (!scan_int(c, out)) return assigned;
    } else if (conversion == 's') {
      char *out = va_arg(args, char *);
      int n = 0;
      while (c->p < c->end && !is_space(*c->p) && (width == 0 || n < width)) out[n++] = *c->p++;
      out[n] = 0;
    } else {
      return assigned;  // a directive the track files never use
    }
    assigned++;
  }
  return assigned;
}

int text_scan(TextCursor *c, const char *format, ...) {
  va_list args;
  va_start(args, format);
  int n = text_vscan(c, format, args);
  va_end(args);
  return n;
}

int text_line(TextCursor *c, char *out, size_t size) {
  if (c->p >= c->end || size < 2) return 0;
  size_t n = 0;
  while (c->p < c->end && n < size - 1) {
    char ch = *c->p++;
    out[n++] = ch;
    if (ch == '\n') break;
  }
  out[n] = 0;
  return 1;
}
