// Models and collision shapes: the registries by name and generation, the .shp reader.
#pragma once
#include <cstddef>
#include <cstdint>

// ---- collision shapes ----
// One sphere of a shape: centre, radius and three values the collisions give meaning to.
struct ShapeSphere {
  float x, y, z;  // ft, centre in the object's frame
  float radius;   // ft
  float extra[3];
};

struct ShapeData {
  char *name;
  int count;
  ShapeSphere *spheres;
  float bounding_radius;  // ft, largest |centre| + radius
  int generation;         // 0 = permanent
};

// A per-object copy: its own sphere array (for transforming) and the shared loaded shape.
struct Shape {
  const ShapeData *source;
  int count;
  ShapeSphere *spheres;
  float bounding_radius;  // ft
};

// Loads a shape by data-file name, cached in the shape registry; returns a new copy the
// caller frees with shape_free, or null when the file is missing or short.
Shape *shape_load(const char *name);
void shape_free(Shape *shape);
// Parses a .shp text. 1 on success with *out filled (spheres malloc'd), 0 on a short file.
int shape_parse(const char *text, size_t size, ShapeSphere **spheres, int *count);

// ---- models ----
// One mesh of a model with its material. Arrays are malloc'd and owned by the part.
struct ModelPart {
  ModelPart *next;
  int environment_mapped;  // shininess -1: drawn only by the reflection pass
  uint32_t display_list;   // made by the renderer; 0 when none
  int vertex_count, triangle_count, bone_count;
  float colour[4];         // r, g, b, a
  float shininess;
  float *positions, *normals;            // V x 3, as read (skinning overwrites them)
  float *bind_positions, *bind_normals;  // V x 3, the bind pose; only with bones
  float *tangents;                       // V x 3, unit
  float *texcoords;                      // V x 2, (u, 1 - v) of the file
  float *bone_weights;                   // V x 4, only with bones
  int *bone_indices;                     // V x 4, only with bones
  int *triangles;                        // F x 3 vertex indices, each below V
  char *name;                            // the file name
};

struct Model {
  char *name;
  ModelPart *parts;
  int environment_mapped;  // any part is
  float bounding_radius;   // ft, largest |position|
  int generation;          // 0 = permanent
  Model *lod_next;         // next coarser variant, ascending switch distance
  float lod_distance;      // ft, switch distance of this variant (0 for the model itself)
};

// Loads a .jm model by data-file name, cached by name (case warning, generation); for an
// '@' name its "_lod<k>" variants among the data names form the level-of-detail chain.
// Null when the file is missing or holds no part. The registry owns the model.
Model *model_load(const char *name);
// Parses a .jm text into a model named `name` (no registry, no variants); null on failure.
Model *model_parse(const char *text, size_t size, const char *name);
void model_free(Model *model);  // a parsed model and its chain
// Deletes models and shapes whose generation is neither 0 nor current.
void model_purge();
void model_set_debug_level(int debug_level);

// Test support.
void model_reset_for_tests();
