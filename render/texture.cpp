// Texture manager: the texture and image registries by name and generation, link aliases,
// detail reduction and the purge. GL work goes through the hooks the renderer installs.
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "core/common.h"
#include "core/frame.h"
#include "files/files.h"
#include "platform/velk.h"
#include "render/texture.h"

struct TextureEntry {
  uint32_t id;
  int generation;        // 0 = loaded before the first track, never purged
  unsigned long memory;  // bytes its levels took
  char *info;            // PNG text chunks and .info contents, or null
  char *name;            // as requested (after alias substitution)
};

struct ImageEntry {
  uint8_t *pixels;  // RGBA with mip chain
  int width, height;
  int generation;
  unsigned long memory;
  char *name;
};

struct Alias {
  char *link;
  char *target;
};

// An animated texture: K images of equal size shown in a sequence of L steps.
struct Animation {
  uint32_t id;
  int length;          // L, steps in the sequence
  int current;         // image shown now
  int ticks_per_image;
  int loop;
  int start_tick;
  int paused;
  int image_count;     // K
  int width, height, channels;
  uint8_t **images;    // K mip chains
  int *sequence;       // L image indices, each below K
};

constexpr size_t MAX_TEXTURE_FILE = size_t(256) << 20;  // bytes; larger files are refused

// ---- per process: settings and hooks ----
static struct {
  int detail_level;
  int debug_level;
  int compress;  // 0 No, 1 Yes, 2 Always
  TextureGlHooks hooks;
  int has_hooks;
  int shader_path;  // models are drawn with their normal and specular maps
} s_config;

// ---- per session: the registries ----
static struct {
  Growable textures;  // TextureEntry
  Growable images;    // ImageEntry
  Growable aliases;   // Alias
  Growable animations;  // Animation
  int ready;
  int generation;
  unsigned long memory;  // bytes of texture memory this generation
  uint32_t next_id;      // ids handed out without GL
} s_reg;

static void registry_init() {
  if (s_reg.ready) return;
  growable_init(&s_reg.textures, sizeof(TextureEntry));
  growable_init(&s_reg.images, sizeof(ImageEntry));
  growable_init(&s_reg.aliases, sizeof(Alias));
  growable_init(&s_reg.animations, sizeof(Animation));
  s_reg.next_id = 1;
  s_reg.ready = 1;
}

static char *copy_string(const char *s) {
  size_t n = strlen(s) + 1;
  char *p = (char *)malloc(n);
  if (!p) fatal_out_of_memory();
  memcpy(p, s, n);
  return p;
}

void texture_set_options(int detail_level, int debug_level, int compress) {
  s_config.detail_level = detail_level < 0 ? 0 : detail_level;
  s_config.debug_level = debug_level;
  s_config.compress = compress;
}

void texture_set_gl_hooks(const TextureGlHooks *hooks) {
  if (hooks) s_config.hooks = *hooks;
  s_config.has_hooks = hooks != nullptr;
}

void texture_set_shader_path(int on) { s_config.shader_path = on != 0; }
int texture_shader_path() { return s_config.shader_path; }

int texture_generation() { return s_reg.generation; }
unsigned long texture_memory() { return s_reg.memory; }

void texture_new_generation() {
  s_reg.generation++;
  s_reg.memory = 0;
}

static int is_power_of_two(int v) { return v > 0 && (v & (v - 1)) == 0; }
static int next_power_of_two(int v) {
  int p = 1;
  while (p < v && p < (1 << 30)) p <<= 1;
  return p;
}

// ---- uploads ----
uint32_t texture_upload(const uint8_t *pixels, int width, int height, int channels, int flags) {
  registry_init();  // ids handed out without GL start at 1: 0 means no texture
  unsigned long memory = 0;
  uint32_t id;
  if (s_config.has_hooks && s_config.hooks.upload) {
    id = s_config.hooks.upload(pixels, width, height, channels, flags, &memory);
  } else {
    // No context: count the bytes an uncompressed upload would take and hand out a name.
    memory = (unsigned long)(flags & TEXTURE_SINGLE_LEVEL ? size_t(width) * height * channels
                                                          : mip_chain_size(width, height, channels));
    id = s_reg.next_id++;
  }
  s_reg.memory += memory;
  return id;
}

