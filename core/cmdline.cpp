// The command line: RunOptions and their defaults, the argument cursor and the option table.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/core.h"
#include "files/config.h"
#include "files/files.h"
#include "platform/velk.h"

// ---- module state: the options, for the life of the process ----
static RunOptions g_options;

RunOptions *run_options() { return &g_options; }

void run_options_defaults(RunOptions *o) {
  *o = RunOptions{};
  o->mmx = cpu_has_mmx() != 0;
  o->erosion = 0;
  o->max_detail_distance = 70;  // ft
  o->detail_fade_end = 75;      // ft
  o->lod_scale = 1;
  o->show_paused = true;
  o->show_hud = true;
  o->width = 640;
  o->height = 480;
  o->depth = 16;
  o->zdepth = 16;
  o->chase_center = vec3(0, 2.52f, 0.52f);  // ft
  o->ground_detail = 0.125f;
}

void run_options_from_config(RunOptions *o) {
  ConfigRunDefaults d = config_run_defaults();
  o->texture_detail = d.texture_detail;
  o->ground_texture_detail = d.ground_texture_detail;
  o->roost_frequency = d.roost_frequency;
  o->ground_detail = d.ground_detail > 0 ? 0.125f / d.ground_detail : 0.125f;
  o->lod_scale = d.lod_scale;
  o->lod_bias = d.lod_bias;
  o->learn_lines = d.learn != 0;
  o->width = d.width;
  o->height = d.height;
  o->draw_fps = d.draw_fps;
  o->draw_time = d.draw_time;
  o->draw_ping = d.draw_ping;
}

// ---- the argument cursor ----

int match_option(ArgCursor *cursor, const char *name, const char **value) {
  if (cursor->left <= 0 || cursor->options_ended) return 0;
  const char *arg = cursor->current[0];
  if (!value) {
    if (strcmp(arg, name) != 0) return 0;
    cursor->current++;
    cursor->left--;
    return 1;
  }
  if (!strcmp(arg, "--")) {
    cursor->options_ended = true;
    cursor->current++;
    cursor->left--;
    return 0;
  }
  size_t n = strlen(name);
  if (!strcmp(arg, name)) {
    *value = cursor->left > 1 ? cursor->current[1] : nullptr;
    int taken = cursor->left > 1 ? 2 : 1;
    cursor->current += taken;
    cursor->left -= taken;
    return 1;
  }
  if (!strncmp(arg, name, n) && arg[n] == '=') {
    *value = arg + n + 1;
    cursor->current++;
    cursor->left--;
    return 1;
  }
  return 0;
}

// ---- the option table ----

