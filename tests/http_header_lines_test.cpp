#include "platform/http_header_lines.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace yuragi;

namespace {

// Which lines end the wait for headers, fed one at a time.
std::vector<size_t> FinalBlanks(const std::vector<std::string>& lines) {
  HeaderBlocks blocks;
  std::vector<size_t> ends;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (blocks.Take(lines[i])) ends.push_back(i);
  }
  return ends;
}

}  // namespace

TEST(HttpHeaderLines, StatusLines) {
  EXPECT_EQ(StatusLineCode("HTTP/1.1 404 Not Found\r\n"), 404);
  EXPECT_EQ(StatusLineCode("HTTP/2 200 \r\n"), 200);
  EXPECT_EQ(StatusLineCode("HTTP/1.1 20x OK\r\n"), 0);
  EXPECT_EQ(StatusLineCode("HTTP/1.1 20"), 0);  // too short to be a status line
  EXPECT_EQ(StatusLineCode("Location: HTTP/1.1 200 OK\r\n"), 0);
  EXPECT_EQ(StatusLineCode(""), 0);
}

TEST(HttpHeaderLines, OnlyTheFinalBlockEndsTheWait) {
  EXPECT_EQ(FinalBlanks({"HTTP/1.1 100 Continue\r\n", "\r\n", "HTTP/1.1 200 OK\r\n", "A: b\r\n", "\r\n"}),
            std::vector<size_t>{4});
  // A redirect with a Location is followed; one without is the answer.
  EXPECT_EQ(FinalBlanks({"HTTP/1.1 302 Found\r\n", "location: /b\r\n", "\r\n", "HTTP/1.1 404 No\r\n", "\n"}),
            std::vector<size_t>{4});
  EXPECT_EQ(FinalBlanks({"HTTP/1.1 304 Not Modified\r\n", "\r\n"}), std::vector<size_t>{1});
  // A blank line without a status line before it ends nothing.
  EXPECT_TRUE(FinalBlanks({"\r\n", "X: y\r\n", "\r\n"}).empty());
}

TEST(HttpHeaderLines, SplitsNameAndValue) {
  const auto field = SplitHeaderLine("Content-Range: \tbytes 0-1/2 \r\n");
  ASSERT_TRUE(field);
  EXPECT_EQ(field->name, "Content-Range");
  EXPECT_EQ(field->value, "bytes 0-1/2");
  const auto empty = SplitHeaderLine("X-Empty:\r\n");
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->value, "");
  EXPECT_FALSE(SplitHeaderLine("HTTP/1.1 200 OK\r\n"));
  EXPECT_TRUE(HeaderNameIs("content-RANGE", "Content-Range"));
  EXPECT_FALSE(HeaderNameIs("Content-Ranges", "Content-Range"));
  EXPECT_FALSE(HeaderNameIs("", "Content-Range"));
}
