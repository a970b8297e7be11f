#pragma once
// The trait part's maxima of the robust mode's null hypothesis in a file of
// their own, so that runs on the same trait data (the replicates of a
// significance scan) maximize it once: one line per maximum, best first, the
// seven parameters in full precision.
#include <string>
#include <vector>

namespace bravik {

// Each maximum as par(0..7) (par(0) unused), as the robust mode keeps them.
using TraitMaxima = std::vector<std::vector<double>>;

std::string trait_maxima_text(const TraitMaxima& maxima);
// Ends the run (textio::fail, exit status 2) naming the file, line and value
// of anything amiss.
TraitMaxima read_trait_maxima(const std::string& path);
void write_trait_maxima(const std::string& path, const TraitMaxima& maxima);

}  // namespace bravik
