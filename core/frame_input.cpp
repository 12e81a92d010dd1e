// Control channels from the configured bindings, and the controls handed to the local rider.
#include <algorithm>
#include <cstring>

#include "core/common.h"
#include "core/frame.h"
#include "files/config.h"

static const ChannelBinding kChannelBindings[CHANNEL_BINDING_COUNT] = {
    {LEFT_KEY, CHANNEL_STEER, +1, 0},
    {RIGHT_KEY, CHANNEL_STEER, -1, 0},
    {THROTTLE_KEY, CHANNEL_THROTTLE, +1, 0},
    {FRONT_BRAKE_KEY, CHANNEL_FRONT_BRAKE, +1, 0},
    {REAR_BRAKE_KEY, CHANNEL_REAR_BRAKE, +1, 0},
    {UPSHIFT_KEY, CHANNEL_SHIFT, +1, 0},
    {DOWNSHIFT_KEY, CHANNEL_SHIFT, -1, 0},
    {CLUTCH_KEY, CHANNEL_CLUTCH, +1, 0},
    {DAB_KEY, CHANNEL_DAB, +1, 0},
    {BACK_UP_KEY, CHANNEL_BACK_UP, +1, 0},
    {LEAN_FORWARD_KEY, CHANNEL_LEAN, -1, 0},
    {LEAN_BACKWARD_KEY, CHANNEL_LEAN, +1, 0},
};

// ---- per process: the loop's copy of the table ----
static ChannelBinding s_bindings[CHANNEL_BINDING_COUNT];

void channel_bindings_reset() { memcpy(s_bindings, kChannelBindings, sizeof s_bindings); }

ChannelBinding *channel_bindings() { return s_bindings; }

void channel_bindings_key(const int *key_codes, int code, int pressed) {
  for (ChannelBinding &row : s_bindings)
    if (key_codes[row.binding] != 0 && key_codes[row.binding] == code) row.value = pressed ? 1 : 0;
}

float axis_binding_value(int raw, float range_start, float range_end) {
  if (range_end == range_start) return 0;
  float v = (raw * (1.0f / 32768.0f) - range_start) / (range_end - range_start);
  return std::clamp(v, 0.0f, 1.0f);
}

void channels_from_bindings(float channels[CHANNEL_COUNT]) {
  for (int i = 0; i < CHANNEL_COUNT; i++) channels[i] = 0;
  for (const ChannelBinding &row : s_bindings) channels[row.channel] += row.factor * row.value;
}

void local_rider_input_reset(LocalRiderInput *state) {
  state->clutch = 1;
  state->dab_latched = false;
  state->dab_was_down = false;
}

HandedControls hand_controls(const float ch[CHANNEL_COUNT], bool reverse_steering,
                             bool sticky_dab, LocalRiderInput *state) {
  HandedControls c;
  // Steer +1 is to the right on the bike; the left key makes channel 0 positive.
  c.steer = reverse_steering ? -ch[CHANNEL_STEER] : ch[CHANNEL_STEER];
  c.front_brake = ch[CHANNEL_FRONT_BRAKE];
  c.rear_brake = ch[CHANNEL_REAR_BRAKE];
  c.throttle = ch[CHANNEL_THROTTLE];
  bool dab_down = ch[CHANNEL_DAB] >= 0.5f;
  if (sticky_dab) {
    if (dab_down && !state->dab_was_down) state->dab_latched = !state->dab_latched;
    c.dab = state->dab_latched ? 1 : 0;
  } else {
    c.dab = ch[CHANNEL_DAB];
  }
  state->dab_was_down = dab_down;
  c.back_up = ch[CHANNEL_BACK_UP];
  c.lean = ch[CHANNEL_LEAN];
  // Letting the lever out engages the clutch at most 4 per second, so a dropped lever
  // does not stall or loop the bike.
  float clutch = std::clamp(1 - ch[CHANNEL_CLUTCH] * 8.0f / 7.0f, 0.0f, 1.0f);
  if (clutch > state->clutch) clutch = std::min(clutch, state->clutch + (float)(4 * TICK));
  state->clutch = clutch;
  c.clutch = clutch;
  c.shift = ch[CHANNEL_SHIFT] > 0.5f ? 1 : ch[CHANNEL_SHIFT] < -0.5f ? -1 : 0;
  return c;
}