int texture_has_gl() { return s_config.has_hooks; }

void texture_delete(uint32_t id) {
  if (id && s_config.has_hooks && s_config.hooks.destroy) s_config.hooks.destroy(id);
}

// Replaces level 0 of `image` by a copy stretched to powers of two, with its mip chain.
static void stretch_to_power_of_two(uint8_t **pixels, int *width, int *height, int channels,
                                    int max_alpha) {
  int w = *width, h = *height, W = next_power_of_two(w), H = next_power_of_two(h);
  uint8_t *out = (uint8_t *)malloc(mip_chain_size(W, H, channels));
  if (!out) fatal_out_of_memory();
  for (int y = 0; y < H; y++)
    for (int x = 0; x < W; x++)
      memcpy(out + (size_t(y) * W + x) * channels,
             *pixels + (size_t(y) * h / H * w + size_t(x) * w / W) * channels, channels);
  mip_build(out, W, H, channels, max_alpha);
  free(*pixels);
  *pixels = out;
  *width = W;
  *height = H;
}

// Drops top levels (each only while both sides exceed 128); returns the new level 0.
static uint8_t *drop_detail(uint8_t *pixels, int *width, int *height, int channels, int detail) {
  while (detail-- > 0 && *width > 128 && *height > 128) {
    pixels += size_t(*width) * *height * channels;
    *width /= 2;
    *height /= 2;
  }
  return pixels;
}

uint32_t texture_from_pixels(uint8_t *pixels, int width, int height, int channels,
                             int detail_level, int flags) {
  if (!is_power_of_two(width) || !is_power_of_two(height)) {
    uint8_t *copy = (uint8_t *)malloc(size_t(width) * height * channels);
    if (!copy) fatal_out_of_memory();
    memcpy(copy, pixels, size_t(width) * height * channels);
    stretch_to_power_of_two(&copy, &width, &height, channels, 0);
    uint8_t *top = drop_detail(copy, &width, &height, channels, detail_level);
    uint32_t id = texture_upload(top, width, height, channels, flags);
    free(copy);
    return id;
  }
  uint8_t *top = drop_detail(pixels, &width, &height, channels, detail_level);
  return texture_upload(top, width, height, channels, flags);
}

// ---- lookups ----
static const char *alias_target(const char *name) {
  for (int i = 0; i < s_reg.aliases.count; i++) {
    Alias *a = (Alias *)growable_at(&s_reg.aliases, i);
    if (!strcmp(a->link, name)) return a->target;
  }
  return nullptr;
}

static void alias_set(const char *link, const char *target) {
  for (int i = 0; i < s_reg.aliases.count; i++) {
    Alias *a = (Alias *)growable_at(&s_reg.aliases, i);
    if (!strcmp(a->link, link)) {
      free(a->target);
      a->target = copy_string(target);
      return;
    }
  }
  Alias a = {copy_string(link), copy_string(target)};
  growable_push(&s_reg.aliases, &a);
}

// Index of the entry named `name` in a registry of records whose name is at `name_offset`;
// an exact match first, then one differing only in case (with the case warning).
static int registry_find(Growable *g, size_t name_offset, const char *name) {
  for (int i = 0; i < g->count; i++) {
    char *entry_name = *(char **)((char *)growable_at(g, i) + name_offset);
    if (!strcmp(entry_name, name)) return i;
  }
  for (int i = 0; i < g->count; i++) {
    char *entry_name = *(char **)((char *)growable_at(g, i) + name_offset);
    if (!strcasecmp(entry_name, name)) {
      show_messagef("Warning: case mismatch on '%.900s'", name);
      return i;
    }
  }
  return -1;
}

