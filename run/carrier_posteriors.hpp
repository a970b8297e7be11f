#pragma once
// Who carries the major gene: for every person, at a parameter point, the
// posterior probabilities of the major-gene genotypes 11, 12 and 22 and the
// posterior mean of the polygenic effect, given all trait values and marker
// genotypes of the family, by the posterior kernel.
#include <string>
#include <vector>

#include "model/blocks.hpp"
#include "model/posterior/posterior_kernel.hpp"
#include "textio/channels.hpp"

namespace bravik {

struct PersonPosterior {
  double p11 = 0.0, p12 = 0.0, p22 = 0.0;
  double polygenic_mean = 0.0;  // in trait units: the class's shift (class - 4) x step
  bool measured = false;        // the trait value was measured
};

// At optpar1's point (theta from par(5), the flags as they stand): one entry
// per person, in the order of IWAY.DAT.
std::vector<PersonPosterior> person_posteriors(Model& model, textio::Channels& io, PosteriorKernel& kernel);

// A person's ids as the user gave them.
struct PersonIds {
  std::string family, person;
};

// The ids of ids.txt in the working folder (the table the preparation tool
// writes: global number, family number, number in the family, family id,
// person id, line); without that file, the family's and the person's
// numbers. Fails naming the file and line on a malformed table.
std::vector<PersonIds> person_ids(const Model& model);

// The table: a header line, then `fid iid p11 p12 p22 polygenic_mean measured`.
std::string posteriors_table(const std::vector<PersonIds>& ids, const std::vector<PersonPosterior>& posteriors);

}  // namespace bravik
