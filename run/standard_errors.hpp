#pragma once
// Standard errors of the estimates at a maximum: the observed information
// (the negative Hessian of the log-likelihood, by central differences of the
// exact gradient) inverted on the free parameters that are not on a bound.
#include <array>
#include <span>
#include <string>
#include <vector>

#include "model/blocks.hpp"
#include "model/posterior/posterior_kernel.hpp"
#include "textio/channels.hpp"

namespace bravik {

// The parameters with a standard error, in column order: 1, 2, 3, 4, 6, 7, 5.
inline constexpr std::array<int, 7> se_parameters = {1, 2, 3, 4, 6, 7, 5};
inline constexpr std::array<const char*, 7> se_names = {"gene_freq", "mean11",   "mean12", "mean22",
                                                         "variance",  "polygenic_step", "theta"};

struct StandardErrors {
  std::array<double, N_PAR + 1> se{};  // by parameter; not a number where none is given
  std::string note;  // why some are not given (one word, "gene_freq_on_a_bound,..."); empty when all free ones are
};

// The negative Hessian's inverse on the given free positions, or an empty
// vector when the information is not positive definite. `hessian` is row-major
// over those positions. Exposed for tests.
std::vector<double> inverse_information(std::span<const double> hessian, std::size_t n);

// At optpar1's point, a maximum of the parameters free in optpar1 (theta
// counted only when `theta_estimated`). Leaves optpar1 as it found it.
StandardErrors standard_errors(Model& model, textio::Channels& io, PosteriorKernel& kernel, bool theta_estimated);

// The table of bravik_2point_max --standard-errors: header, then per analysed
// marker the null's and the alternative's standard errors and the notes.
std::string standard_error_header();
std::string standard_error_line(int imark, const StandardErrors& null, const StandardErrors& alternative);

}  // namespace bravik
