// Applying the rider's whole bike setup, refused while the bike moves.
#include "bike/bike_local.h"
#include "core/frame.h"
#include "files/config.h"

// ---- the whole setup ----

int apply_setup(Bike *b, const BikeSetup *s, double time) {
  if (body_speed(b->bodies[FRAME_BODY]) > 0.125f) {
    // The message only when the rider keeps trying; a lone refusal stays silent.
    if (time - bike_setup_state()->last_refusal < 10)
      show_message("Settings not applied.  Mechanic can't keep up error.");
    bike_setup_state()->last_refusal = time;
    return 0;
  }
  set_leveling(b, (float)s->leveling.value);
  set_roll_damping(b, (float)s->roll_damping.value);
  set_roll_limit_angle(b, (float)s->roll_limit_angle.value);
  set_roll_limit_factor(b, (float)s->roll_limit_factor.value);
  set_steering_damping(b, (float)s->steering_damping.value);
  set_steering_strength(b, (float)s->steering_strength.value);
  set_max_steering_force(b, (float)s->max_steering_force.value);
  set_arcade(b, choice_text(&s->arcade), bike_arcade_disabled());
  set_front_brake_mode(b, choice_text(&s->front_brake));
  set_rear_brake_mode(b, choice_text(&s->rear_brake));
  set_stop_wheelies(b, choice_text(&s->stop_wheelies));
  set_auto_shift(b, choice_text(&s->auto_shift));
  set_auto_dab(b, choice_text(&s->auto_dab));
  set_auto_align(b, choice_text(&s->auto_align));
  set_direct_steering(b, (float)s->direct_steering.value);
  set_slow_damping_speed(b, (float)s->slow_damping_speed.value);
  set_slow_damping_factor(b, (float)s->slow_damping_factor.value);
  set_land_damping_falloff(b, (float)s->land_damping_falloff.value);
  set_land_damping_factor(b, (float)s->land_damping_factor.value);
  set_full_lock_speed(b, (float)s->full_lock_speed.value);
  set_restricted_lock_speed(b, (float)s->restricted_lock_speed.value);
  set_restricted_lock(b, (float)s->restricted_lock.value);
  set_auto_clutch_rpms(b, (float)s->auto_clutch_rpms.value);
  set_brake_torque(b, (float)s->brake_torque.value);
  set_rear_brake_torque(b, (float)s->rear_brake_torque.value);
  set_max_dab_speed(b, (float)s->max_dab_speed.value);
  set_sprockets(b, (float)s->front_sprocket_adjustment.value,
                (float)s->rear_sprocket_adjustment.value);
  set_fork_compression(b, (float)s->fork_compression_adjustment.value);
  set_fork_rebound(b, (float)s->fork_rebound_adjustment.value);
  set_fork_spring_rate(b, (float)s->fork_spring_rate_adjustment.value);
  set_fork_preload(b, (float)s->fork_preload_adjustment.value);
  set_fork_oil_level(b, (float)s->fork_oil_level_adjustment.value);
  set_shock_compression(b, (float)s->shock_compression_adjustment.value);
  set_shock_rebound(b, (float)s->shock_rebound_adjustment.value);
  set_shock_spring_rate(b, (float)s->shock_spring_rate_adjustment.value);
  set_shock_preload(b, (float)s->shock_preload_adjustment.value);
  set_rider_yspring(b, (float)s->rider_yspring.value);
  set_rider_ydamping(b, (float)s->rider_ydamping.value);
  set_rider_zspring(b, (float)s->rider_zspring.value);
  set_rider_zdamping(b, (float)s->rider_zdamping.value);
  set_rider_mass_distribution(b, (float)s->rider_mass_distribution.value);
  return 1;
}
