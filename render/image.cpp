// Image readers (PNG through libpng, PPM, PGM, the predictive V6/V7 form) and PNG writers.
#include <png.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <csetjmp>

#include "files/files.h"
#include "platform/velk.h"
#include "render/texture.h"

// ---- per process ----
static char s_last_error[128];
static size_t s_max_pixels = size_t(1) << 26;  // largest image accepted (64 Mpixel)

static int image_fail(const char *reason) {
  snprintf(s_last_error, sizeof s_last_error, "%s", reason);
  return 0;
}

const char *image_last_error() { return s_last_error; }

void image_set_max_pixels(size_t pixels) { s_max_pixels = pixels ? pixels : size_t(1) << 26; }

void image_free(Image *image) {
  free(image->pixels);
  image->pixels = nullptr;
  image->width = image->height = 0;
}

static int dimensions_ok(long width, long height) {
  return width > 0 && height > 0 && width <= 65535 && height <= 65535 &&
         size_t(width) * size_t(height) <= s_max_pixels;
}

static void *checked_malloc(size_t size) {
  void *p = malloc(size ? size : 1);
  if (!p) fatal_out_of_memory();
  return p;
}

// ---- whole files ----
int datafile_read_all(DataFile *file, uint8_t **data, size_t *size, size_t max_size) {
  size_t capacity = 1 << 16, used = 0;
  uint8_t *buffer = (uint8_t *)checked_malloc(capacity);
  for (;;) {
    if (used == capacity) {
      if (capacity >= max_size) {
        free(buffer);
        return 0;
      }
      capacity *= 2;
      uint8_t *grown = (uint8_t *)realloc(buffer, capacity);
      if (!grown) fatal_out_of_memory();
      buffer = grown;
    }
    size_t got = datafile_read(file, buffer + used, capacity - used);
    if (got == 0) break;
    used += got;
    if (used > max_size) {
      free(buffer);
      return 0;
    }
  }
  *data = buffer;
  *size = used;
  return 1;
}

int data_read_all(const char *name, uint8_t **data, size_t *size, size_t max_size) {
  DataFile *file = datafile_open(name, "rb");
  if (!file) return 0;
  int ok = datafile_read_all(file, data, size, max_size);
  datafile_close(file);
  return ok;
}

// ---- text headers shared by PPM, PGM and the predictive form ----
struct TextCursor {
  const uint8_t *data;
  size_t size, pos;
};

