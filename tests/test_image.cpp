// Image readers, PNG writers, mip chains and the texture and image registries.
#include <gtest/gtest.h>
#include <png.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/frame.h"
#include "render/texture.h"

static bool logged(const char *text) {
  const MessageLog *log = message_log();
  for (int i = 0; i < MESSAGE_LOG_LINES; i++)
    if (strstr(log->lines[i], text)) return true;
  return false;
}

static std::vector<uint8_t> bytes(const std::string &s) { return std::vector<uint8_t>(s.begin(), s.end()); }

// Writes a PNG of any colour type with libpng directly (palette and tRNS included).
static std::string png_file(const char *path, int w, int h, int colour, int depth,
                            const std::vector<uint8_t> &data, bool trns = false) {
  FILE *f = fopen(path, "wb");
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, f);
  png_set_IHDR(png, info, w, h, depth, colour, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (colour == PNG_COLOR_TYPE_PALETTE) {
    png_color palette[2] = {{10, 20, 30}, {200, 100, 50}};
    png_set_PLTE(png, info, palette, 2);
  }
  if (trns) {
    png_byte alpha[2] = {0, 255};
    png_set_tRNS(png, info, alpha, 2, nullptr);
  }
  png_text text = {};
  text.compression = PNG_TEXT_COMPRESSION_NONE;
  text.key = (png_charp) "Comment";
  text.text = (png_charp) "[mip_max_alpha]";
  png_set_text(png, info, &text, 1);
  png_write_info(png, info);
  size_t row = data.size() / h;
  for (int y = 0; y < h; y++) png_write_row(png, (png_bytep)data.data() + row * y);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  fclose(f);
  FILE *r = fopen(path, "rb");
  std::string out;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, r)) > 0) out.append(buffer, n);
  fclose(r);
  return out;
}

class Images : public ::testing::Test {
 protected:
  void SetUp() override {
    texture_reset_for_tests();
    message_log_clear();
    snprintf(dir, sizeof dir, "/tmp/dvimage_XXXXXX");
    ASSERT_NE(mkdtemp(dir), nullptr);
  }
  void TearDown() override {
    texture_reset_for_tests();
    system((std::string("rm -rf ") + dir).c_str());
  }
  std::string file(const char *name) { return std::string(dir) + "/" + name; }
  void write(const char *name, const std::string &data) {
    FILE *f = fopen(file(name).c_str(), "wb");
    fwrite(data.data(), 1, data.size(), f);
    fclose(f);
  }
  char dir[64];
};

TEST_F(Images, NetpbmAndPredictiveForms) {
  struct Case {
    const char *name;
    std::string data;
    int w, h, channels;
    std::vector<uint8_t> pixels;
  } cases[] = {
      {"binary ppm", std::string("P6\n# c\n2 1\n255\n") + "\x01\x02\x03\xff\x80\x07", 2, 1, 3, {1, 2, 3, 255, 128, 7}},
      {"text ppm with maxval 15", "P3 1 2 # comment\n15\n15 0 5\n# between\n1 2 3", 1, 2, 3, {255, 0, 85, 17, 34, 51}},
      {"binary pgm", std::string("P5 3 1 255\n") + std::string("\x00\x7f\xff", 3), 3, 1, 1, {0, 127, 255}},
      {"text pgm", "P2\n2 1\n# max\n1\n1 0\n", 2, 1, 1, {255, 0}},
      {"binary ppm, 16-bit", std::string("P6 1 1 65535\n") + std::string("\xff\xff\x80\x00\x00\x00", 6), 1, 1, 3, {255, 127, 0}},
      // V6: first pixel as is, first row from the left, first column from above,
      // the rest from left + above - above-left.
      {"predictive rgb", std::string("V6 2 2\n") + std::string("\x0a\x14\x1e" "\x01\x01\x01" "\x02\x02\x02" "\x03\x00\xff", 12),
       2, 2, 3, {10, 20, 30, 11, 21, 31, 12, 22, 32, 16, 23, 32}},
      {"predictive rgba", std::string("V7 1 1 ") + "\x01\x02\x03\x04", 1, 1, 4, {1, 2, 3, 4}},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.name);
    Image image = {};
    std::vector<uint8_t> data = bytes(k.data);
    ASSERT_EQ(image_decode(data.data(), data.size(), &image), 1) << image_last_error();
    EXPECT_EQ(image.width, k.w);
    EXPECT_EQ(image.height, k.h);
    EXPECT_EQ(image.channels, k.channels);
    EXPECT_EQ(std::vector<uint8_t>(image.pixels, image.pixels + k.pixels.size()), k.pixels);
    image_free(&image);
  }
}

