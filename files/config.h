// The player's settings: the @config file of key=value lines, the bike setup block it
// embeds (also saved alone under @setups/), the menu setting objects, the graphics presets
// and the selectable texture lists.
#pragma once
#include <cstddef>

struct DataFile;    // files/files.h
struct AxisHandle;  // platform/velk_input.h
struct BikeModel;   // bike/bike_model.h

// ---- setting objects (the menus show and change them) ----

// One of a list of option strings; written to the file as the option's text.
struct ChoiceSetting {
  const char *label;           // menu label
  const char *const *options;  // option strings (owned elsewhere; lives as long as the setting)
  int count;                   // options
  int index;                   // current option, 0 .. count - 1
};

// A number with its menu step and range; written with "%f".
struct RangeSetting {
  const char *label;  // menu label
  double value;
  double step;  // menu step
  double min, max;
};

// A control: either a key (by name, resolved to a code) or an analogue axis (by name,
// resolved to a handle) with the axis readings that mean 0 and 1.
struct KeyBinding {
  const char *label;      // menu label
  const char *key_name;   // interned, or null
  int key_code;           // resolved by the start-up's bind_controls; 0 until then
  const char *axis_name;  // interned, or null
  AxisHandle *axis;       // resolved by bind_controls; null until then
  float low, high;        // axis readings for control values 0 and 1 (0 and 1 until set)
};

const char *choice_text(const ChoiceSetting *s);  // the current option's text ("" if none)
// Selects the option equal to `text` exactly; 1, or 0 (unchanged) when none matches.
int choice_select(ChoiceSetting *s, const char *text);
// Sets the value clamped to [min, max]; NaN becomes the minimum.
void range_set(RangeSetting *s, double value);
// Reads `text` as the file does ("%f", then clamped); 1, or 0 (unchanged) when no number.
int range_read(RangeSetting *s, const char *text);

// Interned strings live for the process; equal texts share one pointer.
const char *intern_string(const char *text);

// ---- the selectable texture lists ----

// Two parallel lists: data-file paths ("@" name, ".scram" removed) and display names.
// Entry 0 is always (null path, "default").
struct TextureChoices {
  char **paths;
  char **names;
  int count;
  int capacity;
};
enum TextureList { TEXTURES_RIDER, TEXTURES_HEAD, TEXTURES_BIKE, TEXTURES_WHEEL, TEXTURE_LIST_COUNT };

// Rebuilds `list` from every data name (data_names) ending in ".png" (not "_norm.png" or
// "_spec.png"), or ".png.scram" likewise, whose base name starts with `prefix`.
void list_textures(TextureChoices *list, const char *prefix);
void texture_choices_free(TextureChoices *list);
// The module's four lists (rider bodies, heads, bikes, wheels).
const TextureChoices *texture_choices(TextureList which);
// Start-up: builds the four lists ("rider_body-", "rider_head-", the chosen model's
// prefix, "wheels-") and points the setup's texture choices at them.
void config_build_texture_lists();

// ---- the bike setup block ----

constexpr int SETUP_NAME_CHARS = 63;
constexpr int SETUP_NUMBER_CHARS = 3;

struct BikeSetup {
  ChoiceSetting bike;  // the 45 model names, in table order (index = row)
  char name[SETUP_NAME_CHARS + 1];
  char number[SETUP_NUMBER_CHARS + 1];
  ChoiceSetting rider_texture, head_texture, bike_texture, wheel_texture;  // entry 0 "default"
  RangeSetting stability;
  // The stability-linked values (apply_stability recomputes them).
  RangeSetting leveling, roll_damping, roll_limit_angle, roll_limit_factor;
  RangeSetting steering_damping, steering_strength, max_steering_force, direct_steering;
  RangeSetting slow_damping_speed, slow_damping_factor;
  RangeSetting land_damping_falloff, land_damping_factor;
  RangeSetting full_lock_speed, restricted_lock_speed, restricted_lock;
  ChoiceSetting arcade, front_brake, rear_brake, stop_wheelies, auto_shift, auto_dab, auto_align,
      sticky_dab, reverse_steering, lean_indicator;
  RangeSetting auto_clutch_rpms;   // rpm
  RangeSetting brake_torque;       // ft·lb, front
  RangeSetting rear_brake_torque;  // ft·lb
  RangeSetting max_dab_speed;      // mph
  RangeSetting front_sprocket_adjustment, rear_sprocket_adjustment;  // teeth
  RangeSetting fork_compression_adjustment, fork_rebound_adjustment, fork_spring_rate_adjustment,
      fork_preload_adjustment, fork_oil_level_adjustment;
  RangeSetting shock_compression_adjustment, shock_rebound_adjustment,
      shock_spring_rate_adjustment, shock_preload_adjustment;
  RangeSetting rider_yspring, rider_ydamping, rider_zspring, rider_zdamping;
  RangeSetting rider_mass_distribution;
};

// The player's setup (module state; lives for the process).
BikeSetup *bike_setup();
// Every setup value back to its compiled-in default, then the stability table at the
// default stability (part of config_reset_defaults).
void setup_reset_defaults();
// The model row the setup's `bike` choice names.
const BikeModel *setup_bike_model(const BikeSetup *setup);

// Applies one key=value pair of the setup block to the player's setup. 1 when the key
// belongs to the block (whether or not the value was usable), else 0.
int setup_read_key(const char *key, const char *value);
// Writes the whole block to an open file as key=value lines. 1, or 0 on a write error.
int setup_write(DataFile *file);
// Recomputes the stability-linked values of the player's setup from the stability table.
void apply_stability(int stability);
// Selects a model by name (old names translated), rebuilds the "Bike Graphics" list for it
// and resets `bike_texture` to "default" (even when the name is unknown). 1 when selected.
int setup_select_bike(const char *name);

