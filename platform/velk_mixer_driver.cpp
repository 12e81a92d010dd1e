// The active audio driver, the velk_sound_* calls that reach its mixer, and the readback
// driver that renders the mix block by block for recording a session's sound track.
#include <cstdlib>

#include "platform/velk.h"
#include "platform/velk_mixer.h"

// ---- per process: the one active driver ----
static struct {
  VelkAudio *active;
} s_audio;

int audio_driver_activate(VelkAudio *audio) {
  if (s_audio.active) return 0;
  s_audio.active = audio;
  return 1;
}

VelkAudio *audio_driver_active() { return s_audio.active; }

void audio_fragments(int rate, int mixahead_ms, int *fragment_length, int *queued) {
  *fragment_length = rate / 64;
  int q = (int)((int64_t)mixahead_ms * 64 / 1000);
  *queued = q < 1 ? 1 : q > 32 ? 32 : q;
}

// ---- the readback driver: everything on the main thread, no lock ----
static void readback_close(VelkAudio *audio) {
  mixer_close();
  free(audio->block);
  free(audio);
}

static void readback_update(VelkAudio *) {}

static const uint8_t *readback_render(VelkAudio *audio) {
  mixer_mix8(audio->block_length, audio->block);
  return audio->block;
}

static const AudioDriver kReadbackDriver = {
    "readback", readback_close, readback_update, readback_render, nullptr, nullptr,
};

VelkAudio *velk_readback_open(VelkWindow *, int rate, int block_length) {
  velk_log("Opening readback audio...\n");
  if (s_audio.active) {
    velk_log("Audio already open\n");
    return nullptr;
  }
  if (rate <= 0 || block_length <= 0) return nullptr;
  int channels = velk_option_int("sound-channels", 16);
  VelkAudio *audio = (VelkAudio *)calloc(1, sizeof(VelkAudio));
  uint8_t *block = (uint8_t *)malloc((size_t)block_length * 2);
  if (!audio || !block || !mixer_open(rate, 1, channels, block_length)) {
    velk_log("Malloc failed\n");
    free(audio);
    free(block);
    return nullptr;
  }
  *audio = VelkAudio{&kReadbackDriver, rate, 2, block_length, block, 0};
  audio_driver_activate(audio);
  velk_log("Audio opened!\n");
  return audio;
}

// ---- driver operations ----
void velk_audio_close(VelkAudio *audio) {
  if (!s_audio.active || (audio && audio != s_audio.active)) {
    velk_log("Can't close audio, not open\n");
    return;
  }
  VelkAudio *active = s_audio.active;
  s_audio.active = nullptr;
  active->driver->close(active);
}

void velk_audio_update(VelkAudio *audio) {
  if (audio && audio == s_audio.active) audio->driver->update(audio);
}

const uint8_t *velk_readback_render(VelkAudio *audio) {
  if (!audio || audio != s_audio.active || !audio->driver->render) return nullptr;
  return audio->driver->render(audio);
}

int velk_audio_rate(const VelkAudio *audio) { return audio ? audio->rate : 0; }
int velk_audio_channels(const VelkAudio *audio) { return audio ? audio->channels : 0; }

// ---- sound operations: the mixer under the active driver's lock ----
struct MixerLock {
  VelkAudio *audio;
  MixerLock() : audio(s_audio.active) {
    if (audio && audio->driver->lock) audio->driver->lock(audio);
  }
  ~MixerLock() {
    if (audio && audio->driver->unlock) audio->driver->unlock(audio);
  }
};

VelkSound *velk_sound_create(VelkAudio *audio, int length, const uint8_t *data, int rate) {
  if (!audio || audio != s_audio.active) return nullptr;
  MixerLock lock;
  return mixer_voice_create(length, data, rate);
}

VelkSound *velk_sound_duplicate(VelkSound *sound) {
  if (!sound) return nullptr;
  MixerLock lock;
  return mixer_voice_duplicate(sound);
}

void velk_sound_release(VelkSound *sound) {
  if (!sound) return;
  MixerLock lock;
  mixer_voice_release(sound);
}

// Each setter: 0 for a null sound, else the mixer's change under the lock and 1.
#define SOUND_OP(call) \
  if (!sound) return 0; \
  MixerLock lock;       \
  call;                 \
  return 1

int velk_sound_play(VelkSound *sound) { SOUND_OP(mixer_voice_play(sound)); }
int velk_sound_stop(VelkSound *sound) { SOUND_OP(mixer_voice_stop(sound)); }
int velk_sound_set_rate(VelkSound *sound, int rate) { SOUND_OP(mixer_voice_set_rate(sound, rate)); }
int velk_sound_set_volume(VelkSound *sound, int volume) {
  SOUND_OP(mixer_voice_set_volume(sound, volume));
}
int velk_sound_set_pan(VelkSound *sound, int pan) { SOUND_OP(mixer_voice_set_pan(sound, pan)); }
int velk_sound_set_loop(VelkSound *sound, int loop) { SOUND_OP(mixer_voice_set_loop(sound, loop)); }
int velk_sound_write(VelkSound *sound, int count, const uint8_t *data, int offset) {
  if (!data) return 0;
  SOUND_OP(mixer_voice_write(sound, count, data, offset));
}
#undef SOUND_OP

int velk_sound_position(VelkSound *sound) {
  if (!sound) return 0;
  MixerLock lock;
  return mixer_voice_position(sound);
}
