#include "model/tables.hpp"

namespace bravik {

prpar_block::prpar_block() {
  for (int g = 1; g <= N_JOINT; ++g) {
    itg(g) = joint_itg[static_cast<std::size_t>(g - 1)];
    img(g) = joint_img[static_cast<std::size_t>(g - 1)];
  }
}

}  // namespace bravik
