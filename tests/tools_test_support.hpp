#pragma once
// Shared code of the data-tool tests: pedigree texts, IWAY.DAT read back as plain
// integers, and an independent check of the peeling order.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "pedfile/input_error.hpp"
#include "pedfile/pedigree_file.hpp"
#include "pedfile/random.hpp"

namespace bravik::testing {

inline std::string pedigree_text(const tools::PedigreeFile& file) {
  std::ostringstream out;
  tools::write_pedigree_file(out, file);
  return out.str();
}

// The lines of a text in an order drawn with the seed.
inline std::string shuffled_lines(const std::string& text, std::uint64_t seed) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  tools::Random random(seed);
  for (std::size_t i = lines.size(); i > 1; --i)
    std::swap(lines[i - 1], lines[static_cast<std::size_t>(random.integer(0, static_cast<int>(i) - 1))]);
  std::string out;
  for (const std::string& line : lines) out += line + '\n';
  return out;
}

// The message of the InputError that `action` throws (empty when none).
template <class Action>
std::string error_of(Action action) {
  try {
    action();
  } catch (const tools::InputError& e) {
    return e.what();
  }
  return {};
}

// IWAY.DAT as its records hold it; vectors keep the stated 1-based or 0-based
// positions (index 0 of the 1-based ones unused).
struct Iway {
  int n = 0, nfam = 0, m = 0, k = 0, p = 0;
  std::vector<int> ifst, inuc, imem, mem, icon;

  int members(int nuc) const { return imem[static_cast<std::size_t>(nuc) + 1] - imem[static_cast<std::size_t>(nuc)]; }
  int member(int nuc, int i) const { return mem[static_cast<std::size_t>(imem[static_cast<std::size_t>(nuc)] + i)]; }
};

inline Iway read_iway(const std::filesystem::path& path) {
  std::ifstream in(path);
  Iway w;
  const auto take = [&in](std::vector<int>& into, int count, int first_index) {
    into.assign(static_cast<std::size_t>(count + first_index), 0);
    for (int i = 0; i < count; ++i) in >> into[static_cast<std::size_t>(i + first_index)];
  };
  in >> w.n >> w.nfam;
  take(w.ifst, w.n + 1, 1);
  int unused = 0;
  in >> unused;
  take(w.inuc, w.n + 1, 1);
  in >> w.m;
  take(w.imem, w.m, 0);
  in >> w.k;
  take(w.mem, w.k, 0);
  take(w.icon, std::max(w.m - 2, 0), 1);
  in >> w.p;
  std::vector<int> lists;
  take(lists, 2 * w.p, 0);
  EXPECT_TRUE(static_cast<bool>(in)) << path << " ends early";
  int extra = 0;
  EXPECT_FALSE(static_cast<bool>(in >> extra)) << path << " holds values beyond record 7";
  return w;
}

// Every precondition of the peeling, checked from the description alone:
// each nuclear family lists father, mother and a child, members lie in the
// family and are listed once, a child connector is the first child, every
// person is an ordinary member of at most one nuclear family and only after
// all the nuclear families it connects. Also: families cover all persons.
inline void expect_peeling_order(const Iway& w) {
  ASSERT_EQ(w.ifst[1], 0);
  ASSERT_EQ(w.ifst[static_cast<std::size_t>(w.nfam) + 1], w.p);
  for (int f = 1; f <= w.nfam; ++f) {
    const int size = w.ifst[static_cast<std::size_t>(f) + 1] - w.ifst[static_cast<std::size_t>(f)];
    std::vector<int> ordinary_in(static_cast<std::size_t>(size) + 1, 0);
    std::vector<int> child_in(static_cast<std::size_t>(size) + 1, 0);
    for (int n = w.inuc[static_cast<std::size_t>(f)] + 1; n <= w.inuc[static_cast<std::size_t>(f) + 1]; ++n) {
      const int count = w.members(n);
      ASSERT_GE(count, 3) << "nuclear family " << n;
      std::set<int> listed;
      for (int i = 0; i < count; ++i) {
        const int c = w.member(n, i);
        ASSERT_TRUE(c >= 1 && c <= size) << "nuclear family " << n << " member " << c;
        ASSERT_TRUE(listed.insert(c).second) << "nuclear family " << n << " lists " << c << " twice";
        if (i >= 2) {
          EXPECT_EQ(child_in[static_cast<std::size_t>(c)], 0) << "person " << c << " is a child twice";
          child_in[static_cast<std::size_t>(c)] = n;
        }
      }
      const int icon = w.icon[static_cast<std::size_t>(n)];
      const int connector = icon == 0 ? w.member(n, 0) : icon;
      ASSERT_TRUE(listed.count(connector)) << "connector of nuclear family " << n << " is no member";
      for (int i = 3; i < count; ++i) EXPECT_NE(w.member(n, i), connector) << "child connector not first, nuclear family " << n;
      for (int i = 0; i < count; ++i) {
        const int c = w.member(n, i);
        EXPECT_EQ(ordinary_in[static_cast<std::size_t>(c)], 0)
            << "family " << f << " person " << c << " appears in nuclear family " << n
            << " after being ordinary in " << ordinary_in[static_cast<std::size_t>(c)];
      }
      for (int i = 0; i < count; ++i)
        if (w.member(n, i) != connector) ordinary_in[static_cast<std::size_t>(w.member(n, i))] = n;
    }
  }
}

// A nuclear family by ids: "family:father:mother:child,child,..." with the
// children sorted, so that two descriptions can be compared as sets.
inline std::multiset<std::string> nuclear_families_of_file(const tools::PedigreeFile& file) {
  std::map<std::string, std::vector<std::string>> children;
  for (const tools::PedigreeRow& row : file.rows)
    if (row.father != "0") children[row.family + ":" + row.father + ":" + row.mother].push_back(row.person);
  std::multiset<std::string> out;
  for (auto& [parents, kids] : children) {
    std::sort(kids.begin(), kids.end());
    std::string text = parents + ":";
    for (const std::string& kid : kids) text += kid + ",";
    out.insert(text);
  }
  return out;
}

// The same from a written run folder: IWAY.DAT with the id table.
inline std::multiset<std::string> nuclear_families_of_folder(const std::filesystem::path& folder) {
  const Iway w = read_iway(folder / "IWAY.DAT");
  std::vector<std::pair<std::string, std::string>> ids(1);  // by global number: family id, person id
  std::ifstream table(folder / "ids.txt");
  std::string line;
  std::getline(table, line);
  for (int global, f, local, row; table >> global >> f >> local;) {
    std::string family, person;
    table >> family >> person >> row;
    ids.emplace_back(family, person);
  }
  std::multiset<std::string> out;
  for (int f = 1; f <= w.nfam; ++f)
    for (int n = w.inuc[static_cast<std::size_t>(f)] + 1; n <= w.inuc[static_cast<std::size_t>(f) + 1]; ++n) {
      const auto id = [&](int i) { return ids[static_cast<std::size_t>(w.ifst[static_cast<std::size_t>(f)] + w.member(n, i))]; };
      std::vector<std::string> kids;
      for (int i = 2; i < w.members(n); ++i) kids.push_back(id(i).second);
      std::sort(kids.begin(), kids.end());
      std::string text = id(0).first + ":" + id(0).second + ":" + id(1).second + ":";
      for (const std::string& kid : kids) text += kid + ",";
      out.insert(text);
    }
  return out;
}

}  // namespace bravik::testing
