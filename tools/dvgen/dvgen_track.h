// dvgen: building a track from a designed centreline: paths of straights and filleted
// corners, jump and surface features along them, the height field, tile map, shading and
// the object files. Shared by the two starter tracks.
#pragma once
#include <string>
#include <vector>

#include "tools/dvgen/dvgen.h"

constexpr double PATH_STEP = 1.0;  // ft between centreline points
constexpr double GRAVITY = 32.0;   // ft/s^2, the simulation's

// How a turn is built: flat, bermed (outside raised) or off-camber (outside lower).
enum TurnKind { TURN_FLAT, TURN_BERM, TURN_OFF_CAMBER };

struct Corner {
  double x, z;      // ft, the corner of the polygon
  double radius;    // ft, fillet radius
  TurnKind kind;
  double bank;      // tan of the bank angle (berm or off-camber)
};

// One centreline: points every PATH_STEP ft with what the track is at each.
struct Path {
  bool closed = false;
  std::vector<double> x, z;     // ft
  std::vector<double> dx, dz;   // unit direction of travel
  std::vector<double> curv;     // 1/ft, positive to the right
  std::vector<double> hw;       // ft, half width
  std::vector<double> bank;     // tan of the bank angle, positive raises the outside
  std::vector<int> turn;        // +1 right, -1 left, 0 straight (for the bank)
  std::vector<double> grade;    // ft, the graded ground under the centreline
  std::vector<double> feature;  // ft, jumps and dips on top of the grade
  std::vector<int> surface;     // SurfaceKind of the racing surface
  std::vector<double> cap;      // ft/s, speed limit of the racing line (whoops, water ...)
  // Where the straights and arcs lie along the path (closed paths from corners).
  std::vector<double> straight_s0, straight_len, arc_s0, arc_len;
  std::vector<int> arc_sign;
  std::vector<TurnKind> arc_kind;
  std::vector<double> arc_radius, arc_bank;
  double length = 0;
  int count() const { return (int)x.size(); }
  int index(double s) const;  // point index of arc length s (wrapped on closed paths)
};

// A closed loop through the corners, starting at the beginning of the straight that
// leads to corners[0]. Half width `hw` everywhere until changed.
Path path_closed(const std::vector<Corner> &corners, double hw);
// An open straight line from (x0, z0) to (x1, z1).
Path path_line(double x0, double z0, double x1, double z1, double hw);

// Features, placed at arc length s0 (ft) along a path.
struct ProfilePoint {
  double u, h;  // ft along the path from the feature's start, ft up
};
void add_profile(Path *p, double s0, const std::vector<ProfilePoint> &points);
void add_bumps(Path *p, double s0, int count, double height, double period);  // cosine
void set_surface(Path *p, double s0, double s1, SurfaceKind kind);
void set_half_width(Path *p, double s0, double s1, double hw, double taper);
void set_banks(Path *p);  // banks of the arcs with 25 ft of run-in and run-out
void set_speed_cap(Path *p, double s0, double s1, double speed);

// A jump the racing line must clear: lip and landing along the path and the speed.
struct Jump {
  std::string name;
  double lip_s, land_s;  // ft along the path
  double speed;          // ft/s needed at the lip
};
// Profiles of the jump kinds; they add the profile and return the jump with the
// landing point chosen (the speed is found later from the finished heights).
Jump add_tabletop(Path *p, const char *name, double s0, double height, double face_deg,
                  double top, double land_deg);
Jump add_double(Path *p, const char *name, double s0, double height, double face_deg,
                double gap, double land_height, double land_deg);
Jump add_step_up(Path *p, const char *name, double s0, double height, double face_deg,
                 double gap, double top_height, double top, double down_deg);

// The ground: a natural height function and the paths graded into it.
struct Field {
  int n = 0;           // size_log2
  double spacing = 2;  // ft
  int N = 0;           // samples per side
  int size = 0;        // tiles per side
  double extent = 0;   // ft
  std::vector<float> h;             // ft, [r * N + c]
  std::vector<uint8_t> tiles;       // surface type per tile
  std::vector<uint8_t> shading;     // RGB per sample, half intensity
  std::vector<uint8_t> shadows;     // 255 lit .. 0 shadowed
  // Nearest centreline of each sample: path index (-1 none), arc length, lateral offset.
  std::vector<int> near_path;
  std::vector<float> near_s, near_d;
  float height(double x, double z) const;   // the same triangles the game samples
};

typedef double (*NaturalGround)(double x, double z);

// Grades every path (grade = natural ground smoothed along the path over +-`window` ft),
// then fills the field: the track cross-sections blended into the natural ground.
void field_build(Field *f, int n, double spacing, std::vector<Path> *paths,
                 NaturalGround ground, double window);

// Height of the track centre at point k (grade + features).
inline double centre_height(const Path &p, int k) { return p.grade[k] + p.feature[k]; }

