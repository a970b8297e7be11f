#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "test_support.hpp"
#include "textio/channels.hpp"
#include "textio/list_input.hpp"

using bravik::testing::run_end_of;
using bravik::testing::write_file;
using textio::Access;
using textio::Channels;
using textio::EndOfFile;
using textio::ListInput;

namespace {

constexpr int in_unit = 3;

class ListRead : public testing::Test {
 protected:
  // Puts `text` into in.txt and opens it on the input channel.
  void input(const std::string& text) {
    write_file("in.txt", text);
    channels.close(in_unit);
    channels.open(in_unit, "in.txt", Access::read);
  }
  // One read of three integers.
  void read3(std::int32_t& a, std::int32_t& b, std::int32_t& c) {
    ListInput read(channels, in_unit);
    EXPECT_TRUE(read.get(a));
    EXPECT_TRUE(read.get(b));
    EXPECT_TRUE(read.get(c));
  }
  // The abnormal end of reading one item of type T from `text`.
  template <class T>
  bravik::testing::Ended failure_reading(const std::string& text) {
    input(text);
    return run_end_of([&] {
      T item{};
      ListInput read(channels, in_unit);
      read.get(item);
    });
  }

  bravik::testing::ScratchDir dir;
  Channels channels;
};

}  // namespace

TEST_F(ListRead, NullValuesAndSlashKeepPreviousValues) {
  input("1,,3\n2*7/\n, 5 6\n4 , ,\n 9\n");
  std::int32_t a = -1, b = -2, c = -3;
  read3(a, b, c);
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, -2);
  EXPECT_EQ(c, 3);
  read3(a, b, c);
  EXPECT_EQ(a, 7);
  EXPECT_EQ(b, 7);
  EXPECT_EQ(c, 3);
  read3(a, b, c);  // a leading comma is a null value
  EXPECT_EQ(a, 7);
  EXPECT_EQ(b, 5);
  EXPECT_EQ(c, 6);
  read3(a, b, c);  // a comma before a line end is only a separator
  EXPECT_EQ(a, 4);
  EXPECT_EQ(b, 5);
  EXPECT_EQ(c, 9);
}

TEST_F(ListRead, RepeatCountsGiveCopiesOrNulls) {
  input("3*2.5\n2* 9\n1*4 2*\n");
  double x = 0, y = 0, z = 0;
  {
    ListInput read(channels, in_unit);
    read.get(x);
    read.get(y);
    read.get(z);
  }
  EXPECT_EQ(x, 2.5);
  EXPECT_EQ(z, 2.5);
  {
    ListInput read(channels, in_unit);
    read.get(x);
    read.get(y);
    read.get(z);
  }
  EXPECT_EQ(x, 2.5);
  EXPECT_EQ(y, 2.5);
  EXPECT_EQ(z, 9.0);
  std::int32_t a = 0, b = -1, c = -1;
  read3(a, b, c);
  EXPECT_EQ(a, 4);
  EXPECT_EQ(b, -1);
  EXPECT_EQ(c, -1);
}

TEST_F(ListRead, SeparatorsAreBlanksTabsLineEndsOrOneComma) {
  input("1 , 2\t3,4\r\n\n  5,\n6\n7\n , 8\n");
  std::int32_t v[8] = {};
  {
    ListInput read(channels, in_unit);
    for (auto& item : v) EXPECT_TRUE(read.get(item));
  }
  for (int i = 0; i < 8; ++i) EXPECT_EQ(v[i], i + 1);
}

TEST_F(ListRead, EachReadStartsOnTheLineAfterThePreviousRead) {
  input("1 2 3\n4\n5 6\n");
  std::int32_t a = 0, b = 0;
  {
    ListInput read(channels, in_unit);
    read.get(a);
    read.get(b);
  }
  {
    ListInput read(channels, in_unit);
    read.get(a);
  }
  EXPECT_EQ(a, 4);
  {
    ListInput skip_a_line(channels, in_unit);
  }
  ListInput read(channels, in_unit, EndOfFile::report);
  EXPECT_FALSE(read.get(a));
}

TEST_F(ListRead, IntegersTakeSignAndDigitsWithin32Bits) {
  input("+12 -0 2147483647 -2147483648\n");
  std::int32_t a = 0, b = 1, c = 0, d = 0;
  ListInput read(channels, in_unit);
  read.get(a);
  read.get(b);
  read.get(c);
  read.get(d);
  EXPECT_EQ(a, 12);
  EXPECT_EQ(b, 0);
  EXPECT_EQ(c, 2147483647);
  EXPECT_EQ(d, -2147483647 - 1);
}

TEST_F(ListRead, RealsTakeEveryExponentLetterAndIntegers) {
  input("1.5d2 -.5E-1 +3 7. 2e+1 1D0 0.1 4.9406564584124654e-324 1e400\n");
  double v[9] = {};
  ListInput read(channels, in_unit);
  for (auto& item : v) read.get(item);
  EXPECT_EQ(v[0], 150.0);
  EXPECT_EQ(v[1], -0.05);
  EXPECT_EQ(v[2], 3.0);
  EXPECT_EQ(v[3], 7.0);
  EXPECT_EQ(v[4], 20.0);
  EXPECT_EQ(v[5], 1.0);
  EXPECT_EQ(v[6], 0.1);  // correctly rounded
  EXPECT_EQ(v[7], 4.9406564584124654e-324);
  EXPECT_TRUE(std::isinf(v[8]));
}

