#include "pedigree/validate.hpp"

#include <algorithm>
#include <string>
#include <vector>

#include "textio/run_end.hpp"

// The likelihood peels each family one nuclear family at a time, in file order.
// Peeling a nuclear family sums out its ordinary members (every member but the
// connector; the father is the connector of a terminal nuclear family) and
// multiplies the result into the connector's array. That is exact when
//  - every member lies in the family and is listed once, the list holds a
//    father, a mother and at least one child, and nobody is a child twice;
//  - the connector is a member, and a child connector is the first child, as
//    the three peeling cases take it;
//  - a person summed out as an ordinary member appears in no later nuclear
//    family (so at most once as ordinary, after all its connector roles).
// A person may be the connector of several nuclear families: each multiplies
// its contribution into the same array, whose final sum the rescaling takes.
// The same rules exclude marriage loops, which would need two members of one
// nuclear family to reappear later.

namespace bravik {
namespace {

constexpr int max_listed_members = 12;  // longer member lists are cut in messages

std::string str(long value) { return std::to_string(value); }

class DescriptionCheck {
 public:
  DescriptionCheck(const Pedigree& ped, const DescriptionCounts& counts, std::string_view file)
      : ped_(ped), counts_(counts), file_(file), child_in_(N_SIZE + 1), ordinary_in_(N_SIZE + 1),
        listed_in_(N_SIZE + 1) {}

  void run() {
    check_counts();
    check_family_table();
    check_nuclear_offsets();
    check_member_offsets();
    for (int f = 1; f <= ped_.buf1.nfam; ++f) check_family(f);
  }

 private:
  [[noreturn]] void reject(std::string_view records, const std::string& what) const {
    textio::fail(std::string(file_) + ", " + std::string(records) + ": " + what + "\n",
                 textio::exit_input_error);
  }

  int nfam() const { return ped_.buf1.nfam; }
  int ifst(int f) const { return ped_.buf1.ifst(f); }
  int inuc(int f) const { return ped_.buf3.inuc(f); }
  int imem(int n) const { return ped_.buf14.imem(n); }
  int family_size(int f) const { return ifst(f + 1) - ifst(f); }
  int list_size(int n) const { return imem(n + 1) - imem(n); }
  int member(int n, int i) const { return ped_.buf16.mem(imem(n) + i); }
  // The connector as peeling takes it: the father when the nuclear family is terminal.
  int connector(int n) const { return ped_.buf15.icon(n) != 0 ? ped_.buf15.icon(n) : member(n, 0); }

  std::string where(int f, int n) const { return "nuclear family " + str(n) + " of family " + str(f); }
  std::string person(int f, int c) const { return "person " + str(c) + " of family " + str(f); }

  std::string member_list(int n) const {
    std::string text = " (member list:";
    const int shown = std::min(list_size(n), max_listed_members);
    for (int i = 0; i < shown; ++i) text += " " + str(member(n, i));
    if (shown < list_size(n)) text += " ...";
    return text + ")";
  }

  void check_count(std::string_view record, std::string_view name, int count) const {
    if (count < 0) reject(record, "the count " + std::string(name) + " = " + str(count) + " is negative");
  }

  void check_counts() const {
    check_count("record 1", "N", counts_.n);
    check_count("record 3", "M", counts_.m);
    check_count("record 4", "K", counts_.k);
    check_count("record 6", "P", ped_.npers);
  }

  // Offsets offset(first..last) must be non-decreasing from a non-negative start.
  template <class Offset>
  void check_offsets(std::string_view record, std::string_view name, int first, int last, Offset offset) const {
    if (offset(first) < 0) {
      reject(record, std::string(name) + "(" + str(first) + ") = " + str(offset(first)) + " is negative");
    }
    for (int i = first + 1; i <= last; ++i) {
      if (offset(i) < offset(i - 1)) {
        reject(record, std::string(name) + "(" + str(i) + ") = " + str(offset(i)) + " is smaller than " +
                           std::string(name) + "(" + str(i - 1) + ") = " + str(offset(i - 1)));
      }
    }
  }

  void check_family_table() const {
    if (nfam() < 0 || nfam() > counts_.n) {
      reject("record 1", "the number of analysed families " + str(nfam()) + " lies outside 0 to N = " +
                             str(counts_.n));
    }
    check_offsets("record 1", "ifst", 1, nfam() + 1, [this](int f) { return ifst(f); });
    const int persons = ifst(nfam() + 1);
    if (persons > N_SIZE) {
      reject("record 1", "families 1 to " + str(nfam()) + " hold " + str(persons) + " persons, more than N_SIZE = " +
                             str(N_SIZE));
    }
    if (persons > ped_.npers) {
      reject("record 6", "P = " + str(ped_.npers) + " is smaller than the " + str(persons) +
                             " persons of families 1 to " + str(nfam()) + " (ifst(" + str(nfam() + 1) + "))");
    }
  }