static int texture_flags_of(const char *name) {
  if (strstr(name, "-repeat.")) return TEXTURE_REPEAT_X | TEXTURE_REPEAT_Y;
  int flags = 0;
  if (strstr(name, "-hrepeat.")) flags |= TEXTURE_REPEAT_X;
  if (strstr(name, "-vrepeat.")) flags |= TEXTURE_REPEAT_Y;
  return flags;
}

static void read_magic(const uint8_t *data, size_t size, char magic[16]) {
  size_t i = 0, n = 0;
  while (i < size && isspace(data[i])) i++;
  while (i < size && !isspace(data[i]) && n < 15) magic[n++] = (char)data[i++];
  magic[n] = 0;
}

// Decodes a texture file's pixels (V7, V6, P6, P3 or PNG) with its info text.
static int decode_texture_file(const char *name, const uint8_t *data, size_t size, Image *image,
                               char **info) {
  char magic[16];
  read_magic(data, size, magic);
  *info = nullptr;
  if (!strcmp(magic, "V7") || !strcmp(magic, "V6")) return image_decode_predictive(data, size, image);
  if (!strcmp(magic, "P6") || !strcmp(magic, "P3")) return image_decode_ppm(data, size, image);
  if (!image_decode_png(data, size, image, info)) return 0;
  char info_name[1100];
  snprintf(info_name, sizeof info_name, "%s.info", name);
  uint8_t *extra;
  size_t extra_size;
  if (data_read_all(info_name, &extra, &extra_size, 1 << 20)) {
    size_t have = *info ? strlen(*info) : 0;
    char *text = (char *)realloc(*info, have + extra_size + 1);
    if (!text) fatal_out_of_memory();
    memcpy(text + have, extra, extra_size);
    text[have + extra_size] = 0;
    *info = text;
    free(extra);
  }
  return 1;
}

// A fresh mip chain of the image in `channels` (3 or 4) channels.
static uint8_t *chain_of(const Image *image, int channels, int max_alpha) {
  size_t count = size_t(image->width) * image->height;
  uint8_t *chain = (uint8_t *)malloc(mip_chain_size(image->width, image->height, channels));
  if (!chain) fatal_out_of_memory();
  for (size_t i = 0; i < count; i++) {
    const uint8_t *p = image->pixels + i * image->channels;
    uint8_t *q = chain + i * channels;
    if (image->channels == 1) q[0] = q[1] = q[2] = p[0];
    else memcpy(q, p, 3);
    if (channels == 4) q[3] = image->channels == 4 ? p[3] : 255;
  }
  mip_build(chain, image->width, image->height, channels, max_alpha);
  return chain;
}


// ---- animated textures (.seq) ----
static void animation_free(Animation *a) {
  for (int k = 0; k < a->image_count; k++) free(a->images[k]);
  free(a->images);
  free(a->sequence);
}

struct SeqCursor {
  const uint8_t *data;
  size_t size, pos;
};

static int seq_token(SeqCursor *c, char *out, size_t size) {
  while (c->pos < c->size && isspace(c->data[c->pos])) c->pos++;
  size_t n = 0;
  while (c->pos < c->size && !isspace(c->data[c->pos])) {
    if (n < size - 1) out[n++] = (char)c->data[c->pos];
    c->pos++;
  }
  out[n] = 0;
  return n > 0;
}

static int seq_int(SeqCursor *c, int *out) {
  char token[32];
  if (!seq_token(c, token, sizeof token)) return 0;
  char *end;
  long v = strtol(token, &end, 10);
  if (*end || v < -1000000000L || v > 1000000000L) return 0;
  *out = (int)v;
  return 1;
}

