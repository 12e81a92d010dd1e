// Terrain: the height field of a track, its companion files, the surface table and sampling.
#pragma once
#include <cstdint>

#include "core/common.h"

struct DataFile;

// ---- limits ----
constexpr int MAX_SURFACE_TYPES = 256;
constexpr int FRICTION_POINTS = 8;
constexpr int ROLL_POINTS = 8;
constexpr int ROOST_TYPES = 4;
constexpr int DECAL_BINS = 8;           // per side of the field
constexpr int MIN_SIZE_LOG2 = 6;        // the renderer splits the field into 64 x 64-tile blocks
constexpr int MAX_SIZE_LOG2 = 12;       // 8193^2 samples: about 1 GB with shading and detail arrays
constexpr int GROUND_LEVELS = 6;        // ground texture clipmap levels
constexpr int SURFACE_NAME_CHARS = 256; // base names kept for the transition codes

// ---- surface table ----
struct FrictionPoint {
  float coefficient;
  float speed;  // ft/s; 0 ends the table
};
struct RollPoint {
  float first, second;
  float speed;  // ft/s; 0 ends the table
};

// The eight erosion values of a surface, in file order.
struct ErosionParams {
  float erode_depth;
  float erode_lower;         // lb, push below which nothing moves
  float erode_upper;         // lb
  float erode_displacement;  // ft
  float erode_radius;        // ft
  float erode_max_slope;
  float erode_off_speed;     // ft/s
  float erode_on_speed;      // ft/s
};

// One kind of dirt a spinning wheel throws.
struct RoostType {
  int mode;          // 0 off, 1 roost, 2 splash
  uint32_t texture;  // texture id
  float count;       // particles per tick
  float dig;
  float slip_threshold;  // ft/s
  float slow_angle;      // rad
  float fast_angle;      // rad
  float slow_speed;      // rad/s
  float fast_speed;      // rad/s
  float size;            // ft
  float grow;            // ft/s
  float drag;            // 1/s
  float vscale;
  float randomize;       // ft/s
  uint8_t colour[4];     // r, g, b, a
  uint8_t fade[4];       // per tick, read as signed bytes (254 is -2 per tick)
};

struct SurfaceType {
  uint32_t texture;         // ground texture; 0 when none
  uint8_t *image;           // same texture in memory (software method only); owned by the image registry
  int image_width, image_height;
  FrictionPoint friction_points[FRICTION_POINTS];  // ascending speed
  RollPoint roll_points[ROLL_POINTS];              // ascending speed
  RoostType roost[ROOST_TYPES];
  ErosionParams erosion;
  int32_t transition_code;  // (a << 16) | (b << 8) | corner mask, for the editor
  char base_name[SURFACE_NAME_CHARS];  // texture name without '@' and directories
};

// Friction coefficient at contact speed v (ft/s), interpolated in squared speed.
float friction_at(const SurfaceType *type, float v);
// Rolling-resistance pair at contact speed v (ft/s).
void roll_resist_at(const SurfaceType *type, float v, float *first, float *second);

// Defaults of a surface type as `addtile` starts it (roost entries off, texture none).
void surface_type_defaults(SurfaceType *type);
// The defaults of one roost entry (mode stays 0).
void roost_type_defaults(RoostType *roost);

// ---- decals ----
struct Decal {
  uint8_t *image;  // software method only; owned by the image registry
  int image_width, image_height;
  uint32_t texture;           // colour texture; 0 on the software method
  uint32_t normal_texture;    // only when normal mapped
  uint32_t specular_texture;  // only when normal mapped
  float x, z;    // ft, centre
  float angle;   // rad, about y
  float size;    // ft, width
  float aspect;  // length = aspect x size
  float sin_angle, cos_angle;
  char name[256];  // texture (or image) name as given in the file
};

// ---- the terrain record ----
struct Terrain {
  // -- per sample / per tile, allocated by the load --
  float *heights;               // ft, [r * samples + c]
  float *split_distance;        // ft^2 per quadtree node, current
  float *split_distance_next;   // ft^2 per quadtree node, being computed
  uint8_t *shading;             // RGB per sample at half intensity (128 = full white)
  uint8_t *normal_shadow_map;   // RGB per sample, only when normal_mapped
  uint8_t *shadow_density;      // per sample, 255 - shadows.pgm value
  uint8_t *tile_map;            // surface type per tile, always below surface_count
  uint8_t *dirty_nodes;         // one bit per quadtree node (renderer)
  uint8_t *dirty_low_detail;    // one bit per low-detail texture (renderer)
  uint32_t *low_detail_textures;
  int *block_slots;             // per 64 x 64-tile block: -1 needs drawing, 0 clean, >0 dirty since
  int low_detail_count;         // textures per side
  int node_count;               // quadtree nodes

  // -- decals; absent when the track has no decals file --
  Growable decals;              // Decal
  Growable decal_bins[DECAL_BINS][DECAL_BINS];  // int, ascending decal indices
  Growable decal_merge[2];      // int, scratch space of the decal query
  int has_decals;

