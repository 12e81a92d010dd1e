// Key and fixed control names and their event codes, shared by the SDL and null back-ends
// (pure code: no SDL here).
#pragma once
#include <cctype>
#include <cstdio>
#include <cstring>

#include "platform/velk_window.h"

struct KeyName {
  const char *name;
  int scan;  // PC set-1 scan code, 0x100 added for extended keys
};

// The built-in key names, in lookup order (the first of two names for one key is the one
// written back).
inline constexpr KeyName BUILTIN_KEYS[] = {
    {"Esc", 0x01}, {"0", 0x0B}, {"1", 0x02}, {"2", 0x03}, {"3", 0x04}, {"4", 0x05},
    {"5", 0x06}, {"6", 0x07}, {"7", 0x08}, {"8", 0x09}, {"9", 0x0A}, {"A", 0x1E},
    {"B", 0x30}, {"C", 0x2E}, {"D", 0x20}, {"E", 0x12}, {"F", 0x21}, {"G", 0x22},
    {"H", 0x23}, {"I", 0x17}, {"J", 0x24}, {"K", 0x25}, {"L", 0x26}, {"M", 0x32},
    {"N", 0x31}, {"O", 0x18}, {"P", 0x19}, {"Q", 0x10}, {"R", 0x13}, {"S", 0x1F},
    {"T", 0x14}, {"U", 0x16}, {"V", 0x2F}, {"W", 0x11}, {"X", 0x2D}, {"Y", 0x15},
    {"Z", 0x2C}, {"-", 0x0C}, {"=", 0x0D}, {"[", 0x1A}, {"]", 0x1B}, {";", 0x27},
    {"'", 0x28}, {"`", 0x29}, {"\\", 0x2B}, {",", 0x33}, {".", 0x34}, {"/", 0x35},
    {"Backspace", 0x0E}, {"Tab", 0x0F}, {"Enter", 0x1C}, {"Left Ctrl", 0x1D},
    {"Left Shift", 0x2A}, {"Right Shift", 0x36}, {"Space", 0x39}, {" ", 0x39},
    {"Caps Lock", 0x3A}, {"Right Ctrl", 0x11D}, {"Insert", 0x152}, {"Delete", 0x153},
    {"Home", 0x147}, {"End", 0x14F}, {"Page Up", 0x149}, {"Page Down", 0x151},
    {"Up", 0x148}, {"Down", 0x150}, {"Left", 0x14B}, {"Right", 0x14D},
    {"F1", 0x3B}, {"F2", 0x3C}, {"F3", 0x3D}, {"F4", 0x3E}, {"F5", 0x3F},
    {"F6", 0x40}, {"F7", 0x41}, {"F8", 0x42}, {"F9", 0x43}, {"F10", 0x44},
    {"F11", 0x57}, {"F12", 0x58}, {"Pause", 0x45}, {"Num Lock", 0x145},
    {"Keypad /", 0x135}, {"Keypad *", 0x37}, {"Keypad -", 0x4A}, {"Keypad 7", 0x47},
    {"Keypad 8", 0x48}, {"Keypad 9", 0x49}, {"Keypad +", 0x4E}, {"Keypad 4", 0x4B},
    {"Keypad 5", 0x4C}, {"Keypad 6", 0x4D}, {"Keypad 1", 0x4F}, {"Keypad 2", 0x50},
    {"Keypad 3", 0x51}, {"Keypad Enter", 0x11C}, {"Keypad 0", 0x52}, {"Keypad .", 0x53},
};
constexpr int BUILTIN_KEY_COUNT = sizeof BUILTIN_KEYS / sizeof BUILTIN_KEYS[0];
static_assert(BUILTIN_KEY_COUNT == 98, "the built-in key table has 98 names");

struct FixedName {
  const char *name;
  int code;
};
inline constexpr FixedName FIXED_NAMES[] = {
    {"Close", VELK_CLOSE},
    {"Mouse Left", VELK_MOUSE_LEFT},
    {"Mouse Middle", VELK_MOUSE_MIDDLE},
    {"Mouse Right", VELK_MOUSE_RIGHT},
};
constexpr int FIXED_NAME_COUNT = sizeof FIXED_NAMES / sizeof FIXED_NAMES[0];

constexpr int SYSTEM_KEY_NAMES = 512;  // one per scan code, "" when the system has none

// Loose comparison: letter case ignored, white space and '_' count as one blank each.
inline bool key_name_loose_equal(const char *a, const char *b) {
  auto fold = [](unsigned char c) -> int {
    if (c == '_' || isspace(c)) return ' ';
    return tolower(c);
  };
  for (; *a && *b; a++, b++)
    if (fold((unsigned char)*a) != fold((unsigned char)*b)) return false;
  return *a == 0 && *b == 0;
}

// Fixed, system and built-in names, exact then loose, then "0x%x" up to 0x1FF. 1 and the
// event code, or 0. `system_names` may be null.
inline int key_code_of_name(const char *name, const char *const *system_names, int *code) {
  for (int pass = 0; pass < 2; pass++) {
    auto same = [pass](const char *a, const char *b) {
      return pass == 0 ? strcmp(a, b) == 0 : key_name_loose_equal(a, b);
    };
    for (const FixedName &f : FIXED_NAMES)
      if (same(name, f.name)) {
        *code = f.code;
        return 1;
      }
    if (system_names)
      for (int s = 0; s < SYSTEM_KEY_NAMES; s++)
        if (system_names[s][0] && same(name, system_names[s])) {
          *code = VELK_KEY_BASE + s;
          return 1;
        }
    for (const KeyName &k : BUILTIN_KEYS)
      if (same(name, k.name)) {
        *code = VELK_KEY_BASE + k.scan;
        return 1;
      }
  }
  unsigned value;
  int used = 0;
  if (name[0] == '0' && (name[1] == 'x' || name[1] == 'X') && isxdigit((unsigned char)name[2]) &&
      sscanf(name, "%x%n", &value, &used) == 1 && name[used] == 0 && value <= 0x1FF) {
    *code = VELK_KEY_BASE + (int)value;
    return 1;
  }
  return 0;
}

// The name of a fixed or key code: the fixed name, the system name, the built-in name or
// "0x%x" (written into `buf`). Null for any other code.
inline const char *key_name_of_code(int code, const char *const *system_names, char *buf,
                                    size_t size) {
  for (const FixedName &f : FIXED_NAMES)
    if (f.code == code) return f.name;
  if (code < VELK_KEY_BASE || code > VELK_KEY_LAST) return nullptr;
  int scan = code - VELK_KEY_BASE;
  if (system_names && system_names[scan][0]) return system_names[scan];
  for (const KeyName &k : BUILTIN_KEYS)
    if (k.scan == scan) return k.name;
  snprintf(buf, size, "0x%x", scan);
  return buf;
}
