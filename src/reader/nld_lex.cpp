// The byte source and the token reader of NLD and PCD files.
#include <cstring>

#include <sys/stat.h>

#include "reader/reader.h"

namespace zelk {

// ---------------------------------------------------------------- source

namespace {
constexpr std::size_t kReadSize = std::size_t{1} << 20;
}

Source::Source(FILE* file) : file_(file) {}

Source::Source(const char* data, std::size_t size) : pos_(data), end_(data + size) {}

std::size_t Source::size_hint() const {
  if (file_ == nullptr) return static_cast<std::size_t>(end_ - pos_);
  struct stat st;
  if (fstat(fileno(file_), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  return static_cast<std::size_t>(st.st_size);
}

bool Source::refill() {
  if (file_ == nullptr) return false;
  // Left uninitialised: a design of many small files would otherwise pay
  // for clearing a whole buffer per file.
  if (!buffer_) buffer_.reset(new char[kReadSize]);
  std::size_t got = std::fread(buffer_.get(), 1, kReadSize, file_);
  if (got == 0) {
    // End of file, or a read error (a directory): both end the text, and
    // later reads must not touch the stream again.
    file_ = nullptr;
    return false;
  }
  pos_ = buffer_.get();
  end_ = pos_ + got;
  return true;
}

// ---------------------------------------------------------------- lexer

void Lexer::fault(const std::string& what, int line) const {
  fail("\"" + file_name_ + "\", line " + std::to_string(line) + ": " + what + "\n");
}

void Lexer::fault(const std::string& what) const { fault(what, lineno); }

void Lexer::stop(const std::string& why, int line) const {
  fail_quietly("\"" + file_name_ + "\", line " + std::to_string(line) + ": " + why);
}

void Lexer::error() const { fault("error"); }

int Lexer::lex() {
  for (;;) {
    buf[0] = '\0';
    len = 0;
    int c = in_.get();
    switch (c) {
      case ' ':
      case '\t':
        continue;
      case '\n':
        ++lineno;
        continue;
      case '(':
        return kTokOpen;
      case ')':
        return kTokClose;
      case '.':
        return kTokDot;
      case -1:
        return kTokEof;
      case ';':
        if (comment() < 0) return kTokEof;
        continue;
      default:
        in_.unget(c);
        return lex_name();
    }
  }
}

// A name runs up to a separator or a punctuation byte; the byte that ends
// it is consumed only when it is a separator.
int Lexer::lex_name() {
  std::size_t n = 0;
  for (;;) {
    // The 4096th byte has been stored: no room left for the terminator.
    if (n == sizeof buf) fault("name is too long");
    int c = in_.get();
    switch (c) {
      case -1:
      case 0:  // a NUL would silently cut the name short
        error();
      case '\n':
        ++lineno;
        [[fallthrough]];
      case ' ':
      case '\t':
        buf[n] = '\0';
        len = n;
        return kTokName;
      case '(':
      case ')':
      case '.':
      case ';':
        in_.unget(c);
        buf[n] = '\0';
        len = n;
        return kTokName;
      default:
        buf[n++] = static_cast<char>(c);
    }
  }
}

int Lexer::comment() {
  for (;;) {
    int c = in_.get();
    if (c == '\n') {
      ++lineno;
      return '\n';
    }
    if (c < 0) return -1;
  }
}

}  // namespace zelk
