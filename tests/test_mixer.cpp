// The software mixer and the readback driver: gain tables, gains, resampling, looping,
// writing, channel budget, zero-crossing volume changes and mixed samples.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/velk.h"
#include "platform/velk_audio.h"
#include "platform/velk_mixer.h"

namespace {

struct MixerTest : ::testing::Test {
  void SetUp() override {
    velk_reset_for_tests();
    mixer_reset();
  }
  void TearDown() override {
    if (audio_driver_active()) velk_audio_close(nullptr);
    mixer_reset();
  }
  // A mono output of one voice per test at 22 050 Hz.
  static void open_mono(int budget = 16) { ASSERT_EQ(mixer_open(22050, 0, budget, 4096), 1); }
  static void open_stereo(int budget = 16) { ASSERT_EQ(mixer_open(22050, 1, budget, 4096), 1); }
};

int expected_contribution(int g, int b) {
  if (b == 0) return -(127 * g / 32);
  int j = b - 128;
  return j >= 0 ? j * g / 32 : -((-j) * g / 32);
}

TEST_F(MixerTest, GainTablesFollowTheirFormula) {
  for (int g = 1; g < MIXER_GAINS; g++) {
    const int8_t *row = mixer_gain_row(g);
    for (int b = 0; b < 256; b++) {
      SCOPED_TRACE(testing::Message() << "gain " << g << " byte " << b);
      ASSERT_EQ(row[b], expected_contribution(g, b));
    }
  }
  EXPECT_EQ(mixer_gain_row(31)[255], 123);
  EXPECT_EQ(mixer_gain_row(31)[1], -123);
  EXPECT_EQ(mixer_gain_row(31)[0], -123);
  EXPECT_EQ(mixer_gain_row(16)[129], 0);
  EXPECT_EQ(mixer_gain_row(0)[255], 0);
}

TEST_F(MixerTest, VolumeAndPanGiveGains) {
  struct Case {
    int volume, pan, left, right;
  } cases[] = {
      {32767, 0, 15, 15},      {32767, 32767, 0, 31}, {32767, -32768, 31, 0},
      {0, 0, 0, 0},            {16384, 0, 7, 8},      {32767, -16384, 23, 7},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "volume " << c.volume << " pan " << c.pan);
    int l, r;
    mixer_gains(c.volume, c.pan, &l, &r);
    EXPECT_EQ(l, c.left);
    EXPECT_EQ(r, c.right);
  }
  // Voices limit their settings; a mono output forces the pan fully left (gain 31).
  open_mono();
  MixerVoice *v = mixer_voice_create(16, nullptr, 0);
  ASSERT_TRUE(v);
  mixer_voice_set_pan(v, 5000);
  EXPECT_EQ(v->pan, -32768);
  EXPECT_EQ(v->half[0].gain, 31);
  mixer_voice_set_volume(v, 99999);
  EXPECT_EQ(v->volume, 32767);
  mixer_voice_set_volume(v, -5);
  EXPECT_EQ(v->half[0].gain, 0);
  mixer_voice_release(v);
}

TEST_F(MixerTest, CreationResamplesByNearestSample) {
  open_stereo();
  std::vector<uint8_t> data(1000);
  for (int i = 0; i < 1000; i++) data[i] = (uint8_t)(i * 7);
  MixerVoice *up = mixer_voice_create(1000, data.data(), 11025);
  ASSERT_TRUE(up);
  ASSERT_EQ(up->samples->length, 2000);
  for (int i = 0; i < 2000; i++) ASSERT_EQ(up->samples->data[i], data[i / 2]) << i;
  MixerVoice *down = mixer_voice_create(1000, data.data(), 44100);
  ASSERT_TRUE(down);
  EXPECT_EQ(down->samples->length, 500);
  EXPECT_EQ(down->samples->data[3], data[6]);
  MixerVoice *same = mixer_voice_create(1000, data.data(), 0);
  ASSERT_TRUE(same);
  EXPECT_EQ(same->samples->length, 1000);
  EXPECT_EQ(memcmp(same->samples->data, data.data(), 1000), 0);
  EXPECT_EQ(same->rate, 22050);
  EXPECT_EQ(same->volume, 32767);
  EXPECT_EQ(same->pan, 0);
  EXPECT_FALSE(same->flags & (VOICE_PLAYING | VOICE_LOOPING));
  // Nothing left after resampling, or no samples at all: no voice (it could never play).
  EXPECT_FALSE(mixer_voice_create(1, data.data(), 44100));
  EXPECT_FALSE(mixer_voice_create(0, data.data(), 0));
  mixer_voice_release(up);
  mixer_voice_release(down);
  mixer_voice_release(same);
}

