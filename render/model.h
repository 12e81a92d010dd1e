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
struct ModelPart;

struct Model {
  char *name;
  ModelPart *parts;
  int environment_mapped;
  float bounding_radius;  // ft
  int generation;
  Model *lod_next;        // next coarser variant
  float lod_distance;     // ft, switch distance of this variant
};

// Loads a .jm model by name; cached. Null when missing (the .jm reader comes with the
// renderer; until then only the registry and names exist).
Model *model_load(const char *name);
// Deletes models and shapes whose generation is neither 0 nor current.
void model_purge();

// Test support.
void model_reset_for_tests();
