// Run enumeration: a chained hash index of b's q-grams, scanned with a's q-grams.
#include "quorl/align/run_index.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>

namespace quorl::align {

namespace {

// Code points enter the hash shifted by one, so that a run of U+0000 still moves it.
std::uint64_t digit(char32_t c) {
  return static_cast<std::uint64_t>(c) + 1;
}

// Polynomial hashes modulo 2^64 of every q-gram of a text, one after the other.
class RollingHash {
 public:
  RollingHash(Text text, std::size_t q, std::uint64_t base) : text_(text), q_(q), base_(base) {
    for (std::size_t k = 0; k < q; ++k) {
      drop_ *= base;
      hash_ = hash_ * base + digit(text[k]);
    }
  }
  std::uint64_t value() const { return hash_; }
  // Moves from the q-gram at `start` to the one at start + 1.
  void advance(std::size_t start) {
    hash_ = hash_ * base_ + digit(text_[start + q_]) - drop_ * digit(text_[start]);
  }

 private:
  Text text_;
  std::size_t q_;
  std::uint64_t base_;
  std::uint64_t hash_ = 0;
  std::uint64_t drop_ = 1;  // base^q
};

// How many characters x and y have in common from their starts, up to `limit`. Four code points
// are compared at a time, which runs at memory speed along the long runs of near-equal texts.
std::size_t common_prefix(const char32_t* x, const char32_t* y, std::size_t limit) {
  std::size_t len = 0;
  while (len + 4 <= limit && std::memcmp(x + len, y + len, 4 * sizeof(char32_t)) == 0) len += 4;
  while (len < limit && x[len] == y[len]) ++len;
  return len;
}

unsigned bucket_bits(std::size_t count) {
  unsigned bits = 4;
  while ((std::size_t{1} << bits) < 2 * count) ++bits;
  return bits;
}

std::size_t bucket_of(std::uint64_t hash, unsigned bits) {
  return static_cast<std::size_t>((hash * 0x9e3779b97f4a7c15ULL) >> (64 - bits));
}

}  // namespace

bool find_runs(Text a, Text b, std::size_t min_len, std::size_t budget, std::vector<Run>& out,
               std::uint64_t hash_base) {
  const std::size_t n = a.size(), m = b.size();
  if (min_len == 0 || n < min_len || m < min_len) return true;
  // Only the q-grams of b starting at multiples of `stride` are indexed. A run of length
  // q + stride - 1 or more holds one of them whole, so every run of min_len is met; a run is
  // taken from its first indexed q-gram only, known by the run reaching back less than a stride
  // from it. Short runs are asked for on texts that share little, where the hits of unrelated
  // q-grams outnumber those of the runs: whole-length q-grams, much rarer than half-length ones,
  // are worth a larger index there.
  const std::size_t q = min_len <= kWholeGramRunLength ? min_len : (min_len + 1) / 2;
  const std::size_t stride = min_len - q + 1;
  const std::size_t grams = (m - q) / stride + 1;
  // Positions and links are 32-bit numbers to keep the index small in cache.
  constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
  if (m >= kNone) return false;

  struct Entry {
    std::uint64_t hash;
    std::uint32_t pos, next;
  };
  const unsigned bits = bucket_bits(grams);
  std::vector<std::uint32_t> head(std::size_t{1} << bits, kNone);
  std::vector<Entry> entries(grams);
  for (std::size_t g = 0; g < grams; ++g) {
    const std::size_t j = g * stride;
    std::uint64_t h = 0;
    for (std::size_t k = 0; k < q; ++k) h = h * hash_base + digit(b[j + k]);
    std::uint32_t& slot = head[bucket_of(h, bits)];
    entries[g] = {h, static_cast<std::uint32_t>(j), slot};
    slot = static_cast<std::uint32_t>(g);
  }

  const std::size_t size_on_entry = out.size();
  // Steps: index entries looked at plus characters compared. `work` never passes `budget`, so
  // `budget - work` cannot wrap.
  std::size_t work = 0;
  bool over = false;
  auto spend = [&](std::size_t steps) {
    if (steps > budget - work) over = true;
    if (!over) work += steps;
    return !over;
  };
  // The run found last: along a run every indexed q-gram of it is hit again, and this answers
  // most of those hits without looking back.
  Run last{0, 0, 0};
  RollingHash ha(a, q, hash_base);
  for (std::size_t i = 0;; ha.advance(i++)) {
    const std::uint64_t h = ha.value();
    for (std::uint32_t g = head[bucket_of(h, bits)]; g != kNone; g = entries[g].next) {
      const Entry& e = entries[g];
      if (!spend(1)) break;
      if (e.hash != h) continue;
      const std::size_t j = e.pos;
      const bool inside_last =
          i >= last.i && i - last.i < last.len && j >= last.j && j - last.j == i - last.i;
      if (inside_last) continue;
      std::size_t len = 0;
      while (len < q && a[i + len] == b[j + len]) ++len;
      std::size_t back = 0;
      while (back < stride && back < i && back < j && a[i - back - 1] == b[j - back - 1]) ++back;
      if (!spend(len + back)) break;
      if (len < q || back == stride) continue;  // a hash collision, or not the run's first hit
      len += common_prefix(a.data() + i + len, b.data() + j + len, std::min(n - i, m - j) - len);
      if (!spend(len - q)) break;
      last = {i - back, j - back, back + len};
      if (last.len >= min_len) out.push_back(last);
    }
    if (over) {
      out.resize(size_on_entry);
      return false;
    }
    if (i + q == n) break;
  }
  return true;
}

}  // namespace quorl::align
