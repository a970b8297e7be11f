#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "test_support.hpp"
#include "textio/channels.hpp"
#include "textio/pause.hpp"
#include "textio/run_end.hpp"

using bravik::testing::run_end_of;

namespace {

constexpr const char* pause_prompt =
    "PAUSE  statement executed\n"
    "To resume execution, type go.  Other input will terminate the job.\n";

bravik::testing::Ended pause_answered(std::optional<std::string> answer) {
  textio::Channels channels;
  channels.pause_answer = [answer] { return answer; };
  return run_end_of([&] { textio::pause(channels); });
}

}  // namespace

TEST(Stop, MessageIsWrittenByteForByteAndStatusComesFromTheCaller) {
  const auto end = run_end_of([] { textio::stop("N_FAM exceed. Correct and recompile", textio::exit_error_stop); });
  ASSERT_TRUE(end.ended);
  EXPECT_EQ(end.status, textio::exit_error_stop);
  EXPECT_TRUE(end.close_channels);
  EXPECT_EQ(end.console, "STOP N_FAM exceed. Correct and recompile statement executed\n");
}

TEST(Stop, EmptyMessageWritesNothing) {
  const auto end = run_end_of([] { textio::stop("", textio::exit_rejected_start); });
  ASSERT_TRUE(end.ended);
  EXPECT_EQ(end.status, textio::exit_rejected_start);
  EXPECT_EQ(end.console, "");
  EXPECT_EQ(run_end_of([] { textio::stop(""); }).status, textio::exit_normal);
}

TEST(Fail, WritesItsTextAndEndsWithItsStatus) {
  const auto end = run_end_of([] { textio::fail("line one\nline two\n", textio::exit_input_error); });
  ASSERT_TRUE(end.ended);
  EXPECT_EQ(end.status, textio::exit_input_error);
  EXPECT_TRUE(end.close_channels);
  EXPECT_EQ(end.console, "line one\nline two\n");
}

TEST(Pause, GoResumesTheRun) {
  const auto end = pause_answered("go");
  EXPECT_FALSE(end.ended);
  EXPECT_EQ(end.console, std::string(pause_prompt) + "Execution resumes after PAUSE.\n");
}

TEST(Pause, AnyOtherAnswerStopsTheRun) {
  for (const char* answer : {"", "stop", "go ", "GO", "gone"}) {
    SCOPED_TRACE(answer);
    const auto end = pause_answered(answer);
    ASSERT_TRUE(end.ended);
    EXPECT_EQ(end.status, textio::exit_error_stop);
    EXPECT_EQ(end.console, std::string(pause_prompt) + "STOP\n");
  }
}

TEST(Pause, MissingConsoleEndsTheRunWithStatusOne) {
  const auto end = pause_answered(std::nullopt);
  ASSERT_TRUE(end.ended);
  EXPECT_EQ(end.status, 1);
  EXPECT_EQ(end.console, std::string(pause_prompt) + "s_paus: can't open con!\n");
}
