// The bike setup block: keys, the stability table, old bike names, texture lists, setup files.
#include <gtest/gtest.h>

#include <string>

#include "bike/bike_model.h"
#include "files/config.h"
#include "files/files.h"
#include "test_support.h"

namespace {

using test_support::read_file;
using test_support::write_file;

// A home and a data directory holding a few selectable textures.
class SetupTest : public test_support::TempHomeTest {
 protected:
  void SetUp() override {
    TempHomeTest::SetUp();
    if (HasFatalFailure()) return;
    for (const char *name : {"450sxfv2013-red.png", "450sxfv2013-red_norm.png",
                             "bikes/450sxfv2013-blue.png.scram", "kx250f-green.png",
                             "rider_body-stripes.png", "rider_body-plain.png.gz",
                             "wheels-gold.png", "450sxfv2013.png"})
      write_file(dir + "/data/" + name, "x");
  }
  std::string setup_text() {
    std::string path = dir + "/setup.out";
    DataFile *f = datafile_open(path.c_str(), "wb");
    EXPECT_TRUE(f);
    EXPECT_TRUE(setup_write(f));
    datafile_close(f);
    return read_file(path);
  }
};

}  // namespace

TEST_F(SetupTest, Defaults) {
  const BikeSetup *s = bike_setup();
  EXPECT_STREQ(choice_text(&s->bike), "450sxf(2013)");
  EXPECT_STREQ(s->name, "Ziz Adoduruve");
  EXPECT_STREQ(s->number, "999");
  EXPECT_STREQ(choice_text(&s->bike_texture), "default");
  EXPECT_EQ(s->stability.value, 100);
  EXPECT_EQ(s->roll_damping.value, 80);
  EXPECT_EQ(s->direct_steering.value, 0);
  EXPECT_EQ(s->restricted_lock.value, 5);
  EXPECT_STREQ(choice_text(&s->front_brake), "Antilock");
  EXPECT_STREQ(choice_text(&s->stop_wheelies), "No");
  EXPECT_DOUBLE_EQ(s->rider_mass_distribution.value, 0.33);
  EXPECT_STREQ(s->max_dab_speed.label, "Max Dab Speed (MPH)");
  EXPECT_EQ(s->max_steering_force.step, 5);
  EXPECT_STREQ(setup_bike_model(s)->name, "450sxf(2013)");
}

TEST_F(SetupTest, ReadingKeys) {
  struct Case {
    const char *key, *value;
    const char *written;  // the key's line as written afterwards
  };
  const Case cases[] = {
      {"name", "A Rider Whose Name Runs On Far Longer Than Sixty-Three Characters Allow",
       "name=A Rider Whose Name Runs On Far Longer Than Sixty-Three Characte"},
      {"number", "1234", "number=123"},
      {"number", "", "number="},
      {"rider_mass_distribution", "0.2", "rider_mass_distribution=0.330000"},
      {"rider_mass_distribution", "0.45", "rider_mass_distribution=0.450000"},
      {"front_sprocket_adjustment", "-5", "front_sprocket_adjustment=-2.000000"},
      {"auto_clutch_rpms", "junk", "auto_clutch_rpms=5000.000000"},
      {"stop_wheelies", "Front Only", "stop_wheelies=Front Only"},
      {"stop_wheelies", "front only", "stop_wheelies=No"},
      {"bike", "kx250f", "bike=kx250f(2008)"},
      {"bike", "yz250f", "bike=yz250f(2008)"},
      {"bike", "rs50kx", "bike=rs50kx"},
      {"bike", "nosuchbike", "bike=450sxf(2013)"},
      {"bike", "KX250F", "bike=450sxf(2013)"},
      {"bike_texture", "red", "bike_texture=red"},
      {"bike_texture", "green", "bike_texture=default"},
      {"rider_texture", "plain", "rider_texture=default"},  // .png.gz is not a texture name
      {"rider_texture", "stripes", "rider_texture=stripes"},
  };
  config_build_texture_lists();
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.key) + "=" + c.value);
    config_reset_defaults();
    config_build_texture_lists();
    EXPECT_EQ(setup_read_key(c.key, c.value), 1);
    EXPECT_NE(("\n" + setup_text()).find("\n" + std::string(c.written) + "\n"), std::string::npos);
  }
  EXPECT_EQ(setup_read_key("laps", "3"), 0);
  EXPECT_EQ(setup_read_key("bike ", "kx125"), 0);
}

TEST_F(SetupTest, BikeLineRebuildsTheBikeGraphics) {
  config_build_texture_lists();
  const TextureChoices *bikes = texture_choices(TEXTURES_BIKE);
  ASSERT_EQ(bikes->count, 3);  // default, red, blue (scrambled, in a sub-directory)
  EXPECT_STREQ(bikes->names[0], "default");
  EXPECT_EQ(bikes->paths[0], nullptr);
  EXPECT_STREQ(bikes->names[1], "red");
  EXPECT_STREQ(bikes->paths[1], "@450sxfv2013-red.png");
  EXPECT_STREQ(bikes->names[2], "blue");
  EXPECT_STREQ(bikes->paths[2], "@bikes/450sxfv2013-blue.png");
  EXPECT_EQ(texture_choices(TEXTURES_WHEEL)->count, 2);

  BikeSetup *s = bike_setup();
  ASSERT_TRUE(setup_read_key("bike_texture", "red"));
  EXPECT_EQ(s->bike_texture.index, 1);
  // An unknown model keeps the bike but still resets its graphics.
  ASSERT_TRUE(setup_read_key("bike", "nosuchbike"));
  EXPECT_STREQ(choice_text(&s->bike), "450sxf(2013)");
  EXPECT_STREQ(choice_text(&s->bike_texture), "default");
  EXPECT_EQ(s->bike_texture.count, 3);
  // Another model lists its own graphics.
  ASSERT_TRUE(setup_read_key("bike", "kx250f"));
  EXPECT_STREQ(choice_text(&s->bike), "kx250f(2008)");
  ASSERT_EQ(s->bike_texture.count, 2);
  EXPECT_STREQ(s->bike_texture.options[1], "green");
}