// Solves each jump's take-off speed from the finished centre heights and checks that the
// flight clears the ground in between; 0 (and a message) when a jump can't be cleared.
int solve_jumps(const Path &p, std::vector<Jump> *jumps);

// The surface table of a track: its base kinds (type i is kinds[i]) and the pairs that have
// blend textures; pair j's 14 blends follow the base types, mask m (1..14) at
// kinds.size() + 14 j + m - 1. A blend texture "a-b-MMMM.png" has one digit per tile corner
// in the order (x0 z0), (x1 z0), (x0 z1), (x1 z1), the first the most significant; 1 marks
// a corner of kind b.
struct SurfaceTable {
  std::vector<int> kinds;  // SurfaceKind
  std::vector<int> pairs;  // indices into SURFACE_PAIRS
};
std::string tileinfo_text(const SurfaceTable &table);
std::string texturelist_text(const SurfaceTable &table);
int surface_type_count(const SurfaceTable &table);
// Type of a tile whose corners (x0z0, x1z0, x0z1, x1z1) have these kinds.
int surface_tile_type(const SurfaceTable &table, const int corner[4]);

// Tile map: the surface kind of every tile corner (grass off the track), then each tile
// is a base type or a blend between two kinds.
void field_tiles(Field *f, const std::vector<Path> &paths, const SurfaceTable &table);

// Shading from the sun (unit vector toward the sun) with shadows cast by the ground, and
// darkened disks under trees (x, z, radius).
void field_shade(Field *f, const double sun[3], const std::vector<double> &tree_shadows);

// The racing line: the centreline shifted toward the turn's best side, with target speeds
// from grip, the turn radius, the surface, the jumps and the bike's acceleration.
struct RacingLine {
  std::vector<double> x, z, y, speed;  // ft, ft, ft, ft/s per path point
  std::vector<int> flag;               // 0 ride, 1 take-off, 2 landing
};
void racing_line_build(const Path &p, const Field &f, const std::vector<Jump> &jumps,
                       double max_speed, RacingLine *line);
std::string racing_line_text(const Path &p, const RacingLine &line, const char *track,
                             int every);

// Object files in the game's formats.
struct Gate {
  double x, y, z, dx, dz, radius;
};
struct GatePiece {
  double x, y, z, angle;
};
// The timing_gates text (through the track module's writer).
std::string timing_gates_text(const std::vector<GatePiece> &pieces, const std::vector<Gate> &gates,
                              const std::vector<int> &first, const std::vector<int> &normal);

// Writes the terrain files of a field with the terrain module's terrain_save into the real
// directory `dir` (terrain.hf without inline heights, terrain.png, shading.ppm,
// shadingx2.ppm, tilemap). 1 or 0.
int field_save(const Field &f, const std::string &dir);
// Decals laid flat on the ground: centre, rotation about y, width and length / width.
struct GroundDecal {
  double x, z, angle, size, aspect;
  std::string texture;  // "@name.png"
};
// As field_save, with decals: the terrain module writes the "decals" file too.
int field_save_decals(const Field &f, const std::string &dir, const std::vector<GroundDecal> &decals);
// terrain.hf with the heights inline (the terrain module writes only the PNG form).
std::string terrain_hf_inline(const Field &f);
// A top-down map of the paths over the field (RGBA).
Img field_map(const Field &f, const std::vector<Path> &paths, int size);

// ---- trackside objects (dvgen_objects.cpp) ----
struct Tree {
  double x, z, height, radius;  // ft
  int kind;                     // which tree sprite
};
// Trees in the grass away from every path and the listed keep-out points (x, z, radius).
std::vector<Tree> place_trees(const Field &f, uint64_t seed, int max_count,
                              const std::vector<double> &keep_out);
// Checkpoints along a closed path: the start/finish line at `finish_s`, one at the middle
// of every turn and enough on the straights that no stretch is longer than `max_gap`.
// gates[0] is the line; the lap sequence is 1, 2, ..., n - 1, 0. Gates that only fill a
// straight carry the no-learning flag in the sequence.
void lap_gates(const Path &p, const Field &f, double finish_s, double max_gap,
               std::vector<Gate> *gates, std::vector<int> *sequence, std::vector<double> *gate_s);
// Hay bales on the outside of the turns, tuff blocks on their inside ("statues" text).
std::string edge_statues_text(const std::vector<Path> &paths, int pi, const Field &f);
// Cameras beside the path every `every` ft, each cueing the gates nearest to it.
std::string cameras_text(const std::vector<Path> &paths, int pi, const Field &f,
                         const std::vector<double> &gate_s, double every);
// Is (x, z) at least `margin` ft outside every track's edge?
bool clear_of_tracks(const std::vector<Path> &paths, const Field &f, double x, double z,
                     double margin);
