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
//
// The system's side of the temporaries (open, write, close) runs on a thread
// of the set's own, while the caller makes the next file's text: a run of
// 10^5 module copies spends as long in those calls as in the text.  When
// the system gives no thread, the caller makes those calls itself.  What the
// caller sees is as if each call were made in turn: a failure is reported
// with the same message, at the latest by the next call that could fail
// (begin, end, commit or settle), and before any fault of the caller's that
// came later; lines given to `note` are printed only once every file begun
// before them is complete, so no line announces a file that failed.
//
// Each temporary is listed for the handler of the signals that end a run
// (writer/temporaries.h) until it is renamed or removed, and such a signal
// waits while the temporaries are renamed.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace zelk {

// A failure injected for tests: file number `file` of the set (0 for the
// first opened) fails at `step`.  A failing write first accepts `after`
// bytes of that file.  `no_thread`: the set cannot start its thread.
struct WriteFailure {
  enum Step { kNone, kWrite, kFlush, kClose, kRename };
  Step step = kNone;
  int file = 0;
  std::size_t after = 0;
  bool no_thread = false;
};

class OutputSet {
 public:
  using Failure = WriteFailure;

  // `buffer_size`: bytes gathered before each write to the file.  `log`:
  // where noted lines go.
  explicit OutputSet(std::size_t buffer_size = std::size_t{1} << 20, Failure failure = {},
                     std::FILE* log = nullptr);
  ~OutputSet();
  OutputSet(const OutputSet&) = delete;
  OutputSet& operator=(const OutputSet&) = delete;

  // Starts the file for `target`: its temporary is opened, a left-over one
  // truncated.  Throws "Could not open <target>\n" when the target is a
  // directory or its name too long for the file system; a temporary that
  // cannot be opened is told so too, by a later call.  The previous file
  // must be ended.
  void begin(const std::string& target);
  void write(const char* data, std::size_t size);
  // Writes all of `bytes`, taken over whole rather than copied.
  void write(std::vector<char>&& bytes);
  void put(const char* text);  // null writes nothing
  void put(char c) {
    if (used_ == buffer_size_) drain();
    buffer_[used_++] = c;
  }
  void put_int(int value);
  // Writes every byte `source` still holds.  A source that cannot be read on
  // (a directory) ends like an empty one.
  void copy_from(FILE* source);
  // Ends the current file: its last write, the flush and the close follow.
  // A failure is told as "Could not write <target>\n" (and every temporary
  // removed), by this call or a later one.
  void end();
  // Prints `line` to the log (held in its buffer, not flushed) once every
  // file begun so far is complete.
  void note(std::string line);

  // Waits until every file begun is complete and every line noted printed;
  // throws the first failure.  Called before a fault of the caller's leaves
  // the pass, it puts the set's own failure first, as the calls in turn
  // would have.
  void settle();
  // Runs `pass`, which writes into the set: a fault it throws comes after
  // a failure of the files it wrote before.
  template <class Pass>
  void run(Pass&& pass) {
    try {
      pass();
    } catch (...) {
      settle();
      throw;
    }
  }

  // Settles, then renames every temporary onto its target, in the order
  // written.  Throws "Could not write <target>\n" when one fails; the
  // temporaries not yet renamed are removed.
  void commit();

  // Temporaries written and not yet renamed (tests).
  std::size_t pending() const { return pending_.size(); }

  static constexpr const char* kSuffix = ".zelk-tmp";

 private:
  struct Entry {
    std::string target;
    std::string temp;
    int dir = -1;          // the folder, opened (AT_FDCWD: the paths go whole)
    std::size_t base = 0;  // where the names within that folder start
  };
  struct Folder {
    int fd = -1;  // -1: not to be opened; the paths go whole
    std::unordered_set<std::string> subdirs;  // directories it held at first
  };
  // One step for the thread: a file to open, bytes to write, the end of
  // the file, or a line to print (which the caller prints when it is done).
  struct Job {
    enum Kind { kOpen, kData, kEnd, kNote } kind;
    Entry entry;             // kOpen: the file
    std::vector<char> data;  // kData: the bytes; kNote: the line
  };
  void drain();
  std::vector<char> spare_buffer();
  void push(Job job);
  void hand_over();
  void start_thread();
  void work();
  void do_jobs(std::unique_lock<std::mutex>& lock);
  void do_job(Job& job);
  Folder& folder(const std::string& name);
  void close_folders();
  bool sink(const char* data, std::size_t size);
  [[noreturn]] void fail_write(const std::string& target);
  void rethrow_failure();
  void stop();
  void discard();
  void unlist_temporaries();
  // Renames e's temporary onto its target; false when that fails.
  bool put_in_place(const Entry& e, std::vector<int>& synced);
  bool injected(Failure::Step step) const {
    return failure_.step == step && failure_.file == index_;
  }

  // The caller's side.
  const std::size_t buffer_size_;
  std::vector<char> buffer_;  // buffer_size_ bytes, used_ of them filled
  std::size_t used_ = 0;
  Failure failure_;
  std::FILE* log_;
  std::vector<Entry> pending_;  // files ended, in the order written
  std::unordered_set<std::string> targets_;  // their targets
  std::vector<std::string> superseded_;  // temporaries of files written again
  // The folders of the targets, opened when the set first wrote there.
  std::unordered_map<std::string, Folder> folders_;
  Entry current_;  // the file begun and not ended
  // Jobs gathered for the thread, handed over together: one wake of the
  // thread per file would cost as much as the file's own calls.
  std::vector<Job> batch_;
  std::size_t batch_bytes_ = 0;
  int begun_ = 0;        // files begun
  std::vector<int> listed_;  // places of the temporaries in the process's list

  // Shared with the thread, under mutex_.
  std::mutex mutex_;
  std::condition_variable wake_;  // a job, or the end, for the thread
  std::condition_variable done_;  // the thread took jobs or failed
  std::vector<Job> jobs_;
  std::size_t queued_bytes_ = 0;  // of jobs handed over and not yet done
  bool busy_ = false;  // the thread is doing jobs it took
  std::vector<std::string> printable_;  // noted lines, due
  bool stopping_ = false;
  std::string failure_message_;  // the first failure's, when failed_
  std::exception_ptr failure_exception_;  // or what the thread met instead
  bool failed_ = false;
  std::thread thread_;
  bool alone_ = false;  // no thread to be had: the caller does the jobs
  std::vector<std::string> opened_;  // temporaries the thread opened
  // Full buffers the thread has written, for the caller to fill again (at
  // most kSpare, room for them taken at the start).
  std::vector<std::vector<char>> spare_;
  static constexpr std::size_t kSpare = 4;

  // The thread's side.
  int fd_ = -1;           // the file being written
  Entry open_;            // and its names
  int index_ = -1;        // number of that file in the set
  std::size_t written_ = 0;  // bytes of it handed to the system
};

}  // namespace zelk