TEST_F(MixerTest, LoopingWrapsAndOneShotStops) {
  open_mono();
  std::vector<uint8_t> out(4096);
  MixerVoice *loop = mixer_voice_create(100, nullptr, 0);
  MixerVoice *once = mixer_voice_create(100, nullptr, 0);
  ASSERT_TRUE(loop && once);
  mixer_voice_set_loop(loop, 1);
  mixer_voice_play(loop);
  mixer_voice_play(once);
  EXPECT_EQ(mixer_voice_position(loop), 0);  // restart pending
  mixer_mix8(60, out.data());
  EXPECT_EQ(mixer_voice_position(loop), 60);
  EXPECT_EQ(mixer_voice_position(once), 60);
  mixer_mix8(190, out.data());
  EXPECT_EQ(mixer_voice_position(loop), 50);
  EXPECT_TRUE(loop->flags & VOICE_PLAYING);
  EXPECT_FALSE(once->flags & VOICE_PLAYING);
  EXPECT_EQ(mixer_voice_position(once), 0);
  // Twice the device rate steps two samples per output sample; half steps by fractions.
  mixer_voice_set_rate(loop, 44100);
  mixer_mix8(30, out.data());
  EXPECT_EQ(mixer_voice_position(loop), 10);
  mixer_voice_set_rate(loop, 11025);
  mixer_mix8(31, out.data());
  EXPECT_EQ(mixer_voice_position(loop), 25);
  // Play again restarts from the beginning.
  mixer_voice_play(loop);
  mixer_mix8(7, out.data());
  EXPECT_EQ(mixer_voice_position(loop), 3);
  mixer_voice_release(loop);
  mixer_voice_release(once);
}

