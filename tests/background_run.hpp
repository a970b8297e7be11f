#pragma once
// A program started in the background, its output in files of a folder, so
// that a test can stop it (kill -9) while it works.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>

#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace bravik::testing {

inline pid_t start_in_background(const std::filesystem::path& program, const std::filesystem::path& folder,
                                 const std::vector<std::string>& args) {
  std::vector<std::string> texts{program.string()};
  texts.insert(texts.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& t : texts) argv.push_back(t.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, (folder / "background.stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, (folder / "background.stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = 0;
  EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

}  // namespace bravik::testing
