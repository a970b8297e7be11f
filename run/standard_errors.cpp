#include "run/standard_errors.hpp"

#include <algorithm>
#include <cmath>

#include "model/posterior/gradient.hpp"
#include "textio/message_text.hpp"

namespace bravik {
namespace {

constexpr int theta_at = 5;
// An estimate closer to a bound than this share of the bounds' width is on it.
constexpr double on_bound_share = 1e-3;
// Central differences with steps of this share of the estimate's scale.
constexpr double relative_step = 1e-4;

// The step of position i: small against the estimate and its distance to the bounds.
double difference_step(const optpar1_block& o, int i) {
  const double scale = std::max(std::fabs(o.par(i)), 0.1 * (o.parhi(i) - o.parlo(i)));
  const double room = std::min(o.par(i) - o.parlo(i), o.parhi(i) - o.par(i));
  return std::min(relative_step * scale, 0.5 * room);
}

std::string name_of(int i) {
  const auto at = std::find(se_parameters.begin(), se_parameters.end(), i);
  return se_names[static_cast<std::size_t>(at - se_parameters.begin())];
}

}  // namespace

std::vector<double> inverse_information(std::span<const double> hessian, std::size_t n) {
  // Cholesky factor L of the information -H (symmetrized), then its inverse column by column.
  std::vector<double> l(n * n, 0.0);
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = 0; j <= i; ++j) {
      double sum = -0.5 * (hessian[i * n + j] + hessian[j * n + i]);
      for (std::size_t k = 0; k < j; ++k) sum -= l[i * n + k] * l[j * n + k];
      if (i == j) {
        if (!(sum > 0.0)) return {};
        l[i * n + i] = std::sqrt(sum);
      } else {
        l[i * n + j] = sum / l[j * n + j];
      }
    }
  }
  std::vector<double> inverse(n * n, 0.0);
  std::vector<double> column(n);
  for (std::size_t c = 0; c < n; ++c) {
    for (std::size_t i = 0; i < n; ++i) {  // L y = e_c
      double sum = i == c ? 1.0 : 0.0;
      for (std::size_t k = 0; k < i; ++k) sum -= l[i * n + k] * column[k];
      column[i] = sum / l[i * n + i];
    }
    for (std::size_t i = n; i-- > 0;) {  // L^T x = y
      double sum = column[i];
      for (std::size_t k = i + 1; k < n; ++k) sum -= l[k * n + i] * inverse[k * n + c];
      inverse[i * n + c] = sum / l[i * n + i];
    }
  }
  return inverse;
}

StandardErrors standard_errors(Model& model, textio::Channels& io, PosteriorKernel& kernel, bool theta_estimated) {
  const optpar1_block at_maximum = model.optpar1;
  optpar1_block& o = model.optpar1;
  StandardErrors out;
  out.se.fill(std::nan(""));
  std::vector<int> free;
  std::vector<std::string> on_bound;
  for (const int i : se_parameters) {
    if (o.ifree(i) == 0 || model.optpar2.link(i) != i || (i == theta_at && !theta_estimated)) continue;
    const double width = o.parhi(i) - o.parlo(i);
    if (std::min(o.par(i) - o.parlo(i), o.parhi(i) - o.par(i)) < on_bound_share * width) {
      on_bound.push_back(name_of(i));
    } else {
      free.push_back(i);
    }
  }
  for (const std::string& name : on_bound) out.note.append(out.note.empty() ? "" : ",").append(name).append("_on_a_bound");
  const std::size_t n = free.size();
  if (n == 0) return out;
  std::vector<double> hessian(n * n, 0.0);
  ParameterGradient up;
  ParameterGradient down;
  for (std::size_t a = 0; a < n; ++a) {
    const int i = free[a];
    const double h = difference_step(at_maximum, i);
    o.par(i) = at_maximum.par(i) + h;
    posterior_pass_at(model, io, kernel, up);
    o.par(i) = at_maximum.par(i) - h;
    posterior_pass_at(model, io, kernel, down);
    o.par(i) = at_maximum.par(i);
    for (std::size_t b = 0; b < n; ++b) hessian[a * n + b] = (up(free[b]) - down(free[b])) / (2.0 * h);
  }
  model.optpar1 = at_maximum;
  const std::vector<double> inverse = inverse_information(hessian, n);
  if (inverse.empty()) {
    out.note.append(out.note.empty() ? "" : ",").append("information_not_positive_definite");
    return out;
  }
  for (std::size_t a = 0; a < n; ++a) out.se[static_cast<std::size_t>(free[a])] = std::sqrt(inverse[a * n + a]);
  return out;
}

std::string standard_error_header() {
  std::string text = "marker";
  for (const char* pass : {"null", "alt"}) {
    for (const char* name : se_names) text.append("\t").append(pass).append("_se_").append(name);
  }
  return text + "\tse_note";
}

std::string standard_error_line(int imark, const StandardErrors& null, const StandardErrors& alternative) {
  std::string line = std::to_string(imark);
  for (const StandardErrors* pass : {&null, &alternative}) {
    for (const int i : se_parameters) line.append("\t").append(textio::table_number(pass->se[static_cast<std::size_t>(i)], 6));
  }
  std::string note;
  if (!null.note.empty()) note.append("null:").append(null.note);
  if (!alternative.note.empty()) note.append(note.empty() ? "" : ";").append("alt:").append(alternative.note);
  return line.append("\t").append(note.empty() ? "NA" : note);
}

}  // namespace bravik