TEST_F(Images, MalformedFilesFail) {
  struct Case { const char *name; std::string data; const char *error; } cases[] = {
      {"empty", "", nullptr},
      {"ppm without dimensions", "P6\n# only\n", "Can't get PPM dimensions"},
      {"ppm with one dimension", "P6 12", "Can't get PPM dimensions"},
      {"pgm without dimensions", "P5 x", "Can't get PGM dimensions"},
      {"short binary ppm", "P6 2 2 255\nabc", nullptr},
      {"short text ppm", "P3 1 1 255 1 2", nullptr},
      {"zero maxval", "P6 1 1 0\nabc", nullptr},
      {"zero width", "P6 0 1 255\n", nullptr},
      {"huge", "P6 100000 100000 255\n", nullptr},
      {"short predictive", "V7 2 2\nabcd", nullptr},
      {"truncated png", std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16), nullptr},
      {"garbage", "hello world", nullptr},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.name);
    Image image = {nullptr, -7, -7, -7};
    std::vector<uint8_t> data = bytes(k.data);
    EXPECT_EQ(image_decode(data.data(), data.size(), &image), 0);
    EXPECT_EQ(image.width, -7);  // untouched on failure
    if (k.error) {
      EXPECT_STREQ(image_last_error(), k.error);
    }
  }
  std::vector<uint8_t> ppm = bytes("P5 1 1 255\n\x01");
  Image image = {};
  EXPECT_EQ(image_decode_ppm(ppm.data(), ppm.size(), &image), 0);
  EXPECT_STREQ(image_last_error(), "Can't parse PPM header");
  std::vector<uint8_t> pgm = bytes("P6 1 1 255\n\x01\x01\x01");
  EXPECT_EQ(image_decode_pgm(pgm.data(), pgm.size(), &image), 0);
  EXPECT_STREQ(image_last_error(), "Can't parse PGM header");
}

TEST_F(Images, PngColourTypesBecomeRgbOrRgba) {
  struct Case {
    const char *name;
    int colour, depth;
    std::vector<uint8_t> data;  // 2 x 1 pixels
    bool trns;
    int channels;
    std::vector<uint8_t> pixels;
    uint16_t grey16[2];
  } cases[] = {
      {"rgb", PNG_COLOR_TYPE_RGB, 8, {1, 2, 3, 4, 5, 6}, false, 3, {1, 2, 3, 4, 5, 6}, {2 * 257, 5 * 257}},
      {"rgba", PNG_COLOR_TYPE_RGBA, 8, {1, 2, 3, 9, 4, 5, 6, 8}, false, 4, {1, 2, 3, 9, 4, 5, 6, 8}, {2 * 257, 5 * 257}},
      {"grey", PNG_COLOR_TYPE_GRAY, 8, {7, 250}, false, 3, {7, 7, 7, 250, 250, 250}, {7 * 257, 250 * 257}},
      {"grey 16", PNG_COLOR_TYPE_GRAY, 16, {0x12, 0x34, 0xff, 0x00}, false, 3, {0x12, 0x12, 0x12, 0xff, 0xff, 0xff}, {0x1234, 0xff00}},
      {"grey alpha", PNG_COLOR_TYPE_GRAY_ALPHA, 8, {7, 1, 9, 2}, false, 4, {7, 7, 7, 1, 9, 9, 9, 2}, {7 * 257, 9 * 257}},
      {"grey 4 bits", PNG_COLOR_TYPE_GRAY, 4, {0xf0}, false, 3, {255, 255, 255, 0, 0, 0}, {65535, 0}},
      {"palette", PNG_COLOR_TYPE_PALETTE, 8, {1, 0}, false, 3, {200, 100, 50, 10, 20, 30}, {0, 0}},
      {"palette with transparency", PNG_COLOR_TYPE_PALETTE, 8, {0, 1}, true, 4, {10, 20, 30, 0, 200, 100, 50, 255}, {0, 0}},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.name);
    std::string data = png_file(file("x.png").c_str(), 2, 1, k.colour, k.depth, k.data, k.trns);
    Image image = {};
    char *info = nullptr;
    ASSERT_EQ(image_decode_png((const uint8_t *)data.data(), data.size(), &image, &info), 1) << image_last_error();
    EXPECT_EQ(image.channels, k.channels);
    EXPECT_EQ(std::vector<uint8_t>(image.pixels, image.pixels + k.pixels.size()), k.pixels);
    EXPECT_STREQ(info, "[mip_max_alpha]");
    free(info);
    image_free(&image);
    uint16_t *grey;
    int w, h;
    ASSERT_EQ(image_decode_png_grey16((const uint8_t *)data.data(), data.size(), &grey, &w, &h), 1);
    EXPECT_EQ(w, 2);
    EXPECT_EQ(h, 1);
    if (k.colour != PNG_COLOR_TYPE_PALETTE && k.colour != PNG_COLOR_TYPE_RGB && k.colour != PNG_COLOR_TYPE_RGBA) {
      EXPECT_EQ(grey[0], k.grey16[0]);
      EXPECT_EQ(grey[1], k.grey16[1]);
    } else {  // colour made grey: a weighted mix of the channels
      EXPECT_GT(grey[0] + grey[1], 0);
    }
    free(grey);
  }
}

