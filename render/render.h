// The renderer's entry points for the frame loop and the start-up.
#pragma once

// The fixed GL state of the start-up: clear colour, culling, row alignment, flat shading.
void render_init_state(bool flat_shading);
// Draws the view of a frame-loop view mode (ViewMode) for a width x height drawable.
void render_view(int mode, int width, int height);
// Reads the back buffer as 8-bit RGB rows from the top of the image. 1 when read.
int render_read_pixels(int width, int height, unsigned char *rgb);
// Waits for GL to finish (--glfinish).
void render_finish();
// Hands the renderer's entry points to the game's start-up (game_set_render_hooks).
void render_install_game_hooks();
// Gives the texture manager its GL side (uploads, deletes, animation steps); the context
// must be current. Until then, and after texture_gl_remove, textures are only named.
void texture_gl_install();
void texture_gl_remove();
