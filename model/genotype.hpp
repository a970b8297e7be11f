#pragma once
// Genotype elimination: the joint genotypes that remain possible for every
// person given the marker phenotypes of the nuclear families where the person
// is a parent, stored as one flat list.
#include "model/blocks.hpp"
#include "textio/channels.hpp"

namespace bravik {

void genotype(Model& model, textio::Channels& io);

}  // namespace bravik
