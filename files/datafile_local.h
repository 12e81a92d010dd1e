// Data files, internals shared by the readers, the packers, the tests and the fuzzers.
#pragma once
#include <cstdint>
#include <cstdio>

#include <zlib.h>

#include "files/files.h"

// ---- AES-128 (FIPS-197), the scrambling transform ----
struct Aes128 {
  uint32_t encrypt_keys[44];  // round keys of the cipher
  uint32_t decrypt_keys[44];  // round keys of the equivalent inverse cipher
};
void aes128_init(Aes128 *aes, const uint8_t key[16]);
void aes128_encrypt(const Aes128 *aes, const uint8_t in[16], uint8_t out[16]);
void aes128_decrypt(const Aes128 *aes, const uint8_t in[16], uint8_t out[16]);

// ---- the scrambled layer's framing ----
// A scrambled file is a 64-byte header (four AES blocks) and the content as 16-byte AES
// blocks, the last one padded with zeros. Decrypted, header bytes 0-3 hold SCRAM_CHECK and
// 4-7 the plain length (both little-endian), the rest zeros. Each content block decrypts to
// plain bytes whose first four are XORed with the block's plain offset (little-endian).
constexpr int SCRAM_HEADER_SIZE = 64;          // bytes
constexpr uint32_t SCRAM_CHECK = 0x4d524353u;  // "SCRM" read little-endian
const Aes128 *scram_cipher();                  // the key schedule of the fixed key
void scram_make_header(uint8_t header[SCRAM_HEADER_SIZE], uint32_t plain_length);
// Decrypts a header: 1 with the plain length when the check word matches, else 0.
int scram_read_header(const uint8_t header[SCRAM_HEADER_SIZE], uint32_t *plain_length);
// One content block at plain offset `position`, in place.
void scram_encrypt_block(uint8_t block[16], uint32_t position);
void scram_decrypt_block(uint8_t block[16], uint32_t position);

// ---- the handle ----
constexpr int GZ_INPUT_SIZE = 16384;  // bytes, compressed input buffer
constexpr int GZ_OUTPUT_SIZE = 1024;  // bytes, inflated output buffer
constexpr int32_t DATA_LIMIT_WHOLE = 0x7fffffff;

struct ScrambledStream {
  uint8_t block[16];
  int block_read;     // bytes of `block` already served
  int block_fill;     // bytes of `block` that hold plain data
  uint32_t position;  // plain offset of the next block to read
  uint32_t length;    // plain length from the header
  int ended;          // a short block read ended the stream
};

struct DataFile {
  FILE *stream;
  long start;     // byte offset of the data in the stream (archive members)
  int32_t limit;  // raw bytes that may be read from the stream
  int32_t count;  // raw bytes read from the stream so far
  int pushback;   // one byte pushed back, or -1
  int compressed;
  int scrambled;
  // gzip layer
  int stream_ended;
  int inflater_ready;
  z_stream inflater;
  uint8_t *out_read, *out_end;  // unread part of `output`
  uint8_t input[GZ_INPUT_SIZE];
  uint8_t output[GZ_OUTPUT_SIZE];
  // scrambled layer
  ScrambledStream scram;
};

// Reads one byte through every layer but the pushback: 0-255 or -1.
int datafile_layer_getc(DataFile *file);

// ---- the .saf archive header ----
// Parses the header of the archive open in `stream` (positioned at its start), calling
// `add` for each member. 1 when the header is well formed up to its "-" line, else 0; on
// 0 the caller drops whatever `add` received.
typedef void (*ArchiveAdd)(void *context, const char *name, int32_t offset, int32_t size);
int archive_read_header(FILE *stream, ArchiveAdd add, void *context);

// Parses a gzip member header (RFC 1952) at the start of `data`; the header length on
// success, 0 when it is not a whole, valid header.
int gzip_header_length(const uint8_t *data, int size);

// Creates every missing parent directory of `path` (each prefix ending before a '/').
void data_make_parents(const char *path);
