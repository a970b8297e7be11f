#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "test_support.hpp"
#include "textio/channels.hpp"
#include "textio/layout.hpp"
#include "textio/list_input.hpp"

using bravik::testing::read_file;
using bravik::testing::run_end_of;
using bravik::testing::write_file;
using textio::Access;
using textio::Channels;

namespace {

class ChannelFiles : public testing::Test {
 protected:
  void write_line(int unit, std::string_view text) {
    channels.put(unit, text);
    channels.end_line(unit);
  }
  bravik::testing::ScratchDir dir;
  Channels channels;
};

}  // namespace

TEST_F(ChannelFiles, OutputFileIsCutAtItsFirstWriteOnly) {
  write_file("out.txt", "old line 1\nold line 2\nold line 3\n");
  channels.open(8, "out.txt", Access::write);
  EXPECT_EQ(read_file("out.txt"), "old line 1\nold line 2\nold line 3\n");
  write_line(8, "new");
  // each finished line is on disk at once, with nothing stale after it
  EXPECT_EQ(read_file("out.txt"), "new\n");
  write_line(8, "next");
  EXPECT_EQ(read_file("out.txt"), "new\nnext\n");
  channels.close(8);
  EXPECT_EQ(read_file("out.txt"), "new\nnext\n");
}

TEST_F(ChannelFiles, OutputFileWithoutWritesIsLeftUnchanged) {
  write_file("keep.txt", "precious\n");
  channels.open(9, "keep.txt", Access::write);
  channels.close(9);
  EXPECT_EQ(read_file("keep.txt"), "precious\n");
  channels.open(10, "created.txt", Access::write);
  EXPECT_TRUE(std::filesystem::exists("created.txt"));
  channels.close(10);
  EXPECT_EQ(read_file("created.txt"), "");
}

TEST_F(ChannelFiles, ReopeningAfterCloseStartsAgainAtTheBeginning) {
  channels.open(12, "sigma.DAT", Access::write);
  write_line(12, "first pass, a longer line");
  write_line(12, "second line");
  channels.close(12);
  channels.open(12, "sigma.DAT", Access::write);
  EXPECT_EQ(read_file("sigma.DAT"), "first pass, a longer line\nsecond line\n");
  write_line(12, "again");
  channels.close(12);
  EXPECT_EQ(read_file("sigma.DAT"), "again\n");
}

TEST_F(ChannelFiles, OpenOnTheSameNameKeepsThePositionAnotherNameClosesFirst) {
  channels.open(7, "a.txt  ", Access::write);
  EXPECT_EQ(channels.name(7), "a.txt");
  write_line(7, "one");
  channels.open(7, "a.txt", Access::write);
  write_line(7, "two");
  EXPECT_EQ(read_file("a.txt"), "one\ntwo\n");
  write_file("b.txt", "old b\nmore\n");
  channels.open(7, "b.txt", Access::write);
  EXPECT_EQ(channels.name(7), "b.txt");
  write_line(7, "b");
  channels.close_all();
  EXPECT_EQ(read_file("a.txt"), "one\ntwo\n");
  EXPECT_EQ(read_file("b.txt"), "b\n");
}

TEST_F(ChannelFiles, UnopenedChannelWritesToFortN) {
  textio::write_list(channels, 25, {"iterations", 3});
  EXPECT_EQ(channels.name(25), "fort.25");
  EXPECT_EQ(read_file("fort.25"), " iterations 3\n");
  textio::write_layout(channels, 26, "(I3)", {4});
  EXPECT_EQ(read_file("fort.26"), "  4\n");
}

TEST_F(ChannelFiles, ColumnFollowsTheLineBeingWritten) {
  channels.open(11, "col.txt", Access::write);
  EXPECT_EQ(channels.column(11), 0);
  channels.put(11, "abc");
  channels.put(11, "de");
  EXPECT_EQ(channels.column(11), 5);
  channels.end_line(11);
  EXPECT_EQ(channels.column(11), 0);
}

