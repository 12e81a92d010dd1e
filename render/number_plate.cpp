// Number plates: the racer's number drawn with the built-in stroke font into an RGBA
// image with its mip chain, and uploaded as a texture.
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include "core/common.h"
#include "platform/velk.h"
#include "render/texture.h"

namespace {

// Each glyph is a set of strokes on a grid 6 units wide and 9 tall (y down); a stroke is a
// polyline written as digit pairs "xy", strokes separated by blanks. Lower-case letters
// use the capitals; other characters leave a gap.
struct PlateGlyph {
  char ch;
  const char *strokes;
};
const PlateGlyph PLATE_FONT[] = {
    {'0', "10500161685919080110"},
    {'1', "123039 1959"},
    {'2', "01105061630969"},
    {'3', "01105061635424 546568591908"},
    {'4', "49400666"},
    {'5', "600004546568591908"},
    {'6', "50200208195968655404"},
    {'7', "00606129"},
    {'8', "105061635414030110 145465685919080514"},
    {'9', "65150401105061674919"},
    {'A', "090220406269 0565"},
    {'B', "00095968655404 0040515344"},
    {'C', "6150100108195968"},
    {'D', "00094967624000"},
    {'E', "60000969 0444"},
    {'F', "600009 0444"},
    {'G', "61501001081959686535"},
    {'H', "0009 6069 0464"},
    {'I', "1050 3039 1959"},
    {'J', "606859190806"},
    {'K', "0009 6006 2469"},
    {'L', "000969"},
    {'M', "0900356069"},
    {'N', "09006960"},
    {'O', "204062674929070220"},
    {'P', "09005061645505"},
    {'Q', "204062674929070220 4769"},
    {'R', "09005061645505 3569"},
    {'S', "615010010314546568591908"},
    {'T', "0060 3039"},
    {'U', "000819596860"},
    {'V', "003960"},
    {'W', "0019345960"},
    {'X', "0069 6009"},
    {'Y', "003460 3439"},
    {'Z', "00600969"},
    {'-', "1454"},
};
constexpr int GLYPH_UNITS_W = 6, GLYPH_UNITS_H = 9;
constexpr float STROKE = 0.75f;       // units, half the stroke width
constexpr float GAP = 1.0f;           // units between the inks of two glyphs
constexpr float TEXT_HEIGHT = 0.55f;  // of the plate's height, ink included
constexpr float MIN_CONDENSE = 0.5f;  // narrowest glyphs before the whole text shrinks

const char *glyph_strokes(char c) {
  if (c >= 'a' && c <= 'z') c = (char)(c - 'a' + 'A');
  for (const PlateGlyph &g : PLATE_FONT)
    if (g.ch == c) return g.strokes;
  return "";
}

float segment_distance(float px, float py, float ax, float ay, float bx, float by) {
  float ex = bx - ax, ey = by - ay, qx = px - ax, qy = py - ay;
  float len2 = ex * ex + ey * ey;
  float t = len2 > 0 ? (qx * ex + qy * ey) / len2 : 0;
  t = t < 0 ? 0 : (t > 1 ? 1 : t);
  float dx = qx - ex * t, dy = qy - ey * t;
  return sqrtf(dx * dx + dy * dy);
}

// Adds one glyph's coverage (0..1, the larger wins) to `cover`, its grid origin at (x0, y0)
// pixels, `unit` pixels per grid unit down and `unit_x` across.
void draw_glyph(float *cover, int width, int height, const char *strokes, float x0, float y0,
                float unit, float unit_x) {
  float radius = STROKE * unit;
  for (const char *s = strokes; *s;) {
    if (*s == ' ') {
      s++;
      continue;
    }
    const char *end = s;
    while (*end && *end != ' ') end++;
    for (const char *p = s; p + 3 < end; p += 2) {
      float ax = x0 + (p[0] - '0') * unit_x, ay = y0 + (p[1] - '0') * unit;
      float bx = x0 + (p[2] - '0') * unit_x, by = y0 + (p[3] - '0') * unit;
      // Only the pixels near the segment.
      int left = (int)floorf(fminf(ax, bx) - radius - 1), right = (int)ceilf(fmaxf(ax, bx) + radius + 1);
      int top = (int)floorf(fminf(ay, by) - radius - 1), bottom = (int)ceilf(fmaxf(ay, by) + radius + 1);
      if (left < 0) left = 0;
      if (top < 0) top = 0;
      if (right > width - 1) right = width - 1;
      if (bottom > height - 1) bottom = height - 1;
      for (int y = top; y <= bottom; y++)
        for (int x = left; x <= right; x++) {
          float d = segment_distance(x + 0.5f, y + 0.5f, ax, ay, bx, by);
          float c = radius - d + 0.5f;  // one pixel of antialiasing at the edge
          c = c < 0 ? 0 : (c > 1 ? 1 : c);
          float &at = cover[(size_t)y * width + x];
          if (c > at) at = c;
        }
    }
    s = end;
  }
}

}  // namespace