// Reads one frame of a .seq file (an inline V7 image or a PNG named on the next line).
static int seq_frame(SeqCursor *c, int index, Image *image) {
  char token[16];
  if (!seq_token(c, token, sizeof token)) {
    show_message("EOF while reading .seq");
    return 0;
  }
  if (!strcmp(token, "V7")) {
    size_t consumed;
    if (!image_decode_predictive_at(c->data + c->pos - 2, c->size - c->pos + 2, image, &consumed)) {
      show_message("EOF while reading .seq");
      return 0;
    }
    c->pos += consumed - 2;
    return 1;
  }
  if (strcmp(token, "PNG")) {
    show_messagef("Error reading .seq frame %d", index);
    return 0;
  }
  while (c->pos < c->size && c->data[c->pos] != '\n') c->pos++;  // the rest of that line
  if (c->pos < c->size) c->pos++;
  size_t start = c->pos;
  while (c->pos < c->size && c->data[c->pos] != '\n') c->pos++;
  char name[1024];
  size_t n = c->pos - start < sizeof name - 1 ? c->pos - start : sizeof name - 1;
  memcpy(name, c->data + start, n);
  name[n] = 0;
  char *first = name;
  while (*first && isspace((unsigned char)*first)) first++;
  size_t len = strlen(first);
  while (len > 0 && isspace((unsigned char)first[len - 1])) first[--len] = 0;
  uint8_t *data;
  size_t size;
  char *info = nullptr;
  int ok = *first && data_read_all(first, &data, &size, MAX_TEXTURE_FILE);
  if (ok) {
    ok = image_decode_png(data, size, image, &info);
    free(data);
    free(info);
  }
  if (!ok) show_messagef("Can't read %.900s", first);
  return ok;
}

// An ANIM1 file: uploads step 0 and registers the animation. Returns the id, 0 on failure.
static uint32_t load_animation(const uint8_t *data, size_t size, int flags) {
  SeqCursor c = {data, size, 0};
  char magic[16];
  seq_token(&c, magic, sizeof magic);
  int length, count, ticks, loop;
  if (!seq_int(&c, &length) || !seq_int(&c, &count) || !seq_int(&c, &ticks) || !seq_int(&c, &loop)) {
    show_message("EOF while reading .seq");
    return 0;
  }
  if (length <= 0 || count <= 0 || length > 100000 || count > 4096) return 0;
  Animation a = {};
  a.length = length;
  a.image_count = count;
  a.ticks_per_image = ticks > 0 ? ticks : 1;
  a.loop = loop;
  a.sequence = (int *)calloc(size_t(length), sizeof(int));
  a.images = (uint8_t **)calloc(size_t(count), sizeof(uint8_t *));
  if (!a.sequence || !a.images) fatal_out_of_memory();
  int ok = 1;
  for (int k = 0; k < length && ok; k++) {
    ok = seq_int(&c, &a.sequence[k]);
    if (!ok) show_message("EOF while reading .seq");
    else if (a.sequence[k] < 0 || a.sequence[k] >= count) ok = 0;  // a step naming no image
  }
  for (int k = 0; k < count && ok; k++) {
    Image image = {};
    ok = seq_frame(&c, k, &image);
    if (!ok) break;
    if (k == 0) {
      a.width = image.width, a.height = image.height, a.channels = image.channels;
    } else if (image.width != a.width || image.height != a.height) {
      show_message("Width/height mismatch reading .seq");
      ok = 0;
    } else if (image.channels != a.channels) {
      show_message("Depth mismatch reading .seq");
      ok = 0;
    }
    if (ok) a.images[k] = chain_of(&image, a.channels == 4 ? 4 : 3, 0);
    image_free(&image);
  }
  if (!ok) {
    a.image_count = count;
    animation_free(&a);
    return 0;
  }
  a.channels = a.channels == 4 ? 4 : 3;
  a.current = a.sequence[0];
  a.id = texture_upload(a.images[a.current], a.width, a.height, a.channels, flags);
  growable_push(&s_reg.animations, &a);
  return a.id;
}

static Animation *animation_of(uint32_t id) {
  for (int i = 0; i < s_reg.animations.count; i++) {
    Animation *a = (Animation *)growable_at(&s_reg.animations, i);
    if (a->id == id) return a;
  }
  return nullptr;
}

