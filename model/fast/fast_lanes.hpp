#pragma once
// The eight lanes of the fast kernel (a member's seven classes and a lane that
// stays zero, or eight genotypes of a parent) in the registers of each machine
// path: one 512-bit vector with AVX-512; two 256-bit vectors with AVX2 and four
// 128-bit ones without, since a vector wider than the machine's registers is
// kept in memory and moved piece by piece. Every operation works lane by
// lane, so each lane gets the same bits whatever the split. Only for code of
// the family routine, where every function is inlined into the routine of one
// path and compiled for its instructions.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <type_traits>

#include "model/blocks.hpp"
#include "model/fast/class_lanes.hpp"

#define BRAVIK_INLINE [[gnu::always_inline]] inline

// The family routines are compiled for the vector instructions of several
// machine generations (x86-64-v4: AVX-512; x86-64-v3: AVX2), the widest one
// that the running machine has taken unless another is forced; every version
// computes the same bits (no contraction).
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && defined(__linux__)
#define BRAVIK_MACHINE_PATHS 1
#else
#define BRAVIK_MACHINE_PATHS 0
#endif

// Vectors are passed by value only between functions inlined into one
// routine, so the note that their calling convention differs between machine
// generations does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace bravik::fast {

using TwoLanes = double __attribute__((vector_size(16)));
using FourLanes = double __attribute__((vector_size(32)));

// Eight lanes as Parts vectors of Width lanes. It may alias the ClassVector
// and TransmissionByFirst storage that it is read from and written to.
template <class Part, int Parts>
struct __attribute__((may_alias, aligned(64))) SplitLanes {
  static constexpr int width = 8 / Parts;
  Part part[Parts];

  BRAVIK_INLINE double operator[](int l) const { return part[l / width][l % width]; }
};

// The eight-lane type of each path.
template <MachinePath Path>
struct LanesOf {
  using type = ClassLanes;
};
template <>
struct LanesOf<MachinePath::avx2> {
  using type = SplitLanes<FourLanes, 2>;
};
template <>
struct LanesOf<MachinePath::baseline> {
  using type = SplitLanes<TwoLanes, 4>;
};

template <class T>
inline constexpr bool is_split = false;
template <class Part, int Parts>
inline constexpr bool is_split<SplitLanes<Part, Parts>> = true;

// s in every lane of one vector (written lane by lane: 0 + s would turn -0
// into +0).
template <class V>
BRAVIK_INLINE V broadcast(double s) {
  if constexpr (sizeof(V) == sizeof(TwoLanes)) {
    return V{s, s};
  } else if constexpr (sizeof(V) == sizeof(FourLanes)) {
    return V{s, s, s, s};
  } else {
    return V{s, s, s, s, s, s, s, s};
  }
}

// s in every lane (a plain number: s).
template <class L>
BRAVIK_INLINE L splat(double s) {
  if constexpr (is_split<L>) {
    L r;
    for (auto& p : r.part) p = broadcast<std::remove_reference_t<decltype(p)>>(s);
    return r;
  } else if constexpr (std::is_same_v<L, double>) {
    return s;
  } else {
    return broadcast<L>(s);
  }
}

// The arithmetic of split lanes, part by part (no lambdas: every step must
// be inlined into the routine of the path); a plain number takes part in
// every lane.
template <class L, class = std::enable_if_t<is_split<L>>>
BRAVIK_INLINE L operator+(const L& a, const L& b) {
  L r;
  for (int i = 0; i < static_cast<int>(std::size(a.part)); ++i) r.part[i] = a.part[i] + b.part[i];
  return r;
}
template <class L, class = std::enable_if_t<is_split<L>>>
BRAVIK_INLINE L operator-(const L& a, const L& b) {
  L r;
  for (int i = 0; i < static_cast<int>(std::size(a.part)); ++i) r.part[i] = a.part[i] - b.part[i];
  return r;
}
template <class L, class = std::enable_if_t<is_split<L>>>
BRAVIK_INLINE L operator*(const L& a, const L& b) {
  L r;
  for (int i = 0; i < static_cast<int>(std::size(a.part)); ++i) r.part[i] = a.part[i] * b.part[i];
  return r;
}
template <class L, class = std::enable_if_t<is_split<L>>>
BRAVIK_INLINE L operator/(const L& a, const L& b) {
  L r;
  for (int i = 0; i < static_cast<int>(std::size(a.part)); ++i) r.part[i] = a.part[i] / b.part[i];
  return r;
}
template <class L, class = std::enable_if_t<is_split<L>>>
BRAVIK_INLINE L operator*(const L& a, double s) {
  return a * splat<L>(s);
}
template <class L, class = std::enable_if_t<is_split<L>>>
BRAVIK_INLINE L operator*(double s, const L& a) {
  return splat<L>(s) * a;
}
template <class L, class = std::enable_if_t<is_split<L>>>
BRAVIK_INLINE L operator+(double s, const L& a) {
  return splat<L>(s) + a;
}
template <class L, class = std::enable_if_t<is_split<L>>>
BRAVIK_INLINE L operator-(const L& a, double s) {
  return a - splat<L>(s);
}
template <class L, class = std::enable_if_t<is_split<L>>>
BRAVIK_INLINE L operator/(const L& a, double s) {
  return a / splat<L>(s);
}

