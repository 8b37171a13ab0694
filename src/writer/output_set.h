// The output files of one run, written whole or not at all.
//
// Each file is written to a temporary beside its target (the target path
// followed by ".zelk-tmp"), and every write, the flush and the close are
// checked.  Only when every file of the run is complete are the temporaries
// renamed onto their targets, in the order they were written.  A failure
// removes every temporary not yet renamed, and so does destroying the set
// before it is committed (a fault thrown later in the run): the write
// directory keeps its files as they were, the user's input included when the
// write directory is also a read directory.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace zelk {

// A failure injected for tests: file number `file` of the set (0 for the
// first opened) fails at `step`.  A failing write first accepts `after`
// bytes of that file.
struct WriteFailure {
  enum Step { kNone, kWrite, kFlush, kClose, kRename };
  Step step = kNone;
  int file = 0;
  std::size_t after = 0;
};

class OutputSet {
 public:
  using Failure = WriteFailure;

  // `buffer_size`: bytes gathered before each write to the file.
  explicit OutputSet(std::size_t buffer_size = std::size_t{1} << 20, Failure failure = {});
  ~OutputSet();
  OutputSet(const OutputSet&) = delete;
  OutputSet& operator=(const OutputSet&) = delete;

  // Starts the file for `target`: opens its temporary, truncating a left-over
  // one.  Throws "Could not open <target>\n" when the temporary cannot be
  // opened or the target is a directory.  The previous file must be ended.
  void begin(const std::string& target);
  void write(const char* data, std::size_t size);
  void put(const char* text);  // null writes nothing
  void put(char c) {
    if (used_ == buffer_.size()) drain();
    buffer_[used_++] = c;
  }
  void put_int(int value);
  // Writes every byte `source` still holds.  A source that cannot be read on
  // (a directory) ends like an empty one.
  void copy_from(FILE* source);
  // Completes the current file: the last write, the flush and the close.
  // Throws "Could not write <target>\n" (and removes every temporary) on
  // failure.
  void end();

  // Renames every temporary onto its target, in the order written.  Throws
  // "Could not write <target>\n" when one fails; the temporaries not yet
  // renamed are removed.
  void commit();

  // Temporaries written and not yet renamed (tests).
  std::size_t pending() const { return pending_.size(); }

  static constexpr const char* kSuffix = ".zelk-tmp";

 private:
  struct Entry {
    std::string target;
    std::string temp;
  };
  void drain();
  bool is_directory(const std::string& target);
  bool sink(const char* data, std::size_t size);
  [[noreturn]] void fail_write(const std::string& target);
  void discard();
  bool injected(Failure::Step step) const {
    return failure_.step == step && failure_.file == index_;
  }

  std::vector<char> buffer_;
  std::size_t used_ = 0;
  Failure failure_;
  std::vector<Entry> pending_;  // complete temporaries, in the order written
  std::unordered_set<std::string> targets_;  // their targets
  // Per folder of a target, the names of the directories it held when the
  // set first wrote there (see is_directory).
  std::unordered_map<std::string, std::unordered_set<std::string>> subdirs_;
  FILE* file_ = nullptr;        // the file being written
  Entry current_;
  int index_ = -1;              // number of the current file in the set
  std::size_t written_ = 0;     // bytes of the current file handed to the system
  bool failed_ = false;         // a write of the current file failed
};

}  // namespace zelk
