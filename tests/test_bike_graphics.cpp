// A racer's graphics: the normal and specular maps of its four textures and its number
// plate, on the starter data with files of the test's own beside it.
#include <sys/stat.h>

#include <string>
#include <vector>

#include "core/frame.h"
#include "render/model.h"
#include "render/texture.h"
#include "tests/test_bike_fixture.h"
#include "tests/test_support.h"

namespace {

// Every upload, kept whole (mip chain included) so a test can look at the last one.
struct Uploads {
  std::vector<uint8_t> last;
  int width = 0, height = 0, channels = 0, flags = 0;
  std::vector<uint32_t> destroyed;
  uint32_t next = 500;
};
Uploads s_uploads;

uint32_t keep_upload(const uint8_t *pixels, int w, int h, int channels, int flags, unsigned long *memory) {
  size_t size = mip_chain_size(w, h, channels);
  s_uploads.last.assign(pixels, pixels + size);
  s_uploads.width = w, s_uploads.height = h, s_uploads.channels = channels, s_uploads.flags = flags;
  *memory += size;
  return s_uploads.next++;
}
void keep_destroy(uint32_t id) { s_uploads.destroyed.push_back(id); }

// One triangle: enough for a part model to load.
const char TRIANGLE_JM[] = "3 1\n0 0 0 0 0 1 0 0\n1 0 0 0 0 1 1 0\n0 1 0 0 0 1 0 1\n0 1 2\n";
const char PIXEL_PPM[] = "P3 1 1 255 1 2 3";

struct BikeGraphicsTest : ::testing::Test {
  std::string home, data, dir;
  void SetUp() override {
    home = test_support::use_test_home("bikegfx");
    data = home + "/Dirtvane/";
    ASSERT_EQ(system(("mkdir -p " + data).c_str()), 0);
    char tmp[] = "/tmp/dvbikegfx_XXXXXX";
    ASSERT_NE(mkdtemp(tmp), nullptr);
    dir = std::string(tmp) + "/";
    datafile_reset_for_tests();
    texture_reset_for_tests();
    model_reset_for_tests();
    message_log_clear();
    physics_world_create();
    s_uploads = {};
  }
  void TearDown() override {
    physics_world_destroy();
    texture_reset_for_tests();
    model_reset_for_tests();
    ASSERT_EQ(system(("rm -rf " + home + " " + dir).c_str()), 0);
  }
  static void put(const std::string &path, const std::string &text) {
    FILE *f = fopen(path.c_str(), "wb");
    ASSERT_TRUE(f);
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
  }
  static std::string name_of(uint32_t id) {
    const char *name = texture_name(id);
    return name ? name : "(none)";
  }
};

TEST(MaterialMapNames, SecondNameCarriesTheVariantOntoTheDefault) {
  struct Case {
    const char *texture, *default_texture, *second;
  } cases[] = {
      {"@skins/crf-alt1-red.png", "@crf450v2013.png", "@crf450v2013-alt1.png"},
      {"@skins/crf-red.png", "@crf450v2013.png", "@crf450v2013.png"},
      {"@crf450v2013.png", "@crf450v2013.png", "@crf450v2013.png"},
      {"@a-b/rims-x-.png", "@wheels", "@wheels-x"},  // a default without an extension
      {"@own.png", nullptr, "@own.png"},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.texture);
    char second[256];
    material_map_names(k.texture, k.default_texture, second, sizeof second);
    EXPECT_STREQ(second, k.second);
  }
}