namespace {

constexpr int GO_ON = -1;

int read_int(const char *value, int *out) { return value && sscanf(value, "%d", out) == 1; }
// Infinite and NaN values are refused: every float option feeds geometry or timing.
int read_float(const char *value, float *out) {
  float v;
  if (!value || sscanf(value, "%f", &v) != 1 || !std::isfinite(v)) return 0;
  *out = v;
  return 1;
}
int clamp_int(int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; }
float clamp_float(float v, float lo, float hi) { return v < lo ? lo : v > hi ? hi : v; }

// The options that take a decimal integer with no error check (text that is not a number
// gives 0); a missing value leaves the setting as it was.
int loose_int(const char *value, int *out) {
  if (value) *out = atoi(value);
  return GO_ON;
}

struct Option {
  const char *name;
  bool takes_value;
  // Applies the option; returns GO_ON, or 0 when the value could not be read (the
  // option's "Bad arg" message follows), or an exit status + 1 to end with.
  int (*apply)(RunOptions *o, const char *value);
};

const int BAD = 0;
const int EXIT_OK = 1;  // exit status 0

const Option OPTIONS[] = {
    {"--fugly", false, [](RunOptions *o, const char *) { o->flat_shading = true; return GO_ON; }},
    {"--nosound", false, [](RunOptions *o, const char *) { o->sound_off = true; return GO_ON; }},
    {"--novertexarrays", false,
     [](RunOptions *o, const char *) { o->no_vertex_arrays = true; return GO_ON; }},
    {"--learn", false, [](RunOptions *o, const char *) { o->learn_lines = true; return GO_ON; }},
    {"--nolearn", false, [](RunOptions *o, const char *) { o->learn_lines = false; return GO_ON; }},
    {"--nommx", false,
     [](RunOptions *o, const char *) {
       if (o->mmx) velk_log("Ignoring MMX\n");
       o->mmx = false;
       return GO_ON;
     }},
    {"--debug", false, [](RunOptions *o, const char *) { o->debug_level = 1; return GO_ON; }},
    {"--super-debug", false, [](RunOptions *o, const char *) { o->debug_level = 2; return GO_ON; }},
    {"--practice", false, [](RunOptions *o, const char *) { o->practice = true; return GO_ON; }},
    {"--warp", false, [](RunOptions *o, const char *) { o->warp = true; return GO_ON; }},
    {"--texture-detail", true,
     [](RunOptions *o, const char *v) {
       int n;
       if (!read_int(v, &n)) return BAD;
       o->texture_detail = o->ground_texture_detail = clamp_int(n, 0, 4);
       return GO_ON;
     }},
    {"--ground-texture-detail", true,
     [](RunOptions *o, const char *v) {
       int n;
       if (!read_int(v, &n)) return BAD;
       o->ground_texture_detail = clamp_int(n, 0, 4);
       return GO_ON;
     }},
    {"--roostfrequency", true,
     [](RunOptions *o, const char *v) {
       int n;
       if (!read_int(v, &n)) return BAD;
       o->roost_frequency = clamp_int(n, 0, 1000);
       return GO_ON;
     }},
    {"--erode", true,
     [](RunOptions *o, const char *v) {
       float f;
       if (!read_float(v, &f)) return BAD;
       o->erosion = clamp_float(f, 0, 100);
       return GO_ON;
     }},
    {"--detail", true,
     [](RunOptions *o, const char *v) { return read_float(v, &o->ground_detail) ? GO_ON : BAD; }},
    {"--max-detail-distance", true,
     [](RunOptions *o, const char *v) {
       float f;
       if (!read_float(v, &f)) return BAD;
       o->max_detail_distance = f;
       o->detail_fade_end = f + 5;
       return GO_ON;
     }},
    {"--lod-scale", true,
     [](RunOptions *o, const char *v) {
       float f;
       if (!read_float(v, &f)) return BAD;
       o->lod_scale = clamp_float(f, 1e-6f, 1e6f);
       return GO_ON;
     }},
    {"--lod-bias", true,
     [](RunOptions *o, const char *v) { return read_float(v, &o->lod_bias) ? GO_ON : BAD; }},
    {"--lock-fps", true,
     [](RunOptions *o, const char *v) { return read_float(v, &o->locked_fps) ? GO_ON : BAD; }},
    {"--fake-lag", true,
     [](RunOptions *o, const char *v) {
       float ms;
       if (!read_float(v, &ms)) return BAD;
       double s = ms * 0.001;
       o->fake_lag = s < 0 ? 0 : s > 1 ? 1 : s;
       return GO_ON;
     }},
    {"--fake-loss", true,
     [](RunOptions *o, const char *v) {
       int n;
       if (!read_int(v, &n)) return BAD;
       o->fake_loss = clamp_int(n, 0, 100);
       return GO_ON;
     }},
    {"--record-audio", true,
     [](RunOptions *o, const char *v) {
       if (v) o->record_audio = v;
       return GO_ON;
     }},
    {"--record-video", false, [](RunOptions *o, const char *) { o->record_video = true; return GO_ON; }},
    {"--rotate-lineup", true,
     [](RunOptions *o, const char *v) {
       read_int(v, &o->rotate_lineup);  // a failed read leaves 0
       return GO_ON;
     }},
    {"--editor", false, [](RunOptions *o, const char *) { o->editor = true; return GO_ON; }},
    {"--hidden-pause", false, [](RunOptions *o, const char *) { o->show_paused = false; return GO_ON; }},
    {"--hidden-hud", false, [](RunOptions *o, const char *) { o->show_hud = false; return GO_ON; }},
    {"--bikes", true,
     [](RunOptions *, const char *) {
       fprintf(stderr, "--bikes doesn't do anything anymore\n");
       return GO_ON;
     }},
    {"--width", true,
     [](RunOptions *o, const char *v) {
       read_int(v, &o->width);  // a failed read leaves it unchanged
       return GO_ON;
     }},
    {"--height", true,
     [](RunOptions *o, const char *v) {
       read_int(v, &o->height);
       return GO_ON;
     }},
    {"--depth", true, [](RunOptions *o, const char *v) { return loose_int(v, &o->depth); }},
    {"--zdepth", true, [](RunOptions *o, const char *v) { return loose_int(v, &o->zdepth); }},
    {"--draw-fps", true, [](RunOptions *o, const char *v) { return loose_int(v, &o->draw_fps); }},
    {"--draw-time", true, [](RunOptions *o, const char *v) { return loose_int(v, &o->draw_time); }},
    {"--draw-ping", true, [](RunOptions *o, const char *v) { return loose_int(v, &o->draw_ping); }},
    {"--draw-render-stats", true,
     [](RunOptions *o, const char *v) { return loose_int(v, &o->draw_render_stats); }},
    {"--accurate-skip", false,
     [](RunOptions *o, const char *) { o->accurate_skip = true; return GO_ON; }},
    {"--track", true,
     [](RunOptions *o, const char *v) {
       if (v) o->track = v;
       return GO_ON;
     }},
    {"--connect", true,
     [](RunOptions *o, const char *v) {
       if (v) o->connect = strncmp(v, "dirtvane:", 9) ? v : v + 9;
       return GO_ON;
     }},
    {"--password", true,
     [](RunOptions *o, const char *v) {
       if (v) o->password = v;
       return GO_ON;
     }},
    {"--chase-center", true,
     [](RunOptions *o, const char *v) {
       float x, y, z;
       if (!v || sscanf(v, "%f,%f,%f", &x, &y, &z) != 3) return BAD;
       if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z)) return BAD;
       o->chase_center = vec3(x, y, z);
       return GO_ON;
     }},
    {"--open-home", false,
     [](RunOptions *, const char *) {
       open_home_folder();
       return EXIT_OK;
     }},
    {"--glfinish", false, [](RunOptions *o, const char *) { o->glfinish = true; return GO_ON; }},
    {"--print-orientation", false,
     [](RunOptions *o, const char *) { o->print_orientation = true; return GO_ON; }},
};

}  // namespace

int parse_command_line(int argc, char **argv, RunOptions *o) {
  ArgCursor cursor = {argc > 0 ? argc - 1 : 0, argc > 0 ? argv + 1 : argv, false};
  while (cursor.left > 0) {
    bool matched = false;
    for (const Option &option : OPTIONS) {
      if (cursor.left <= 0) break;  // "--" was the last argument
      const char *value = nullptr;
      if (!match_option(&cursor, option.name, option.takes_value ? &value : nullptr)) continue;
      matched = true;
      int r = option.apply(o, value);
      if (r == BAD) {
        fprintf(stderr, "Bad arg for %s\n", option.name);
        return 1;
      }
      if (r != GO_ON) return r - 1;
      break;
    }
    if (matched || cursor.left <= 0) continue;
    const char *arg = cursor.current[0];
    if (arg[0] == '-' && !cursor.options_ended) {
      fprintf(stderr, "bad option '%s'\n", arg);
      return 1;
    }
    if (o->file) {
      fprintf(stderr, "Too many files!\n");
      return 1;
    }
    o->file = arg;
    cursor.current++;
    cursor.left--;
  }
  if (o->connect) o->track = nullptr;  // joining a server: no session of our own
  return GO_ON;
}
