// The software mixer: one second of 40 looping voices at 44 100 Hz stereo, mixed in
// fragments of 1/64 s. The counter `realtime` is the share of one core that mixing in
// real time costs (goal: under 1%); the baseline mixes nothing and only clears and
// converts the same blocks, so the ratio of the two shows what the voices add.
#include <benchmark/benchmark.h>

#include <vector>

#include "platform/velk.h"
#include "platform/velk_mixer.h"

namespace {

constexpr int kRate = 44100;
constexpr int kVoices = 40;
constexpr int kFragment = kRate / 64;  // 689 samples
constexpr int kFragments = 64;         // one second

struct MixerRig {
  std::vector<MixerVoice *> voices;
  std::vector<uint8_t> out;
  MixerRig(int budget, int voices_playing) : out(kFragment * 2) {
    mixer_reset();
    mixer_open(kRate, 1, budget, kFragment);
    std::vector<uint8_t> wave(32768);
    for (size_t i = 0; i < wave.size(); i++) wave[i] = (uint8_t)(128 + ((i * 37) % 97) - 48);
    for (int v = 0; v < voices_playing; v++) {
      MixerVoice *voice = mixer_voice_create((int)wave.size(), wave.data(), 0);
      mixer_voice_set_loop(voice, 1);
      mixer_voice_set_rate(voice, 8000 + v * 1500);  // engine notes at their own pitches
      mixer_voice_set_volume(voice, 4000 + v * 700);
      mixer_voice_set_pan(voice, -30000 + v * 1500);
      mixer_voice_play(voice);
      voices.push_back(voice);
    }
  }
  ~MixerRig() {
    for (MixerVoice *v : voices) mixer_voice_release(v);
    mixer_reset();
  }
  void one_second() {
    for (int f = 0; f < kFragments; f++) {
      mixer_mix8(kFragment, out.data());
      benchmark::DoNotOptimize(out.data());
    }
  }
};

void set_realtime(benchmark::State &state) {
  // Seconds of processor time per second of sound.
  state.counters["realtime"] =
      benchmark::Counter((double)state.iterations(), benchmark::Counter::kIsRate |
                                                         benchmark::Counter::kInvert);
}

void BM_MixBaselineNoVoices(benchmark::State &state) {
  MixerRig rig(16, 0);
  for (auto _ : state) rig.one_second();
  set_realtime(state);
}
BENCHMARK(BM_MixBaselineNoVoices)->Unit(benchmark::kMillisecond);

// The game's default channel budget: 16 voice halves heard, the rest only advance.
void BM_Mix40VoicesBudget16(benchmark::State &state) {
  MixerRig rig(16, kVoices);
  for (auto _ : state) rig.one_second();
  set_realtime(state);
}
BENCHMARK(BM_Mix40VoicesBudget16)->Unit(benchmark::kMillisecond);

// Every voice heard on both sides.
void BM_Mix40VoicesAllHeard(benchmark::State &state) {
  MixerRig rig(2 * kVoices, kVoices);
  for (auto _ : state) rig.one_second();
  set_realtime(state);
}
BENCHMARK(BM_Mix40VoicesAllHeard)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
