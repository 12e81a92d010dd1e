// The software sound mixer behind the audio drivers (internal to platform/ and its tests):
// voices of 8-bit samples mixed with gain tables into 8-bit (or 16-bit) output blocks,
// and the table of driver operations the velk_sound_* calls go through.
#pragma once
#include <cstdint>

#include "platform/velk_audio.h"

constexpr int MIXER_GAINS = 32;        // gain levels 0..31; 0 is silent
constexpr int MIXER_FRACTION_BITS = 31;

// Sample data shared by a voice and its duplicates.
struct MixerSamples {
  int references;
  int length;       // samples
  uint8_t data[1];  // `length` unsigned 8-bit samples, 128 = silence
};

struct MixerHalf {
  VelkSound *prev, *next;  // links in the mixing list of `gain`
  uint32_t position;       // sample index
  uint32_t fraction;       // of a sample, 31 bits
  int gain;                // 0..31
  int last_gain;           // the gain in force at the end of the previous block
};

enum MixerVoiceFlags {
  VOICE_LOOPING = 1,
  VOICE_PLAYING = 2,
  VOICE_STEREO = 4,
  VOICE_RESTART = 8,  // back to the start at the next mix
  VOICE_FINISHED = 16,
};

// A mixer voice is what the velk_sound_* calls hand around.
struct VelkSound {
  MixerSamples *samples;
  int device_rate;  // Hz, the output's
  int rate;         // Hz, this voice's playback rate
  int volume;       // 0..32767
  int pan;          // -32768..32767; -32768 on a mono output
  int flags;        // MixerVoiceFlags
  MixerHalf half[2];  // left, right (a mono output uses only the left)
};
using MixerVoice = VelkSound;

// Starts mixing at `device_rate` Hz, mono or stereo, hearing at most `channel_budget`
// voice halves, in blocks of up to `max_block` samples. 1 on success, 0 when memory is
// short or the arguments are unusable.
int mixer_open(int device_rate, int stereo, int channel_budget, int max_block);
// Stops every voice (they stay valid until released) and frees the accumulators.
void mixer_close();
// Test support: forget everything, as at process start.
void mixer_reset();

MixerVoice *mixer_voice_create(int length, const uint8_t *data, int rate);
MixerVoice *mixer_voice_duplicate(MixerVoice *voice);
void mixer_voice_release(MixerVoice *voice);
void mixer_voice_play(MixerVoice *voice);
void mixer_voice_stop(MixerVoice *voice);
void mixer_voice_set_rate(MixerVoice *voice, int rate);
void mixer_voice_set_volume(MixerVoice *voice, int volume);
void mixer_voice_set_pan(MixerVoice *voice, int pan);
void mixer_voice_set_loop(MixerVoice *voice, int loop);
int mixer_voice_position(const MixerVoice *voice);
void mixer_voice_write(MixerVoice *voice, int count, const uint8_t *data, int offset);

// Mixes `count` samples per channel: unsigned 8-bit, or signed 16-bit, interleaved left
// first on a stereo output. Blocks longer than max_block are mixed in pieces.
void mixer_mix8(int count, uint8_t *out);
void mixer_mix16(int count, int16_t *out);

// Gain table row g (1..31): the signed contribution of each sample byte.
const int8_t *mixer_gain_row(int g);
// The left and right gains of a volume and pan: both 0..31.
void mixer_gains(int volume, int pan, int *left, int *right);

// ---- drivers ----
// Every driver on this platform mixes in software; a driver supplies its opening,
// closing and rendering, and the lock that keeps its mixing thread off the voices while a
// velk_sound_* call runs.
struct AudioDriver {
  const char *name;
  void (*close)(VelkAudio *audio);
  void (*update)(VelkAudio *audio);
  const uint8_t *(*render)(VelkAudio *audio);  // readback only
  void (*lock)(VelkAudio *audio);
  void (*unlock)(VelkAudio *audio);
};

struct VelkAudio {
  const AudioDriver *driver;
  int rate;          // Hz
  int channels;      // 1 or 2
  int block_length;  // samples per rendered block (readback) or fragment (output)
  uint8_t *block;    // readback output, block_length x channels bytes
  uintptr_t device;  // the system's device id, when there is one
};

// The output stream's fragments: rate / 64 samples each, mixahead x 64 / 1000 of them
// queued ahead, limited to 1..32.
void audio_fragments(int rate, int mixahead_ms, int *fragment_length, int *queued);

// Makes `audio` the process's active driver; 0 when one is already active.
int audio_driver_activate(VelkAudio *audio);
VelkAudio *audio_driver_active();
