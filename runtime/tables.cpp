// Tables module: fixed tables (_TABLES) and the field and key helpers that
// xtables share.
//
// A fixed table is an array of flat records in the program's data, with up
// to seven dimensions.  Binding turns the declared dimensions into strides;
// each element operation reads one index slot per dimension from behind
// the entries.  One-dimensional tables sort in place and are searched by
// binary search on a key.
#include "tables.h"

#include "bridge.h"
#include "common.h"
#include "numbers.h"
#include "kernel.h"
#include "record.h"

namespace qw::tables {
namespace {

constexpr int kSlots = 8;

void set_status(FixedTable t, int64_t s) { t.status().set_value(s); }

inline uint64_t load_be64(const uint8_t* p) {
  return __builtin_bswap64(static_cast<uint64_t>(load64(p)));
}

// The slot holding the closing 1: the last non-zero slot before the first
// zero one (-1 when the first slot is zero).
int closing_slot(FixedTable t) {
  int last = -1;
  for (int k = 0; k < kSlots && t.dimension(k) != 0; ++k) last = k;
  return last;
}

void swap_bytes(uint8_t* a, uint8_t* b, uint64_t n) {
  uint64_t k = 0;
  for (; k + 8 <= n; k += 8) {
    const int64_t x = load64(a + k);
    store64(a + k, load64(b + k));
    store64(b + k, x);
  }
  for (; k < n; ++k) {
    const uint8_t x = a[k];
    a[k] = b[k];
    b[k] = x;
  }
}

// Sorts fixed-table entries in place.  The pivot key is copied (entries
// move); the first 8 key bytes are compared as one big-endian number.
// Reading 8 bytes at any key start stays inside the table's storage,
// since 64 bytes of index slots follow the entries.
struct FixedSortOps {
  uint8_t* base;
  uint64_t entry_len, key_off, key_len;
  uint8_t pivot[kMaxFixedKey + 8];
  uint64_t pivot_head;
  uint64_t head_len, head_shift;