void texture_animation_step(int tick) {
  for (int i = 0; i < s_reg.animations.count; i++) {
    Animation *a = (Animation *)growable_at(&s_reg.animations, i);
    if (a->paused) continue;
    int elapsed = tick - a->start_tick;
    int step = (elapsed > 0 ? elapsed : 0) / a->ticks_per_image;
    step = a->loop ? step % a->length : (step < a->length - 1 ? step : a->length - 1);
    int image = a->sequence[step];
    if (image == a->current) continue;
    a->current = image;
    if (s_config.has_hooks && s_config.hooks.replace)
      s_config.hooks.replace(a->id, a->images[image], a->width, a->height, a->channels);
  }
}

void texture_animation_start(uint32_t id, int tick) {
  Animation *a = animation_of(id);
  if (!a) return;
  a->paused = 0;
  a->start_tick = tick;
}

void texture_animation_pause(uint32_t id) {
  Animation *a = animation_of(id);
  if (a) a->paused = 1;
}

int texture_animation_current(uint32_t id) {
  Animation *a = animation_of(id);
  return a ? a->current : -1;
}

// An image holding its own mip levels: level 0 is the top two thirds; each next level
// (half size) lies below the previous one while it starts inside the image, else to its
// right. Fills `chain` (sized for the whole image) and returns 1; 0 when the height is
// not 3/2 of a level or a level would lie outside the image.
static int custom_mips(const Image *image, uint8_t *chain, int channels) {
  int w = image->width, h0 = image->height * 2 / 3;
  if ((2 * image->height) % 3 || h0 < 1) return 0;
  uint8_t *out = (uint8_t *)malloc(mip_chain_size(w, h0, channels));
  if (!out) fatal_out_of_memory();
  uint8_t *level = out;
  int x = 0, y = 0, lw = w, lh = h0;
  for (;;) {
    if (x + lw > image->width || y + lh > image->height) {
      free(out);
      return 0;
    }
    for (int r = 0; r < lh; r++)
      for (int c = 0; c < lw; c++) {
        const uint8_t *p = image->pixels + (size_t(y + r) * image->width + size_t(x + c)) * image->channels;
        uint8_t *q = level + (size_t(r) * lw + c) * channels;
        if (image->channels == 1) q[0] = q[1] = q[2] = p[0];
        else memcpy(q, p, 3);
        if (channels == 4) q[3] = image->channels == 4 ? p[3] : 255;
      }
    level += size_t(lw) * lh * channels;
    if (lw == 1 && lh == 1) break;
    int nw = lw > 1 ? lw / 2 : 1, nh = lh > 1 ? lh / 2 : 1;
    if (y + lh < image->height) y += lh;  // below the previous level
    else x += lw;                        // else to its right, at the same height
    lw = nw, lh = nh;
  }
  memcpy(chain, out, size_t(level - out));
  free(out);
  return 1;
}

static uint32_t texture_load_named(const char *request, int depth);

static uint32_t load_link(const char *name, const uint8_t *data, size_t size, int depth) {
  char target[1024];
  size_t n = size - 4 < sizeof target - 1 ? size - 4 : sizeof target - 1;
  memcpy(target, data + 4, n);
  target[n] = 0;
  char *start = target;
  while (*start && isspace((unsigned char)*start)) start++;
  size_t len = strlen(start);
  while (len > 0 && isspace((unsigned char)start[len - 1])) start[--len] = 0;
  alias_set(name, "@colors/white.png");
  uint32_t id = texture_load_named(start, depth + 1);
  if (!id) return 0;
  alias_set(name, texture_name(id));
  return id;
}