TEST_F(Images, PngWritersRoundTrip) {
  std::vector<uint16_t> grey = {0, 1, 0x1234, 0xffff, 300, 65534};
  ASSERT_EQ(png_write_grey16(file("h.png").c_str(), grey.data(), 3, 2), 1);
  uint16_t *back;
  int w, h;
  uint8_t *data;
  size_t size;
  ASSERT_EQ(data_read_all(file("h.png").c_str(), &data, &size, 1 << 20), 1);
  ASSERT_EQ(image_decode_png_grey16(data, size, &back, &w, &h), 1);
  free(data);
  EXPECT_EQ(std::vector<uint16_t>(back, back + 6), grey);
  free(back);

  std::vector<uint8_t> rgb = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  ASSERT_EQ(png_write_rgb(file("s.png").c_str(), rgb.data(), 2, 2), 1);
  Image image = {};
  ASSERT_EQ(image_read_file(file("s.png").c_str(), &image), 1);
  EXPECT_EQ(image.channels, 3);
  EXPECT_EQ(std::vector<uint8_t>(image.pixels, image.pixels + 12), rgb);
  image_free(&image);
  EXPECT_EQ(png_write_rgb("/proc/dv_none/x.png", rgb.data(), 2, 2), 0);
}

TEST_F(Images, MipReduce) {
  // 3 channels: plain averages; 1-wide images reduce by pairs.
  uint8_t rgb[2 * 2 * 3 + 3] = {10, 20, 30, 20, 30, 40, 30, 40, 50, 40, 50, 61};
  mip_reduce(rgb, 2, 2, 3, 0);
  EXPECT_EQ(rgb[12], 25);
  EXPECT_EQ(rgb[13], 35);
  EXPECT_EQ(rgb[14], 45);
  uint8_t column[1 * 2 * 3 + 3] = {10, 0, 0, 21, 0, 0};
  mip_reduce(column, 1, 2, 3, 0);
  EXPECT_EQ(column[6], 15);
  // 4 channels: colour weighted by alpha; alpha averaged or, with max-alpha, the largest.
  uint8_t rgba[4 * 4 + 4] = {200, 0, 0, 255, 0, 200, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  mip_reduce(rgba, 2, 2, 4, 0);
  EXPECT_EQ(rgba[16], 200);
  EXPECT_EQ(rgba[17], 0);
  EXPECT_EQ(rgba[19], 63);
  mip_reduce(rgba, 2, 2, 4, 1);
  EXPECT_EQ(rgba[19], 255);
  uint8_t clear[4 * 4 + 4] = {100, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  mip_reduce(clear, 2, 2, 4, 0);
  EXPECT_EQ(clear[16], 25);  // all transparent: plain average
  EXPECT_EQ(mip_chain_size(4, 2, 3), size_t(4 * 2 + 2 * 1 + 1) * 3);
}

// ---- the registries ----
struct UploadLog {
  int count, width, height, levels_hint, channels, flags;
  std::vector<uint32_t> destroyed;
};
static UploadLog s_uploads;
static uint32_t fake_upload(const uint8_t *, int w, int h, int channels, int flags, unsigned long *memory) {
  s_uploads.count++;
  s_uploads.width = w;
  s_uploads.height = h;
  s_uploads.channels = channels;
  s_uploads.flags = flags;
  *memory += (unsigned long)mip_chain_size(w, h, channels);
  return 1000 + s_uploads.count;
}
static void fake_destroy(uint32_t id) { s_uploads.destroyed.push_back(id); }

TEST_F(Images, RegistryCachesByNameWithCaseWarning) {
  write("Dirt.ppm", "P3 1 1 255 1 2 3");
  std::string exact = file("Dirt.ppm"), other = file("dirt.ppm");
  uint32_t id = texture_load(exact.c_str());
  ASSERT_NE(id, 0u);
  EXPECT_FALSE(logged("case mismatch"));
  EXPECT_EQ(texture_load(exact.c_str()), id);
  EXPECT_EQ(texture_load(other.c_str()), id);
  EXPECT_TRUE(logged(("Warning: case mismatch on '" + other + "'").c_str()));
  EXPECT_STREQ(texture_name(id), exact.c_str());
  EXPECT_EQ(texture_load(file("missing.png").c_str()), 0u);
  EXPECT_EQ(texture_load(""), 0u);
}

TEST_F(Images, UploadsFollowDetailFlagsAndPowersOfTwo) {
  s_uploads = {};
  TextureGlHooks hooks = {fake_upload, fake_destroy, nullptr};
  texture_set_gl_hooks(&hooks);
  struct Case {
    const char *name;
    int w, h, detail;
    int up_w, up_h, flags;
    bool npot_warning;
  } cases[] = {
      {"plain.ppm", 100, 50, 0, 128, 64, 0, true},
      {"big.ppm", 512, 256, 2, 256, 128, 0, false},
      {"!full.ppm", 512, 256, 2, 512, 256, 0, false},
      {"wall-hrepeat.ppm", 4, 4, 0, 4, 4, TEXTURE_REPEAT_X, false},
      {"wall-vrepeat.ppm", 4, 4, 0, 4, 4, TEXTURE_REPEAT_Y, false},
      {"wall-repeat.ppm", 4, 4, 0, 4, 4, TEXTURE_REPEAT_X | TEXTURE_REPEAT_Y, false},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.name);
    message_log_clear();
    texture_set_options(k.detail, 0, 1);
    const char *plain = k.name[0] == '!' ? k.name + 1 : k.name;
    write(plain, "P6 " + std::to_string(k.w) + " " + std::to_string(k.h) + " 255\n" + std::string(size_t(k.w) * k.h * 3, 'a'));
    std::string name = (k.name[0] == '!' ? "!" : "") + file(plain);
    ASSERT_NE(texture_load(name.c_str()), 0u);
    EXPECT_EQ(s_uploads.width, k.up_w);
    EXPECT_EQ(s_uploads.height, k.up_h);
    EXPECT_EQ(s_uploads.flags, k.flags);
    EXPECT_EQ(logged("Warning: Non power of 2 texture"), k.npot_warning);
  }
  texture_set_gl_hooks(nullptr);
}

TEST_F(Images, PurgeDropsWhatTheNewTrackDidNotUse) {
  s_uploads = {};
  TextureGlHooks hooks = {fake_upload, fake_destroy, nullptr};
  texture_set_gl_hooks(&hooks);
  for (const char *n : {"a.ppm", "b.ppm", "c.ppm"}) write(n, "P3 1 1 255 1 2 3");
  uint32_t start = texture_load(file("a.ppm").c_str());  // before the first track: permanent
  texture_new_generation();
  uint32_t b = texture_load(file("b.ppm").c_str());
  uint32_t c = texture_load(file("c.ppm").c_str());
  uint8_t *pixels;
  int w, h;
  ASSERT_EQ(image_load(file("b.ppm").c_str(), &pixels, &w, &h), 1);
  EXPECT_EQ(pixels[3], 255);  // images are kept as RGBA
  texture_new_generation();
  EXPECT_EQ(texture_memory(), 0u);
  EXPECT_EQ(texture_load(file("c.ppm").c_str()), c);  // used again: kept
  EXPECT_GT(texture_memory(), 0u);
  texture_purge();
  EXPECT_EQ(s_uploads.destroyed, std::vector<uint32_t>{b});
  EXPECT_STREQ(texture_name(start), file("a.ppm").c_str());
  EXPECT_EQ(texture_name(b), nullptr);
  EXPECT_EQ(image_name(pixels), nullptr);
  texture_set_gl_hooks(nullptr);
}

TEST_F(Images, LinkFiles) {
  write("real.ppm", "P3 1 1 255 1 2 3");
  write("link.png", "LINK  " + file("real.ppm") + "  \n");
  write("broken.png", "LINK " + file("none.png"));
  uint32_t id = texture_load(file("link.png").c_str());
  EXPECT_NE(id, 0u);
  EXPECT_EQ(texture_load(file("real.ppm").c_str()), id);
  EXPECT_EQ(texture_load(file("link.png").c_str()), id);
  EXPECT_EQ(texture_load(file("broken.png").c_str()), 0u);
}

TEST_F(Images, AnimatedTextures) {
  std::vector<uint32_t> replaced;
  static std::vector<int> *s_replaced_images;
  struct Hooks {
    static uint32_t upload(const uint8_t *p, int w, int h, int c, int f, unsigned long *m) { return fake_upload(p, w, h, c, f, m); }
    static void replace(uint32_t, const uint8_t *pixels, int, int, int) { s_replaced_images->push_back(pixels[0]); }
  };
  std::vector<int> images;
  s_replaced_images = &images;
  TextureGlHooks hooks = {Hooks::upload, fake_destroy, Hooks::replace};
  texture_set_gl_hooks(&hooks);
  // Three 1 x 1 frames whose red channel is their number, shown 0 1 0 2, 10 ticks each.
  std::string seq = "ANIM1 4 3 10 1\n0 1 0 2\n";
  for (int k = 0; k < 3; k++) seq += "V7 1 1\n" + std::string{char(k), 0, 0, char(255)};
  write("flag.seq", seq);
  uint32_t id = texture_load(file("flag.seq").c_str());
  ASSERT_NE(id, 0u);
  texture_animation_start(id, 100);
  struct Step { int tick, image; } steps[] = {{100, 0}, {109, 0}, {110, 1}, {119, 1}, {120, 0}, {130, 2}, {140, 0}, {50, 0}};
  for (const Step &k : steps) {
    texture_animation_step(k.tick);
    EXPECT_EQ(texture_animation_current(id), k.image) << k.tick;
  }
  EXPECT_EQ(images, (std::vector<int>{1, 0, 2, 0}));
  texture_animation_pause(id);
  texture_animation_step(130);
  EXPECT_EQ(texture_animation_current(id), 0);
  EXPECT_EQ(texture_animation_current(12345), -1);

  struct Bad { const char *name; std::string text; const char *message; } bad[] = {
      {"short", "ANIM1 2 2 10", "EOF while reading .seq"},
      {"frame token", "ANIM1 1 1 10 0\n0\nGIF 1 1\n", "Error reading .seq frame 0"},
      {"size", "ANIM1 1 2 10 0\n0\nV7 1 1\nabcdV7 2 1\nabcdefgh", "Width/height mismatch reading .seq"},
      {"png", "ANIM1 1 1 10 0\n0\nPNG\n  /nonexistent/x.png  \n", "Can't read /nonexistent/x.png"},
      {"step beyond the images", "ANIM1 1 1 10 0\n5\nV7 1 1\nabcd", nullptr},
  };
  for (const Bad &k : bad) {
    SCOPED_TRACE(k.name);
    message_log_clear();
    write("bad.seq", k.text);
    EXPECT_EQ(texture_load(file("bad.seq").c_str()), 0u);
    if (k.message) {
      EXPECT_TRUE(logged(k.message));
    }
  }
  // Purging the texture frees its animation.
  texture_new_generation();
  texture_new_generation();
  uint32_t other = texture_load(file("flag.seq").c_str());
  EXPECT_EQ(other, id);  // loaded before the first track: permanent
  texture_set_gl_hooks(nullptr);
}

TEST_F(Images, CustomMipLevels) {
  s_uploads = {};
  TextureGlHooks hooks = {fake_upload, fake_destroy, nullptr};
  texture_set_gl_hooks(&hooks);
  // 4 x 6 with [mip_custom]: level 0 is 4 x 4, level 1 (2 x 2) below it, level 2 (1 x 1)
  // to the right of level 1, and so on.
  ASSERT_EQ(png_write_rgb(file("custom.png").c_str(), std::vector<uint8_t>(4 * 6 * 3, 7).data(), 4, 6), 1);
  write("custom.png.info", "[mip_custom]");
  ASSERT_NE(texture_load(file("custom.png").c_str()), 0u);
  EXPECT_EQ(s_uploads.width, 4);
  EXPECT_EQ(s_uploads.height, 4);
  EXPECT_FALSE(logged("Invalid height for custom MIP map"));
  ASSERT_EQ(png_write_rgb(file("odd.png").c_str(), std::vector<uint8_t>(4 * 4 * 3, 7).data(), 4, 4), 1);
  write("odd.png.info", "[mip_custom]");
  ASSERT_NE(texture_load(file("odd.png").c_str()), 0u);
  EXPECT_EQ(s_uploads.height, 4);
  EXPECT_TRUE(logged(("Warning: Invalid height for custom MIP map in '" + file("odd.png") + "'").c_str()));
  texture_set_gl_hooks(nullptr);
}

// ---- number plates ----
struct Plate {
  Image image = {};
  Plate(const char *text, const uint8_t fg[3], const uint8_t bg[3], int size = 128) {
    EXPECT_EQ(number_plate_image(text, size, size, fg, bg, &image), 1);
  }
  ~Plate() { image_free(&image); }
  const uint8_t *at(int x, int y) const { return image.pixels + (size_t(y) * image.width + x) * 4; }
  bool ink(int x, int y, const uint8_t bg[3]) const { return memcmp(at(x, y), bg, 3) != 0; }
  // The box around every level-0 pixel inside the rim that is not the background.
  void ink_box(const uint8_t bg[3], int box[4]) const {
    box[0] = box[1] = image.width, box[2] = box[3] = -1;
    for (int y = 1; y < image.height - 1; y++)
      for (int x = 1; x < image.width - 1; x++)
        if (ink(x, y, bg)) {
          box[0] = std::min(box[0], x), box[1] = std::min(box[1], y);
          box[2] = std::max(box[2], x), box[3] = std::max(box[3], y);
        }
  }
  std::vector<uint8_t> level0() const {
    return std::vector<uint8_t>(image.pixels, image.pixels + size_t(image.width) * image.height * 4);
  }
};
static const uint8_t PLATE_FG[3] = {200, 30, 40}, PLATE_BG[3] = {10, 220, 90};

TEST(NumberPlate, TextInItsColoursCentredInsideATransparentRim) {
  Plate p("80", PLATE_FG, PLATE_BG);
  ASSERT_EQ(p.image.width, 128);
  ASSERT_EQ(p.image.channels, 4);
  // Every pixel lies between background and text colour; some are exactly either.
  bool saw_fg = false, saw_bg = false;
  for (int y = 1; y < 127; y++)
    for (int x = 1; x < 127; x++) {
      const uint8_t *q = p.at(x, y);
      ASSERT_EQ(q[3], 255);
      for (int k = 0; k < 3; k++) {
        ASSERT_GE(q[k], std::min(PLATE_FG[k], PLATE_BG[k]));
        ASSERT_LE(q[k], std::max(PLATE_FG[k], PLATE_BG[k]));
      }
      saw_fg |= !memcmp(q, PLATE_FG, 3);
      saw_bg |= !memcmp(q, PLATE_BG, 3);
    }
  EXPECT_TRUE(saw_fg);
  EXPECT_TRUE(saw_bg);
  // The rim of every mip level is transparent white.
  const uint8_t *level = p.image.pixels;
  for (int size = 128; size >= 1; size /= 2) {
    SCOPED_TRACE(size);
    for (int i = 0; i < size; i++)
      for (int j : {0, size - 1}) {
        EXPECT_EQ(memcmp(level + (size_t(j) * size + i) * 4, "\xff\xff\xff\x00", 4), 0);
        EXPECT_EQ(memcmp(level + (size_t(i) * size + j) * 4, "\xff\xff\xff\x00", 4), 0);
      }
    level += size_t(size) * size * 4;
  }
  int box[4];
  p.ink_box(PLATE_BG, box);
  EXPECT_NEAR(box[0], 127 - box[2], 1);  // centred
  EXPECT_NEAR(box[1], 127 - box[3], 1);
  EXPECT_GT(box[3] - box[1], 60);  // about half the plate tall
}

TEST(NumberPlate, LongNumbersNarrowThenShrinkButStayOnThePlate) {
  struct Case {
    const char *text;
    int min_height, max_height;
  } cases[] = {{"1", 64, 75}, {"88", 64, 75}, {"888", 64, 75}, {"1234567", 25, 40},
               {"888888888888", 10, 25}};
  for (const Case &k : cases) {
    SCOPED_TRACE(k.text);
    Plate p(k.text, PLATE_FG, PLATE_BG);
    int box[4];
    p.ink_box(PLATE_BG, box);
    EXPECT_GE(box[0], 8);  // a margin of 1/16 on either side
    EXPECT_LE(box[2], 119);
    EXPECT_GE(box[3] - box[1], k.min_height);
    EXPECT_LE(box[3] - box[1], k.max_height);
  }
}

TEST(NumberPlate, EveryDigitAndLetterHasItsOwnShape) {
  const char *chars = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-";
  std::vector<std::vector<uint8_t>> seen;
  for (const char *c = chars; *c; c++) {
    char text[2] = {*c, 0};
    SCOPED_TRACE(text);
    Plate p(text, PLATE_FG, PLATE_BG);
    int box[4];
    p.ink_box(PLATE_BG, box);
    EXPECT_GE(box[2], box[0]);  // something is drawn
    for (const auto &other : seen) EXPECT_NE(p.level0(), other);
    seen.push_back(p.level0());
  }
  // Lower case draws the capitals; a character without a glyph leaves a gap like a blank.
  EXPECT_EQ(Plate("ab7", PLATE_FG, PLATE_BG).level0(), Plate("AB7", PLATE_FG, PLATE_BG).level0());
  EXPECT_EQ(Plate("1?1", PLATE_FG, PLATE_BG).level0(), Plate("1 1", PLATE_FG, PLATE_BG).level0());
  int box[4];
  Plate("", PLATE_FG, PLATE_BG).ink_box(PLATE_BG, box);
  EXPECT_LT(box[2], box[0]);  // nothing
  Image none = {};
  EXPECT_EQ(number_plate_image("1", 0, 128, PLATE_FG, PLATE_BG, &none), 0);
  EXPECT_EQ(none.pixels, nullptr);
}

TEST_F(Images, NumberPlateUploadsClampedWithMipsAndIsDeletedByItsOwner) {
  uint32_t headless = number_plate_texture("5", 128, 128, PLATE_FG, PLATE_BG);
  EXPECT_NE(headless, 0u);  // without GL only a name is handed out
  texture_delete(headless);
  s_uploads = {};
  TextureGlHooks hooks = {fake_upload, fake_destroy, nullptr};
  texture_set_gl_hooks(&hooks);
  uint32_t id = number_plate_texture("5", 128, 128, PLATE_FG, PLATE_BG);
  EXPECT_EQ(s_uploads.count, 1);
  EXPECT_EQ(s_uploads.width, 128);
  EXPECT_EQ(s_uploads.channels, 4);
  EXPECT_EQ(s_uploads.flags, 0);
  texture_delete(0);
  texture_delete(id);
  EXPECT_EQ(s_uploads.destroyed, std::vector<uint32_t>{id});
  texture_set_gl_hooks(nullptr);
}
