// The streaming audio output on SDL's dummy driver: opening with its options, one driver
// at a time, voices advancing as SDL's audio thread pulls fragments, closing.
#include <gtest/gtest.h>

#include <SDL.h>

#include <vector>

#include "platform/velk.h"
#include "platform/velk_audio.h"
#include "platform/velk_mixer.h"

namespace {

struct AudioTest : ::testing::Test {
  void SetUp() override {
    setenv("SDL_AUDIODRIVER", "dummy", 0);  // never a real sound card, whatever runs us
    velk_reset_for_tests();
    mixer_reset();
  }
  void TearDown() override {
    if (audio_driver_active()) velk_audio_close(nullptr);
    mixer_reset();
  }
};

TEST_F(AudioTest, StreamsTheMixWhileVoicesPlay) {
  VelkAudio *audio = velk_audio_open(nullptr);
  ASSERT_TRUE(audio);
  EXPECT_EQ(velk_audio_rate(audio), 22050);
  EXPECT_EQ(velk_audio_channels(audio), 2);
  // One driver at a time.
  EXPECT_FALSE(velk_audio_open(nullptr));
  EXPECT_FALSE(velk_readback_open(nullptr, 88320, 690));

  std::vector<uint8_t> tone(2205);
  for (size_t i = 0; i < tone.size(); i++) tone[i] = (i / 10) % 2 ? 200 : 56;
  VelkSound *loop = velk_sound_create(audio, (int)tone.size(), tone.data(), 0);
  VelkSound *once = velk_sound_create(audio, 100, tone.data(), 0);
  ASSERT_TRUE(loop && once);
  EXPECT_EQ(velk_sound_set_loop(loop, 1), 1);
  EXPECT_EQ(velk_sound_set_volume(loop, 20000), 1);
  EXPECT_EQ(velk_sound_set_pan(loop, -10000), 1);
  EXPECT_EQ(velk_sound_play(loop), 1);
  EXPECT_EQ(velk_sound_play(once), 1);
  // SDL's audio thread pulls fragments: the looping voice moves on, the short one ends.
  bool moved = false;
  for (int tries = 0; tries < 200 && !moved; tries++) {
    SDL_Delay(10);
    moved = velk_sound_position(loop) > 0;
  }
  EXPECT_TRUE(moved);
  bool ended = false;
  for (int tries = 0; tries < 200 && !ended; tries++) {
    SDL_Delay(10);
    SDL_LockAudioDevice((SDL_AudioDeviceID)audio->device);
    ended = !(once->flags & VOICE_PLAYING);
    SDL_UnlockAudioDevice((SDL_AudioDeviceID)audio->device);
  }
  EXPECT_TRUE(ended);
  uint8_t patch[10] = {128, 128, 128, 128, 128, 128, 128, 128, 128, 128};
  EXPECT_EQ(velk_sound_write(loop, 10, patch, 2200), 1);
  EXPECT_EQ(velk_sound_set_rate(loop, 44100), 1);
  velk_audio_update(audio);
  velk_sound_release(once);
  velk_sound_release(loop);
  velk_audio_close(audio);
  EXPECT_FALSE(audio_driver_active());
  // And it opens again.
  audio = velk_audio_open(nullptr);
  ASSERT_TRUE(audio);
  velk_audio_close(audio);
}

TEST_F(AudioTest, OptionsCanTurnTheOutputOff) {
  setenv("VELK_OPTIONS", "[waveout:no]", 1);
  velk_reset_for_tests();
  EXPECT_FALSE(velk_audio_open(nullptr));
  unsetenv("VELK_OPTIONS");
  velk_reset_for_tests();
  // Closing with nothing open only logs.
  velk_audio_close(nullptr);
  EXPECT_EQ(velk_sound_play(nullptr), 0);
  EXPECT_FALSE(velk_sound_create(nullptr, 10, nullptr, 0));
}

}  // namespace