static uint32_t texture_load_named(const char *request, int depth) {
  registry_init();
  int detail = s_config.detail_level;
  if (request[0] == '!') {
    detail = 0;
    request++;
  }
  if (depth > 8) return 0;  // a loop of link files
  const char *target = alias_target(request);
  const char *name = target ? target : request;
  int found = registry_find(&s_reg.textures, offsetof(TextureEntry, name), name);
  if (found >= 0) {
    TextureEntry *e = (TextureEntry *)growable_at(&s_reg.textures, found);
    if (e->generation != 0 && e->generation != s_reg.generation) {
      e->generation = s_reg.generation;
      s_reg.memory += e->memory;
    }
    return e->id;
  }
  uint8_t *data;
  size_t size;
  if (!data_read_all(name, &data, &size, MAX_TEXTURE_FILE)) {
    if (s_config.debug_level >= 1) show_messagef("Can't open texture \"%.900s\"", name);
    return 0;
  }
  if (size >= 4 && !memcmp(data, "LINK", 4)) {
    uint32_t id = load_link(name, data, size, depth);
    free(data);
    return id;
  }
  int flags = texture_flags_of(name);
  if (size >= 5 && !memcmp(data, "ANIM1", 5)) {
    unsigned long before = s_reg.memory;
    uint32_t id = load_animation(data, size, flags);
    free(data);
    if (!id) return 0;
    TextureEntry e = {id, s_reg.generation, s_reg.memory - before, nullptr, copy_string(name)};
    growable_push(&s_reg.textures, &e);
    return id;
  }
  Image image;
  char *info;
  int ok = decode_texture_file(name, data, size, &image, &info);
  free(data);
  if (!ok) return 0;
  if (info && strstr(info, "[compress]")) flags |= TEXTURE_COMPRESS;
  if (s_config.compress == 0) flags &= ~TEXTURE_COMPRESS;
  if (s_config.compress == 2) flags |= TEXTURE_COMPRESS;
  int max_alpha = info && strstr(info, "[mip_max_alpha]");
  int channels = image.channels == 4 ? 4 : 3;
  uint8_t *chain = chain_of(&image, channels, max_alpha);
  int height = image.height;
  if (info && strstr(info, "[mip_custom]")) {
    if (!custom_mips(&image, chain, channels)) {
      show_messagef("Warning: Invalid height for custom MIP map in '%.950s'", name);
    } else {
      height = image.height * 2 / 3;
    }
  }
  if (!is_power_of_two(image.width) || !is_power_of_two(height))
    show_messagef("Warning: Non power of 2 texture '%.950s'", name);
  unsigned long before = s_reg.memory;
  uint32_t id = texture_from_pixels(chain, image.width, height, channels, detail, flags);
  free(chain);
  image_free(&image);
  TextureEntry e = {id, s_reg.generation, s_reg.memory - before, info, copy_string(name)};
  growable_push(&s_reg.textures, &e);
  return id;
}

uint32_t texture_load(const char *name) { return name && *name ? texture_load_named(name, 0) : 0; }

int image_load(const char *request, uint8_t **pixels, int *width, int *height) {
  registry_init();
  if (!request || !*request) return 0;
  int detail = s_config.detail_level;
  if (request[0] == '!') {
    detail = 0;
    request++;
  }
  int found = registry_find(&s_reg.images, offsetof(ImageEntry, name), request);
  if (found >= 0) {
    ImageEntry *e = (ImageEntry *)growable_at(&s_reg.images, found);
    if (e->generation != 0 && e->generation != s_reg.generation) e->generation = s_reg.generation;
    *pixels = e->pixels;
    *width = e->width;
    *height = e->height;
    return 1;
  }
  uint8_t *data;
  size_t size;
  if (!data_read_all(request, &data, &size, MAX_TEXTURE_FILE)) {
    if (s_config.debug_level >= 1) show_messagef("Can't open texture \"%.900s\"", request);
    return 0;
  }
  Image image;
  char *info;
  int ok = decode_texture_file(request, data, size, &image, &info);
  free(data);
  if (!ok) return 0;
  int max_alpha = info && strstr(info, "[mip_max_alpha]");
  free(info);
  // In-memory images are kept as RGBA with their mip chain.
  uint8_t *chain = chain_of(&image, 4, max_alpha);
  int w = image.width, h = image.height;
  image_free(&image);
  if (!is_power_of_two(w) || !is_power_of_two(h)) stretch_to_power_of_two(&chain, &w, &h, 4, max_alpha);
  uint8_t *top = drop_detail(chain, &w, &h, 4, detail);
  if (top != chain) {  // keep only the levels from the new top down
    size_t keep = mip_chain_size(w, h, 4);
    uint8_t *trimmed = (uint8_t *)malloc(keep);
    if (!trimmed) fatal_out_of_memory();
    memcpy(trimmed, top, keep);
    free(chain);
    chain = trimmed;
  }
  ImageEntry e = {chain, w, h, s_reg.generation, (unsigned long)mip_chain_size(w, h, 4),
                  copy_string(request)};
  growable_push(&s_reg.images, &e);
  *pixels = chain;
  *width = w;
  *height = h;
  return 1;
}

