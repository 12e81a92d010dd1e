// AES-128 (FIPS-197), table driven, and the scrambled layer's block framing built on it.
#include <cstring>

#include "files/datafile_local.h"

namespace {

// ---- tables, computed once from the field arithmetic of GF(2^8) ----
struct AesTables {
  uint8_t sbox[256];
  uint8_t inverse_sbox[256];
  uint32_t te[256];  // SubBytes then MixColumns of one byte: (2s, s, s, 3s)
  uint32_t td[256];  // InvSubBytes then InvMixColumns: (14s, 9s, 13s, 11s)
};

uint8_t gf_mul(uint8_t a, uint8_t b) {
  uint8_t p = 0;
  while (b) {
    if (b & 1) p ^= a;
    a = (uint8_t)((a << 1) ^ ((a & 0x80) ? 0x1b : 0));
    b >>= 1;
  }
  return p;
}

AesTables make_tables() {
  AesTables t;
  // Walk the multiplicative group with the generator 3 to find inverses.
  uint8_t power[255], log[256] = {};
  uint8_t x = 1;
  for (int i = 0; i < 255; i++) {
    power[i] = x;
    log[x] = (uint8_t)i;
    x = gf_mul(x, 3);
  }
  for (int i = 0; i < 256; i++) {
    uint8_t inv = i ? power[(255 - log[i]) % 255] : 0;
    uint8_t s = inv;
    for (int r = 1; r <= 4; r++) s ^= (uint8_t)((inv << r) | (inv >> (8 - r)));
    s ^= 0x63;
    t.sbox[i] = s;
    t.inverse_sbox[s] = (uint8_t)i;
  }
  for (int i = 0; i < 256; i++) {
    uint8_t s = t.sbox[i];
    t.te[i] = (uint32_t)gf_mul(s, 2) << 24 | (uint32_t)s << 16 | (uint32_t)s << 8 | gf_mul(s, 3);
    uint8_t v = t.inverse_sbox[i];
    t.td[i] = (uint32_t)gf_mul(v, 14) << 24 | (uint32_t)gf_mul(v, 9) << 16 |
              (uint32_t)gf_mul(v, 13) << 8 | gf_mul(v, 11);
  }
  return t;
}

const AesTables &tables() {
  static const AesTables t = make_tables();
  return t;
}

inline uint32_t ror(uint32_t v, int n) { return (v >> n) | (v << (32 - n)); }
inline uint32_t load_be(const uint8_t *p) {
  return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}
inline void store_be(uint8_t *p, uint32_t v) {
  p[0] = (uint8_t)(v >> 24);
  p[1] = (uint8_t)(v >> 16);
  p[2] = (uint8_t)(v >> 8);
  p[3] = (uint8_t)v;
}

}  // namespace

void aes128_init(Aes128 *aes, const uint8_t key[16]) {
  const AesTables &t = tables();
  uint32_t *w = aes->encrypt_keys;
  for (int i = 0; i < 4; i++) w[i] = load_be(key + 4 * i);
  uint8_t rcon = 1;
  for (int i = 4; i < 44; i++) {
    uint32_t v = w[i - 1];
    if (i % 4 == 0) {
      v = (uint32_t)t.sbox[(v >> 16) & 0xff] << 24 | (uint32_t)t.sbox[(v >> 8) & 0xff] << 16 |
          (uint32_t)t.sbox[v & 0xff] << 8 | t.sbox[v >> 24];
      v ^= (uint32_t)rcon << 24;
      rcon = gf_mul(rcon, 2);
    }
    w[i] = w[i - 4] ^ v;
  }
  // The equivalent inverse cipher: round keys in reverse order, the inner ones passed
  // through InvMixColumns (td of sbox undoes the substitution inside td).
  uint32_t *d = aes->decrypt_keys;
  for (int round = 0; round <= 10; round++)
    for (int j = 0; j < 4; j++) {
      uint32_t v = w[4 * (10 - round) + j];
      if (round > 0 && round < 10)
        v = t.td[t.sbox[v >> 24]] ^ ror(t.td[t.sbox[(v >> 16) & 0xff]], 8) ^
            ror(t.td[t.sbox[(v >> 8) & 0xff]], 16) ^ ror(t.td[t.sbox[v & 0xff]], 24);
      d[4 * round + j] = v;
    }
}

void aes128_encrypt(const Aes128 *aes, const uint8_t in[16], uint8_t out[16]) {
  const AesTables &t = tables();
  const uint32_t *rk = aes->encrypt_keys;
  uint32_t s0 = load_be(in) ^ rk[0], s1 = load_be(in + 4) ^ rk[1];
  uint32_t s2 = load_be(in + 8) ^ rk[2], s3 = load_be(in + 12) ^ rk[3];
  for (int round = 1; round < 10; round++) {
    rk += 4;
    uint32_t t0 = t.te[s0 >> 24] ^ ror(t.te[(s1 >> 16) & 0xff], 8) ^
                  ror(t.te[(s2 >> 8) & 0xff], 16) ^ ror(t.te[s3 & 0xff], 24) ^ rk[0];
    uint32_t t1 = t.te[s1 >> 24] ^ ror(t.te[(s2 >> 16) & 0xff], 8) ^
                  ror(t.te[(s3 >> 8) & 0xff], 16) ^ ror(t.te[s0 & 0xff], 24) ^ rk[1];
    uint32_t t2 = t.te[s2 >> 24] ^ ror(t.te[(s3 >> 16) & 0xff], 8) ^
                  ror(t.te[(s0 >> 8) & 0xff], 16) ^ ror(t.te[s1 & 0xff], 24) ^ rk[2];
    uint32_t t3 = t.te[s3 >> 24] ^ ror(t.te[(s0 >> 16) & 0xff], 8) ^
                  ror(t.te[(s1 >> 8) & 0xff], 16) ^ ror(t.te[s2 & 0xff], 24) ^ rk[3];
    s0 = t0, s1 = t1, s2 = t2, s3 = t3;
  }
  rk += 4;
  const uint8_t *S = t.sbox;
  auto last = [S](uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    return (uint32_t)S[a >> 24] << 24 | (uint32_t)S[(b >> 16) & 0xff] << 16 |
           (uint32_t)S[(c >> 8) & 0xff] << 8 | S[d & 0xff];
  };
  store_be(out, last(s0, s1, s2, s3) ^ rk[0]);
  store_be(out + 4, last(s1, s2, s3, s0) ^ rk[1]);
  store_be(out + 8, last(s2, s3, s0, s1) ^ rk[2]);
  store_be(out + 12, last(s3, s0, s1, s2) ^ rk[3]);
}

