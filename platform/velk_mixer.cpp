// The software mixer: 8-bit voices summed through gain tables, loudest first within a
// channel budget, with volume changes held back to the waveform's next midpoint crossing.
#include "platform/velk_mixer.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

// ---- per process: gain tables, built on first use ----
static struct {
  bool built;
  int8_t table[MIXER_GAINS][256];  // row 0 is silence
} s_gains;

// ---- per open output: mixing lists and accumulators ----
struct MixerList {
  VelkSound *head, *tail;
};
static struct {
  bool open;
  int device_rate;  // Hz
  bool stereo;
  int budget;       // voice halves heard per block
  int max_block;    // samples
  int32_t *accum[2];
  MixerList lists[2][MIXER_GAINS];  // by half, by gain
} s_mix;

static void build_gain_tables() {
  if (s_gains.built) return;
  for (int g = 1; g < MIXER_GAINS; g++) {
    int8_t *row = s_gains.table[g];
    row[128] = 0;
    for (int j = 1; j <= 127; j++) {
      row[128 + j] = (int8_t)(j * g / 32);
      row[128 - j] = (int8_t)-(j * g / 32);
    }
    row[0] = (int8_t)-(127 * g / 32);
  }
  memset(s_gains.table[0], 0, 256);
  s_gains.built = true;
}

const int8_t *mixer_gain_row(int g) {
  build_gain_tables();
  if (g < 0) g = 0;
  if (g >= MIXER_GAINS) g = MIXER_GAINS - 1;
  return s_gains.table[g];
}

void mixer_gains(int volume, int pan, int *left, int *right) {
  *left = (int)(((int64_t)(32767 - pan) * volume) >> 26);
  *right = (int)(((int64_t)volume * (pan + 32768)) >> 26);
}

// ---- mixing lists ----
static void list_insert(VelkSound *v, int h) {
  MixerHalf &half = v->half[h];
  MixerList &list = s_mix.lists[h][half.gain];
  half.prev = list.tail;
  half.next = nullptr;
  if (list.tail) list.tail->half[h].next = v;
  else list.head = v;
  list.tail = v;
}

static void list_remove(VelkSound *v, int h) {
  MixerHalf &half = v->half[h];
  MixerList &list = s_mix.lists[h][half.gain];
  if (half.prev) half.prev->half[h].next = half.next;
  else list.head = half.next;
  if (half.next) half.next->half[h].prev = half.prev;
  else list.tail = half.prev;
  half.prev = half.next = nullptr;
}

static int halves_of(const VelkSound *v) { return (v->flags & VOICE_STEREO) ? 2 : 1; }

static void voice_unlist(VelkSound *v) {
  if (!(v->flags & VOICE_PLAYING)) return;
  for (int h = 0; h < halves_of(v); h++) list_remove(v, h);
  v->flags &= ~VOICE_PLAYING;
}

// Recomputes both gains; a playing voice moves to the lists of its new gains.
static void voice_update_gains(VelkSound *v) {
  int left, right;
  mixer_gains(v->volume, v->pan, &left, &right);
  int gains[2] = {left, right};
  for (int h = 0; h < 2; h++) {
    if (v->half[h].gain == gains[h]) continue;
    bool listed = (v->flags & VOICE_PLAYING) && h < halves_of(v);
    if (listed) list_remove(v, h);
    v->half[h].gain = gains[h];
    if (listed) list_insert(v, h);
  }
}

// ---- opening ----
int mixer_open(int device_rate, int stereo, int channel_budget, int max_block) {
  if (s_mix.open || device_rate <= 0 || max_block <= 0) return 0;
  build_gain_tables();
  int32_t *left = (int32_t *)calloc((size_t)max_block, sizeof(int32_t));
  int32_t *right = (int32_t *)calloc((size_t)max_block, sizeof(int32_t));
  if (!left || !right) {
    free(left);
    free(right);
    return 0;
  }
  memset(s_mix.lists, 0, sizeof s_mix.lists);
  s_mix.accum[0] = left;
  s_mix.accum[1] = right;
  s_mix.device_rate = device_rate;
  s_mix.stereo = stereo != 0;
  s_mix.budget = channel_budget;
  s_mix.max_block = max_block;
  s_mix.open = true;
  return 1;
}

void mixer_close() {
  if (!s_mix.open) return;
  for (int h = 0; h < 2; h++)
    for (int g = 0; g < MIXER_GAINS; g++)
      for (VelkSound *v = s_mix.lists[h][g].head; v;) {
        VelkSound *next = v->half[h].next;
        v->half[h].prev = v->half[h].next = nullptr;
        v->flags &= ~VOICE_PLAYING;
        v = next;
      }
  free(s_mix.accum[0]);
  free(s_mix.accum[1]);
  s_mix = {};
}

void mixer_reset() {
  mixer_close();
  s_mix = {};
}

