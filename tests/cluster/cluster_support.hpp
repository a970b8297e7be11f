#pragma once
// Access to the one-node SLURM cluster that scripts/test-cluster starts around
// these tests: its configuration, job submission and waiting for jobs to end.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "../shell_command.hpp"

namespace bravik::testing {

// The cluster's folder as recorded by the fixture that started it (the
// environment variable BRAVIK_CLUSTER_RECORD names the record folder), or why
// there is none.
struct ClusterFound {
  std::optional<std::filesystem::path> conf;
  std::string why_not;
};

inline ClusterFound find_cluster() {
  const char* record = std::getenv("BRAVIK_CLUSTER_RECORD");
  if (record == nullptr) return {std::nullopt, "BRAVIK_CLUSTER_RECORD is not set (run the tests through ctest)"};
  const std::filesystem::path conf = std::filesystem::path(record) / "cluster" / "slurm.conf";
  if (std::filesystem::exists(conf)) return {conf, ""};
  std::ifstream reason(std::filesystem::path(record) / "unavailable");
  std::string why;
  std::getline(reason, why);
  if (why.empty()) why = "scripts/test-cluster start did not leave a cluster in " + std::string(record);
  return {std::nullopt, why};
}

// Points SLURM's commands at the test cluster, or skips the test with what is
// missing; under CI (CI=true) a missing cluster fails the test instead.
#define BRAVIK_REQUIRE_CLUSTER()                                                      \
  do {                                                                                \
    const auto found = ::bravik::testing::find_cluster();                             \
    if (!found.conf) {                                                                \
      const char* ci = std::getenv("CI");                                             \
      if (ci != nullptr && std::string(ci) == "true") FAIL() << "no SLURM cluster: " << found.why_not; \
      GTEST_SKIP() << "no SLURM cluster: " << found.why_not;                          \
    }                                                                                 \
    setenv("SLURM_CONF", found.conf->c_str(), 1);                                     \
  } while (false)

// The value of `Key=` in `scontrol show job ID` (for an array, its first task
// listed), empty when the job is unknown.
inline std::string job_field(const std::string& id, const std::string& key) {
  const Shell shown = shell("scontrol show job " + id + " 2>/dev/null");
  const std::string tag = key + "=";
  std::istringstream words(shown.out);
  std::string word;
  while (words >> word) {
    if (word.rfind(tag, 0) == 0) return word.substr(tag.size());
  }
  return "";
}

// Waits until no task of the job is pending or running any more.
inline bool wait_for_job(const std::string& id, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (shell("squeue -h -j " + id + " 2>/dev/null").out.empty()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
  }
  return false;
}

}  // namespace bravik::testing
