#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "reader/reader.h"
#include "support/fixture.h"

namespace zelk {
namespace {

// Every token of a text, names as their text and punctuation as itself;
// the last entry is the line count at the end.
std::vector<std::string> tokens(const std::string& text) {
  Design d;
  const std::string file_name = "t.nld";
  Source in(text.data(), text.size());
  Lexer lx(file_name, in);
  std::vector<std::string> out;
  for (;;) {
    int t = lx.lex();
    if (t == kTokEof) break;
    if (t == kTokName) {
      EXPECT_EQ(lx.len, std::string(lx.buf).size());
      out.push_back("<" + std::string(lx.buf, lx.len) + ">");
    } else {
      EXPECT_EQ(lx.buf[0], '\0');
      out.push_back(std::string(1, static_cast<char>(t)));
    }
  }
  out.push_back("lines " + std::to_string(lx.lineno));
  return out;
}

std::string lex_fault(const std::string& text) {
  try {
    tokens(text);
  } catch (const Fault& f) {
    return f.message;
  }
  return "no fault";
}

using V = std::vector<std::string>;

TEST(ReaderLexer, TokensSeparatorsAndComments) {
  EXPECT_EQ(tokens("abc;rest ( of\nx\t(y)\n"), (V{"<abc>", "<x>", "(", "<y>", ")", "lines 3"}));
  EXPECT_EQ(tokens("a(b c.d)\n"), (V{"<a>", "(", "<b>", "<c>", ".", "<d>", ")", "lines 2"}));
  // A comment at the very end, without newline, ends the text.
  EXPECT_EQ(tokens("(;x"), (V{"(", "lines 1"}));
  // Carriage return is a name character; 8-bit bytes too.
  EXPECT_EQ(tokens(")\r\n\xe9t\xff "), (V{")", "<\r>", "<\xe9t\xff>", "lines 2"}));
  // A name ended by a newline counts it.
  EXPECT_EQ(tokens("a\nb\n\n"), (V{"<a>", "<b>", "lines 4"}));
  EXPECT_EQ(tokens(""), (V{"lines 1"}));
}

TEST(ReaderLexer, NameLimitsAndBadBytes) {
  std::string max(4095, 'n');
  EXPECT_EQ(tokens(max + " "), (V{"<" + max + ">", "lines 1"}));
  EXPECT_EQ(tokens(max + ")"), (V{"<" + max + ">", ")", "lines 1"}));
  EXPECT_EQ(lex_fault("\n\n" + max + "n "), "\"t.nld\", line 3: name is too long\n");
  EXPECT_EQ(lex_fault(std::string(10000, 'n')), "\"t.nld\", line 1: name is too long\n");
  // The text must not end inside a name.
  EXPECT_EQ(lex_fault("a\nabc"), "\"t.nld\", line 2: error\n");
  // A NUL byte inside (or starting) a name.
  EXPECT_EQ(lex_fault(std::string("\nab\0c ", 6)), "\"t.nld\", line 2: error\n");
  EXPECT_EQ(lex_fault(std::string("( \0", 3)), "\"t.nld\", line 1: error\n");
  // ... but a NUL inside a comment is just skipped.
  EXPECT_EQ(tokens(std::string(";\0\n)", 4)), (V{")", "lines 2"}));
}

TEST(ReaderSource, FileReadsAcrossBuffers) {
  test::TempDir dir;
  std::string text;
  for (int i = 0; text.size() < (std::size_t{3} << 20) + 17; ++i)
    text += "(def-comp inv- i" + std::to_string(i) + ")\n";
  test::write_file(dir / "big.nld", text);
  FILE* f = std::fopen((dir / "big.nld").c_str(), "rb");
  ASSERT_NE(f, nullptr);
  Source in(f);
  std::string back;
  for (int c; (c = in.get()) >= 0;) back.push_back(static_cast<char>(c));
  EXPECT_EQ(back, text);
  EXPECT_EQ(in.get(), -1);
  in.unget('x');
  EXPECT_EQ(in.get(), 'x');
  EXPECT_EQ(in.get(), -1);
  std::fclose(f);
}

}  // namespace
}  // namespace zelk