// ---- voices ----
MixerVoice *mixer_voice_create(int length, const uint8_t *data, int rate) {
  // Positions are 32-bit: a position plus one step must not overflow.
  if (!s_mix.open || length <= 0 || length > (1 << 30) || rate < 0) return nullptr;
  int n = length;
  if (rate) {
    int64_t resampled = (int64_t)length * s_mix.device_rate / rate;
    if (resampled <= 0 || resampled > (1 << 30)) return nullptr;  // nothing left to play
    n = (int)resampled;
  }
  MixerSamples *samples =
      (MixerSamples *)malloc(offsetof(MixerSamples, data) + (size_t)n);
  VelkSound *v = (VelkSound *)calloc(1, sizeof(VelkSound));
  if (!samples || !v) {
    free(samples);
    free(v);
    return nullptr;
  }
  samples->references = 1;
  samples->length = n;
  if (!data) memset(samples->data, 128, (size_t)n);
  else if (!rate) memcpy(samples->data, data, (size_t)n);
  else
    for (int i = 0; i < n; i++)  // nearest sample, stepping r / device rate
      samples->data[i] = data[(int64_t)i * rate / s_mix.device_rate];
  v->samples = samples;
  v->device_rate = s_mix.device_rate;
  v->rate = s_mix.device_rate;
  v->volume = 32767;
  v->pan = s_mix.stereo ? 0 : -32768;
  v->flags = s_mix.stereo ? VOICE_STEREO : 0;
  mixer_gains(v->volume, v->pan, &v->half[0].gain, &v->half[1].gain);
  return v;
}

MixerVoice *mixer_voice_duplicate(MixerVoice *voice) {
  VelkSound *v = (VelkSound *)calloc(1, sizeof(VelkSound));
  if (!v) return nullptr;
  v->samples = voice->samples;
  v->samples->references++;
  v->device_rate = voice->device_rate;
  v->rate = voice->rate;
  v->volume = voice->volume;
  v->pan = voice->pan;
  v->flags = voice->flags & (VOICE_STEREO | VOICE_LOOPING);
  v->half[0].gain = voice->half[0].gain;
  v->half[1].gain = voice->half[1].gain;
  return v;
}

void mixer_voice_release(MixerVoice *voice) {
  if (!voice) return;
  voice_unlist(voice);
  if (--voice->samples->references == 0) free(voice->samples);
  free(voice);
}

void mixer_voice_play(MixerVoice *voice) {
  voice->flags |= VOICE_RESTART;
  voice->flags &= ~VOICE_FINISHED;
  if (voice->flags & VOICE_PLAYING || !s_mix.open) return;
  voice->flags |= VOICE_PLAYING;
  // A voice that was silent starts at its own gain; one that is playing keeps its old
  // gain until the restarted waveform crosses its midpoint.
  for (int h = 0; h < halves_of(voice); h++) {
    voice->half[h].last_gain = voice->half[h].gain;
    list_insert(voice, h);
  }
}

void mixer_voice_stop(MixerVoice *voice) { voice_unlist(voice); }

void mixer_voice_set_rate(MixerVoice *voice, int rate) { voice->rate = rate < 0 ? 0 : rate; }

void mixer_voice_set_volume(MixerVoice *voice, int volume) {
  voice->volume = volume < 0 ? 0 : volume > 32767 ? 32767 : volume;
  voice_update_gains(voice);
}

void mixer_voice_set_pan(MixerVoice *voice, int pan) {
  if (!(voice->flags & VOICE_STEREO)) pan = -32768;
  voice->pan = pan < -32768 ? -32768 : pan > 32767 ? 32767 : pan;
  voice_update_gains(voice);
}

void mixer_voice_set_loop(MixerVoice *voice, int loop) {
  if (loop) voice->flags |= VOICE_LOOPING;
  else voice->flags &= ~VOICE_LOOPING;
}

int mixer_voice_position(const MixerVoice *voice) {
  if (!(voice->flags & VOICE_PLAYING) || (voice->flags & VOICE_RESTART)) return 0;
  return (int)voice->half[0].position;
}

void mixer_voice_write(MixerVoice *voice, int count, const uint8_t *data, int offset) {
  int n = voice->samples->length;
  if (count <= 0) return;
  if (count > n) {  // only the last n bytes survive, each where it would have landed
    data += count - n;
    offset += count - n;
    count = n;
  }
  int at = offset % n;
  if (at < 0) at += n;
  int first = count < n - at ? count : n - at;
  memcpy(voice->samples->data + at, data, (size_t)first);
  memcpy(voice->samples->data, data + first, (size_t)(count - first));
}

