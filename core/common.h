// Shared helpers: Vec3, growable arrays, SHA-1 and the MT19937 generator.
#pragma once
#include <cmath>
#include <cstddef>
#include <cstdint>

// ---- units and the simulation clock ----
constexpr double TICK = 1.0 / 128.0;  // s, one simulation tick

// ---- Vec3: three 32-bit floats, y up, x east, z south ----
struct Vec3 {
  float x, y, z;
};
inline Vec3 vec3(float x, float y, float z) { return Vec3{x, y, z}; }
inline Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec3 operator*(Vec3 a, float s) { return {a.x * s, a.y * s, a.z * s}; }
inline float vec3_dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Vec3 vec3_cross(Vec3 a, Vec3 b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline float vec3_length(Vec3 a) { return std::sqrt(vec3_dot(a, a)); }
inline Vec3 vec3_normalize(Vec3 a) {  // the zero vector stays zero
  float l = vec3_length(a);
  return l > 0 ? a * (1.0f / l) : a;
}

// ---- growable arrays: data, capacity, count, element size; capacity doubles when full ----
struct Growable {
  void *data;
  int capacity;      // elements
  int count;         // elements in use
  int element_size;  // bytes
};
void growable_init(Growable *g, int element_size);
// Appends one element (copied from `element`, or zeroed when null); returns its address.
// Allocation failure ends the program through fatal_out_of_memory.
void *growable_push(Growable *g, const void *element);
void *growable_at(Growable *g, int index);
void growable_clear(Growable *g);  // count 0, keeps the storage
void growable_free(Growable *g);

// ---- SHA-1 ----
struct Sha1 {
  uint32_t state[5];
  uint64_t length;  // bytes hashed so far
  uint8_t block[64];
  int used;         // bytes in `block`
};
void sha1_init(Sha1 *s);
void sha1_update(Sha1 *s, const void *data, size_t length);
void sha1_final(Sha1 *s, uint8_t digest[20]);
// 40 lower-case hex digits plus the terminator.
void sha1_hex(const uint8_t digest[20], char out[41]);

// ---- MT19937: the published 32-bit Mersenne Twister ----
struct Mt19937 {
  uint32_t state[624];
  int index;
};
void mt_seed(Mt19937 *mt, uint32_t seed);
uint32_t mt_next(Mt19937 *mt);
