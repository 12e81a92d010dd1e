// Formatted reading through the data-file layers, as the C library's scanf on a stream.
#include <cctype>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "files/datafile_local.h"

namespace {

// The bytes taken from the handle since the call began, with the one-byte pushback.
struct Scanner {
  DataFile *file;
  long consumed;  // bytes, for %n
};

int next(Scanner *s) {
  int c = datafile_getc(s->file);
  if (c >= 0) s->consumed++;
  return c;
}

void unread(Scanner *s, int c) {
  if (c < 0) return;
  datafile_ungetc(s->file, c);
  s->consumed--;
}

// Skips white space; returns the first other byte (already taken) or -1.
int skip_space(Scanner *s) {
  int c;
  while ((c = next(s)) >= 0 && isspace(c)) {
  }
  return c;
}

enum Size { SIZE_HH, SIZE_H, SIZE_NONE, SIZE_L, SIZE_LL, SIZE_J, SIZE_Z, SIZE_T, SIZE_LD };

void store_integer(va_list *args, Size size, uint64_t v) {
  switch (size) {
    case SIZE_HH: *va_arg(*args, signed char *) = (signed char)v; break;
    case SIZE_H: *va_arg(*args, short *) = (short)v; break;
    case SIZE_NONE: *va_arg(*args, int *) = (int)v; break;
    case SIZE_L: *va_arg(*args, long *) = (long)v; break;
    case SIZE_LL:
    case SIZE_LD: *va_arg(*args, long long *) = (long long)v; break;
    case SIZE_J: *va_arg(*args, intmax_t *) = (intmax_t)v; break;
    case SIZE_Z: *va_arg(*args, size_t *) = (size_t)v; break;
    case SIZE_T: *va_arg(*args, ptrdiff_t *) = (ptrdiff_t)v; break;
  }
}

int digit_value(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

enum Result { OK, MATCH_FAIL, INPUT_FAIL };

// Reads an integer in `base` (0: from the prefix) as strtol/strtoul would convert it.
Result scan_integer(Scanner *s, int base, int is_signed, int width, uint64_t *out) {
  int c = skip_space(s);
  if (c < 0) return INPUT_FAIL;
  int negative = 0, digits = 0, overflow = 0;
  uint64_t magnitude = 0;
  if ((c == '+' || c == '-') && width > 0) {
    negative = c == '-';
    width--;
    c = width > 0 ? next(s) : -2;
  }
  if ((base == 0 || base == 16) && c == '0' && width > 0) {
    digits = 1;
    width--;
    c = width > 0 ? next(s) : -2;
    if ((c == 'x' || c == 'X') && width > 0) {
      base = 16;
      width--;
      c = width > 0 ? next(s) : -2;
    } else if (base == 0) {
      base = 8;
    }
  }
  if (base == 0) base = 10;
  while (width > 0 && c >= 0 && digit_value(c) < base) {
    uint64_t before = magnitude;
    magnitude = magnitude * base + digit_value(c);
    if (magnitude / base != before) overflow = 1;
    digits++;
    width--;
    c = width > 0 ? next(s) : -2;
  }
  unread(s, c);
  if (!digits) return MATCH_FAIL;
  if (is_signed) {
    int64_t v;
    if (negative) v = overflow || magnitude > (uint64_t)INT64_MAX + 1 ? INT64_MIN : (int64_t)(0 - magnitude);
    else v = overflow || magnitude > (uint64_t)INT64_MAX ? INT64_MAX : (int64_t)magnitude;
    *out = (uint64_t)v;
  } else {
    *out = overflow ? UINT64_MAX : negative ? 0 - magnitude : magnitude;
  }
  return OK;
}

// Matches the rest of `word` (lower case) case-insensitively.
int match_word(Scanner *s, const char *word, char *buffer, int *length, int *width) {
  for (; *word; word++) {
    if (*width <= 0) return 0;
    int c = next(s);
    if (c < 0 || tolower(c) != *word) {
      unread(s, c);
      return 0;
    }
    buffer[(*length)++] = (char)c;
    (*width)--;
  }
  return 1;
}

// Reads a floating-point number the way strtod reads one, stopping at the first byte
// that cannot continue it.
Result scan_float(Scanner *s, int width, char *buffer, int buffer_size) {
  int c = skip_space(s);
  if (c < 0) return INPUT_FAIL;
  int n = 0;
  int room = buffer_size - 8;  // slack for the longest word below
  if ((c == '+' || c == '-') && width > 0) {
    buffer[n++] = (char)c;
    width--;
    c = width > 0 ? next(s) : -2;
  }
  if (width > 0 && (tolower(c) == 'i' || tolower(c) == 'n')) {
    buffer[n++] = (char)c;
    width--;
    int ok = tolower(c) == 'i' ? match_word(s, "nf", buffer, &n, &width)
                               : match_word(s, "an", buffer, &n, &width);
    if (!ok) return MATCH_FAIL;
    if (tolower(c) == 'i' && width > 0) {
      int d = next(s);
      if (tolower(d) == 'i') {
        buffer[n++] = (char)d;
        width--;
        if (!match_word(s, "nity", buffer, &n, &width)) return MATCH_FAIL;
      } else {
        unread(s, d);
      }
    }
    buffer[n] = 0;
    return OK;
  }
  int hex = 0, digits = 0, dot = 0, exponent = 0;
  if (c == '0' && width > 0) {
    buffer[n++] = (char)c;
    digits = 1;
    width--;
    c = width > 0 ? next(s) : -2;
    if ((c == 'x' || c == 'X') && width > 0) {
      hex = 1;
      buffer[n++] = (char)c;
      width--;
      c = width > 0 ? next(s) : -2;
    }
  }
  while (width > 0 && c >= 0 && n < room) {
    if (hex ? isxdigit(c) : isdigit(c)) {
      digits++;
    } else if (c == '.' && !dot && !exponent) {
      dot = 1;
    } else if (!exponent && digits && tolower(c) == (hex ? 'p' : 'e')) {
      exponent = 1;
      buffer[n++] = (char)c;
      width--;
      c = width > 0 ? next(s) : -2;
      if ((c == '+' || c == '-') && width > 0) {
        buffer[n++] = (char)c;
        width--;
        c = width > 0 ? next(s) : -2;
      }
      continue;
    } else {
      break;
    }
    buffer[n++] = (char)c;
    width--;
    c = width > 0 ? next(s) : -2;
  }
  unread(s, c);
  buffer[n] = 0;
  return digits ? OK : MATCH_FAIL;
}

}  // namespace

int datafile_vscanf(DataFile *file, const char *format, va_list ap) {
  Scanner scanner = {file, 0};
  Scanner *s = &scanner;
  va_list args;
  va_copy(args, ap);
  int assigned = 0;
  Result failure = OK;
  const unsigned char *p = (const unsigned char *)format;
  while (*p && failure == OK) {
    if (isspace(*p)) {  // any run of white space, including none
      while (isspace(*p)) p++;
      unread(s, skip_space(s));
      continue;
    }
    if (*p != '%' || p[1] == '%') {
      if (*p == '%') {  // "%%" matches one '%' after white space
        p += 2;
        int c = skip_space(s);
        if (c < 0) failure = INPUT_FAIL;
        else if (c != '%') unread(s, c), failure = MATCH_FAIL;
        continue;
      }
      int c = next(s);
      if (c < 0) failure = INPUT_FAIL;
      else if (c != *p) unread(s, c), failure = MATCH_FAIL;
      p++;
      continue;
    }
    p++;
    int suppress = 0;
    if (*p == '*') suppress = 1, p++;
    int width = 0;
    while (isdigit(*p)) width = width > 100000000 ? width : width * 10 + (*p++ - '0');
    Size size = SIZE_NONE;
    switch (*p) {
      case 'h': size = p[1] == 'h' ? (p++, SIZE_HH) : SIZE_H; p++; break;
      case 'l': size = p[1] == 'l' ? (p++, SIZE_LL) : SIZE_L; p++; break;
      case 'q': size = SIZE_LL; p++; break;
      case 'L': size = SIZE_LD; p++; break;
      case 'j': size = SIZE_J; p++; break;
      case 'z': size = SIZE_Z; p++; break;
      case 't': size = SIZE_T; p++; break;
      default: break;
    }
    int conversion = *p;
    if (!conversion) break;
    p++;
    int limit = width > 0 ? width : INT_MAX;
    switch (conversion) {
      case 'd': case 'i': case 'o': case 'u': case 'x': case 'X': {
        int base = conversion == 'd' || conversion == 'u' ? 10 : conversion == 'i' ? 0
                   : conversion == 'o' ? 8 : 16;
        int is_signed = conversion == 'd' || conversion == 'i';
        uint64_t v;
        failure = scan_integer(s, base, is_signed, limit, &v);
        if (failure == OK && !suppress) store_integer(&args, size, v), assigned++;
        break;
      }
      case 'f': case 'F': case 'e': case 'E': case 'g': case 'G': case 'a': case 'A': {
        char text[512];
        failure = scan_float(s, limit, text, sizeof text);
        if (failure != OK || suppress) break;
        char *end;
        if (size == SIZE_LD) {
          long double v = strtold(text, &end);
          if (end == text) { failure = MATCH_FAIL; break; }
          *va_arg(args, long double *) = v;
        } else if (size == SIZE_L) {
          double v = strtod(text, &end);
          if (end == text) { failure = MATCH_FAIL; break; }
          *va_arg(args, double *) = v;
        } else {
          float v = strtof(text, &end);
          if (end == text) { failure = MATCH_FAIL; break; }
          *va_arg(args, float *) = v;
        }
        assigned++;
        break;
      }
      case 's': {
        int c = skip_space(s);
        if (c < 0) { failure = INPUT_FAIL; break; }
        char *out = suppress ? nullptr : va_arg(args, char *);
        int n = 0;
        while (c >= 0 && !isspace(c) && n < limit) {
          if (out) out[n] = (char)c;
          n++;
          c = n < limit ? next(s) : -2;
        }
        unread(s, c);
        if (out) out[n] = 0, assigned++;
        break;
      }
      case 'c': {
        int count = width > 0 ? width : 1;
        int c = next(s);
        if (c < 0) { failure = INPUT_FAIL; break; }
        char *out = suppress ? nullptr : va_arg(args, char *);
        for (int n = 0; n < count && c >= 0; n++) {
          if (out) out[n] = (char)c;
          if (n + 1 < count) c = next(s);
        }
        if (out) assigned++;
        break;
      }
      case '[': {
        // The set: a leading '^' inverts it; a ']' first is a member; a-z is a range.
        bool member[256] = {};
        int invert = 0;
        if (*p == '^') invert = 1, p++;
        const unsigned char *set_start = p;
        while (*p && (*p != ']' || p == set_start)) {
          if (p[1] == '-' && p[2] && p[2] != ']' && p[2] >= p[0]) {
            for (int ch = p[0]; ch <= p[2]; ch++) member[ch] = true;
            p += 3;
          } else {
            member[*p++] = true;
          }
        }
        if (*p == ']') p++;
        char *out = suppress ? nullptr : va_arg(args, char *);
        int n = 0;
        int c = next(s);
        if (c < 0) { failure = INPUT_FAIL; break; }
        while (c >= 0 && member[c] != (bool)invert && n < limit) {
          if (out) out[n] = (char)c;
          n++;
          c = n < limit ? next(s) : -2;
        }
        unread(s, c);
        if (!n) { failure = MATCH_FAIL; break; }
        if (out) out[n] = 0, assigned++;
        break;
      }
      case 'n':
        if (!suppress) store_integer(&args, size, (uint64_t)s->consumed);
        break;
      default:  // an unknown conversion ends the scan
        failure = MATCH_FAIL;
        break;
    }
  }
  va_end(args);
  if (failure == INPUT_FAIL && assigned == 0) return -1;
  return assigned;
}

int datafile_scanf(DataFile *file, const char *format, ...) {
  va_list args;
  va_start(args, format);
  int n = datafile_vscanf(file, format, args);
  va_end(args);
  return n;
}
