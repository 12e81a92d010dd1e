// Shared helpers: vector maths, growable arrays, SHA-1 and MT19937.
#include "core/common.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "platform/velk.h"

void growable_init(Growable *g, int element_size) {
  g->data = nullptr;
  g->capacity = 0;
  g->count = 0;
  g->element_size = element_size;
}

void *growable_push(Growable *g, const void *element) {
  if (g->count == g->capacity) {
    int capacity = g->capacity ? g->capacity * 2 : 8;
    void *data = realloc(g->data, (size_t)capacity * g->element_size);
    if (!data) fatal_out_of_memory();
    g->data = data;
    g->capacity = capacity;
  }
  char *at = (char *)g->data + (size_t)g->count * g->element_size;
  if (element) memcpy(at, element, g->element_size);
  else memset(at, 0, g->element_size);
  g->count++;
  return at;
}

void *growable_at(Growable *g, int index) {
  return (char *)g->data + (size_t)index * g->element_size;
}

void growable_clear(Growable *g) { g->count = 0; }

void growable_free(Growable *g) {
  free(g->data);
  growable_init(g, g->element_size);
}

// ---- SHA-1 (FIPS 180-1) ----
static uint32_t rol(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

static void sha1_block(Sha1 *s, const uint8_t *p) {
  uint32_t w[80];
  for (int i = 0; i < 16; i++)
    w[i] = (uint32_t)p[4 * i] << 24 | (uint32_t)p[4 * i + 1] << 16 | (uint32_t)p[4 * i + 2] << 8 |
           p[4 * i + 3];
  for (int i = 16; i < 80; i++) w[i] = rol(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
  uint32_t a = s->state[0], b = s->state[1], c = s->state[2], d = s->state[3], e = s->state[4];
  for (int i = 0; i < 80; i++) {
    uint32_t f, k;
    if (i < 20) f = (b & c) | (~b & d), k = 0x5A827999;
    else if (i < 40) f = b ^ c ^ d, k = 0x6ED9EBA1;
    else if (i < 60) f = (b & c) | (b & d) | (c & d), k = 0x8F1BBCDC;
    else f = b ^ c ^ d, k = 0xCA62C1D6;
    uint32_t t = rol(a, 5) + f + e + k + w[i];
    e = d;
    d = c;
    c = rol(b, 30);
    b = a;
    a = t;
  }
  s->state[0] += a;
  s->state[1] += b;
  s->state[2] += c;
  s->state[3] += d;
  s->state[4] += e;
}

void sha1_init(Sha1 *s) {
  static const uint32_t init[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  memcpy(s->state, init, sizeof init);
  s->length = 0;
  s->used = 0;
}

void sha1_update(Sha1 *s, const void *data, size_t length) {
  const uint8_t *p = (const uint8_t *)data;
  s->length += length;
  while (length > 0) {
    if (s->used == 0 && length >= 64) {
      sha1_block(s, p);
      p += 64;
      length -= 64;
      continue;
    }
    size_t n = 64 - s->used;
    if (n > length) n = length;
    memcpy(s->block + s->used, p, n);
    s->used += (int)n;
    p += n;
    length -= n;
    if (s->used == 64) {
      sha1_block(s, s->block);
      s->used = 0;
    }
  }
}

void sha1_final(Sha1 *s, uint8_t digest[20]) {
  uint64_t bits = s->length * 8;
  uint8_t pad = 0x80;
  sha1_update(s, &pad, 1);
  uint8_t zero = 0;
  while (s->used != 56) sha1_update(s, &zero, 1);
  uint8_t len[8];
  for (int i = 0; i < 8; i++) len[i] = (uint8_t)(bits >> (56 - 8 * i));
  sha1_update(s, len, 8);
  for (int i = 0; i < 5; i++)
    for (int j = 0; j < 4; j++) digest[4 * i + j] = (uint8_t)(s->state[i] >> (24 - 8 * j));
}

void sha1_hex(const uint8_t digest[20], char out[41]) {
  static const char hex[] = "0123456789abcdef";
  for (int i = 0; i < 20; i++) {
    out[2 * i] = hex[digest[i] >> 4];
    out[2 * i + 1] = hex[digest[i] & 15];
  }
  out[40] = 0;
}

// ---- MT19937 (Matsumoto and Nishimura, 1998) ----
void mt_seed(Mt19937 *mt, uint32_t seed) {
  mt->state[0] = seed;
  for (int i = 1; i < 624; i++)
    mt->state[i] = 1812433253u * (mt->state[i - 1] ^ (mt->state[i - 1] >> 30)) + (uint32_t)i;
  mt->index = 624;
}

uint32_t mt_next(Mt19937 *mt) {
  if (mt->index >= 624) {
    for (int i = 0; i < 624; i++) {
      uint32_t y = (mt->state[i] & 0x80000000u) | (mt->state[(i + 1) % 624] & 0x7fffffffu);
      mt->state[i] = mt->state[(i + 397) % 624] ^ (y >> 1) ^ ((y & 1) ? 0x9908B0DFu : 0);
    }
    mt->index = 0;
  }
  uint32_t y = mt->state[mt->index++];
  y ^= y >> 11;
  y ^= (y << 7) & 0x9D2C5680u;
  y ^= (y << 15) & 0xEFC60000u;
  y ^= y >> 18;
  return y;
}