BRAVIK_INLINE double lane(const ClassLanes& v, int l) { return v[l]; }
template <class Part, int Parts>
BRAVIK_INLINE double lane(const SplitLanes<Part, Parts>& v, int l) {
  return v[l];
}
BRAVIK_INLINE double lane(double v, int) { return v; }

BRAVIK_INLINE void set_lane(ClassLanes& v, int l, double value) { v[l] = value; }
template <class Part, int Parts>
BRAVIK_INLINE void set_lane(SplitLanes<Part, Parts>& v, int l, double value) {
  v.part[l / v.width][l % v.width] = value;
}
BRAVIK_INLINE void set_lane(double& v, int, double value) { v = value; }

// The eight values as lanes.
template <class L>
BRAVIK_INLINE L lanes_from(const double (&values)[8]) {
  L r;
  std::memcpy(&r, values, sizeof r);
  return r;
}

// The storage of eight lanes read as the lanes of a path.
template <class L>
BRAVIK_INLINE const L& lanes_at(const ClassLanes& stored) {
  if constexpr (is_split<L>) {
    return reinterpret_cast<const L&>(stored);
  } else {
    return stored;
  }
}
template <class L>
BRAVIK_INLINE L& lanes_at(ClassLanes& stored) {
  if constexpr (is_split<L>) {
    return reinterpret_cast<L&>(stored);
  } else {
    return stored;
  }
}

// Lanes [width part, width (part + 1)) of v, the whole of it with AVX-512.
BRAVIK_INLINE const ClassLanes& part_of(const ClassLanes& v, int) { return v; }
template <class Part, int Parts>
BRAVIK_INLINE const Part& part_of(const SplitLanes<Part, Parts>& v, int part) {
  return v.part[part];
}
BRAVIK_INLINE void set_part(ClassLanes& v, int, const ClassLanes& p) { v = p; }
template <class Part, int Parts>
BRAVIK_INLINE void set_part(SplitLanes<Part, Parts>& v, int part, const Part& p) {
  v.part[part] = p;
}

// The vectors that hold a path's lanes: one, or the parts of split lanes.
template <class L>
struct PartsOf {
  using part = L;
  static constexpr int count = 1;
};
template <class Part, int Parts>
struct PartsOf<SplitLanes<Part, Parts>> {
  using part = Part;
  static constexpr int count = Parts;
};

BRAVIK_INLINE bool all_finite(const ClassLanes& v) {
  const auto finite = (v - v) == ClassLanes{};  // false for an infinity or NaN
  bool all = true;
  for (int c = 0; c < 8; ++c) all = all && finite[c] != 0;
  return all;
}
template <class Part, int Parts>
BRAVIK_INLINE bool all_finite(const SplitLanes<Part, Parts>& v) {
  bool all = true;
  for (const Part& p : v.part) {
    const auto finite = (p - p) == Part{};
    for (int c = 0; c < v.width; ++c) all = all && finite[c] != 0;
  }
  return all;
}
BRAVIK_INLINE bool all_finite(double v) { return std::isfinite(v); }

BRAVIK_INLINE ClassLanes largest_of(const ClassLanes& a, const ClassLanes& b) { return a > b ? a : b; }
template <class Part, int Parts>
BRAVIK_INLINE SplitLanes<Part, Parts> largest_of(const SplitLanes<Part, Parts>& a, const SplitLanes<Part, Parts>& b) {
  SplitLanes<Part, Parts> r;
  for (int i = 0; i < Parts; ++i) r.part[i] = a.part[i] > b.part[i] ? a.part[i] : b.part[i];
  return r;
}
BRAVIK_INLINE double largest_of(double a, double b) { return std::max(a, b); }

}  // namespace bravik::fast