TEST_F(ChannelFiles, LinesAreReadWithoutTheirLineEndsAndCounted) {
  write_file("in.txt", "first\r\nsecond\n\nlast without end");
  channels.open(2, "in.txt", Access::read);
  std::string line;
  ASSERT_TRUE(channels.next_line(2, line));
  EXPECT_EQ(line, "first");
  ASSERT_TRUE(channels.next_line(2, line));
  EXPECT_EQ(line, "second");
  ASSERT_TRUE(channels.next_line(2, line));
  EXPECT_EQ(line, "");
  ASSERT_TRUE(channels.next_line(2, line));
  EXPECT_EQ(line, "last without end");
  EXPECT_EQ(channels.line_number(2), 4);
  EXPECT_FALSE(channels.next_line(2, line));
}

TEST_F(ChannelFiles, ChannelReadThenWrittenContinuesAtItsPosition) {
  write_file("rw.txt", "a\nb\nc\n");
  channels.open(4, "rw.txt", Access::write);
  std::string line;
  ASSERT_TRUE(channels.next_line(4, line));
  write_line(4, "X");
  channels.close(4);
  EXPECT_EQ(read_file("rw.txt"), "a\nX\n");
}

TEST_F(ChannelFiles, MissingInputFileIsNamedAndNotCreated) {
  const auto end = run_end_of([&] { channels.open(1, "par.inp", Access::read); });
  ASSERT_TRUE(end.ended);
  EXPECT_EQ(end.status, textio::exit_input_error);
  EXPECT_FALSE(end.close_channels);
  EXPECT_EQ(end.console,
            "open: can't read file\n"
            "apparent state: unit 1 named par.inp\n"
            "lately reading sequential formatted external IO\n"
            "cannot open par.inp for reading: No such file or directory\n");
  EXPECT_FALSE(std::filesystem::exists("par.inp"));
}

TEST_F(ChannelFiles, BlankNameAndIllegalUnitsEndTheRun) {
  const auto blank = run_end_of([&] { channels.open(3, "    ", Access::read); });
  ASSERT_TRUE(blank.ended);
  EXPECT_EQ(blank.status, textio::exit_input_error);
  EXPECT_EQ(blank.console.substr(0, blank.console.find("lately")),
            "open: null file name\napparent state: unit 3 (unnamed)\n");

  const auto open_100 = run_end_of([&] { channels.open(100, "x", Access::write); });
  EXPECT_EQ(open_100.console.substr(0, open_100.console.find('\n')), "open: illegal unit number");
  const auto open_negative = run_end_of([&] { channels.open(-1, "x", Access::write); });
  EXPECT_EQ(open_negative.console.substr(0, open_negative.console.find('\n')),
            "open: illegal unit number");

  const auto layout = run_end_of([&] { textio::write_layout(channels, 100, "(I2)", {1}); });
  ASSERT_TRUE(layout.ended);
  EXPECT_EQ(layout.status, textio::exit_input_error);
  EXPECT_EQ(layout.console,
            "layout out: illegal unit number\n"
            "apparent state: unit 100 (unnamed)\n"
            "last format: (I2)\n"
            "lately writing sequential formatted external IO\n");
  EXPECT_FALSE(std::filesystem::exists("fort.100"));
}

TEST_F(ChannelFiles, UnopenedChannelReadsFortNWhenItExists) {
  write_file("fort.30", "5\n");
  std::int32_t value = 0;
  {
    textio::ListInput read(channels, 30);
    read.get(value);
  }
  EXPECT_EQ(value, 5);
  const auto missing = run_end_of([&] { textio::ListInput read(channels, 31); });
  EXPECT_EQ(missing.console.substr(0, missing.console.find('\n')), "open: can't read file");
  EXPECT_FALSE(std::filesystem::exists("fort.31"));
}
