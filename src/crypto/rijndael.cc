#include "crypto/rijndael.h"

#include <stdexcept>
#include <string>
#include <utility>

namespace marigold {

namespace {

// All tables are derived at compile time from the field GF(2^8) with the AES polynomial.
struct Tables {
  std::uint8_t sbox[256]{};
  std::uint8_t inverseSbox[256]{};
  // te[0][x] is the column (2s, s, s, 3s) of s = sbox[x], big-endian; te[1..3] are its rotations,
  // so one look-up does SubBytes and MixColumns for one byte of the state.
  std::uint32_t te[4][256]{};
  // td[0][x] is (14s, 9s, 13s, 11s) of s = inverseSbox[x]; td[1..3] are its rotations.
  std::uint32_t td[4][256]{};
  std::uint32_t rcon[10]{};
};

constexpr std::uint8_t xtime(std::uint8_t b) {
  return static_cast<std::uint8_t>((b << 1) ^ ((b & 0x80) ? 0x1B : 0x00));
}

constexpr std::uint8_t multiply(std::uint8_t a, std::uint8_t b) {
  std::uint8_t product = 0;
  while (b != 0) {
    if (b & 1) product ^= a;
    a = xtime(a);
    b >>= 1;
  }
  return product;
}

constexpr std::uint8_t rotateLeft8(std::uint8_t b, int n) {
  return static_cast<std::uint8_t>((b << n) | (b >> (8 - n)));
}

constexpr std::uint32_t rotateRight32(std::uint32_t w, int n) { return (w >> n) | (w << (32 - n)); }

constexpr std::uint32_t column(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
  return (std::uint32_t{a} << 24) | (std::uint32_t{b} << 16) | (std::uint32_t{c} << 8) | d;
}

constexpr Tables makeTables() {
  Tables t;
  // Walk the multiplicative group with generator 3: p runs over 3^i and q over 3^-i, so q is the
  // inverse of p; the S-box entry is the affine transform of the inverse.
  std::uint8_t p = 1;
  std::uint8_t q = 1;
  do {
    p = static_cast<std::uint8_t>(p ^ xtime(p));
    q = static_cast<std::uint8_t>(q ^ (q << 1));
    q = static_cast<std::uint8_t>(q ^ (q << 2));
    q = static_cast<std::uint8_t>(q ^ (q << 4));
    if (q & 0x80) q ^= 0x09;
    const std::uint8_t affine =
        q ^ rotateLeft8(q, 1) ^ rotateLeft8(q, 2) ^ rotateLeft8(q, 3) ^ rotateLeft8(q, 4);
    t.sbox[p] = affine ^ 0x63;
  } while (p != 1);
  t.sbox[0] = 0x63;
  for (int x = 0; x < 256; ++x) t.inverseSbox[t.sbox[x]] = static_cast<std::uint8_t>(x);

  for (int x = 0; x < 256; ++x) {
    const std::uint8_t s = t.sbox[x];
    const std::uint8_t si = t.inverseSbox[x];
    t.te[0][x] = column(multiply(s, 2), s, s, multiply(s, 3));
    t.td[0][x] = column(multiply(si, 14), multiply(si, 9), multiply(si, 13), multiply(si, 11));
    for (int r = 1; r < 4; ++r) {
      t.te[r][x] = rotateRight32(t.te[0][x], 8 * r);
      t.td[r][x] = rotateRight32(t.td[0][x], 8 * r);
    }
  }
  std::uint8_t rc = 1;
  for (auto& word : t.rcon) {
    word = std::uint32_t{rc} << 24;
    rc = xtime(rc);
  }
  return t;
}

constexpr Tables kTables = makeTables();

constexpr auto& S = kTables.sbox;
constexpr auto& Si = kTables.inverseSbox;
constexpr auto& Te0 = kTables.te[0];
constexpr auto& Te1 = kTables.te[1];
constexpr auto& Te2 = kTables.te[2];
constexpr auto& Te3 = kTables.te[3];
constexpr auto& Td0 = kTables.td[0];
constexpr auto& Td1 = kTables.td[1];
constexpr auto& Td2 = kTables.td[2];
constexpr auto& Td3 = kTables.td[3];

static_assert(kTables.sbox[0x00] == 0x63 && kTables.sbox[0x01] == 0x7C &&
              kTables.sbox[0x53] == 0xED && kTables.sbox[0xFF] == 0x16);
static_assert(kTables.inverseSbox[0x63] == 0x00 && kTables.rcon[9] == 0x36000000u);

constexpr int roundsFor(int keybits) {
  switch (keybits) {
    case 128:
      return 10;
    case 192:
      return 12;
    case 256:
      return 14;
    default:
      return 0;
  }
}

std::uint32_t load(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         std::uint32_t{p[3]};
}

void store(std::uint8_t* p, std::uint32_t w) {
  p[0] = static_cast<std::uint8_t>(w >> 24);
  p[1] = static_cast<std::uint8_t>(w >> 16);
  p[2] = static_cast<std::uint8_t>(w >> 8);
  p[3] = static_cast<std::uint8_t>(w);
}

std::uint32_t subWord(std::uint32_t w) {
  return column(S[w >> 24], S[(w >> 16) & 0xFF], S[(w >> 8) & 0xFF], S[w & 0xFF]);
}

void checkRounds(int nrounds) {
  if (nrounds != 10 && nrounds != 12 && nrounds != 14) {
    throw std::invalid_argument("rijndael: the round count must be 10, 12 or 14, got " +
                                std::to_string(nrounds) + " (did the key setup fail?)");
  }
}

}  // namespace

int rijndaelSetupEncrypt(RijndaelSchedule& rk, std::span<const std::uint8_t> key, int keybits) {
  const int nrounds = roundsFor(keybits);
  if (nrounds == 0 || key.size() < static_cast<std::size_t>(keybits / 8)) return 0;
  const int nk = keybits / 32;
  const int words = 4 * (nrounds + 1);
  for (int i = 0; i < nk; ++i) rk[i] = load(&key[4 * i]);
  for (int i = nk; i < words; ++i) {
    std::uint32_t temp = rk[i - 1];
    if (i % nk == 0) {
      temp = subWord(rotateRight32(temp, 24)) ^ kTables.rcon[i / nk - 1];
    } else if (nk == 8 && i % nk == 4) {
      temp = subWord(temp);
    }
    rk[i] = rk[i - nk] ^ temp;
  }
  return nrounds;
}

int rijndaelSetupDecrypt(RijndaelSchedule& rk, std::span<const std::uint8_t> key, int keybits) {
  const int nrounds = rijndaelSetupEncrypt(rk, key, keybits);
  if (nrounds == 0) return 0;
  for (int i = 0, j = 4 * nrounds; i < j; i += 4, j -= 4) {
    for (int k = 0; k < 4; ++k) std::swap(rk[i + k], rk[j + k]);
  }
  // InvMixColumns through the decryption tables: td[.] holds InvMixColumns of InvSubBytes, and the
  // S-box look-up in front cancels the InvSubBytes.
  for (int i = 4; i < 4 * nrounds; ++i) {
    const std::uint32_t w = rk[i];
    rk[i] = Td0[S[w >> 24]] ^ Td1[S[(w >> 16) & 0xFF]] ^ Td2[S[(w >> 8) & 0xFF]] ^ Td3[S[w & 0xFF]];
  }
  return nrounds;
}

void rijndaelEncrypt(const RijndaelSchedule& schedule, int nrounds,
                     std::span<const std::uint8_t, kRijndaelBlockLength> plaintext,
                     std::span<std::uint8_t, kRijndaelBlockLength> ciphertext) {
  checkRounds(nrounds);
  const std::uint32_t* rk = schedule.data();
  std::uint32_t s0 = load(&plaintext[0]) ^ rk[0];
  std::uint32_t s1 = load(&plaintext[4]) ^ rk[1];
  std::uint32_t s2 = load(&plaintext[8]) ^ rk[2];
  std::uint32_t s3 = load(&plaintext[12]) ^ rk[3];
  std::uint32_t t0, t1, t2, t3;
  // Two rounds per pass: s -> t with the odd round key, t -> s with the even one; the last odd
  // round leaves its result in t for the final round.
  for (int r = nrounds >> 1;;) {
    t0 = Te0[s0 >> 24] ^ Te1[(s1 >> 16) & 0xFF] ^ Te2[(s2 >> 8) & 0xFF] ^ Te3[s3 & 0xFF] ^ rk[4];
    t1 = Te0[s1 >> 24] ^ Te1[(s2 >> 16) & 0xFF] ^ Te2[(s3 >> 8) & 0xFF] ^ Te3[s0 & 0xFF] ^ rk[5];
    t2 = Te0[s2 >> 24] ^ Te1[(s3 >> 16) & 0xFF] ^ Te2[(s0 >> 8) & 0xFF] ^ Te3[s1 & 0xFF] ^ rk[6];
    t3 = Te0[s3 >> 24] ^ Te1[(s0 >> 16) & 0xFF] ^ Te2[(s1 >> 8) & 0xFF] ^ Te3[s2 & 0xFF] ^ rk[7];
    rk += 8;
    if (--r == 0) break;
    s0 = Te0[t0 >> 24] ^ Te1[(t1 >> 16) & 0xFF] ^ Te2[(t2 >> 8) & 0xFF] ^ Te3[t3 & 0xFF] ^ rk[0];
    s1 = Te0[t1 >> 24] ^ Te1[(t2 >> 16) & 0xFF] ^ Te2[(t3 >> 8) & 0xFF] ^ Te3[t0 & 0xFF] ^ rk[1];
    s2 = Te0[t2 >> 24] ^ Te1[(t3 >> 16) & 0xFF] ^ Te2[(t0 >> 8) & 0xFF] ^ Te3[t1 & 0xFF] ^ rk[2];
    s3 = Te0[t3 >> 24] ^ Te1[(t0 >> 16) & 0xFF] ^ Te2[(t1 >> 8) & 0xFF] ^ Te3[t2 & 0xFF] ^ rk[3];
  }
  // Final round: SubBytes and ShiftRows only.
  store(&ciphertext[0],
        column(S[t0 >> 24], S[(t1 >> 16) & 0xFF], S[(t2 >> 8) & 0xFF], S[t3 & 0xFF]) ^ rk[0]);
  store(&ciphertext[4],
        column(S[t1 >> 24], S[(t2 >> 16) & 0xFF], S[(t3 >> 8) & 0xFF], S[t0 & 0xFF]) ^ rk[1]);
  store(&ciphertext[8],
        column(S[t2 >> 24], S[(t3 >> 16) & 0xFF], S[(t0 >> 8) & 0xFF], S[t1 & 0xFF]) ^ rk[2]);
  store(&ciphertext[12],
        column(S[t3 >> 24], S[(t0 >> 16) & 0xFF], S[(t1 >> 8) & 0xFF], S[t2 & 0xFF]) ^ rk[3]);
}

void rijndaelDecrypt(const RijndaelSchedule& schedule, int nrounds,
                     std::span<const std::uint8_t, kRijndaelBlockLength> ciphertext,
                     std::span<std::uint8_t, kRijndaelBlockLength> plaintext) {
  checkRounds(nrounds);
  const std::uint32_t* rk = schedule.data();
  std::uint32_t s0 = load(&ciphertext[0]) ^ rk[0];
  std::uint32_t s1 = load(&ciphertext[4]) ^ rk[1];
  std::uint32_t s2 = load(&ciphertext[8]) ^ rk[2];
  std::uint32_t s3 = load(&ciphertext[12]) ^ rk[3];
  std::uint32_t t0, t1, t2, t3;
  for (int r = nrounds >> 1;;) {
    t0 = Td0[s0 >> 24] ^ Td1[(s3 >> 16) & 0xFF] ^ Td2[(s2 >> 8) & 0xFF] ^ Td3[s1 & 0xFF] ^ rk[4];
    t1 = Td0[s1 >> 24] ^ Td1[(s0 >> 16) & 0xFF] ^ Td2[(s3 >> 8) & 0xFF] ^ Td3[s2 & 0xFF] ^ rk[5];
    t2 = Td0[s2 >> 24] ^ Td1[(s1 >> 16) & 0xFF] ^ Td2[(s0 >> 8) & 0xFF] ^ Td3[s3 & 0xFF] ^ rk[6];
    t3 = Td0[s3 >> 24] ^ Td1[(s2 >> 16) & 0xFF] ^ Td2[(s1 >> 8) & 0xFF] ^ Td3[s0 & 0xFF] ^ rk[7];
    rk += 8;
    if (--r == 0) break;
    s0 = Td0[t0 >> 24] ^ Td1[(t3 >> 16) & 0xFF] ^ Td2[(t2 >> 8) & 0xFF] ^ Td3[t1 & 0xFF] ^ rk[0];
    s1 = Td0[t1 >> 24] ^ Td1[(t0 >> 16) & 0xFF] ^ Td2[(t3 >> 8) & 0xFF] ^ Td3[t2 & 0xFF] ^ rk[1];
    s2 = Td0[t2 >> 24] ^ Td1[(t1 >> 16) & 0xFF] ^ Td2[(t0 >> 8) & 0xFF] ^ Td3[t3 & 0xFF] ^ rk[2];
    s3 = Td0[t3 >> 24] ^ Td1[(t2 >> 16) & 0xFF] ^ Td2[(t1 >> 8) & 0xFF] ^ Td3[t0 & 0xFF] ^ rk[3];
  }
  // Final round: InvSubBytes and InvShiftRows only.
  store(&plaintext[0],
        column(Si[t0 >> 24], Si[(t3 >> 16) & 0xFF], Si[(t2 >> 8) & 0xFF], Si[t1 & 0xFF]) ^ rk[0]);
  store(&plaintext[4],
        column(Si[t1 >> 24], Si[(t0 >> 16) & 0xFF], Si[(t3 >> 8) & 0xFF], Si[t2 & 0xFF]) ^ rk[1]);
  store(&plaintext[8],
        column(Si[t2 >> 24], Si[(t1 >> 16) & 0xFF], Si[(t0 >> 8) & 0xFF], Si[t3 & 0xFF]) ^ rk[2]);
  store(&plaintext[12],
        column(Si[t3 >> 24], Si[(t2 >> 16) & 0xFF], Si[(t1 >> 8) & 0xFF], Si[t0 & 0xFF]) ^ rk[3]);
}

}  // namespace marigold