TEST_F(BikeGraphicsTest, MapsComeFromTheTextureInUseThenTheSecondName) {
  // Key models so that the chosen textures stay in use: plain ones in the data directory,
  // the variant wheels beside their texture.
  for (const char *m : {"crf450v2013_frame.jm", "rider_body.jm", "rider_head.jm"}) put(data + m, TRIANGLE_JM);
  for (const char *m : {"front_wheel-alt1.jm", "rear_wheel-alt1.jm"}) put(dir + m, TRIANGLE_JM);
  // Bike: its own normal map (.png before .ppm); no specular map of its own, so the
  // default texture's. Wheels: a variant, whose maps are looked for under the default
  // name with the variant; there is no specular map there, and the plain default's is not
  // used. Riding gear: .seq first. Helmet: the default texture's own maps.
  for (const char *f : {"skin.png", "skin_norm.png", "skin_norm.ppm", "rims-alt1-.png", "gear.png",
                        "gear_norm.png"})
    put(dir + f, PIXEL_PPM);
  put(dir + "gear_norm.seq", std::string("ANIM1 1 1 10 0\n0\nV7 1 1\n") + "abcd");
  put(data + "wheels-alt1_norm.ppm", PIXEL_PPM);

  texture_set_shader_path(1);
  Bike *b = build_racer("crf450(2013)", 0, "7", (dir + "gear.png").c_str(), nullptr,
                        (dir + "skin.png").c_str(), (dir + "rims-alt1-.png").c_str());
  struct Expect {
    BikeTextureGroup group;
    std::string in_use, normal, specular;
  } expect[] = {
      {BIKE_TEXTURE, dir + "skin.png", dir + "skin_norm.png", "@crf450v2013_spec.png"},
      {WHEEL_TEXTURE, dir + "rims-alt1-.png", "@wheels-alt1_norm.ppm", "(none)"},
      {GEAR_TEXTURE, dir + "gear.png", dir + "gear_norm.seq", "@rider_body_spec.png"},
      {HELMET_TEXTURE, "@rider_head.png", "@rider_head_norm.png", "@rider_head_spec.png"},
  };
  for (const Expect &e : expect) {
    SCOPED_TRACE(e.group);
    EXPECT_EQ(b->texture_names[e.group], e.in_use);
    EXPECT_EQ(name_of(b->normal_maps[e.group]), e.normal);
    EXPECT_EQ(name_of(b->specular_maps[e.group]), e.specular);
  }
  free_racer(b);

  // Without the shader path no map is loaded.
  texture_set_shader_path(0);
  b = build_racer("crf450(2013)", 0, "7", nullptr, nullptr, nullptr, nullptr);
  for (int g = 0; g < 4; g++) {
    EXPECT_EQ(b->normal_maps[g], 0u);
    EXPECT_EQ(b->specular_maps[g], 0u);
  }
  free_racer(b);
}

TEST_F(BikeGraphicsTest, NumberPlateShowsTheFirstSevenInTheBikeTexturesColours) {
  TextureGlHooks hooks = {keep_upload, keep_destroy, nullptr};
  texture_set_gl_hooks(&hooks);
  struct Case {
    const char *info;  // the chosen bike texture's .info, or none
    uint8_t fg[3], bg[3];
  } cases[] = {
      {nullptr, {0, 0, 0}, {255, 255, 255}},
      {"[numberbackground:0,0,1] [numberforeground:2,0.5,-1]", {255, 127, 0}, {0, 0, 255}},
  };
  put(data + "crf450v2013_frame.jm", TRIANGLE_JM);
  for (const Case &k : cases) {
    SCOPED_TRACE(k.info ? k.info : "no tags");
    std::string texture = dir + (k.info ? "tagged.png" : "plain.png");
    uint8_t pixel[3] = {9, 9, 9};
    ASSERT_EQ(png_write_rgb(texture.c_str(), pixel, 1, 1), 1);
    if (k.info) put(texture + ".info", k.info);
    Bike *b = build_racer("crf450(2013)", 0, "123456789", nullptr, nullptr, texture.c_str(), nullptr);
    ASSERT_EQ(b->texture_names[BIKE_TEXTURE], texture);
    // The plate is the build's last upload.
    EXPECT_EQ(s_uploads.width, 128);
    EXPECT_EQ(s_uploads.height, 128);
    EXPECT_EQ(s_uploads.channels, 4);
    Image want;
    ASSERT_EQ(number_plate_image("1234567", 128, 128, k.fg, k.bg, &want), 1);
    EXPECT_TRUE(s_uploads.last == std::vector<uint8_t>(want.pixels, want.pixels + mip_chain_size(128, 128, 4)));
    image_free(&want);
    uint32_t plate = b->number_texture;
    EXPECT_NE(plate, 0u);
    free_racer(b);
    EXPECT_EQ(s_uploads.destroyed.back(), plate);
  }
  texture_set_gl_hooks(nullptr);
}

}  // namespace