const char *texture_name(uint32_t id) {
  if (!id) return nullptr;
  for (int i = 0; i < s_reg.textures.count; i++) {
    TextureEntry *e = (TextureEntry *)growable_at(&s_reg.textures, i);
    if (e->id == id) return e->name;
  }
  return nullptr;
}

const char *texture_info(uint32_t id) {
  for (int i = 0; i < s_reg.textures.count; i++) {
    TextureEntry *e = (TextureEntry *)growable_at(&s_reg.textures, i);
    if (e->id == id) return e->info;
  }
  return nullptr;
}

const char *image_name(const uint8_t *pixels) {
  if (!pixels) return nullptr;
  for (int i = 0; i < s_reg.images.count; i++) {
    ImageEntry *e = (ImageEntry *)growable_at(&s_reg.images, i);
    if (e->pixels == pixels) return e->name;
  }
  return nullptr;
}

// Removes entry `index` of a registry, keeping the order of the rest.
static void registry_remove(Growable *g, int index) {
  char *base = (char *)g->data;
  memmove(base + size_t(index) * g->element_size, base + size_t(index + 1) * g->element_size,
          size_t(g->count - index - 1) * g->element_size);
  g->count--;
}

void texture_purge() {
  registry_init();
  for (int i = s_reg.textures.count - 1; i >= 0; i--) {
    TextureEntry *e = (TextureEntry *)growable_at(&s_reg.textures, i);
    if (e->generation == 0 || e->generation == s_reg.generation) continue;
    if (s_config.debug_level >= 1) show_messagef("deleting tid %d (%.900s)", (int)e->id, e->name);
    if (s_config.has_hooks && s_config.hooks.destroy) s_config.hooks.destroy(e->id);
    free(e->info);
    free(e->name);
    registry_remove(&s_reg.textures, i);
  }
  for (int i = s_reg.images.count - 1; i >= 0; i--) {
    ImageEntry *e = (ImageEntry *)growable_at(&s_reg.images, i);
    if (e->generation == 0 || e->generation == s_reg.generation) continue;
    if (s_config.debug_level >= 1) show_messagef("deleting image %.900s", e->name);
    free(e->pixels);
    free(e->name);
    registry_remove(&s_reg.images, i);
  }
  for (int i = s_reg.animations.count - 1; i >= 0; i--) {
    Animation *a = (Animation *)growable_at(&s_reg.animations, i);
    if (texture_name(a->id)) continue;
    if (s_config.debug_level >= 1) show_messagef("deleting anim %d for tid %d", i, (int)a->id);
    animation_free(a);
    registry_remove(&s_reg.animations, i);
  }
}


void texture_reset_for_tests() {
  if (s_reg.ready) {
    for (int i = 0; i < s_reg.textures.count; i++) {
      TextureEntry *e = (TextureEntry *)growable_at(&s_reg.textures, i);
      free(e->info);
      free(e->name);
    }
    for (int i = 0; i < s_reg.images.count; i++) {
      ImageEntry *e = (ImageEntry *)growable_at(&s_reg.images, i);
      free(e->pixels);
      free(e->name);
    }
    for (int i = 0; i < s_reg.aliases.count; i++) {
      Alias *a = (Alias *)growable_at(&s_reg.aliases, i);
      free(a->link);
      free(a->target);
    }
    for (int i = 0; i < s_reg.animations.count; i++) animation_free((Animation *)growable_at(&s_reg.animations, i));
    growable_free(&s_reg.animations);
    growable_free(&s_reg.textures);
    growable_free(&s_reg.images);
    growable_free(&s_reg.aliases);
  }
  s_reg = {};
  s_config = {};
}
