// The streaming audio output on SDL: the software mixer fills 8-bit stereo fragments of
// 1/64 s from SDL's audio thread; the mixahead sets how much is queued at the device.
#include <SDL.h>

#include <cstdlib>
#include <cstring>

#include "platform/velk.h"
#include "platform/velk_mixer.h"

// ---- per open output: the fragment being handed over ----
static struct {
  uint8_t *fragment;   // one mixed fragment, fragment_length x 2 bytes
  int fragment_bytes;
  int left;            // bytes of `fragment` not yet handed to the device
  uint32_t fragments;  // mixed so far
  bool thread_began;
} s_stream;

static void audio_callback(void *user, Uint8 *stream, int len) {
  VelkAudio *audio = (VelkAudio *)user;
  if (!s_stream.thread_began) {
    s_stream.thread_began = true;
    velk_log("Audio thread begin\n");
  }
  while (len > 0) {
    if (s_stream.left == 0) {
      mixer_mix8(audio->block_length, s_stream.fragment);
      s_stream.left = s_stream.fragment_bytes;
      s_stream.fragments++;
    }
    int n = len < s_stream.left ? len : s_stream.left;
    memcpy(stream, s_stream.fragment + (s_stream.fragment_bytes - s_stream.left), (size_t)n);
    s_stream.left -= n;
    stream += n;
    len -= n;
  }
}

static void stream_lock(VelkAudio *audio) { SDL_LockAudioDevice((SDL_AudioDeviceID)audio->device); }
static void stream_unlock(VelkAudio *audio) {
  SDL_UnlockAudioDevice((SDL_AudioDeviceID)audio->device);
}

static void stream_close(VelkAudio *audio) {
  velk_log("Closing audio\n");
  SDL_CloseAudioDevice((SDL_AudioDeviceID)audio->device);  // waits for the callback to end
  if (s_stream.thread_began) velk_log("Audio thread end\n");
  mixer_close();
  free(s_stream.fragment);
  s_stream = {};
  free(audio);
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

static void stream_update(VelkAudio *) {}

static const AudioDriver kStreamDriver = {
    "waveout", stream_close, stream_update, nullptr, stream_lock, stream_unlock,
};

VelkAudio *velk_audio_open(VelkWindow *) {
  if (audio_driver_active()) return nullptr;
  if (!velk_option_bool("waveout", 1)) return nullptr;
  velk_log("Opening waveOut audio...\n");
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
    velk_log("No audio device\n");
    return nullptr;
  }
  const char *device_name = SDL_GetNumAudioDevices(0) > 0 ? SDL_GetAudioDeviceName(0, 0) : nullptr;
  velk_log("Found a %s\n", device_name ? device_name : SDL_GetCurrentAudioDriver());
  int channels = velk_option_int("sound-channels", 16);
  int rate = velk_option_int("sound-rate", 22050);
  int mixahead = velk_option_int("sound-mixahead", 125);
  if (rate < 64 || rate > 384000) {
    velk_log("unrecognized setting for %s\n", "sound-rate");
    rate = 22050;
  }
  int fragment_length, queued;
  audio_fragments(rate, mixahead, &fragment_length, &queued);
  velk_log("Waveout rate: %d\n", rate);
  velk_log("Waveout channels: %d\n", channels);
  velk_log("Waveout mixahead: %d\n", queued * 1000 / 64);

  // SDL plays its buffer while the next one fills: a buffer of half the mixahead keeps
  // about the mixahead queued.
  int want_samples = queued * fragment_length / 2;
  int samples = 256;
  while (samples * 2 <= want_samples && samples < 32768) samples *= 2;
  VelkAudio *audio = (VelkAudio *)calloc(1, sizeof(VelkAudio));
  uint8_t *fragment = (uint8_t *)malloc((size_t)fragment_length * 2);
  if (!audio || !fragment) {
    velk_log("malloc() failed\n");
    free(audio);
    free(fragment);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return nullptr;
  }
  SDL_AudioSpec want = {}, have = {};
  want.freq = rate;
  want.format = AUDIO_U8;
  want.channels = 2;
  want.samples = (Uint16)samples;
  want.callback = audio_callback;
  want.userdata = audio;
  SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
  if (!device) {
    velk_log("Can't open waveOut\n");
    velk_log("SDL: %s\n", SDL_GetError());
    free(audio);
    free(fragment);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return nullptr;
  }
  if (!mixer_open(rate, 1, channels, fragment_length)) {
    velk_log("malloc() failed\n");
    SDL_CloseAudioDevice(device);
    free(audio);
    free(fragment);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return nullptr;
  }
  s_stream = {};
  s_stream.fragment = fragment;
  s_stream.fragment_bytes = fragment_length * 2;
  *audio = VelkAudio{&kStreamDriver, rate, 2, fragment_length, nullptr, (uintptr_t)device};
  audio_driver_activate(audio);
  SDL_PauseAudioDevice(device, 0);
  velk_log("Audio opened!\n");
  return audio;
}