int number_plate_image(const char *text, int width, int height, const uint8_t foreground[3],
                       const uint8_t background[3], Image *out) {
  if (width < 1 || height < 1 || width > 4096 || height > 4096) return 0;
  if (!text) text = "";
  size_t count = strlen(text);
  float *cover = (float *)calloc((size_t)width * height, sizeof(float));
  uint8_t *pixels = (uint8_t *)malloc(mip_chain_size(width, height, 4));
  if (!cover || !pixels) fatal_out_of_memory();

  if (count > 0) {
    // The text is TEXT_HEIGHT of the plate tall and fits inside a margin of 1/16 of the
    // width: a long number first gets narrower glyphs, then shrinks as a whole.
    float avail = width - 2.0f * (width / 16);
    float unit = TEXT_HEIGHT * height / (GLYPH_UNITS_H + 2 * STROKE);
    float condense = 1;
    float fixed = count * (2 * STROKE + GAP) - GAP;  // units that do not condense
    float natural = (count * GLYPH_UNITS_W + fixed) * unit;
    if (natural > avail) {
      condense = (avail / unit - fixed) / (count * GLYPH_UNITS_W);
      if (condense < MIN_CONDENSE) {
        condense = MIN_CONDENSE;
        unit = avail / (count * GLYPH_UNITS_W * condense + fixed);
      }
    }
    float unit_x = unit * condense;
    float advance = GLYPH_UNITS_W * unit_x + (2 * STROKE + GAP) * unit;
    float ink_w = count * advance - GAP * unit;
    float ink_h = (GLYPH_UNITS_H + 2 * STROKE) * unit;
    float x = (width - ink_w) / 2 + STROKE * unit, y = (height - ink_h) / 2 + STROKE * unit;
    for (size_t i = 0; i < count; i++, x += advance)
      draw_glyph(cover, width, height, glyph_strokes(text[i]), x, y, unit, unit_x);
  }

  for (size_t i = 0; i < (size_t)width * height; i++) {
    float c = cover[i];
    for (int k = 0; k < 3; k++)
      pixels[i * 4 + k] = (uint8_t)lrintf(background[k] + (foreground[k] - background[k]) * c);
    pixels[i * 4 + 3] = 255;
  }
  free(cover);
  mip_build(pixels, width, height, 4, 0);

  // Every level gets a transparent white rim, so the clamped edge of a plate never smears
  // the number's colours over the part around it.
  uint8_t *level = pixels;
  for (int w = width, h = height;;) {
    for (int y = 0; y < h; y++)
      for (int x = 0; x < w; x++)
        if (x == 0 || y == 0 || x == w - 1 || y == h - 1) memcpy(level + ((size_t)y * w + x) * 4, "\xff\xff\xff\x00", 4);
    level += (size_t)w * h * 4;
    if (w == 1 && h == 1) break;
    w = w > 1 ? w / 2 : 1;
    h = h > 1 ? h / 2 : 1;
  }
  out->pixels = pixels;
  out->width = width;
  out->height = height;
  out->channels = 4;
  return 1;
}

uint32_t number_plate_texture(const char *text, int width, int height,
                              const uint8_t foreground[3], const uint8_t background[3]) {
  Image image;
  if (!number_plate_image(text, width, height, foreground, background, &image)) return 0;
  uint32_t id = texture_upload(image.pixels, width, height, 4, 0);
  image_free(&image);
  return id;
}