  uint8_t* key(int64_t i) const { return base + static_cast<uint64_t>(i) * entry_len + key_off; }
  uint64_t head(const uint8_t* k) const { return (load_be64(k) >> head_shift) << head_shift; }
  int cmp(int64_t i) const {
    const uint8_t* k = key(i);
    const uint64_t h = head(k);
    if (h != pivot_head) return h < pivot_head ? -1 : 1;
    if (key_len <= 8) return 0;
    return compare_keys(k + 8, pivot + 8, key_len - 8);
  }
  void take_pivot(int64_t m) {
    __builtin_memcpy(pivot, key(m), key_len);
    pivot_head = key_head(pivot, head_len);
  }
  bool below_pivot(int64_t i) const { return cmp(i) < 0; }
  bool above_pivot(int64_t j) const { return cmp(j) > 0; }
  void swap(int64_t i, int64_t j) const {
    swap_bytes(base + static_cast<uint64_t>(i) * entry_len,
               base + static_cast<uint64_t>(j) * entry_len, entry_len);
  }
};

void require_table(void* label) {
  if (Item(label).type() != kTableType) fatal_library(kErrNotTable);
}

void require_one_dimension(FixedTable t) {
  if (t.dimension(2) != 0) fatal_library(kErrMultiDim);
}

}  // namespace

// ---------------------------------------------------------------------------
// Shared helpers.

// ---------------------------------------------------------------------------
// Search indexes.

namespace {

constexpr int kIndexes = 4;
constexpr int64_t kSampleEvery = 32;

// Where each run of equal key heads begins, found by the head's value:
// open addressing over 3/2 slots to a position, each holding a tag of the
// head's mixed bits, a bit telling a run of more than one position, and
// the run's first position + 1 (0: a free slot).  With an entries list
// (xtables) the slot also tells the first position's entry: by its number
// among the table's slots, packed into the one word when positions and
// entry numbers fit 24 bits each, else as a second word.  A find then
// reaches its run with one probe instead of a binary search, and the entry
// of a run of one without reading the heads or the entries list at all.
struct HeadHash {
  uint64_t* slots = nullptr;
  int words = 1;  // per slot
  uint64_t count = 0;  // slots
  uint64_t bytes = 0;
  int tag_shift = 33;  // the tag's lowest bit; the run bit lies just below
  int position_bits = 32;
  const uint8_t* entry_base = nullptr;  // packed: entry number k lies at base + k * stride
  uint64_t entry_stride = 0;
  // A head's first slot comes from the mixed bits' upper half, its tag
  // from the lower ones.
  uint64_t home(uint64_t mixed) const { return ((mixed >> 32) * count) >> 32; }
  uint64_t next(uint64_t k) const { return k + 1 == count ? 0 : k + 1; }
  uint64_t tag_of(uint64_t mixed) const { return mixed << tag_shift; }
  uint64_t longer_run() const { return uint64_t{1} << (tag_shift - 1); }
  int64_t position(uint64_t slot) const {
    return static_cast<int64_t>(slot & ((uint64_t{1} << position_bits) - 1)) - 1;
  }
  uint8_t* entry(uint64_t k, uint64_t slot) const {
    if (words == 2) return reinterpret_cast<uint8_t*>(slots[k * 2 + 1]);
    if (entry_base == nullptr) return nullptr;
    const uint64_t number = (slot >> position_bits) & ((uint64_t{1} << kPackedBits) - 1);
    return const_cast<uint8_t*>(entry_base) + number * entry_stride;
  }
  static constexpr int kPackedBits = 24;
};

inline uint64_t mix_head(uint64_t head) {
  const uint64_t h = (head ^ (head >> 29)) * 0x9e3779b97f4a7c15ull;
  return h ^ (h >> 32);
}

// For a table whose entries lie side by side and exceed the processor's
// caches: where a key's entry most likely lies, worked out from the key
// alone, so that a find reads the entries around it and mostly nothing
// else from memory (such a table has no head hash).  Each head byte counts
// by the rank of its value among the values the samples hold in that place
// (keys of a few letters or digits then spread evenly), which makes a head
// a fraction from 0 to 1 (in units of 2^-62, summed without waiting for
// floating point); `first` holds, for each of 2^bits equal parts of that
// range, the first position whose fraction lies in the part or beyond,
// and a guess interpolates within the part.
struct PositionGuide {
  uint32_t* first;  // 2^bits + 1 positions, mapped
  uint64_t bytes;
  int bits;
  // What each byte value adds in each place: its rank times 1 / the
  // product of the value counts up to that place.
  static constexpr int kOne = 62;  // the fraction 1 is 2^kOne
  uint64_t weight[8][256];
  uint64_t fraction(uint64_t head) const {
    auto d = [&](int j) { return weight[j][(head >> (56 - 8 * j)) & 0xff]; };
    // Summed as a tree, so that the additions need not wait for each other.
    return ((d(0) + d(1)) + (d(2) + d(3))) + ((d(4) + d(5)) + (d(6) + d(7)));
  }
};

struct SearchIndex {
  const void* table;
  int64_t n;
  uint64_t key_off, key_len;
  KeyLayout keys;
  const uint64_t* heads;  // key head of every position, `step` words apart
  int64_t step;
  uint64_t* samples;  // head of position 0, 32, 64 ...
  int64_t sample_count;
  void* map;
  uint64_t map_bytes;
  // Made by the first find that can use them (and not tried again): the
  // guide when it applies, else the hash.
  bool aids_tried;
  HeadHash hash;
  PositionGuide guide;
};

SearchIndex g_indexes[kIndexes];
int g_index_victim = 0;

void release(SearchIndex& x) {
  if (x.map) sys::call2(sys::kMunmap, reinterpret_cast<long>(x.map),
                        static_cast<long>(x.map_bytes));
  if (x.hash.slots) sys::call2(sys::kMunmap, reinterpret_cast<long>(x.hash.slots),
                               static_cast<long>(x.hash.bytes));
  if (x.guide.first) sys::call2(sys::kMunmap, reinterpret_cast<long>(x.guide.first),
                                static_cast<long>(x.guide.bytes));
  x = SearchIndex{};
}

SearchIndex* find_index(const void* table) {
  for (auto& x : g_indexes)
    if (x.table == table) return &x;
  return nullptr;
}

void* map_memory(uint64_t bytes) {
  const long m = sys::call6(sys::kMmap, 0, static_cast<long>(bytes), sys::kProtReadWrite,
                            sys::kMapPrivateAnonymous, -1, 0);
  return (m < 0 && m > -4096) ? nullptr : reinterpret_cast<void*>(m);
}

// The classic probe sequence, worked out from the run alone (a run of one
// key is where any search for that key ends).
int64_t classic_probe(int64_t n, int64_t base, int64_t first, int64_t last) {
  if (first == last) return first;
  int64_t lo = base, hi = base + n - 1;
  while (lo <= hi) {
    const int64_t mid = lo + (hi - lo) / 2;
    if (mid - base < first) lo = mid + 1;
    else if (mid - base > last) hi = mid - 1;
    else return mid - base;
  }
  return -1;
}

// The classic search itself, fetching the next two candidate keys ahead.
Found classic_find(const KeyLayout& keys, int64_t n, int64_t base, const uint8_t* key,
                   uint64_t len) {
  Found f;
  int64_t lo = base, hi = base + n - 1;
  while (lo <= hi) {
    const int64_t mid = lo + (hi - lo) / 2;
    const int64_t left = lo + (mid - 1 - lo) / 2, right = mid + 1 + (hi - mid - 1) / 2;
    if (left >= lo && left < mid) __builtin_prefetch(keys.key(left - base));
    if (right <= hi && right > mid) __builtin_prefetch(keys.key(right - base));
    const int c = compare_keys(keys.key(mid - base), key, len);
    if (c == 0) {
      f.probe = mid - base;
      break;
    }
    if (c < 0) lo = mid + 1;
    else hi = mid - 1;
  }
  if (f.probe < 0) return f;
  f.first = f.last = f.probe;
  while (f.first > 0 && compare_keys(keys.key(f.first - 1), key, len) == 0) --f.first;
  while (f.last + 1 < n && compare_keys(keys.key(f.last + 1), key, len) == 0) ++f.last;
  return f;
}

// Numbers entries among the slots of their table (from base, at the
// given stride): entry addresses lie exact multiples of the stride from
// the base, so the odd part of the stride divides them by its inverse
// modulo 2^64, without a division.
struct EntryNumbering {
  const uint8_t* base;
  uint64_t stride, inverse;
  int zeros;
  EntryNumbering(const uint8_t* b, uint64_t s) : base(b), stride(s), zeros(__builtin_ctzll(s)) {
    const uint64_t odd = s >> zeros;
    inverse = odd;  // each step doubles the bits that are right
    for (int k = 0; k < 5; ++k) inverse *= 2 - odd * inverse;
  }
  // The entry's number; one of 2^bits or more when it is not at a slot's
  // start or does not fit.
  uint64_t number(const uint8_t* entry, int bits) const {
    const uint64_t offset = static_cast<uint64_t>(entry - base);
    const uint64_t k = (offset >> zeros) * inverse;
    return k * stride == offset ? k : uint64_t{1} << bits;
  }
};

// Makes the index's head hash; false when there is no memory for it or
// the positions do not fit its slots.  An xtable's entries are packed by
// number into the slots when they fit, else kept in a second word.
bool make_head_hash(SearchIndex& x, bool pack = true) {
  HeadHash& hh = x.hash;
  if (x.n >= (int64_t{1} << 31)) return false;
  const bool packed = pack && x.keys.entries && x.keys.data && x.keys.stride &&
                      x.n < (int64_t{1} << HeadHash::kPackedBits);
  const int words = x.keys.entries && !packed ? 2 : 1;
  // At most two thirds of the slots in use, whole lines of them.
  const uint64_t count = (static_cast<uint64_t>(x.n) * 3 / 2 + 8) & ~uint64_t{7};
  const uint64_t bytes = count * 8 * static_cast<uint64_t>(words);
  uint64_t* slots = static_cast<uint64_t*>(map_memory(bytes));
  if (slots == nullptr) return false;
  sys::call3(sys::kMadvise, reinterpret_cast<long>(slots), static_cast<long>(bytes),
             sys::kMadvHugepage);
  hh = HeadHash{slots, words, count, bytes};
  const EntryNumbering numbering(x.keys.data, x.keys.stride ? x.keys.stride : 1);
  if (packed) {
    hh.tag_shift = 2 * HeadHash::kPackedBits + 1;
    hh.position_bits = HeadHash::kPackedBits;
    hh.entry_base = x.keys.data;
    hh.entry_stride = x.keys.stride;
  }
  // Every run lands in a slot at random: the slot of the run some places
  // on is fetched ahead, so that many of them are on their way at once.
  constexpr int64_t kAhead = 32;
  for (int64_t i = 0; i < x.n; ++i) {
    if (i + kAhead < x.n)
      __builtin_prefetch(slots + hh.home(mix_head(x.heads[(i + kAhead) * x.step])) * words, 1);
    const uint64_t head = x.heads[i * x.step];
    if (i > 0 && head == x.heads[(i - 1) * x.step]) continue;  // inside a run
    const bool longer = i + 1 < x.n && x.heads[(i + 1) * x.step] == head;
    const uint64_t mixed = mix_head(head);
    uint64_t k = hh.home(mixed);
    while (slots[k * words]) k = hh.next(k);
    uint64_t slot =
        hh.tag_of(mixed) | (longer ? hh.longer_run() : 0) | static_cast<uint64_t>(i + 1);
    if (packed) {
      const uint64_t number = numbering.number(x.keys.entries[i * 2], HeadHash::kPackedBits);
      if (number >> HeadHash::kPackedBits) {  // the entries as a second word after all
        sys::call2(sys::kMunmap, reinterpret_cast<long>(slots), static_cast<long>(bytes));
        hh = HeadHash{};
        return make_head_hash(x, false);
      }
      slot |= number << hh.position_bits;
    }
    slots[k * words] = slot;
    if (words == 2) slots[k * 2 + 1] = reinterpret_cast<uint64_t>(x.keys.entries[i * 2]);
  }
  return true;
}

// Entries below this many bytes mostly stay in the caches: no guide.
constexpr uint64_t kGuidedBytes = uint64_t{1} << 20;

// Makes the index's position guide for a large table of entries side by
// side (nothing otherwise, or without memory): about 32 positions to a
// part, at most 2^15 parts (128 KiB), so that it mostly stays in the caches.
void make_position_guide(SearchIndex& x) {
  PositionGuide& g = x.guide;
  if (x.keys.entries || x.keys.linked || x.n >= (int64_t{1} << 31) ||
      static_cast<uint64_t>(x.n) * x.keys.stride < kGuidedBytes)
    return;
  int bits = 1;
  while (bits < 15 && (int64_t{32} << bits) <= x.n) ++bits;
  const int64_t parts = int64_t{1} << bits;
  const uint64_t bytes = static_cast<uint64_t>(parts + 1) * 4;
  uint32_t* first = static_cast<uint32_t*>(map_memory(bytes));
  if (first == nullptr) return;
  double unit = 1;
  for (int j = 0; j < 8; ++j) {
    bool seen[256] = {};
    for (int64_t k = 0; k < x.sample_count; ++k)
      seen[(x.samples[k] >> (56 - 8 * j)) & 0xff] = true;
    int count = 0;
    uint8_t rank[256];
    for (int v = 0; v < 256; ++v) {
      rank[v] = static_cast<uint8_t>(count < 255 ? count : 255);
      count += seen[v];
    }
    unit /= count;
    for (int v = 0; v < 256; ++v)
      g.weight[j][v] = static_cast<uint64_t>(rank[v] * unit * 0x1p62);
  }
  // Positions whose parts go back (a value the samples lack) leave the
  // parts already passed as they are.
  int64_t next = 0;
  for (int64_t i = 0; i < x.n; ++i) {
    int64_t part = static_cast<int64_t>(g.fraction(x.heads[i * x.step]) >> (g.kOne - bits));
    if (part > parts) part = parts;
    while (next <= part) first[next++] = static_cast<uint32_t>(i);
  }
  while (next <= parts) first[next++] = static_cast<uint32_t>(x.n);
  g.first = first;
  g.bytes = bytes;
  g.bits = bits;
}

// Positions [from, to) of a table.
struct Window {
  int64_t from, to;
};

// The positions within `reach` places of the guessed position of a head's
// entry.
Window guessed_window(const SearchIndex& x, uint64_t head, int64_t reach) {
  const PositionGuide& g = x.guide;
  const int64_t parts = int64_t{1} << g.bits;
  const uint64_t f = g.fraction(head);
  int64_t part = static_cast<int64_t>(f >> (g.kOne - g.bits));
  if (part >= parts) part = parts - 1;
  const int64_t lo = g.first[part], hi = g.first[part + 1];
  // Where the fraction lies within its part, in units of 2^-32.
  const uint64_t within = (f >> (g.kOne - g.bits - 32)) & 0xffffffffu;
  int64_t guess = lo + static_cast<int64_t>((within * static_cast<uint64_t>(hi - lo)) >> 32);
  if (guess > x.n - 1) guess = x.n - 1;
  return {guess < reach ? 0 : guess - reach, guess + reach + 1 > x.n ? x.n : guess + reach + 1};
}

// Fetches the entries of a window: the guess misses by more than 5 places
// rarely when the keys spread evenly over their characters.  They are read
// once, so they need not displace the guide from the nearer caches.
Window fetch_entries(const SearchIndex& x, Window w) {
  const uint8_t* begin = x.keys.data + static_cast<uint64_t>(w.from) * x.keys.stride;
  const uint8_t* end = x.keys.data + static_cast<uint64_t>(w.to) * x.keys.stride;
  for (const uint8_t* p = begin; p < end; p += 64) __builtin_prefetch(p, 0, 0);
  __builtin_prefetch(end - 1, 0, 0);
  return w;
}

// The last position of the run of equal keys that holds position `at`:
// looked for close to it first (1, 2, 4 ... places on), then halved.
int64_t last_of_run(const KeyLayout& keys, int64_t n, const uint8_t* key, uint64_t len,
                    int64_t at) {
  int64_t lo = at + 1, hi = n;  // the first position past the run
  for (int64_t span = 1; lo < hi; span *= 2) {
    const int64_t probe = lo + span - 1 < hi ? lo + span - 1 : hi - 1;
    if (compare_keys(keys.key(probe), key, len) != 0) {
      hi = probe;
      break;
    }
    lo = probe + 1;
  }
  while (lo < hi) {
    const int64_t mid = lo + (hi - lo) / 2;
    if (compare_keys(keys.key(mid), key, len) == 0) lo = mid + 1;
    else hi = mid;
  }
  return lo - 1;
}

// The find's outcome from the entries of the window alone when they settle
// it (true): the key's run starts inside the window, or the key falls
// between two of its entries, or before or after the whole table.  False
// when the key lies before or after the window.
bool find_in_window(const KeyLayout& keys, int64_t n, int64_t base, const uint8_t* key,
                    uint64_t len, Window w, Found& f) {
  int64_t lo = w.from, hi = w.to;  // the first key not below the key
  while (lo < hi) {
    const int64_t mid = lo + (hi - lo) / 2;
    if (compare_keys(keys.key(mid), key, len) < 0) lo = mid + 1;
    else hi = mid;
  }
  if (lo == w.to) {
    f = Found{};
    return w.to == n;
  }
  const int c = compare_keys(keys.key(lo), key, len);
  if (lo == w.from && w.from > 0 && c >= 0) return false;  // the run may begin before
  f = Found{};
  if (c != 0) return true;
  f.first = lo;
  f.last = last_of_run(keys, n, key, len, lo);
  f.probe = classic_probe(n, base, f.first, f.last);
  f.first_entry = keys.entry(f.first);
  return true;
}

// A key of up to 16 bytes as two big-endian numbers (zeros after the
// key), which order as the keys do and compare without a branch.
struct WideKey {
  uint64_t hi, lo;
};

// The search key, read no further than its length: past 8 bytes, its
// last 8 bytes shifted up to where its bytes from the 9th lie.
WideKey wide_key(const uint8_t* key, uint64_t len) {
  if (len <= 8) return {key_head(key, len), 0};
  return {load_be64(key), load_be64(key + len - 8) << (8 * (16 - len))};
}

// The key of `len` bytes at k, read as 16 bytes whatever its length: at
// a fixed table's key start they stay inside its storage (the index slots
// follow the entries).
struct WideReader {
  uint64_t hi_mask, lo_mask;
  explicit WideReader(uint64_t len)
      : hi_mask(len >= 8 ? ~0ull : ~0ull << (8 * (8 - len))),
        lo_mask(len >= 16 ? ~0ull : len <= 8 ? 0 : ~0ull << (8 * (16 - len))) {}
  WideKey at(const uint8_t* k) const {
    return {load_be64(k) & hi_mask, load_be64(k + 8) & lo_mask};
  }
};

// Whole keys of up to 16 bytes around the guessed position, in a fixed
// table's entries: a binary search without branches (the window's size
// alone decides its steps) finds the first key not below the key, with
// the outcome of find_in_window: 0 when the window settles the find, -1
// when the key's run may begin before it, 1 when the key lies after it.
int search_window(const KeyLayout& keys, int64_t n, int64_t base, const uint8_t* key,
                  uint64_t len, Window w, Found& f) {
  const WideReader read(len);
  const WideKey want = wide_key(key, len);
  const uint8_t* const keys0 =
      keys.data + static_cast<uint64_t>(w.from) * keys.stride + keys.key_off;
  auto below = [&](int64_t i) {
    const WideKey k = read.at(keys0 + static_cast<uint64_t>(i) * keys.stride);
    return static_cast<int64_t>((k.hi < want.hi) | ((k.hi == want.hi) & (k.lo < want.lo)));
  };
  auto equal = [&](int64_t i) {
    const WideKey k = read.at(keys0 + static_cast<uint64_t>(i) * keys.stride);
    return k.hi == want.hi && k.lo == want.lo;
  };
  int64_t at = 0;  // from the window's start
  for (int64_t count = w.to - w.from; count > 1;) {
    const int64_t half = count / 2;
    at += half & -below(at + half - 1);
    count -= half;
  }
  at += below(at);
  const int64_t first = w.from + at;
  if (at == 0 && w.from > 0) return -1;
  f = Found{};
  if (first == w.to) return w.to == n ? 0 : 1;  // settled only at the table's end
  if (!equal(at)) return 0;
  f.first = first;
  f.last = first + 1 < n && equal(at + 1) ? last_of_run(keys, n, key, len, first + 1) : first;
  f.probe = classic_probe(n, base, f.first, f.last);
  f.first_entry = keys.entry(f.first);
  return 0;
}

// The 11 positions next to a window on the side its search points to
// (sharing its edge), where a guess that missed by a little more than 5
// places finds the key: one more fetch rather than a search on the heads.
Window beside(Window w, int side, int64_t n) {
  if (side < 0) return {w.from > 10 ? w.from - 10 : 0, w.from + 1};
  return {w.to - 1, w.to + 10 < n ? w.to + 10 : n};
}

// The run [a, b) of positions whose head is `want`, and the entry at a
// when the slot holds it (else null); false when no position has that
// head.  A run of one is taken on its tag alone (the caller checks the
// entry's own key).
bool head_run(const SearchIndex& x, uint64_t want, int64_t& a, int64_t& b, uint8_t*& entry) {
  const HeadHash& hh = x.hash;
  const uint64_t mixed = mix_head(want);
  const uint64_t tag = hh.tag_of(mixed), tag_bits = hh.tag_of(~uint64_t{0});
  for (uint64_t k = hh.home(mixed);; k = hh.next(k)) {
    const uint64_t slot = hh.slots[k * hh.words];
    if (slot == 0) return false;
    if ((slot & tag_bits) != tag) continue;
    const int64_t p = hh.position(slot);
    a = p;
    b = p + 1;
    entry = hh.entry(k, slot);
    if (!(slot & hh.longer_run())) return true;
    if (x.heads[p * x.step] != want) continue;
    while (b < x.n && x.heads[b * x.step] == want) ++b;
    return true;
  }
}

}  // namespace

uint64_t search_index_bytes(int64_t n, bool with_entries) {
  const uint64_t count = static_cast<uint64_t>((n + kSampleEvery - 1) / kSampleEvery);
  return static_cast<uint64_t>(n) * (with_entries ? 16 : 8) + count * 8;
}

void keep_search_index(const void* table, const KeyLayout& keys, int64_t n, uint64_t key_len,
                       void* map, uint64_t map_bytes) {
  drop_search_index(table);
  const uint64_t need = search_index_bytes(n, keys.entries != nullptr);
  if (n < 1 || (map == nullptr && keys.entries != nullptr) || (map && map_bytes < need)) {
    if (map) sys::call2(sys::kMunmap, reinterpret_cast<long>(map), static_cast<long>(map_bytes));
    return;
  }
  if (map == nullptr) {
    map_bytes = need;
    map = map_memory(map_bytes);
    if (map == nullptr) return;
  }
  sys::call3(sys::kMadvise, reinterpret_cast<long>(map), static_cast<long>(map_bytes),
             sys::kMadvHugepage);
  SearchIndex* x = nullptr;
  for (auto& slot : g_indexes)
    if (slot.table == nullptr) {
      x = &slot;
      break;
    }
  if (x == nullptr) {
    x = &g_indexes[g_index_victim];
    g_index_victim = (g_index_victim + 1) % kIndexes;
    release(*x);
  }
  const int64_t count = (n + kSampleEvery - 1) / kSampleEvery;
  const uint64_t* heads;
  int64_t step;
  uint64_t* samples;
  if (keys.entries) {  // the sort's pairs: head, entry address
    heads = reinterpret_cast<const uint64_t*>(map);
    step = 2;
    samples = static_cast<uint64_t*>(map) + 2 * n;
  } else {
    uint64_t* own = static_cast<uint64_t*>(map);
    for (int64_t i = 0; i < n; ++i) own[i] = key_head(keys.key(i), key_len);
    heads = own;
    step = 1;
    samples = own + n;
  }
  for (int64_t k = 0; k < count; ++k) samples[k] = heads[k * kSampleEvery * step];
  *x = SearchIndex{table, n, keys.key_off, key_len, keys, heads, step, samples, count, map,
                   map_bytes, false, HeadHash{}, PositionGuide{}};
}

void drop_search_index(const void* table) {
  if (SearchIndex* x = find_index(table)) release(*x);
}

uint8_t* const* indexed_entries(const void* table, int64_t n) {
  const SearchIndex* x = find_index(table);
  return x && x->n == n ? x->keys.entries : nullptr;
}

namespace {

// The run [a, b) of positions whose head (under the mask m) is `want`, by
// the samples and then the heads; a >= b when there is none.
void narrow_by_heads(const SearchIndex* x, const KeyLayout& keys, const uint8_t* key, uint64_t len,
                     uint64_t m, uint64_t want, int64_t& a, int64_t& b) {
  auto first_not_below = [&](const uint64_t* h, int64_t step, int64_t lo, int64_t hi) {
    while (lo < hi) {
      const int64_t mid = lo + (hi - lo) / 2;
      if ((h[mid * step] & m) < want) lo = mid + 1;
      else hi = mid;
    }
    return lo;
  };
  // Runs of equal heads are short, so the end of a run is looked for close
  // to its start first (1, 2, 4 ... places on), then halved as usual.
  auto first_above = [&](const uint64_t* h, int64_t step, int64_t lo, int64_t hi) {
    for (int64_t span = 1; lo < hi; span *= 2) {
      const int64_t probe = lo + span - 1 < hi ? lo + span - 1 : hi - 1;
      if ((h[probe * step] & m) > want) {
        hi = probe;
        break;
      }
      lo = probe + 1;
    }
    while (lo < hi) {
      const int64_t mid = lo + (hi - lo) / 2;
      if ((h[mid * step] & m) <= want) lo = mid + 1;
      else hi = mid;
    }
    return lo;
  };
  const int64_t j = first_not_below(x->samples, 1, 0, x->sample_count);
  const int64_t j2 = first_above(x->samples, 1, j, x->sample_count);
  const int64_t lo = j > 0 ? (j - 1) * kSampleEvery : 0;
  const int64_t hi = j2 < x->sample_count ? j2 * kSampleEvery : x->n;
  if (hi - lo <= 2 * kSampleEvery) {  // a few adjacent lines: fetch them together
    for (int64_t k = lo * x->step; k < hi * x->step; k += 8) __builtin_prefetch(x->heads + k);
    // Entries side by side (fixed tables): the one to come lies in the
    // next page or two, whose translation can load meanwhile.
    if (keys.entries == nullptr && !keys.linked && hi > lo) {
      __builtin_prefetch(keys.key(lo));
      __builtin_prefetch(keys.key(hi - 1));
      // The heads between two samples grow about evenly, so where the key
      // falls between them estimates its entry; fetching the few entries
      // around the estimate overlaps their wait with the heads' own.
      if (j > 0 && j2 < x->sample_count) {
        const uint64_t s0 = x->samples[j - 1], s1 = x->samples[j2];
        const uint64_t full = key_head(key, len);
        if (s1 > s0 && full >= s0 && full <= s1) {
          // Both distances cut to 32 bits, so the product stays in 64.
          uint64_t span = s1 - s0, off = full - s0;
          const int cut = span >> 32 ? 32 - __builtin_clzll(span) : 0;
          span >>= cut;
          off >>= cut;
          const int64_t est =
              lo + static_cast<int64_t>(off * static_cast<uint64_t>(hi - lo) / (span ? span : 1));
          for (int64_t k = est - 1; k <= est + 1; ++k)
            if (k >= lo && k < hi) __builtin_prefetch(keys.key(k));
        }
      }
    }
  }
  a = first_not_below(x->heads, x->step, lo, hi);
  b = first_above(x->heads, x->step, a, hi);
}

// Whole keys decide within the run [a, b) of equal heads; the entry found
// must still hold the key, otherwise the table changed behind the index and
// the whole search runs on the entries.
Found run_of_key(const KeyLayout& keys, int64_t n, int64_t base, const uint8_t* key,
                 uint64_t len, int64_t a, int64_t b) {
  if (len > 8) {  // equal heads: the rest of the key decides
    int64_t lo2 = a, hi2 = b;
    while (lo2 < hi2) {
      const int64_t mid = lo2 + (hi2 - lo2) / 2;
      if (compare_keys(keys.key(mid), key, len) < 0) lo2 = mid + 1;
      else hi2 = mid;
    }
    a = lo2;
    hi2 = b;
    while (lo2 < hi2) {
      const int64_t mid = lo2 + (hi2 - lo2) / 2;
      if (compare_keys(keys.key(mid), key, len) <= 0) lo2 = mid + 1;
      else hi2 = mid;
    }
    b = lo2;
  }
  Found f;
  if (a >= b) return f;
  if (compare_keys(keys.key(a), key, len) != 0) return classic_find(keys, n, base, key, len);
  f.first = a;
  f.last = b - 1;
  f.probe = classic_probe(n, base, f.first, f.last);
  return f;
}

// The find's outcome when position a is the only one whose head is
// `want` (by the index): the key is its entry's or absent.  An entry
// whose head differs (a hash tag shared by another head, or the table
// changed behind the index) sends the search to the entries.
Found only_entry_of_head(const KeyLayout& keys, int64_t n, int64_t base, const uint8_t* key,
                         uint64_t len, uint64_t m, uint64_t want, int64_t a, uint8_t* entry) {
  const uint8_t* k = entry + keys.key_off;
  if ((key_head(k, len) & m) != want) return classic_find(keys, n, base, key, len);
  Found f;
  if (compare_keys(k, key, len) != 0) return f;
  f.first = f.last = f.probe = a;
  f.first_entry = entry;
  return f;
}

}  // namespace

Found find_sorted(const void* table, const KeyLayout& keys, int64_t n, int64_t base,
                  const uint8_t* key, uint64_t len) {
  SearchIndex* x = find_index(table);
  if (x == nullptr || x->n != n || x->key_off != keys.key_off || len > x->key_len || n < 1 ||
      len == 0)
    return classic_find(keys, n, base, key, len);
  // The heads order the positions as the keys do (on their first bytes).
  // When the find compares whole heads, a large table of entries side by
  // side mostly answers from the entries around the guessed position, and
  // another one finds the run of the key's head by the head hash; else the
  // run comes from the samples and then the heads.  Whole keys decide
  // within the run.
  const uint64_t m = len >= 8 ? ~0ull : ~((1ull << (8 * (8 - len))) - 1);
  const uint64_t want = key_head(key, len) & m;
  int64_t a, b;
  const bool whole_heads = len >= 8 || len == x->key_len;
  if (whole_heads && !x->aids_tried) {
    x->aids_tried = true;
    make_position_guide(*x);
    if (!x->guide.first) make_head_hash(*x);
  }
  if (whole_heads && x->guide.first) {
    Found f;
    const Window w = fetch_entries(*x, guessed_window(*x, want, 5));
    if (len <= 16) {
      int side = search_window(keys, n, base, key, len, w, f);
      if (side != 0) side = search_window(keys, n, base, key, len,
                                          fetch_entries(*x, beside(w, side, n)), f);
      if (side == 0) return f;
    } else if (find_in_window(keys, n, base, key, len, w, f)) {
      return f;
    }
    narrow_by_heads(x, keys, key, len, m, want, a, b);
  } else if (whole_heads && x->hash.slots) {
    uint8_t* entry;
    if (!head_run(*x, want, a, b, entry)) return Found{};
    if (b == a + 1)
      return only_entry_of_head(keys, n, base, key, len, m, want, a,
                                entry ? entry : keys.entry(a));
    // A tag shared by another head: the entry tells, and the search runs
    // on the entries.
    if ((key_head(keys.key(a), len) & m) != want) return classic_find(keys, n, base, key, len);
  } else {
    narrow_by_heads(x, keys, key, len, m, want, a, b);
  }
  return run_of_key(keys, n, base, key, len, a, b);
}

// ---------------------------------------------------------------------------
// Entry fields.

bool field_place(Record rec, uint64_t field_no, uint64_t& offset, Item& field) {
  if (field_no < 1) return false;
  offset = 0;
  Item f = rec.first_field();
  for (uint64_t k = 1; k < field_no; ++k) {
    if (Record::is_end(f)) return false;
    offset += f.length();
    f = f.next();
  }
  if (Record::is_end(f)) return false;
  field = f;
  return true;
}

namespace {

// A number into a number field: the value an assignment to the field gives
// (rounded to the field's places), edited through the field's own picture;
// 36 and nothing written when that picture cannot show it.  The entry
// record's field serves as the work item and keeps its value.
int64_t put_number(Number field, Number source, numbers::Picture pic, uint8_t* at,
                   uint64_t room) {
  const int64_t kept = field.value();
  numbers::compute(numbers::kAssign, field, source, pic, 0, 0);
  int64_t status = kGood;
  if (field.picture_length() > room || !numbers::picture_shows(field, {})) {
    status = record::kNumberNotShown;
  } else {
    numbers::to_text(field, {}, reinterpret_cast<char*>(at));
  }
  field.set_value(kept);
  return status;
}

}  // namespace

int64_t put_field(uint8_t* entry, Record rec, uint64_t field_no, Item source, uint64_t start,
                  uint64_t length) {
  uint64_t offset;
  Item field(entry);
  if (!field_place(rec, field_no, offset, field)) return kInvalidKey;
  const uint64_t entry_len = rec.flat_length();
  if (offset >= entry_len) return kInvalidKey;
  uint64_t room = field.length();
  if (room > entry_len - offset) room = entry_len - offset;
  uint8_t* at = entry + offset;
  // An entry never written first gets the flat form of an empty record,
  // so that it reads back with its other fields blank or zero.
  const bool fresh = entry[0] == 0;
  if (fresh) record::to_empty_flat(rec, entry, entry_len);
  if (source.is_number()) {
    const Number n(source.data());
    const numbers::Picture pic = numbers::picture_at(start, length);
    // A number field holds the value; a word field the edited text, cut
    // at the field and then marked.
    if (field.is_number()) {
      const int64_t status = put_number(Number(field.data()), n, pic, at, room);
      if (status != kGood && fresh) __builtin_memset(entry, 0, entry_len);  // still unwritten
      return status;
    }
    numbers::to_text_marked(n, pic, reinterpret_cast<char*>(at), room);
    return kGood;
  }
  if (length == 0) length = source.length();
  validate_source(source.data(), start, length);
  // A longer word is cut at the field: the following fields stay intact.
  __builtin_memcpy(at, source.data() + start - 1, length < room ? length : room);
  return kGood;
}

bool get_field(const uint8_t* entry, Record rec, uint64_t field_no, Item target) {
  uint64_t offset;
  Item field(const_cast<uint8_t*>(entry));
  if (!field_place(rec, field_no, offset, field)) return false;
  const uint64_t entry_len = rec.flat_length();
  if (offset >= entry_len) return false;
  uint64_t room = field.length();
  if (room > entry_len - offset) room = entry_len - offset;
  const uint8_t* at = entry + offset;
  if (target.is_number()) {
    uint64_t len = target.length();
    if (len > room) len = room;
    return_code().set_value(
        numbers::from_field(Number(target.data()), reinterpret_cast<const char*>(at), len));
    return true;
  }
  // The word takes the field; a word longer than the field is blank padded
  // rather than filled from the fields that follow.
  const uint64_t len = target.length();
  const uint64_t take = len < room ? len : room;
  __builtin_memcpy(target.data(), at, take);
  if (take < len) __builtin_memset(target.data() + take, ' ', len - take);
  return true;
}

namespace {

// True when a field put would leave a zero byte first in a fixed entry,
// which then reads as never written: a word whose first character moved
// is a zero byte, into the field at the entry's start.
bool puts_zero_first(Record rec, uint64_t field_no, Item source, uint64_t start,
                     uint64_t length) {
  uint64_t offset;
  Item field(source.data());
  if (source.is_number() || !field_place(rec, field_no, offset, field) || offset != 0 ||
      field.length() == 0)
    return false;
  if (length == 0) length = source.length();
  validate_source(source.data(), start, length);
  return length > 0 && source.data()[start - 1] == 0;
}

}  // namespace

void set_whole_number(Number n, int64_t value) { numbers::store_integer(n, value); }

// ---------------------------------------------------------------------------
// Fixed tables.

void bind(FixedTable t, Record entry_record) {
  uint8_t* label = t.label();
  drop_search_index(label);
  Item(label).set_type(kTableType);
  Number st = t.status();
  st.set_scale(1);
  st.set_type(kNumberType);
  st.set_length(2);
  st.picture()[0] = '9';
  st.picture()[1] = '9';
  st.set_value(0);
  Item(label).set_scale(reinterpret_cast<int64_t>(entry_record.label()));
  const int closing = closing_slot(t);
  uint64_t entries = closing < 0 ? 0 : 1;
  for (int k = 0; k <= closing; ++k) entries *= static_cast<uint64_t>(t.dimension(k));
  Item(label).set_length(entries * entry_record.flat_length());
  // Finds and sorts walk a large table at random: huge pages spare them
  // most address translations.  A table in the program's zero data gets
  // them as its entries are first written.
  sys::advise_huge_pages(label, label + t.total_bytes());
  // Each slot before the closing one becomes the stride of its index: the
  // product of the slots after it.  A dimension of 1 anywhere is a
  // dimension like any other.
  if (closing < 0) return;
  int64_t acc = t.dimension(closing);
  for (int k = closing - 1; k >= 0; --k) {
    const int64_t dim = t.dimension(k);
    t.set_dimension(k, acc);
    acc *= dim;
  }
}

int dimensions(FixedTable t) {
  const int closing = closing_slot(t);
  return closing < 0 ? 0 : closing;
}

uint8_t* locate(FixedTable t) {
  set_status(t, kGood);
  const uint64_t entry_len = t.entry_record().flat_length();
  const uint64_t total = t.total_bytes();
  const int dims = dimensions(t);
  if (entry_len == 0 || dims == 0) {
    set_status(t, kInvalidKey);
    return nullptr;
  }
  const int64_t count = static_cast<int64_t>(total / entry_len);
  bool inside = true;
  int64_t entry = 0;
  for (int k = 1; k <= dims; ++k) {
    const int64_t stride = t.dimension(k - 1);
    const int64_t extent = k == 1 ? (stride ? count / stride : 0) : t.dimension(k - 2) / stride;
    const int64_t index = t.index(k);
    if (index < 1 || index > extent) inside = false;
    else entry += (index - 1) * stride;
    t.set_index(k, index - 1);
  }
  if (!inside || static_cast<uint64_t>(entry + 1) * entry_len > total) {
    set_status(t, kInvalidKey);
    return nullptr;
  }
  return t.entries() + static_cast<uint64_t>(entry) * entry_len;
}

void record_to_entry(FixedTable t, Record rec) {
  uint8_t* e = locate(t);
  if (e == nullptr) return;
  if (record::leads_with_zero(rec)) {  // it would read as never written
    set_status(t, record::kLeadsWithZero);
    return;
  }
  drop_search_index(t.label());
  if (!record::to_entry(rec, e, t.entry_record().flat_length()))
    set_status(t, record::kNumberNotShown);
}

void entry_to_record(FixedTable t, Record rec) {
  const uint8_t* e = locate(t);
  if (e == nullptr) return;
  if (e[0] == 0) {  // never written
    set_status(t, kInvalidKey);
    return;
  }
  record::from_flat(rec, e, t.entry_record().flat_length());
}

void put(FixedTable t, uint64_t field_no, Item source, uint64_t start, uint64_t length) {
  uint8_t* e = locate(t);
  if (e == nullptr) return;
  if (puts_zero_first(t.entry_record(), field_no, source, start, length)) {
    set_status(t, record::kLeadsWithZero);
    return;
  }
  drop_search_index(t.label());
  set_status(t, put_field(e, t.entry_record(), field_no, source, start, length));
}

void get(FixedTable t, uint64_t field_no, Item target) {
  const uint8_t* e = locate(t);
  if (e == nullptr) return;
  if (e[0] == 0 || !get_field(e, t.entry_record(), field_no, target))  // never written
    set_status(t, kInvalidKey);
}

void sort(FixedTable t, uint64_t key_start, uint64_t key_length) {
  require_one_dimension(t);
  set_status(t, kGood);
  const uint64_t entry_len = t.entry_record().flat_length();
  // A key outside the entry, or longer than the pivot's work item, is
  // refused with status 23 and the table stays as it was.
  if (entry_len == 0 || key_start < 1 || key_length < 1 || key_length > kMaxFixedKey ||
      key_start - 1 + key_length > entry_len) {
    set_status(t, kInvalidKey);
    return;
  }
  const int64_t n = static_cast<int64_t>(t.total_bytes() / entry_len);
  FixedSortOps ops;
  ops.base = t.entries();
  ops.entry_len = entry_len;
  ops.key_off = key_start - 1;
  ops.key_len = key_length;
  ops.head_len = key_length < 8 ? key_length : 8;
  ops.head_shift = 8 * (8 - ops.head_len);
  partition_sort(ops, 0, n - 1);
  KeyLayout keys;
  keys.data = t.entries();
  keys.stride = entry_len;
  keys.key_off = key_start - 1;
  keep_search_index(t.label(), keys, n, key_length, nullptr, 0);
}

const uint8_t* range_key(const uint8_t* key, uint64_t key_length, uint64_t range_length) {
  if (key_length == 0 || key_length == range_length) return key;
  if (key_length > range_length) {
    for (uint64_t k = range_length; k < key_length; ++k)
      if (key[k] != ' ') return nullptr;
    return key;
  }
  static uint8_t padded[kRecordBufferSize];
  if (range_length > sizeof padded) return nullptr;
  __builtin_memcpy(padded, key, key_length);
  __builtin_memset(padded + key_length, ' ', range_length - key_length);
  return padded;
}

void find(FixedTable t, uint64_t key_start, uint64_t key_end, const uint8_t* key,
          uint64_t key_length, Number result) {
  require_one_dimension(t);
  set_status(t, kGood);
  const Record er = t.entry_record();
  const uint64_t entry_len = er.flat_length();
  if (entry_len == 0 || key_start < 1 || key_end < key_start || key_end > entry_len) {
    set_status(t, kInvalidKey);
    return;
  }
  const uint64_t len = key_end - key_start + 1;
  key = range_key(key, key_length, len);
  if (key == nullptr) {
    set_status(t, kInvalidKey);
    return;
  }
  KeyLayout keys;
  keys.data = t.entries();
  keys.stride = entry_len;
  keys.key_off = key_start - 1;
  const int64_t n = static_cast<int64_t>(t.total_bytes() / entry_len);
  const Found f = find_sorted(t.label(), keys, n, 0, key, len);
  if (f.probe < 0) {
    set_status(t, kInvalidKey);
    return;
  }
  // The search stepped back from its first hit to the first of the run.
  if (f.probe != f.first) set_status(t, kDuplicates);
  set_whole_number(result, f.first + 1);
  record::from_flat(er, keys.entry(f.first), entry_len);
}

}  // namespace qw::tables

// ---------------------------------------------------------------------------
// Register entry.

QW_LEAN_ENTRY(_TABLES, bridge_TABLES);
extern "C" void bridge_TABLES(qw::LeanRegs& r, uint64_t r12, uint64_t r13, uint64_t r14,
                              uint64_t) {
  using namespace qw::tables;
  void* label = reinterpret_cast<void*>(r.r9);
  const qw::FixedTable t(label);
  if (r.r8 == kBind) {
    bind(t, qw::Record(reinterpret_cast<void*>(r.r10)));
    return;
  }
  require_table(label);
  switch (r.r8) {
    case kSort: sort(t, r.r10, r.r11); break;
    case kFind:
      find(t, r.r10, r.r11, reinterpret_cast<const uint8_t*>(r12), r14,
           qw::Number(reinterpret_cast<void*>(r13)));
      break;
    case kFromRecord: record_to_entry(t, t.entry_record()); break;
    case kToRecord: entry_to_record(t, t.entry_record()); break;
    case kPutField:
      put(t, r.r11, qw::Item(reinterpret_cast<void*>(r12)), r13, r14);
      break;
    case kGetField: get(t, r.r11, qw::Item(reinterpret_cast<void*>(r12))); break;
    default: locate(t); break;
  }
}
