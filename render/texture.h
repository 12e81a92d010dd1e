// Texture manager and images: the name registries, the image readers and the PNG writers.
// Headless: names are registered and cached without a GL context; the GL side installs
// TextureGlHooks and only then are real textures made.
#pragma once
#include <cstddef>
#include <cstdint>

struct DataFile;

// ---- images in memory ----
// 8 bits per channel, rows top to bottom; with a mip chain the levels follow level 0.
struct Image {
  uint8_t *pixels;  // malloc'd, owned by whoever holds the Image
  int width, height;
  int channels;     // 1 (grey), 3 (RGB) or 4 (RGBA)
};
void image_free(Image *image);

// Readers of one file each. 1 on success; 0 with `image` untouched, and the reason kept
// as the last image error (not shown). `data` is the whole file.
int image_decode(const uint8_t *data, size_t size, Image *out);  // by magic: V6/V7, P6/P3, P5/P2, PNG
int image_decode_png(const uint8_t *data, size_t size, Image *out, char **info_text);
int image_decode_ppm(const uint8_t *data, size_t size, Image *out);  // P6, P3 -> 3 channels
int image_decode_pgm(const uint8_t *data, size_t size, Image *out);  // P5, P2 -> 1 channel
int image_decode_predictive(const uint8_t *data, size_t size, Image *out);  // V6, V7
// The same for an image embedded in a longer text; *consumed is its length in bytes.
int image_decode_predictive_at(const uint8_t *data, size_t size, Image *out, size_t *consumed);
// The greyscale reading of a PNG as 16-bit samples (height maps): palette expanded, alpha
// dropped, colour made grey, 8-bit samples widened by x257. `samples` is malloc'd.
int image_decode_png_grey16(const uint8_t *data, size_t size, uint16_t **samples, int *width,
                            int *height);
const char *image_last_error();
// The largest image (in pixels) a reader accepts; 0 restores the default of 64 Mpixel.
void image_set_max_pixels(size_t pixels);

// Reads a whole data file (name through the data-file layer) into malloc'd memory.
// 1 on success; 0 when it cannot be opened. Files above `max_size` bytes fail.
int data_read_all(const char *name, uint8_t **data, size_t *size, size_t max_size);
int datafile_read_all(DataFile *file, uint8_t **data, size_t *size, size_t max_size);

// Readers that open the named data file: a PGM (shadows) or an RGB image in the forms
// the textures read (PPM, predictive, PNG). 1 on success.
int image_read_file(const char *name, Image *out);

// Writers; 1 on success, 0 when the file cannot be opened or written.
int png_write_grey16(const char *name, const uint16_t *samples, int width, int height);
int png_write_rgb(const char *name, const uint8_t *pixels, int width, int height);

// Next mip level written right after the given one.
void mip_reduce(uint8_t *level, int width, int height, int channels, int max_alpha);
// Size in bytes of a whole mip chain of width x height x channels.
size_t mip_chain_size(int width, int height, int channels);
// Builds every smaller level after level 0 (the buffer holds a whole chain).
void mip_build(uint8_t *pixels, int width, int height, int channels, int max_alpha);

// ---- the registries ----
// Upload flags.
constexpr int TEXTURE_REPEAT_X = 1;
constexpr int TEXTURE_REPEAT_Y = 2;
constexpr int TEXTURE_COMPRESS = 4;
constexpr int TEXTURE_SINGLE_LEVEL = 8;

// Loads a texture by data-file name ("@dirt.png"; a leading '!' means full detail).
// Returns the texture id, 0 on failure. Cached by name.
uint32_t texture_load(const char *name);
// The same naming and caching for images kept in memory. The pixels (with mip chain) are
// owned by the registry until the image is purged.
int image_load(const char *name, uint8_t **pixels, int *width, int *height);

// Registered name of a texture id or of image pixels; null when unknown.
const char *texture_name(uint32_t id);
const char *image_name(const uint8_t *pixels);
// The info text (PNG text chunks and .info file) of a texture; null when none.
const char *texture_info(uint32_t id);

// Uploads pixels (with mip chain) as a texture; headless, only a new id is handed out.
uint32_t texture_upload(const uint8_t *pixels, int width, int height, int channels, int flags);
uint32_t texture_from_pixels(uint8_t *pixels, int width, int height, int channels,
                             int detail_level, int flags);

// Deletes a texture made outside the registry (a number plate); 0 is ignored.
void texture_delete(uint32_t id);
// Whether uploads reach GL (its side is installed); headless they are only named.
int texture_has_gl();

// ---- number plates ----
// The racer's number, `foreground` on `background` (RGB), drawn with the built-in plate
// font into an RGBA image of width x height with its mip chain; every level has a
// transparent white rim. A long text gets narrower glyphs, then shrinks, so it always fits.
// 1 with *out filled (the caller frees it with image_free); 0 for a size outside 1..4096.
int number_plate_image(const char *text, int width, int height, const uint8_t foreground[3],
                       const uint8_t background[3], Image *out);
// The same image uploaded, clamped and mipmapped; 0 on failure. The caller deletes it
// with texture_delete.
uint32_t number_plate_texture(const char *text, int width, int height,
                              const uint8_t foreground[3], const uint8_t background[3]);

// Whether models are drawn by the shader programs, which read normal and specular maps:
// the renderer turns it on once its programs are built and off when they go. Off headless.
void texture_set_shader_path(int on);
int texture_shader_path();

// Deletes textures, images and animations whose generation is neither 0 nor current.
void texture_purge();
// Starts a new generation (before each track load) and zeroes texture_memory.
void texture_new_generation();
int texture_generation();
unsigned long texture_memory();  // bytes

// The texture detail level (top mips dropped), the debug level and the Compress Textures
// setting (0 No, 1 Yes, 2 Always).
void texture_set_options(int detail_level, int debug_level, int compress);

// The GL side. Without hooks ids are handed out by the registry and no GL is touched.
struct TextureGlHooks {
  // Creates a texture from a mip chain; returns its id and adds its bytes to *memory.
  uint32_t (*upload)(const uint8_t *pixels, int width, int height, int channels, int flags,
                     unsigned long *memory);
  void (*destroy)(uint32_t id);
  // Replaces every level of an existing texture (animation steps).
  void (*replace)(uint32_t id, const uint8_t *pixels, int width, int height, int channels);
};
void texture_set_gl_hooks(const TextureGlHooks *hooks);  // null removes them

// Animated textures.
void texture_animation_step(int tick);
void texture_animation_start(uint32_t id, int tick);
void texture_animation_pause(uint32_t id);
// The image index an animation shows now; -1 when the id is not animated (for tests).
int texture_animation_current(uint32_t id);

// Test support: forget every registry entry, alias and animation, generation 0.
void texture_reset_for_tests();