TEST_F(ListRead, TextIsQuotedOrEndsAtASeparator) {
  input("'a b, c''d' \"x\"\"y\" plain,next/ignored\nabcdefgh 'q'\n");
  std::string s1, s2, s3, s4, s5 = "kept";
  {
    ListInput read(channels, in_unit);
    read.get(s1, 10);
    read.get(s2, 4);
    read.get(s3, 6);
    read.get(s4, 4);
    read.get(s5, 4);
  }
  EXPECT_EQ(s1, "a b, c'd  ");
  EXPECT_EQ(s2, "x\"y ");
  EXPECT_EQ(s3, "plain ");
  EXPECT_EQ(s4, "next");
  EXPECT_EQ(s5, "kept");
  ListInput read(channels, in_unit);
  read.get(s1, 4);
  read.get(s2, 3);
  EXPECT_EQ(s1, "abcd");
  EXPECT_EQ(s2, "q  ");
}

TEST_F(ListRead, EndOfFileIsReportedWhenAsked) {
  input("1\n2\n");
  std::int32_t a = 0, b = 0, c = -1;
  ListInput read(channels, in_unit, EndOfFile::report);
  EXPECT_TRUE(read.get(a));
  EXPECT_TRUE(read.get(b));
  EXPECT_FALSE(read.get(c));
  EXPECT_FALSE(read.get(c));
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 2);
  EXPECT_EQ(c, -1);
}

TEST_F(ListRead, UnexpectedEndOfFileEndsTheRun) {
  const auto end = failure_reading<std::int32_t>("\n  \n");
  ASSERT_TRUE(end.ended);
  EXPECT_EQ(end.status, textio::exit_input_error);
  EXPECT_FALSE(end.close_channels);
  EXPECT_EQ(end.console,
            "list in: end of file\n"
            "apparent state: unit 3 named in.txt\n"
            "lately reading sequential formatted external IO\n"
            "at the end of in.txt after line 2\n");
}

TEST_F(ListRead, ConversionFailuresNameTheLineAndTheValue) {
  const auto point = failure_reading<std::int32_t>("\n 1.5\n");
  ASSERT_TRUE(point.ended);
  EXPECT_EQ(point.status, textio::exit_input_error);
  EXPECT_EQ(point.console,
            "lread: invalid integer\n"
            "apparent state: unit 3 named in.txt\n"
            "lately reading sequential formatted external IO\n"
            "at line 2 of in.txt: '1.5'\n");
  for (const char* text : {"1e3", "2147483648", "-2147483649", "+", "12a", "'5'"}) {
    SCOPED_TRACE(text);
    const auto end = failure_reading<std::int32_t>(text);
    EXPECT_NE(end.console.find("lread: invalid integer\n"), std::string::npos);
    EXPECT_NE(end.console.find(std::string(": '") + (text[0] == '\'' ? "5" : text) + "'"), std::string::npos);
  }
  for (const char* text : {"1.5.2", "e5", "1e", "1e+", ".", "abc", "1+5", "inf", "nan", "'1'"}) {
    SCOPED_TRACE(text);
    EXPECT_NE(failure_reading<double>(text).console.find("lread: invalid number\n"), std::string::npos);
  }
}

TEST_F(ListRead, RepeatCountsMustBePositiveIntegers) {
  for (const char* text : {"0*5", "-2*5", "+2*5", "99999999999*1"}) {
    SCOPED_TRACE(text);
    const auto end = failure_reading<double>(text);
    ASSERT_TRUE(end.ended);
    EXPECT_EQ(end.console.substr(0, end.console.find('\n')), "lread: bad repetition count");
  }
}

TEST_F(ListRead, IllegalUnitEndsTheRun) {
  const auto end = run_end_of([&] { ListInput read(channels, 100); });
  ASSERT_TRUE(end.ended);
  EXPECT_EQ(end.console.substr(0, end.console.find("lately")),
            "list in: illegal unit number\napparent state: unit 100 (unnamed)\n");
}

TEST_F(ListRead, AHugeValueIsQuotedCutShort) {
  const std::string huge = "9" + std::string(999'999, 'x');
  const auto end = failure_reading<double>("\n" + huge + "\n");
  ASSERT_TRUE(end.ended);
  EXPECT_EQ(end.console,
            "lread: invalid number\n"
            "apparent state: unit 3 named in.txt\n"
            "lately reading sequential formatted external IO\n"
            "at line 2 of in.txt: '" + huge.substr(0, 40) + "...' (1000000 characters)\n");
  const std::string forty(40, '7');
  EXPECT_NE(failure_reading<std::int32_t>(forty).console.find(": '" + forty + "'\n"), std::string::npos);
}