// Setup files under "@setups/" (the name's leading and trailing white space removed):
// 1 when the file opened (read / written), 0 otherwise. The console replies to the player.
int setup_load(const char *name);
int setup_save(const char *name);
// Reads a setup file by data-file name, offering each key=value line to setup_read_key.
int setup_read_file(const char *file_name);

// ---- the configuration ----

constexpr int GATE_COUNT = 40;
constexpr int SERVER_NAME_CHARS = 127;
constexpr int SERVER_HISTORY = 16;

enum KeyBindingIndex {
  THROTTLE_KEY,
  FRONT_BRAKE_KEY,
  REAR_BRAKE_KEY,
  LEFT_KEY,
  RIGHT_KEY,
  CLUTCH_KEY,
  UPSHIFT_KEY,
  DOWNSHIFT_KEY,
  DAB_KEY,
  BACK_UP_KEY,
  LEAN_FORWARD_KEY,
  LEAN_BACKWARD_KEY,
  PAUSE_KEY,
  STEP_KEY,
  REWIND_KEY,
  SKIP_KEY,
  PREV_KEY,
  NEXT_KEY,
  CONSOLE_KEY,
  SCREENSHOT_KEY,
  KEY_BINDING_COUNT
};
// The configuration key of a binding ("throttle_key"), or null when out of range.
const char *key_binding_config_key(int index);

// Options of the "slot%02d" choices.
enum GateOccupant { GATE_EMPTY, GATE_HUMAN, GATE_ROBOT, GATE_ROBOT_2STROKE, GATE_ROBOT_4STROKE };

struct Config {
  int xres, yres;  // pixels, window size when windowed
  int draw_fps, draw_time, draw_ping;
  int spy;
  const char *track;  // interned; the start track directory
  ChoiceSetting record, skill;
  RangeSetting minutes, laps;
  ChoiceSetting slots[GATE_COUNT];  // "Gate 1" ... "Gate 40"
  RangeSetting ghost_fade_distance;
  ChoiceSetting time_trial_abort;
  ChoiceSetting video_mode;  // the VideoMode labels (config_set_video_modes)
  char server_name[SERVER_NAME_CHARS + 1];
  char server_name_hist[SERVER_HISTORY][SERVER_NAME_CHARS + 1];
  RangeSetting ground_detail, ground_texture_detail;
  ChoiceSetting ground_texture_dim, ground_mipmaps, texture_compress, render_texture, use_shader;
  RangeSetting roost_density;
  ChoiceSetting lens_flare, reflections, hide_rider, rigid_camera;
  RangeSetting model_detail, model_texture_detail, fov;
  RangeSetting first_person_height, first_person_angle;  // ft, degrees
  RangeSetting third_person_height, third_person_distance;  // ft
  RangeSetting volume, comp_volume;
  ChoiceSetting playback_mode;
  int billboard_optimize_lookahead, message_lines, demo_backups;
  KeyBinding keys[KEY_BINDING_COUNT];
  ChoiceSetting use_fbo;  // legacy: read only, never written
};

// The module's configuration (lives for the process).
Config *config();

// Start-up, before reading: every setting of the configuration and the bike setup back to
// its compiled-in default, the first graphics preset, and the stability table at the
// default stability. Also the reset the tests call.
void config_reset_defaults();

// Start-up, before config_read: the labels of the VideoMode list for the `video_mode`
// choice (copied, up to 128). Until called the list is "Default Fullscreen", "Windowed".
void config_set_video_modes(const char *const *labels, int count);

// Reads "@config" ("rb"). 1 when the file was there and read; 0 when there is none
// (nothing changes).
int config_read();
// Writes "@config" ("wb"). 1 when written; 0 when it could not be opened or written, in
// which case the failure is logged and shown on standard error.
int config_write();
// The same on any data-file name (tests, tools).
int config_read_file(const char *file_name);
int config_write_file(const char *file_name);
// Applies one line (key=value, trailing CR/LF ignored) as config_read does; the line is
// not changed. Lines without '=' are ignored.
void config_apply_line(const char *line);
// Applies one key and value: the setup block first, then the configuration's keys.
void config_apply(const char *key, const char *value);

// ---- graphics presets ----
constexpr int GRAPHICS_PRESET_COUNT = 4;
// "Use Compatibility Settings", "Use High FPS Settings", "Use Normal Settings",
// "Use High Detail Settings".
const char *graphics_preset_name(int preset);
// Sets the twelve keys of the preset; 0 for an unknown preset.
int apply_graphics_preset(int preset);
// The preset all twelve current values match, or -1 ("Custom").
int current_graphics_preset();

// ---- values the start-up derives for RunOptions ----
struct ConfigRunDefaults {
  int texture_detail;         // 0 (full) .. 4, from model_texture_detail: 10 - value
  int ground_texture_detail;  // 0 .. 4, from ground_texture_detail: 10 - value
  int roost_frequency;        // 0 .. 1000, roost_density
  float ground_detail;        // ground_detail / 100 (at least 0.01); tolerance = 0.125 / this
  float lod_scale;            // 50 / model_detail (model_detail 0 counts as 1), 1e-6 .. 1e6
  float lod_bias;             // 0
  int learn;                  // 0: learning lines is off unless --learn
  int width, height;          // xres, yres
  int draw_fps, draw_time, draw_ping;
};
ConfigRunDefaults config_run_defaults();