void aes128_decrypt(const Aes128 *aes, const uint8_t in[16], uint8_t out[16]) {
  const AesTables &t = tables();
  const uint32_t *rk = aes->decrypt_keys;
  uint32_t s0 = load_be(in) ^ rk[0], s1 = load_be(in + 4) ^ rk[1];
  uint32_t s2 = load_be(in + 8) ^ rk[2], s3 = load_be(in + 12) ^ rk[3];
  for (int round = 1; round < 10; round++) {
    rk += 4;
    uint32_t t0 = t.td[s0 >> 24] ^ ror(t.td[(s3 >> 16) & 0xff], 8) ^
                  ror(t.td[(s2 >> 8) & 0xff], 16) ^ ror(t.td[s1 & 0xff], 24) ^ rk[0];
    uint32_t t1 = t.td[s1 >> 24] ^ ror(t.td[(s0 >> 16) & 0xff], 8) ^
                  ror(t.td[(s3 >> 8) & 0xff], 16) ^ ror(t.td[s2 & 0xff], 24) ^ rk[1];
    uint32_t t2 = t.td[s2 >> 24] ^ ror(t.td[(s1 >> 16) & 0xff], 8) ^
                  ror(t.td[(s0 >> 8) & 0xff], 16) ^ ror(t.td[s3 & 0xff], 24) ^ rk[2];
    uint32_t t3 = t.td[s3 >> 24] ^ ror(t.td[(s2 >> 16) & 0xff], 8) ^
                  ror(t.td[(s1 >> 8) & 0xff], 16) ^ ror(t.td[s0 & 0xff], 24) ^ rk[3];
    s0 = t0, s1 = t1, s2 = t2, s3 = t3;
  }
  rk += 4;
  const uint8_t *S = t.inverse_sbox;
  auto last = [S](uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    return (uint32_t)S[a >> 24] << 24 | (uint32_t)S[(b >> 16) & 0xff] << 16 |
           (uint32_t)S[(c >> 8) & 0xff] << 8 | S[d & 0xff];
  };
  store_be(out, last(s0, s3, s2, s1) ^ rk[0]);
  store_be(out + 4, last(s1, s0, s3, s2) ^ rk[1]);
  store_be(out + 8, last(s2, s1, s0, s3) ^ rk[2]);
  store_be(out + 12, last(s3, s2, s1, s0) ^ rk[3]);
}

// ---- the scrambled layer's framing ----

namespace {
// The fixed key. Scrambling keeps casual eyes off the data; it is not a secret.
const uint8_t SCRAM_KEY[16] = {'D', 'i', 'r', 't', 'v', 'a', 'n', 'e',
                               '-', 's', 'c', 'r', 'a', 'm', '-', '1'};

void put_le32(uint8_t *p, uint32_t v) {
  p[0] = (uint8_t)v;
  p[1] = (uint8_t)(v >> 8);
  p[2] = (uint8_t)(v >> 16);
  p[3] = (uint8_t)(v >> 24);
}
uint32_t get_le32(const uint8_t *p) {
  return p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}
}  // namespace

const Aes128 *scram_cipher() {
  static const Aes128 cipher = [] {
    Aes128 a;
    aes128_init(&a, SCRAM_KEY);
    return a;
  }();
  return &cipher;
}

void scram_make_header(uint8_t header[SCRAM_HEADER_SIZE], uint32_t plain_length) {
  uint8_t plain[SCRAM_HEADER_SIZE] = {};
  put_le32(plain, SCRAM_CHECK);
  put_le32(plain + 4, plain_length);
  for (int i = 0; i < SCRAM_HEADER_SIZE; i += 16) aes128_encrypt(scram_cipher(), plain + i, header + i);
}

int scram_read_header(const uint8_t header[SCRAM_HEADER_SIZE], uint32_t *plain_length) {
  uint8_t first[16];
  aes128_decrypt(scram_cipher(), header, first);
  if (get_le32(first) != SCRAM_CHECK) return 0;
  *plain_length = get_le32(first + 4);
  return 1;
}

void scram_encrypt_block(uint8_t block[16], uint32_t position) {
  uint8_t offset[4];
  put_le32(offset, position);
  for (int i = 0; i < 4; i++) block[i] ^= offset[i];
  aes128_encrypt(scram_cipher(), block, block);
}

void scram_decrypt_block(uint8_t block[16], uint32_t position) {
  aes128_decrypt(scram_cipher(), block, block);
  uint8_t offset[4];
  put_le32(offset, position);
  for (int i = 0; i < 4; i++) block[i] ^= offset[i];
}