static int is_space(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

// Skips white space and '#' comment lines, then reads a decimal number.
static int read_header_number(TextCursor *t, long *out) {
  for (;;) {
    while (t->pos < t->size && is_space(t->data[t->pos])) t->pos++;
    if (t->pos < t->size && t->data[t->pos] == '#') {
      while (t->pos < t->size && t->data[t->pos] != '\n') t->pos++;
      continue;
    }
    break;
  }
  long value = 0;
  size_t start = t->pos;
  while (t->pos < t->size && t->data[t->pos] >= '0' && t->data[t->pos] <= '9') {
    if (value < 100000000) value = value * 10 + (t->data[t->pos] - '0');
    t->pos++;
  }
  if (t->pos == start) return 0;
  *out = value;
  return 1;
}

// The first white-space delimited token (at most 15 characters).
static void read_magic(const uint8_t *data, size_t size, char magic[16]) {
  size_t i = 0, n = 0;
  while (i < size && is_space(data[i])) i++;
  while (i < size && !is_space(data[i]) && n < 15) magic[n++] = (char)data[i++];
  magic[n] = 0;
}

// PPM and PGM bodies: `channels` samples per pixel, binary or text.
static int read_netpbm(const uint8_t *data, size_t size, int channels, int binary,
                       const char *dims_error, Image *out) {
  TextCursor t = {data, size, 2};
  long width, height, maxval;
  if (!read_header_number(&t, &width) || !read_header_number(&t, &height)) return image_fail(dims_error);
  if (!read_header_number(&t, &maxval)) return image_fail(dims_error);
  if (!dimensions_ok(width, height)) return image_fail("Bad image dimensions");
  if (maxval < 1 || maxval > 65535) return image_fail("Bad maximum value");
  size_t count = size_t(width) * size_t(height) * size_t(channels);
  uint8_t *pixels = (uint8_t *)checked_malloc(count);
  if (binary) {
    if (t.pos >= size || !is_space(data[t.pos])) {
      free(pixels);
      return image_fail("Short image");
    }
    t.pos++;  // the one white-space byte before the samples
    size_t bytes = maxval > 255 ? 2 : 1;
    if (size - t.pos < count * bytes) {
      free(pixels);
      return image_fail("Short image");
    }
    const uint8_t *p = data + t.pos;
    for (size_t i = 0; i < count; i++) {
      long v = bytes == 2 ? (p[2 * i] << 8 | p[2 * i + 1]) : p[i];
      if (v > maxval) v = maxval;
      pixels[i] = maxval == 255 ? (uint8_t)v : (uint8_t)(v * 255 / maxval);
    }
  } else {
    for (size_t i = 0; i < count; i++) {
      long v;
      if (!read_header_number(&t, &v)) {
        free(pixels);
        return image_fail("Short image");
      }
      if (v > maxval) v = maxval;
      pixels[i] = maxval == 255 ? (uint8_t)v : (uint8_t)(v * 255 / maxval);
    }
  }
  out->pixels = pixels;
  out->width = (int)width;
  out->height = (int)height;
  out->channels = channels;
  return 1;
}

int image_decode_ppm(const uint8_t *data, size_t size, Image *out) {
  if (size < 2 || data[0] != 'P' || (data[1] != '6' && data[1] != '3'))
    return image_fail("Can't parse PPM header");
  return read_netpbm(data, size, 3, data[1] == '6', "Can't get PPM dimensions", out);
}

int image_decode_pgm(const uint8_t *data, size_t size, Image *out) {
  if (size < 2 || data[0] != 'P' || (data[1] != '5' && data[1] != '2'))
    return image_fail("Can't parse PGM header");
  return read_netpbm(data, size, 1, data[1] == '5', "Can't get PGM dimensions", out);
}

int image_decode_predictive(const uint8_t *data, size_t size, Image *out) {
  size_t consumed;
  return image_decode_predictive_at(data, size, out, &consumed);
}

int image_decode_predictive_at(const uint8_t *data, size_t size, Image *out, size_t *consumed) {
  if (size < 2 || data[0] != 'V' || (data[1] != '6' && data[1] != '7'))
    return image_fail("Can't parse image header");
  int channels = data[1] == '7' ? 4 : 3;
  TextCursor t = {data, size, 2};
  long width, height;
  if (!read_header_number(&t, &width) || !read_header_number(&t, &height))
    return image_fail("Can't get image dimensions");
  if (!dimensions_ok(width, height)) return image_fail("Bad image dimensions");
  if (t.pos >= size) return image_fail("Short image");
  t.pos++;
  size_t row = size_t(width) * channels;
  size_t count = row * size_t(height);
  if (size - t.pos < count) return image_fail("Short image");
  const uint8_t *p = data + t.pos;
  uint8_t *pixels = (uint8_t *)checked_malloc(count);
  for (long y = 0; y < height; y++) {
    for (long x = 0; x < width; x++) {
      for (int c = 0; c < channels; c++) {
        size_t i = size_t(y) * row + size_t(x) * channels + c;
        int predict;
        if (y == 0 && x == 0) predict = 0;
        else if (y == 0) predict = pixels[i - channels];
        else if (x == 0) predict = pixels[i - row];
        else {
          predict = pixels[i - channels] + pixels[i - row] - pixels[i - row - channels];
          predict = predict < 0 ? 0 : predict > 255 ? 255 : predict;
        }
        pixels[i] = (uint8_t)(p[i] + predict);
      }
    }
  }
  *consumed = t.pos + count;
  out->pixels = pixels;
  out->width = (int)width;
  out->height = (int)height;
  out->channels = channels;
  return 1;
}

// ---- PNG ----
// libpng reports errors by a long jump back into the reader; everything the reader
// allocated is reachable from PngRead so it can be freed after the jump.
struct PngSource {
  const uint8_t *data;
  size_t size, pos;
};

static void png_read_callback(png_structp png, png_bytep out, png_size_t length) {
  PngSource *src = (PngSource *)png_get_io_ptr(png);
  if (src->size - src->pos < length) png_error(png, "Short PNG");
  memcpy(out, src->data + src->pos, length);
  src->pos += length;
}

static void png_warning_callback(png_structp, png_const_charp) {}
static void png_error_callback(png_structp png, png_const_charp message) {
  image_fail(message);
  longjmp(png_jmpbuf(png), 1);
}

static void append_text(char **text, png_structp png, png_infop info) {
  png_textp chunks;
  int count = 0;
  if (!info || !png_get_text(png, info, &chunks, &count)) return;
  for (int i = 0; i < count; i++) {
    const char *add = chunks[i].text ? chunks[i].text : "";
    size_t have = *text ? strlen(*text) : 0, more = strlen(add);
    char *grown = (char *)realloc(*text, have + more + 1);
    if (!grown) fatal_out_of_memory();
    memcpy(grown + have, add, more + 1);
    *text = grown;
  }
}

// Reads a PNG either as 8-bit RGB(A) (grey16 0) or as 16-bit grey samples (grey16 1).
struct PngRead {
  png_structp png;
  png_infop info, end;
  uint8_t *pixels;
  png_bytep *rows;
  char *text;
};

// Every chunk must lie within the file: libpng would otherwise allocate (and clear) what a
// corrupt length claims before finding the data missing.
static int png_chunks_fit(const uint8_t *data, size_t size) {
  size_t pos = 8;
  while (size - pos >= 8) {
    if (size - pos < 12) return 0;
    size_t length = size_t(data[pos]) << 24 | data[pos + 1] << 16 | data[pos + 2] << 8 | data[pos + 3];
    if (length > size - pos - 12) return 0;
    if (!memcmp(data + pos + 4, "IEND", 4)) return 1;
    pos += 12 + length;
  }
  return 1;
}

static int png_decode(const uint8_t *data, size_t size, int grey16, Image *out, uint16_t **samples,
                      char **info_text) {
  if (size < 8 || png_sig_cmp((png_const_bytep)data, 0, 8)) return image_fail("Not a PNG file");
  if (!png_chunks_fit(data, size)) return image_fail("Short PNG");
  PngSource src = {data, size, 8};
  static PngRead r;  // reachable across the long jump; readers run on the main thread only
  memset(&r, 0, sizeof r);
  r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, png_error_callback,
                                 png_warning_callback);
  if (!r.png) fatal_out_of_memory();
  r.info = png_create_info_struct(r.png);
  r.end = png_create_info_struct(r.png);
  if (!r.info || !r.end) fatal_out_of_memory();
  if (setjmp(png_jmpbuf(r.png))) {
    png_destroy_read_struct(&r.png, &r.info, &r.end);
    free(r.pixels);
    free(r.rows);
    free(r.text);
    return 0;
  }
  png_set_read_fn(r.png, &src, png_read_callback);
  png_set_sig_bytes(r.png, 8);
  png_set_user_limits(r.png, 65535, 65535);
  png_read_info(r.png, r.info);
  png_uint_32 width = png_get_image_width(r.png, r.info);
  png_uint_32 height = png_get_image_height(r.png, r.info);
  if (!dimensions_ok(width, height)) png_error(r.png, "Bad image dimensions");
  int colour = png_get_color_type(r.png, r.info);
  int depth = png_get_bit_depth(r.png, r.info);
  int has_trns = png_get_valid(r.png, r.info, PNG_INFO_tRNS) != 0;
  if (colour == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(r.png);
  if (colour == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(r.png);
  int channels;
  if (grey16) {
    if (has_trns) png_set_tRNS_to_alpha(r.png);
    png_set_strip_alpha(r.png);
    if (colour == PNG_COLOR_TYPE_PALETTE || (colour & PNG_COLOR_MASK_COLOR))
      png_set_rgb_to_gray_fixed(r.png, 1, -1, -1);
    channels = 1;
  } else {
    if (depth == 16) png_set_strip_16(r.png);
    if (colour == PNG_COLOR_TYPE_GRAY || colour == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(r.png);
    if (has_trns) png_set_tRNS_to_alpha(r.png);
    channels = (colour & PNG_COLOR_MASK_ALPHA) || has_trns ? 4 : 3;
  }
  png_set_interlace_handling(r.png);
  png_read_update_info(r.png, r.info);
  size_t rowbytes = png_get_rowbytes(r.png, r.info);
  int out_depth = png_get_bit_depth(r.png, r.info);
  size_t expect = size_t(width) * channels * (out_depth == 16 ? 2 : 1);
  if (rowbytes != expect || png_get_channels(r.png, r.info) != channels)
    png_error(r.png, "Unexpected PNG layout");
  r.pixels = (uint8_t *)checked_malloc(rowbytes * height);
  r.rows = (png_bytep *)checked_malloc(sizeof(png_bytep) * height);
  for (png_uint_32 y = 0; y < height; y++) r.rows[y] = r.pixels + rowbytes * y;
  png_read_image(r.png, r.rows);
  png_read_end(r.png, r.end);
  if (info_text) {
    append_text(&r.text, r.png, r.info);
    append_text(&r.text, r.png, r.end);
  }
  png_destroy_read_struct(&r.png, &r.info, &r.end);
  free(r.rows);
  if (grey16) {
    uint16_t *grey = (uint16_t *)checked_malloc(sizeof(uint16_t) * size_t(width) * height);
    size_t count = size_t(width) * height;
    for (size_t i = 0; i < count; i++)
      grey[i] = out_depth == 16 ? uint16_t(r.pixels[2 * i] << 8 | r.pixels[2 * i + 1])
                                : uint16_t(r.pixels[i] * 257);
    free(r.pixels);
    *samples = grey;
    out->width = (int)width;
    out->height = (int)height;
    out->channels = 1;
  } else {
    out->pixels = r.pixels;
    out->width = (int)width;
    out->height = (int)height;
    out->channels = channels;
    if (info_text) *info_text = r.text;
  }
  return 1;
}

int image_decode_png(const uint8_t *data, size_t size, Image *out, char **info_text) {
  Image image;
  char *text = nullptr;
  if (!png_decode(data, size, 0, &image, nullptr, info_text ? &text : nullptr)) return 0;
  *out = image;
  if (info_text) *info_text = text;
  return 1;
}

int image_decode_png_grey16(const uint8_t *data, size_t size, uint16_t **samples, int *width,
                            int *height) {
  Image image;
  uint16_t *grey = nullptr;
  if (!png_decode(data, size, 1, &image, &grey, nullptr)) return 0;
  *samples = grey;
  *width = image.width;
  *height = image.height;
  return 1;
}

int image_decode(const uint8_t *data, size_t size, Image *out) {
  char magic[16];
  read_magic(data, size, magic);
  if (!strcmp(magic, "V6") || !strcmp(magic, "V7")) return image_decode_predictive(data, size, out);
  if (!strcmp(magic, "P6") || !strcmp(magic, "P3")) return image_decode_ppm(data, size, out);
  if (!strcmp(magic, "P5") || !strcmp(magic, "P2")) return image_decode_pgm(data, size, out);
  return image_decode_png(data, size, out, nullptr);
}

int image_read_file(const char *name, Image *out) {
  uint8_t *data;
  size_t size;
  if (!data_read_all(name, &data, &size, size_t(1) << 30)) return image_fail("Can't open image");
  int ok = image_decode(data, size, out);
  free(data);
  return ok;
}

// ---- PNG writers ----
static void png_write_callback(png_structp png, png_bytep data, png_size_t length) {
  DataFile *file = (DataFile *)png_get_io_ptr(png);
  if (datafile_write(file, data, length) != length) png_error(png, "Write error");
}
static void png_flush_callback(png_structp png) { datafile_flush((DataFile *)png_get_io_ptr(png)); }

// Writes rows of `bytes_per_row`; `depth` 8 or 16, `colour` a PNG colour type.
static int png_write(const char *name, const uint8_t *rows, int width, int height, int depth,
                     int colour, size_t bytes_per_row) {
  if (width <= 0 || height <= 0) return image_fail("Bad image dimensions");
  DataFile *file = datafile_open(name, "wb");
  if (!file) return image_fail("Can't open file for writing");
  static png_structp png;  // reachable across the long jump
  static png_infop info;
  png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, png_error_callback,
                                png_warning_callback);
  if (!png) fatal_out_of_memory();
  info = png_create_info_struct(png);
  if (!info) fatal_out_of_memory();
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    datafile_close(file);
    return 0;
  }
  png_set_write_fn(png, file, png_write_callback, png_flush_callback);
  png_set_IHDR(png, info, width, height, depth, colour, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < height; y++) png_write_row(png, (png_bytep)(rows + bytes_per_row * y));
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  datafile_close(file);
  return 1;
}

int png_write_grey16(const char *name, const uint16_t *samples, int width, int height) {
  if (width <= 0 || height <= 0) return image_fail("Bad image dimensions");
  size_t count = size_t(width) * height;
  uint8_t *bytes = (uint8_t *)checked_malloc(count * 2);
  for (size_t i = 0; i < count; i++) {  // PNG samples are big-endian
    bytes[2 * i] = uint8_t(samples[i] >> 8);
    bytes[2 * i + 1] = uint8_t(samples[i]);
  }
  int ok = png_write(name, bytes, width, height, 16, PNG_COLOR_TYPE_GRAY, size_t(width) * 2);
  free(bytes);
  return ok;
}

int png_write_rgb(const char *name, const uint8_t *pixels, int width, int height) {
  return png_write(name, pixels, width, height, 8, PNG_COLOR_TYPE_RGB, size_t(width) * 3);
}

// ---- mip chains ----
size_t mip_chain_size(int width, int height, int channels) {
  size_t total = 0;
  for (;;) {
    total += size_t(width) * height * channels;
    if (width == 1 && height == 1) break;
    width = width > 1 ? width / 2 : 1;
    height = height > 1 ? height / 2 : 1;
  }
  return total;
}

void mip_reduce(uint8_t *level, int width, int height, int channels, int max_alpha) {
  int w2 = width > 1 ? width / 2 : 1, h2 = height > 1 ? height / 2 : 1;
  int sx = width > 1 ? 2 : 1, sy = height > 1 ? 2 : 1;
  int shift = (sx == 2) + (sy == 2);
  uint8_t *next = level + size_t(width) * height * channels;
  for (int y = 0; y < h2; y++) {
    for (int x = 0; x < w2; x++) {
      const uint8_t *p[4];
      int n = 0;
      for (int dy = 0; dy < sy; dy++)
        for (int dx = 0; dx < sx; dx++)
          p[n++] = level + (size_t(y * sy + dy) * width + size_t(x * sx + dx)) * channels;
      uint8_t *q = next + (size_t(y) * w2 + x) * channels;
      if (channels != 4) {
        for (int c = 0; c < channels; c++) {
          int sum = 0;
          for (int k = 0; k < n; k++) sum += p[k][c];
          q[c] = uint8_t(sum >> shift);
        }
        continue;
      }
      int asum = 0, amax = 0, all_opaque = 1;
      for (int k = 0; k < n; k++) {
        asum += p[k][3];
        if (p[k][3] > amax) amax = p[k][3];
        if (p[k][3] != 255) all_opaque = 0;
      }
      for (int c = 0; c < 3; c++) {
        int sum = 0, weighted = 0;
        for (int k = 0; k < n; k++) {
          sum += p[k][c];
          weighted += p[k][c] * p[k][3];
        }
        q[c] = asum == 0 || all_opaque ? uint8_t(sum >> shift) : uint8_t(weighted / asum);
      }
      q[3] = max_alpha ? uint8_t(amax) : uint8_t(asum >> shift);
    }
  }
}

void mip_build(uint8_t *pixels, int width, int height, int channels, int max_alpha) {
  while (width > 1 || height > 1) {
    mip_reduce(pixels, width, height, channels, max_alpha);
    pixels += size_t(width) * height * channels;
    width = width > 1 ? width / 2 : 1;
    height = height > 1 ? height / 2 : 1;
  }
}
