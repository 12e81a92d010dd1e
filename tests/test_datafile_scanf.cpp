// datafile_scanf against the C library's own sscanf on the same texts.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "files/files.h"

namespace {

constexpr int SLOTS = 5;
constexpr int SLOT_SIZE = 64;  // bytes, room for any argument below

int library_scan(const char *text, const char *format, ...) {
  va_list args;
  va_start(args, format);
  int n = vsscanf(text, format, args);
  va_end(args);
  return n;
}

int datafile_scan(DataFile *f, const char *format, ...) {
  va_list args;
  va_start(args, format);
  int n = datafile_vscanf(f, format, args);
  va_end(args);
  return n;
}

struct Outcome {
  int result;
  unsigned char slots[SLOTS][SLOT_SIZE];
};

void fill(Outcome *o) { memset(o->slots, 0xab, sizeof o->slots); }

std::string temp_path() { return "/tmp/dv_scanf_" + std::to_string(getpid()); }

// Runs `format` over `text` with sscanf and with datafile_scanf on a file holding it.
// `rest` receives what datafile_scanf left unread.
void run_both(const char *format, const std::string &text, Outcome *lib, Outcome *ours,
              std::string *rest) {
  fill(lib);
  fill(ours);
  lib->result = library_scan(text.c_str(), format, lib->slots[0], lib->slots[1], lib->slots[2],
                             lib->slots[3], lib->slots[4]);
  FILE *f = fopen(temp_path().c_str(), "wb");
  fwrite(text.data(), 1, text.size(), f);
  fclose(f);
  DataFile *d = datafile_open(temp_path().c_str(), "rb");
  ASSERT_TRUE(d);
  ours->result = datafile_scan(d, format, ours->slots[0], ours->slots[1], ours->slots[2],
                               ours->slots[3], ours->slots[4]);
  rest->clear();
  for (int c; (c = datafile_getc(d)) >= 0;) *rest += (char)c;
  datafile_close(d);
  remove(temp_path().c_str());
}

}  // namespace

TEST(DatafileScanf, MatchesTheCLibrary) {
  struct Case {
    const char *format;
    const char *text;
  };
  const Case cases[] = {
      // %d and size letters
      {"%d%n", "42"}, {"%d%n", "  -17xyz"}, {"%d", "+5"}, {"%d", "abc"}, {"%d", ""},
      {"%d", "   "}, {"%d%n", "99999999999"}, {"%d", "-99999999999999999999999"},
      {"%hd%n", "70000"}, {"%hhd", "300"}, {"%ld", "123456789012"},
      {"%lld", "-9223372036854775808"}, {"%qd", "9223372036854775807"}, {"%Ld", "-42"},
      {"%3d%d", "12345"}, {"%d%d", "1"}, {"%d %d%n", "1\n\t 2 "}, {"%2d%n", "-5"},
      // %i with its base from the prefix
      {"%i%n", "0x1A"}, {"%i%n", "017"}, {"%i%n", "-0x10"}, {"%i%n", "08"}, {"%i%n", "0xg"},
      {"%i%n", "0x"}, {"%i", "+077"}, {"%2i%n", "0x5"},
      // %o %u %x %X
      {"%o%n", "777 8"}, {"%o%n", "8"}, {"%x%n", "ff"}, {"%x%n", "0XfF"}, {"%x", "-1"},
      {"%X%n", "DEADbeefz"}, {"%u", "-1"}, {"%u", "4294967296"}, {"%lx", "ffffffffffffffffff"},
      {"%hu", "65537"},
      // floats
      {"%f%n", "3.25"}, {"%f%n", "-2.5e3x"}, {"%f%n", ".5"}, {"%f%n", "1e"}, {"%f%n", "1e+"},
      {"%f%n", "inf"}, {"%f%n", "-Infinity"}, {"%f%n", "nan"}, {"%f%n", "nanx"},
      {"%f%n", "0x1.8p3"}, {"%f", "abc"}, {"%f", "."}, {"%f", "+"}, {"%lf%n", "1.000000000001"},
      {"%Lf%n", "2.5e-3"}, {"%4f%n", "1.23456"}, {"%e%n", "6.02e23"}, {"%g", "-0"},
      {"%f%f%n", "1.5.5"}, {"%lf", "1e400"}, {"%f%n", "12.e5"},
      // strings and characters
      {"%s%n", "  hello world"}, {"%3s%n", "abcdef"}, {"%s", ""}, {"%s %s%n", "a\tb c"},
      {"%c%n", " x"}, {"%3c%n", "abcd"}, {"%5c%n", "ab"}, {" %c", "  q"}, {"%c", ""},
      // scan sets
      {"%[a-c]%n", "abcabd"}, {"%[^,],%d%n", "name,5"}, {"%[]a]%n", "]a]b"},
      {"%[^]]%n", "xy]z"}, {"%2[0-9]%n", "12345"}, {"%[a-]%n", "a-a-b"}, {"%[x]", "abc"},
      {"%[^\n]%n", "one line\nnext"}, {"%[A-Za-z_]%n", "Rabbit_Hill 2"}, {"%[a]", ""},
      // %n, %%, suppression, literals
      {"%n", ""}, {"x%n", "x"}, {"x%n", "y"}, {"%*d %d", "1 2"}, {"%*s%n", "skip this"},
      {"%*d", ""}, {"%*d%d", "5"}, {"%%%d", "%5"}, {" %% %d%n", "  % 7"}, {"%%", "x"},
      {"a%d", "b5"}, {"a%d", ""}, {" %d , %d%n", " 1 ,   2"}, {"%d,%d", "3;4"},
      {"%d %s %c %f %n", "12 ab z 3.5 rest"}, {"%s = %d%n", "xres = 640\n"},
      {"%d\n%n", "5\n\n\n7"}, {"key%d%n", "KEY5"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string("format \"") + c.format + "\" on \"" + c.text + "\"");
    Outcome lib, ours;
    std::string rest;
    run_both(c.format, c.text, &lib, &ours, &rest);
    EXPECT_EQ(ours.result, lib.result);
    for (int i = 0; i < SLOTS; i++) {
      SCOPED_TRACE(i);
      EXPECT_EQ(0, memcmp(lib.slots[i], ours.slots[i], SLOT_SIZE));
    }
  }
}

TEST(DatafileScanf, StopsBeforeTheFirstByteThatDoesNotFit) {
  // What is left after the scan is where the next read starts.
  struct Case {
    const char *format;
    const char *text;
    const char *rest;
  };
  const Case cases[] = {
      {"%d", "123abc", "abc"},       {"%s", "word next", " next"}, {"%f", "1.5e+7;", ";"},
      {"%[a-z]", "abc123", "123"},   {"%3c", "abcdef", "def"},     {"%d", "  x", "x"},
      {"%x", "1fg", "g"},            {"%d ", "5   \n z", "z"},     {"abc", "abd", "d"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.format) + " on " + c.text);
    Outcome lib, ours;
    std::string rest;
    run_both(c.format, c.text, &lib, &ours, &rest);
    EXPECT_EQ(rest, c.rest);
  }
}
