#include "run/carrier_posteriors.hpp"

#include <fstream>
#include <sstream>

#include "model/density.hpp"
#include "model/posterior/gradient.hpp"
#include "textio/message_text.hpp"
#include "textio/run_end.hpp"

namespace bravik {
namespace {

constexpr const char* id_table = "ids.txt";
constexpr int middle_class = 4;  // the class without shift

PersonPosterior posterior_of(const Model& model, const PosteriorKernel& kernel, int p) {
  PersonPosterior out;
  out.measured = model.ped.buf2.yph(p) > not_measured;
  const bool classes = model.pg.npol == N_POL;
  for (int k = 1; k <= model.genot.n_gen(p); ++k) {
    const int major = model.prpar.itg(model.genot.l_gen(model.genot.i_start(p) + k));
    double& genotype = major == 1 ? out.p11 : major == 2 ? out.p12 : out.p22;
    for (int c = 1; c <= model.pg.npol; ++c) {
      const double posterior = kernel.posterior(model, p, k, c);
      genotype += posterior;
      if (classes) out.polygenic_mean += posterior * static_cast<double>(c - middle_class) * model.imax.apol;
    }
  }
  return out;
}

}  // namespace

std::vector<PersonPosterior> person_posteriors(Model& model, textio::Channels& io, PosteriorKernel& kernel) {
  ParameterGradient gradient;
  posterior_pass_at(model, io, kernel, gradient);
  const int persons = model.ped.buf1.ifst(model.ped.buf1.nfam + 1);
  std::vector<PersonPosterior> out;
  for (int p = 1; p <= persons; ++p) out.push_back(posterior_of(model, kernel, p));
  return out;
}

std::vector<PersonIds> person_ids(const Model& model) {
  const buf1_block& b = model.ped.buf1;
  std::vector<PersonIds> ids;
  for (int f = 1; f <= b.nfam; ++f) {
    for (int p = b.ifst(f) + 1; p <= b.ifst(f + 1); ++p) ids.push_back({std::to_string(f), std::to_string(p - b.ifst(f))});
  }
  std::ifstream in(id_table);
  if (!in) return ids;
  std::string line;
  for (long number = 1; std::getline(in, line); ++number) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    long global = 0;
    std::string family, local, fid, iid;
    if (!(fields >> global >> family >> local >> fid >> iid) || global < 1 || global > static_cast<long>(ids.size())) {
      textio::fail(std::string(id_table) + ", line " + std::to_string(number) + ": expected a person number from 1 to " +
                       std::to_string(ids.size()) + " and the ids, read '" + line + "'\n",
                   textio::exit_input_error);
    }
    ids[static_cast<std::size_t>(global - 1)] = {fid, iid};
  }
  return ids;
}

std::string posteriors_table(const std::vector<PersonIds>& ids, const std::vector<PersonPosterior>& posteriors) {
  std::string text = "fid\tiid\tp11\tp12\tp22\tpolygenic_mean\tmeasured\n";
  for (std::size_t i = 0; i < posteriors.size() && i < ids.size(); ++i) {
    const PersonPosterior& p = posteriors[i];
    text += ids[i].family + "\t" + ids[i].person;
    for (const double value : {p.p11, p.p12, p.p22, p.polygenic_mean}) text += "\t" + textio::number_text(value, 6);
    text += std::string("\t") + (p.measured ? "yes" : "no") + "\n";
  }
  return text;
}

}  // namespace bravik