TEST_F(SetupTest, StabilityTable) {
  struct Case {
    const char *value;
    double stored;
    double roll_damping, roll_limit_angle, slow_damping_factor, restricted_lock, direct_steering,
        land_damping_falloff;
  };
  const Case cases[] = {
      {"50", 50, 65, 42.5, 1.75, 7.5, 1, 0.25},
      {"59.9", 59.9f, 69.5, 40.25, 1.975, 5.25, 1, 0.25},  // the table for 59
      {"250", 100, 80, 35, 2, 5, 0, 0.25},
      {"0", 0, 40, 90, 1, 45, 1, 0},
      {"-40", 0, 40, 90, 1, 45, 1, 0},
      {"10", 10, 45, 67.5, 1, 30, 1, 0.0625},
      {"90", 90, 77.5, 35, 2, 5, 0.5, 0.25},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.value);
    config_reset_defaults();
    ASSERT_TRUE(setup_read_key("stability", c.value));
    const BikeSetup *s = bike_setup();
    EXPECT_DOUBLE_EQ(s->stability.value, c.stored);
    EXPECT_FLOAT_EQ((float)s->roll_damping.value, (float)c.roll_damping);
    EXPECT_FLOAT_EQ((float)s->roll_limit_angle.value, (float)c.roll_limit_angle);
    EXPECT_FLOAT_EQ((float)s->slow_damping_factor.value, (float)c.slow_damping_factor);
    EXPECT_FLOAT_EQ((float)s->restricted_lock.value, (float)c.restricted_lock);
    EXPECT_FLOAT_EQ((float)s->direct_steering.value, (float)c.direct_steering);
    EXPECT_FLOAT_EQ((float)s->land_damping_falloff.value, (float)c.land_damping_falloff);
    EXPECT_EQ(s->leveling.value, 20);
    EXPECT_EQ(s->max_steering_force.value, 400);
  }
  // A linked key after the stability line overrides the computed value; one before it not.
  config_reset_defaults();
  setup_read_key("roll_damping", "11");
  setup_read_key("stability", "0");
  setup_read_key("restricted_lock", "3");
  EXPECT_EQ(bike_setup()->roll_damping.value, 40);
  EXPECT_EQ(bike_setup()->restricted_lock.value, 3);
  // A stability that does not parse changes nothing.
  setup_read_key("stability", "soft");
  EXPECT_EQ(bike_setup()->stability.value, 0);
  EXPECT_EQ(bike_setup()->restricted_lock.value, 3);
}

TEST_F(SetupTest, SetupFilesByName) {
  write_file(dir + "/home/Dirtvane/setups/half", "stability=50\n");
  ASSERT_TRUE(setup_load("  half \t"));
  const BikeSetup *s = bike_setup();
  EXPECT_EQ(s->stability.value, 50);
  EXPECT_EQ(s->roll_damping.value, 65);
  EXPECT_EQ(s->slow_damping_factor.value, 1.75);
  EXPECT_EQ(s->restricted_lock.value, 7.5);

  EXPECT_FALSE(setup_load("missing"));
  EXPECT_EQ(s->stability.value, 50);

  // Lines without '=', other blocks' keys and CR LF endings are taken in stride.
  write_file(dir + "/home/Dirtvane/setups/mixed",
            "just words\r\nlaps=9\r\nnumber=7\r\nname=Dusty\r\r\n");
  ASSERT_TRUE(setup_load("mixed"));
  EXPECT_STREQ(s->number, "7");
  EXPECT_STREQ(s->name, "Dusty");
}

TEST_F(SetupTest, WriteAndReadBackLeavesEveryValue) {
  config_build_texture_lists();
  setup_read_key("bike", "crf250(2013)");
  setup_read_key("stability", "37");
  setup_read_key("roll_limit_factor", "60");
  setup_read_key("name", "Round Trip");
  setup_read_key("number", "7");
  setup_read_key("rider_texture", "stripes");
  setup_read_key("wheel_texture", "gold");
  setup_read_key("arcade", "No");
  setup_read_key("rear_brake", "Antilock");
  setup_read_key("direct_steering", "0.625");
  setup_read_key("rider_mass_distribution", "0.41");
  setup_read_key("shock_preload_adjustment", "99");
  ASSERT_TRUE(setup_save("round"));
  const std::string saved = read_file(dir + "/home/Dirtvane/setups/round");
  ASSERT_FALSE(saved.empty());
  EXPECT_EQ(saved, setup_text());
  EXPECT_EQ(saved.rfind("bike=crf250(2013)\nname=Round Trip\nnumber=7\n", 0), 0u);

  config_reset_defaults();
  config_build_texture_lists();
  EXPECT_NE(setup_text(), saved);
  ASSERT_TRUE(setup_load("round"));
  EXPECT_EQ(setup_text(), saved);
  EXPECT_STREQ(choice_text(&bike_setup()->wheel_texture), "gold");
}
