#pragma once
// The vector that holds one member's polygenic classes in the fast kernel.
namespace bravik {

// Eight lanes: the seven polygenic classes and a lane that stays zero. The
// lanes are kept in a structure so that every container aligns them for the
// widest vector instructions, whatever the instructions of the code around.
using ClassLanes = double __attribute__((vector_size(64)));
struct alignas(64) ClassVector {
  ClassLanes lanes;
};

}  // namespace bravik