  void check_nuclear_offsets() const {
    check_offsets("record 2", "inuc", 1, nfam() + 1, [this](int f) { return inuc(f); });
    const int described = std::max(counts_.m - 2, 0);
    if (inuc(nfam() + 1) > described) {
      reject("record 2", "inuc(" + str(nfam() + 1) + ") = " + str(inuc(nfam() + 1)) + " exceeds the " +
                             str(described) + " nuclear families that records 3 and 5 describe (M - 2)");
    }
  }

  void check_member_offsets() const {
    if (counts_.m < 2) return;
    check_offsets("record 3", "imem", 1, counts_.m - 1, [this](int n) { return imem(n); });
    if (imem(counts_.m - 1) > counts_.k) {
      reject("record 3", "imem(" + str(counts_.m - 1) + ") = " + str(imem(counts_.m - 1)) +
                             " points beyond the K = " + str(counts_.k) + " entries of record 4");
    }
  }

  void check_family(int f) {
    for (int c = 1; c <= family_size(f); ++c) {
      child_in_[c] = 0;
      ordinary_in_[c] = 0;
    }
    for (int n = inuc(f) + 1; n <= inuc(f + 1); ++n) {
      check_member_list(f, n);
      check_connector(f, n);
      check_children(f, n);
      check_peeling_order(f, n);
    }
  }

  void check_member_list(int f, int n) {
    if (list_size(n) < 3) {
      reject("record 4", where(f, n) + " has " + str(list_size(n)) +
                             " members, fewer than a father, a mother and a child" + member_list(n));
    }
    for (int i = 0; i < list_size(n); ++i) {
      const int c = member(n, i);
      if (c < 1 || c > family_size(f)) {
        reject("record 4", where(f, n) + " lists person " + str(c) + ", outside the family's persons 1 to " +
                               str(family_size(f)) + member_list(n));
      }
      if (listed_in_[c] == n) reject("record 4", where(f, n) + " lists person " + str(c) + " twice" + member_list(n));
      listed_in_[c] = n;
    }
  }

  void check_connector(int f, int n) const {
    const int q = ped_.buf15.icon(n);
    if (q == 0) return;
    if (q < 0 || q > family_size(f)) {
      reject("record 5", "the connector " + str(q) + " of " + where(f, n) + " lies outside the family's persons 1 to " +
                             str(family_size(f)));
    }
    int position = 0;
    while (position < list_size(n) && member(n, position) != q) ++position;
    if (position == list_size(n)) {
      reject("record 5", "the connector " + str(q) + " of " + where(f, n) + " is not one of its members" +
                             member_list(n));
    }
    if (position > 2) {
      reject("record 5", "the connector " + str(q) + " of " + where(f, n) +
                             " is a child but not the first child" + member_list(n));
    }
  }

  void check_children(int f, int n) {
    for (int i = 2; i < list_size(n); ++i) {
      const int c = member(n, i);
      if (child_in_[c] != 0) {
        reject("record 4", person(f, c) + " is a child in nuclear families " + str(child_in_[c]) + " and " + str(n));
      }
      child_in_[c] = n;
    }
  }

  // Ordinary members are summed out: none may have been summed out before.
  void check_peeling_order(int f, int n) {
    const int q = connector(n);
    for (int i = 0; i < list_size(n); ++i) {
      const int c = member(n, i);
      const int earlier = ordinary_in_[c];
      if (earlier == 0) continue;
      if (c == q) {
        reject("records 4 and 5", person(f, c) + " is the connector of nuclear family " + str(n) +
                                      ", listed after nuclear family " + str(earlier) +
                                      " where it is an ordinary member: not in peeling order");
      }
      reject("records 4 and 5", person(f, c) + " is an ordinary member (not the connector) of nuclear families " +
                                    str(earlier) + " and " + str(n) + ": not in peeling order");
    }
    for (int i = 0; i < list_size(n); ++i) {
      if (member(n, i) != q) ordinary_in_[member(n, i)] = n;
    }
  }

  const Pedigree& ped_;
  DescriptionCounts counts_;
  std::string_view file_;
  // By family-local person number:
  std::vector<int> child_in_;     // nuclear family where the person is a child, 0 none
  std::vector<int> ordinary_in_;  // nuclear family where the person is an ordinary member, 0 none
  std::vector<int> listed_in_;    // last nuclear family whose list named the person
};

}  // namespace

void validate_pedigree(const Pedigree& ped, const DescriptionCounts& counts, std::string_view file_name) {
  DescriptionCheck(ped, counts, file_name).run();
}

}  // namespace bravik
