// VELK audio: 8-bit sounds with their own rate, volume, pan and looping, mixed in software
// and streamed to the sound card (velk_audio_open) or rendered block by block into memory
// for recording (velk_readback_open). One driver is active per process.
#pragma once
#include <cstdint>

struct VelkWindow;
struct VelkAudio;  // the active driver; from an open to velk_audio_close
struct VelkSound;  // one sound (mixer voice); from velk_sound_create to velk_sound_release

constexpr int VELK_VOLUME_MAX = 32767;
constexpr int VELK_PAN_LEFT = -32768, VELK_PAN_RIGHT = 32767;

// Opens the sound card's output stream (options sound-rate, sound-channels,
// sound-mixahead, waveout). Null when a driver is already active or the output cannot
// be opened; the game then runs silent. The null back-end has no output: always null.
VelkAudio *velk_audio_open(VelkWindow *window);
// Opens the readback driver: 8-bit stereo at `rate`, rendered `block_length` samples at a
// time by velk_readback_render. Null when a driver is already active or memory is short.
VelkAudio *velk_readback_open(VelkWindow *window, int rate, int block_length);
// Closes the active driver (null: the active one, if any; logs when none is open).
void velk_audio_close(VelkAudio *audio);
// Once per frame after the engine sounds.
void velk_audio_update(VelkAudio *audio);
// Readback: mixes one block and returns it (block_length x 2 bytes, left first), owned by
// the driver until the next call; null for other drivers.
const uint8_t *velk_readback_render(VelkAudio *audio);
// The output's sample rate (Hz) and channel count (1 or 2); 0 when not open.
int velk_audio_rate(const VelkAudio *audio);
int velk_audio_channels(const VelkAudio *audio);

// Creates a sound of `length` 8-bit unsigned samples (128 = silence) copied from `data`
// (null: silence) at `rate` samples per second (0: the output's own rate; other rates are
// resampled once, here). It starts stopped, at the output's rate, full volume, centred,
// not looping. Null on failure.
VelkSound *velk_sound_create(VelkAudio *audio, int length, const uint8_t *data, int rate);
// A second sound sharing the same samples (for playing one sample twice at once).
VelkSound *velk_sound_duplicate(VelkSound *sound);
void velk_sound_release(VelkSound *sound);
// Starts from the beginning (restarts when playing). 1 on success.
int velk_sound_play(VelkSound *sound);
int velk_sound_stop(VelkSound *sound);
int velk_sound_set_rate(VelkSound *sound, int rate);       // samples per second
int velk_sound_set_volume(VelkSound *sound, int volume);   // 0..32767
int velk_sound_set_pan(VelkSound *sound, int pan);         // -32768 (left)..32767 (right)
int velk_sound_set_loop(VelkSound *sound, int loop);       // 1 loop, 0 play once
// Samples played in the current pass; 0 when stopped or a restart is pending.
int velk_sound_position(VelkSound *sound);
// Copies `count` bytes into the sound's samples from `offset` (modulo the length),
// wrapping to the start; of more than the length only the last length bytes count.
int velk_sound_write(VelkSound *sound, int count, const uint8_t *data, int offset);
