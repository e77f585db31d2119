// Run enumeration: a chained hash index of b's q-grams, scanned with a's q-grams.
#include "quorl/align/run_index.hpp"

#include <cstdint>
#include <limits>

namespace quorl::align {

namespace {

// Polynomial hashing modulo the Mersenne prime 2^61 - 1: unlike hashing modulo 2^64 it has no
// known family of colliding inputs (such as Thue-Morse words), and every candidate is compared
// character by character anyway, so a collision costs time, never a wrong run.
constexpr std::uint64_t kPrime = (std::uint64_t{1} << 61) - 1;
constexpr std::uint64_t kBase = 0x1f3d5b79a2c4e687ULL % kPrime;

std::uint64_t mul_mod(std::uint64_t x, std::uint64_t y) {
  unsigned __int128 p = static_cast<unsigned __int128>(x) * y;
  std::uint64_t r = static_cast<std::uint64_t>(p & kPrime) + static_cast<std::uint64_t>(p >> 61);
  return r >= kPrime ? r - kPrime : r;
}

std::uint64_t add_mod(std::uint64_t x, std::uint64_t y) {
  std::uint64_t r = x + y;
  return r >= kPrime ? r - kPrime : r;
}

// Code points enter the hash shifted by one, so that a run of U+0000 still moves it.
std::uint64_t digit(char32_t c) {
  return static_cast<std::uint64_t>(c) + 1;
}

// Hashes of every q-gram of a text, one after the other.
class RollingHash {
 public:
  RollingHash(Text text, std::size_t q) : text_(text), q_(q) {
    std::uint64_t power = 1;
    for (std::size_t k = 0; k < q; ++k) {
      power = mul_mod(power, kBase);
      hash_ = add_mod(mul_mod(hash_, kBase), digit(text[k]));
    }
    drop_ = power;
  }
  std::uint64_t value() const { return hash_; }
  // Moves from the q-gram at `start` to the one at start + 1.
  void advance(std::size_t start) {
    hash_ = add_mod(mul_mod(hash_, kBase), digit(text_[start + q_]));
    hash_ = add_mod(hash_, kPrime - mul_mod(drop_, digit(text_[start])));
  }

 private:
  Text text_;
  std::size_t q_;
  std::uint64_t hash_ = 0;
  std::uint64_t drop_ = 1;  // kBase^q
};

unsigned bucket_bits(std::size_t count) {
  unsigned bits = 4;
  while ((std::size_t{1} << bits) < 2 * count) ++bits;
  return bits;
}

std::size_t bucket_of(std::uint64_t hash, unsigned bits) {
  return static_cast<std::size_t>((hash * 0x9e3779b97f4a7c15ULL) >> (64 - bits));
}

}  // namespace

bool find_runs(Text a, Text b, std::size_t min_len, std::size_t budget, std::vector<Run>& out) {
  const std::size_t n = a.size(), m = b.size(), q = min_len;
  if (q == 0 || n < q || m < q) return true;
  const std::size_t a_grams = n - q + 1, b_grams = m - q + 1;
  // The index stores positions of b as 32-bit numbers to stay small in cache.
  constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
  if (b_grams >= kNone) return false;

  const unsigned bits = bucket_bits(b_grams);
  std::vector<std::uint32_t> head(std::size_t{1} << bits, kNone);
  std::vector<std::uint32_t> next(b_grams);
  std::vector<std::uint64_t> gram_hash(b_grams);
  RollingHash hb(b, q);
  for (std::size_t j = 0;; hb.advance(j++)) {
    gram_hash[j] = hb.value();
    std::uint32_t& slot = head[bucket_of(gram_hash[j], bits)];
    next[j] = slot;
    slot = static_cast<std::uint32_t>(j);
    if (j + 1 == b_grams) break;
  }

  const std::size_t size_on_entry = out.size();
  std::size_t work = 0;
  RollingHash ha(a, q);
  for (std::size_t i = 0;; ha.advance(i++)) {
    const std::uint64_t h = ha.value();
    for (std::uint32_t jj = head[bucket_of(h, bits)]; jj != kNone; jj = next[jj]) {
      if (++work > budget) {
        out.resize(size_on_entry);
        return false;
      }
      const std::size_t j = jj;
      if (gram_hash[j] != h) continue;
      // A pair whose predecessors match lies inside a run that starts further up-left and is
      // found from its own start.
      if (i > 0 && j > 0 && a[i - 1] == b[j - 1]) continue;
      std::size_t len = 0;
      while (len < q && a[i + len] == b[j + len]) ++len;
      if (len < q) continue;  // hash collision
      while (i + len < n && j + len < m && a[i + len] == b[j + len]) ++len;
      // Every character of the run past the q-gram is a step of its own; the subtraction cannot
      // wrap because work <= budget here.
      if (len - q > budget - work) {
        out.resize(size_on_entry);
        return false;
      }
      work += len - q;
      out.push_back({i, j, len});
    }
    if (i + 1 == a_grams) break;
  }
  return true;
}

}  // namespace quorl::align