// ---- mixing ----
// Mixes (or, when not audible, only advances) one half into acc[0..count); a non-looping
// voice that runs off the end of its data is marked finished.
static void mix_half(VelkSound *v, int h, int32_t *acc, int count, bool audible) {
  MixerHalf &half = v->half[h];
  const uint8_t *data = v->samples->data;
  const uint32_t n = (uint32_t)v->samples->length;
  if (v->flags & VOICE_RESTART) {
    half.position = 0;
    half.fraction = 0;
  }
  const uint32_t rate = (uint32_t)v->rate, dev = (uint32_t)v->device_rate;
  const uint32_t step = rate / dev;
  const uint32_t step_fraction =
      (uint32_t)(((uint64_t)(rate % dev) << MIXER_FRACTION_BITS) / dev);
  const uint32_t fraction_mask = (1u << MIXER_FRACTION_BITS) - 1;
  uint32_t pos = half.position, frac = half.fraction;
  if (pos >= n) pos %= n;

  int gain = half.gain;
  int i = 0;
  // A changed gain (or a restart) waits for the waveform's next midpoint crossing.
  if (audible && (half.last_gain != half.gain || (v->flags & VOICE_RESTART))) {
    const int8_t *old_row = s_gains.table[half.last_gain];
    int top = data[pos] & 0x80;
    for (; i < count; i++) {
      uint8_t b = data[pos];
      if ((b & 0x80) != top) break;
      acc[i] += old_row[b];
      frac += step_fraction;
      pos += step + (frac >> MIXER_FRACTION_BITS);
      frac &= fraction_mask;
      if (pos >= n) {
        if (!(v->flags & VOICE_LOOPING)) {
          v->flags |= VOICE_FINISHED;
          half.position = pos;
          half.fraction = frac;
          return;  // the old gain stays recorded: the voice never reached the crossing
        }
        pos %= n;
      }
    }
    if (i == count) {  // no crossing in this block: keep waiting
      half.position = pos;
      half.fraction = frac;
      return;
    }
  }
  half.last_gain = gain;
  if (audible && gain > 0) {
    const int8_t *row = s_gains.table[gain];
    for (; i < count; i++) {
      acc[i] += row[data[pos]];
      frac += step_fraction;
      pos += step + (frac >> MIXER_FRACTION_BITS);
      frac &= fraction_mask;
      if (pos >= n) {
        if (!(v->flags & VOICE_LOOPING)) {
          v->flags |= VOICE_FINISHED;
          break;
        }
        pos %= n;
      }
    }
  } else {  // silent: the same stepping without the sum
    uint64_t total = (uint64_t)frac + (uint64_t)step_fraction * (uint64_t)(count - i);
    uint64_t advanced = (uint64_t)pos + (uint64_t)step * (uint64_t)(count - i) +
                        (total >> MIXER_FRACTION_BITS);
    frac = (uint32_t)(total & fraction_mask);
    if (advanced >= n) {
      if (!(v->flags & VOICE_LOOPING)) v->flags |= VOICE_FINISHED;
      advanced %= n;
    }
    pos = (uint32_t)advanced;
  }
  half.position = pos;
  half.fraction = frac;
}

// One block of at most max_block samples into the accumulators.
static void mix_block(int count) {
  int halves = s_mix.stereo ? 2 : 1;
  for (int h = 0; h < halves; h++) memset(s_mix.accum[h], 0, sizeof(int32_t) * (size_t)count);
  int budget = s_mix.budget;
  for (int g = MIXER_GAINS - 1; g >= 0; g--) {
    VelkSound *cursor[2] = {s_mix.lists[0][g].head, halves == 2 ? s_mix.lists[1][g].head : nullptr};
    while (cursor[0] || cursor[1]) {
      for (int h = 0; h < halves; h++) {
        VelkSound *v = cursor[h];
        if (!v) continue;
        cursor[h] = v->half[h].next;
        bool audible = budget > 0 && g >= 1;
        if (audible) budget--;
        mix_half(v, h, s_mix.accum[h], count, audible);
      }
    }
  }
  // Restarts are done; finished voices stop and leave the lists.
  for (int g = 0; g < MIXER_GAINS; g++)
    for (VelkSound *v = s_mix.lists[0][g].head; v;) {
      VelkSound *next = v->half[0].next;
      v->flags &= ~VOICE_RESTART;
      if (v->flags & VOICE_FINISHED) voice_unlist(v);
      v = next;
    }
}

// Mixes `count` frames in blocks, each summed sample written through `convert`.
template <typename Sample, typename Convert>
static void mix_frames(int count, Sample *out, Convert convert) {
  if (!s_mix.open) return;
  int channels = s_mix.stereo ? 2 : 1;
  while (count > 0) {
    int block = count < s_mix.max_block ? count : s_mix.max_block;
    mix_block(block);
    for (int i = 0; i < block; i++)
      for (int h = 0; h < channels; h++) *out++ = convert(s_mix.accum[h][i]);
    count -= block;
  }
}

void mixer_mix8(int count, uint8_t *out) {
  mix_frames(count, out, [](int32_t sum) {
    return sum < -127 ? (uint8_t)0 : sum > 126 ? (uint8_t)255 : (uint8_t)(sum + 128);
  });
}

void mixer_mix16(int count, int16_t *out) {
  mix_frames(count, out, [](int32_t sum) {
    return sum < -126 ? (int16_t)-0x7F00 : sum > 126 ? (int16_t)0x7F00 : (int16_t)(sum * 256);
  });
}