  // -- renderer (filled by the renderer's hooks; plain ids here) --
  uint32_t ground_textures[GROUND_LEVELS][4][4][3];  // colour, normal, specular
  uint32_t *block_textures;     // per block: colour, normal, specular
  int ground_texture_size;      // texels per side
  int render_method;            // 1 software, 2 copy, 3 framebuffer objects
  uint32_t framebuffer;
  int normal_mapped;
  Vec3 camera_position, view_direction;
  int camera_column, camera_row;  // -1000000 until the first frame
  uint8_t *scratch_image;       // 1024 x 1024 x 4, allocated by the renderer when it needs it

  float extent;     // ft, the field covers x and z in [0, extent]
  float spacing;    // ft between samples
  float tile_size;  // ft, 2 x spacing
  float lod_tolerance;  // ft
  float max_height, min_height;  // ft

  SurfaceType surfaces[MAX_SURFACE_TYPES];
  int size_log2;      // n
  int samples;        // N = 2^(n+1) + 1 per side
  int window_origin[2];  // last ground-texture window origin, -1000000 at load
  int surface_count;  // 0 ... 256

  // -- level-of-detail computation state (resumable) --
  int lod_level;        // level being computed; -1 when no pass is under way
  int lod_node;         // node within the level
  int lod_row;          // sample row within the node
  float lod_partial;    // ft, largest deviation so far within the node
  int lod_pass_stamp;   // change count the running pass started from
  int lod_done_stamp;   // change count of the last completed pass

  // -- change counters and flags, zeroed by the load --
  int change_count;     // deformations so far
  int terrain_modified; // a height was written since the load
  int terrain_frozen;   // deformations compute but do not write

  char directory[512];  // the track directory the load was given ("@tracks/x")
  uint8_t height_digest[20];  // SHA-1 of the height samples as stored
};

// The program's one terrain record, allocated for the life of the process.
Terrain *terrain_current();

// Loads the terrain files of `directory` (a data-file name such as "@tracks/x") with the
// requested render method (1, 2 or 3). 1 on success; 0 on failure, the Terrain released.
int terrain_load(Terrain *t, const char *directory, int render_method);
// Frees every array and texture of the terrain and empties the decal lists.
void terrain_unload(Terrain *t);
// Writes heights, shading, tile map and decals back into the user's copy of the track
// directory. 1 on success, 0 when a file cannot be written (what was written stays).
int terrain_save(Terrain *t);

// Height (ft) of the ground triangle under (x, z); outside the field the border continues.
float terrain_height(const Terrain *t, float x, float z);
// Normal of the ground triangle under (x, z), not normalised: (-s^2 dh/dx, s^2, -s^2 dh/dz).
void terrain_normal(const Terrain *t, float x, float z, Vec3 *out);
// Smoothed unit normal at sample (column, row), from its eight neighbours.
void terrain_vertex_normal(const Terrain *t, int column, int row, Vec3 *out);

// Surface type of the tile under (x, z); the tile indices are clamped to the map.
int terrain_tile_at(const Terrain *t, float x, float z);
const SurfaceType *terrain_surface_at(const Terrain *t, float x, float z);

// Decals touching the rectangle (x0, z0)-(x1, z1): ascending indices without repeats.
// The list stays valid until the next query; *count 0 and null when there are none.
const int *terrain_decal_query(Terrain *t, float x0, float z0, float x1, float z1, int *count);
// Adds a decal to the list and its bins (the editor and the load use it).
void terrain_decal_add(Terrain *t, const Decal *decal);

// Opens directory + "/" + name through the data-file layer; when `required` and it cannot
// be opened, shows "Can't open '<path>'" and returns null. The caller closes the file.
DataFile *open_track_file(const char *directory, const char *name, const char *mode, int required);

// ---- surface table readers (called by the load; tests call them on their own files) ----
// Reads a tileinfo file into the table. Always 1; problems give warnings.
int surface_table_read(Terrain *t, DataFile *file);
// Reads the legacy texturelist.
void texturelist_read(Terrain *t, DataFile *file);
// Computes every type's transition code from the base names.
void surface_transition_codes(Terrain *t);
// Parses the value of a `roost` line into `roost` (mode 1, or 2 with splash=).
void roost_parse(RoostType *roost, const char *value);

// ---- level of detail ----
// Brings the split distances up to date doing at most about `budget` units of work.
// 1 when the current array is up to date, 0 when interrupted.
int lod_error_update(Terrain *t, int budget);

// ---- settings and hooks ----
// The debug level (0, 1, 2) and the ground detail setting (tolerance = 0.125 / detail).
void terrain_set_options(int debug_level, float ground_detail);

// The renderer supplies the GL side of a load; without hooks (headless) the requested
// method is kept, normal mapping is off and no textures are made.
struct TerrainRenderHooks {
  int (*choose_method)(Terrain *t, int requested);  // sets render_method and normal_mapped
  void (*create_textures)(Terrain *t);              // low-detail, ground and block textures
  void (*release)(Terrain *t);                      // deletes what create_textures made
  void (*mark_dirty)(Terrain *t, int c0, int r0, int c1, int r1);  // samples changed
};
void terrain_set_render_hooks(const TerrainRenderHooks *hooks);  // null removes them

// Test support: frees the terrain and forgets options and hooks.
void terrain_reset_for_tests();