TEST_F(MixerTest, WriteWrapsAndKeepsTheLastBytes) {
  open_mono();
  const int n = 32768;
  MixerVoice *v = mixer_voice_create(n, nullptr, 0);
  ASSERT_TRUE(v);
  std::vector<uint8_t> input(40000);
  for (size_t k = 0; k < input.size(); k++) input[k] = (uint8_t)(k * 31 + k / 256);
  mixer_voice_write(v, 40000, input.data(), 0);
  // The same as writing byte after byte with wrap-around.
  std::vector<uint8_t> expect(n, 128);
  for (size_t k = 0; k < input.size(); k++) expect[k % n] = input[k];
  EXPECT_EQ(memcmp(v->samples->data, expect.data(), n), 0);
  // A write across the end continues at the start; offsets wrap modulo the length.
  uint8_t ten[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  mixer_voice_write(v, 10, ten, 2 * n - 4);
  EXPECT_EQ(v->samples->data[n - 4], 1);
  EXPECT_EQ(v->samples->data[n - 1], 4);
  EXPECT_EQ(v->samples->data[0], 5);
  EXPECT_EQ(v->samples->data[5], 10);
  EXPECT_EQ(v->samples->data[6], expect[6]);
  // Duplicates share the samples.
  MixerVoice *d = mixer_voice_duplicate(v);
  ASSERT_TRUE(d);
  mixer_voice_write(d, 1, ten + 9, 100);
  EXPECT_EQ(v->samples->data[100], 10);
  mixer_voice_release(v);
  EXPECT_EQ(d->samples->data[100], 10);
  mixer_voice_release(d);
}

TEST_F(MixerTest, MixedBlockMatchesHandComputedSamples) {
  open_stereo();
  // Two looping voices: a ramp panned hard right, a square wave centred at half volume.
  uint8_t ramp[8] = {128, 160, 192, 224, 255, 200, 100, 0};
  uint8_t square[4] = {200, 200, 56, 56};
  MixerVoice *a = mixer_voice_create(8, ramp, 0);
  MixerVoice *b = mixer_voice_create(4, square, 0);
  ASSERT_TRUE(a && b);
  mixer_voice_set_pan(a, 32767);    // left 0, right 31
  mixer_voice_set_volume(b, 16384); // left 7, right 8
  mixer_voice_set_loop(a, 1);
  mixer_voice_set_loop(b, 1);
  mixer_voice_play(a);
  mixer_voice_play(b);
  const int count = 20;
  uint8_t out[count * 2];
  mixer_mix8(count, out);
  for (int i = 0; i < count; i++) {
    SCOPED_TRACE(i);
    int left = expected_contribution(7, square[i % 4]);
    int right = expected_contribution(31, ramp[i % 8]) + expected_contribution(8, square[i % 4]);
    auto convert = [](int sum) { return sum < -127 ? 0 : sum > 126 ? 255 : sum + 128; };
    EXPECT_EQ(out[2 * i], convert(left));
    EXPECT_EQ(out[2 * i + 1], convert(right));
  }
  // 16-bit output of the same voices: sum x 256 inside -126..126, limits beyond.
  int16_t wide[count * 2];
  mixer_voice_play(a);
  mixer_voice_play(b);
  mixer_mix16(count, wide);
  EXPECT_EQ(wide[0], expected_contribution(7, 200) * 256);
  EXPECT_EQ(wide[1], (expected_contribution(31, 128) + expected_contribution(8, 200)) * 256);
  mixer_voice_release(a);
  mixer_voice_release(b);
}

TEST_F(MixerTest, OutputClipsAtTheByteLimits) {
  open_mono();
  uint8_t loud[2] = {255, 0};
  MixerVoice *v[3];
  for (auto &x : v) {
    x = mixer_voice_create(2, loud, 0);
    ASSERT_TRUE(x);
    mixer_voice_set_loop(x, 1);
    mixer_voice_play(x);
  }
  uint8_t out[4];
  mixer_mix8(4, out);
  EXPECT_EQ(out[0], 255);  // 3 x 123 above 126
  EXPECT_EQ(out[1], 0);    // 3 x -123 below -127
  for (auto x : v) mixer_voice_release(x);
}

TEST_F(MixerTest, VolumeChangeWaitsForTheMidpointCrossing) {
  open_mono();
  uint8_t wave[20];
  for (int i = 0; i < 20; i++) wave[i] = i < 10 ? 200 : 56;
  MixerVoice *v = mixer_voice_create(20, wave, 0);
  ASSERT_TRUE(v);
  mixer_voice_set_loop(v, 1);
  mixer_voice_play(v);
  uint8_t out[25];
  mixer_mix8(5, out);
  EXPECT_EQ(out[0], 128 + expected_contribution(31, 200));
  mixer_voice_set_volume(v, 16384);  // mono gain 31 -> 15, in the middle of the high half
  mixer_mix8(25, out);
  for (int i = 0; i < 5; i++) EXPECT_EQ(out[i], 128 + expected_contribution(31, 200)) << i;
  for (int i = 5; i < 15; i++) EXPECT_EQ(out[i], 128 + expected_contribution(15, 56)) << i;
  for (int i = 15; i < 25; i++) EXPECT_EQ(out[i], 128 + expected_contribution(15, 200)) << i;
  // A change with no crossing in the block holds the old gain into the next block.
  mixer_voice_set_volume(v, 32767);
  mixer_mix8(5, out);  // wave samples 10..14: the low half, no crossing yet
  for (int i = 0; i < 5; i++) EXPECT_EQ(out[i], 128 + expected_contribution(15, 56)) << i;
  mixer_mix8(10, out);
  for (int i = 0; i < 5; i++) EXPECT_EQ(out[i], 128 + expected_contribution(15, 56)) << i;
  for (int i = 5; i < 10; i++) EXPECT_EQ(out[i], 128 + expected_contribution(31, 200)) << i;
  mixer_voice_release(v);
}

TEST_F(MixerTest, ChannelBudgetHearsTheLoudestVoices) {
  open_stereo(16);
  uint8_t dc[4] = {160, 160, 160, 160};  // contributes g x 32 / 32 = g
  std::vector<MixerVoice *> voices;
  for (int i = 0; i < 20; i++) {
    MixerVoice *v = mixer_voice_create(4, dc, 0);
    ASSERT_TRUE(v);
    mixer_voice_set_loop(v, 1);
    // Voices 0..7 centred at full volume (gains 15, 15), the rest at half (7 left, 8 right).
    mixer_voice_set_volume(v, i < 8 ? 32767 : 16384);
    mixer_voice_play(v);
    voices.push_back(v);
  }
  uint8_t out[6];
  mixer_mix8(3, out);
  // Only the 8 loud voices are heard (16 halves); the quiet ones still move on.
  EXPECT_EQ(out[0], 128 + 8 * 15);
  EXPECT_EQ(out[1], 128 + 8 * 15);
  for (MixerVoice *v : voices) EXPECT_EQ(mixer_voice_position(v), 3);
  // The 12 quiet voices alone: the right halves (gain 8) come first and take 12 of the
  // budget, leaving 4 left halves (gain 7).
  for (int i = 0; i < 8; i++) mixer_voice_stop(voices[i]);
  mixer_mix8(1, out);
  EXPECT_EQ(out[0], 128 + 4 * 7);
  EXPECT_EQ(out[1], 128 + 12 * 8);
  for (MixerVoice *v : voices) mixer_voice_release(v);
}

TEST_F(MixerTest, ReadbackRendersStereoBlocks) {
  VelkAudio *audio = velk_readback_open(nullptr, 88320, 690);
  ASSERT_TRUE(audio);
  EXPECT_EQ(velk_audio_rate(audio), 88320);
  EXPECT_EQ(velk_audio_channels(audio), 2);
  EXPECT_FALSE(velk_readback_open(nullptr, 88320, 690));  // one driver at a time
  uint8_t saw[256];
  for (int i = 0; i < 256; i++) saw[i] = (uint8_t)i;
  VelkSound *s = velk_sound_create(audio, 256, saw, 0);
  ASSERT_TRUE(s);
  EXPECT_EQ(velk_sound_set_loop(s, 1), 1);
  EXPECT_EQ(velk_sound_set_pan(s, -32768), 1);  // left 31, right 0
  EXPECT_EQ(velk_sound_play(s), 1);
  for (int block = 0; block < 3; block++) {
    SCOPED_TRACE(block);
    const uint8_t *out = velk_readback_render(audio);
    ASSERT_TRUE(out);
    for (int i = 0; i < 690; i++) {
      int b = saw[(block * 690 + i) % 256];
      ASSERT_EQ(out[2 * i], 128 + expected_contribution(31, b)) << i;
      ASSERT_EQ(out[2 * i + 1], 128) << i;
    }
  }
  EXPECT_EQ(velk_sound_position(s), (3 * 690) % 256);
  velk_sound_release(s);
  velk_audio_close(audio);
  EXPECT_FALSE(audio_driver_active());
  EXPECT_FALSE(velk_readback_render(audio));
}

TEST_F(MixerTest, FragmentsFollowRateAndMixahead) {
  struct Case {
    int rate, mixahead, length, queued;
  } cases[] = {{22050, 125, 344, 8}, {22050, 10, 344, 1}, {22050, 1000, 344, 32},
               {44100, 0, 689, 1}, {44100, 250, 689, 16}};
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.rate << " Hz " << c.mixahead << " ms");
    int length, queued;
    audio_fragments(c.rate, c.mixahead, &length, &queued);
    EXPECT_EQ(length, c.length);
    EXPECT_EQ(queued, c.queued);
  }
}

}  // namespace
