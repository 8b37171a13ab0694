#include "writer/output_set.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <new>
#include <system_error>

#include "netlist/netlist.h"
#include "netlist/threads.h"
#include "writer/temporaries.h"

namespace zelk {

namespace {
// The longest file name (one path component) of the usual file systems.
constexpr std::size_t kMaxFileName = 255;
// Bytes of text the caller may be ahead of the system's side: enough for
// many small files at once, little beside a design's own memory.
constexpr std::size_t kMaxQueued = std::size_t{16} << 20;
// Jobs handed to the thread at a time (a buffer's worth of bytes goes too).
constexpr std::size_t kBatchJobs = 256;
}  // namespace

OutputSet::OutputSet(std::size_t buffer_size, Failure failure, std::FILE* log)
    : buffer_size_(buffer_size ? buffer_size : 1), buffer_(buffer_size_), failure_(failure), log_(log) {
  spare_.reserve(kSpare);
}

OutputSet::~OutputSet() { discard(); }

// ---------------------------------------------------------------- the thread

void OutputSet::work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
    if (jobs_.empty()) return;  // stopping, every job done
    do_jobs(lock);
  }
}

// Does the jobs handed over, the lock held on entry and on return (not
// while the jobs are done).
void OutputSet::do_jobs(std::unique_lock<std::mutex>& lock) {
  std::vector<Job> jobs;
  jobs.swap(jobs_);
  busy_ = true;
  lock.unlock();
  std::vector<std::string> lines, opened;
  std::vector<char> spent[kSpare];  // full buffers written, to go back
  std::size_t spent_count = 0;
  std::size_t bytes = 0;
  std::string message;
  std::exception_ptr other;
  bool ok = true;
  for (Job& job : jobs) {
    bytes += job.data.size();
    if (!ok) continue;  // nothing after a failure is done
    try {
      do_job(job);
      if (job.kind == Job::kNote) lines.emplace_back(job.data.begin(), job.data.end());
      if (job.kind == Job::kData && job.data.size() == buffer_size_ && spent_count < kSpare)
        spent[spent_count++] = std::move(job.data);
    } catch (const Fault& f) {
      ok = false;
      message = f.message;
    } catch (...) {
      ok = false;
      other = std::current_exception();
    }
    if (job.kind == Job::kOpen && fd_ >= 0) {
      try {
        opened.push_back(open_.temp);
      } catch (...) {  // memory full: the file is closed, removed, and the fault told
        ::close(fd_);
        fd_ = -1;
        std::remove(open_.temp.c_str());
        if (ok) other = std::current_exception();
        ok = false;
      }
    }
  }
  lock.lock();
  busy_ = false;
  queued_bytes_ -= bytes;
  for (std::size_t i = 0; i < spent_count && spare_.size() < kSpare; ++i)
    spare_.push_back(std::move(spent[i]));  // within the room taken
  try {
    for (std::string& l : lines) printable_.push_back(std::move(l));
    opened_.reserve(opened_.size() + opened.size());
    for (std::string& t : opened) opened_.push_back(std::move(t));
  } catch (...) {
    // Memory full: what was opened is still removed (a name moved is
    // moved whole), and the fault is told.
    for (std::string& t : opened)
      if (!t.empty()) std::remove(t.c_str());
    if (ok) other = std::current_exception();
    ok = false;
  }
  if (!ok) {
    failed_ = true;
    failure_message_ = std::move(message);
    failure_exception_ = other;
    // The caller learns of it and removes what was written.
    jobs_.clear();
    queued_bytes_ = 0;
  }
  done_.notify_all();
}

void OutputSet::do_job(Job& job) {
  switch (job.kind) {
    case Job::kOpen:
      open_ = std::move(job.entry);
      ++index_;
      written_ = 0;
      // Named within its folder, opened once for the set: the system does
      // not walk the folder's path again for each of 10^5 files.
      do {
        fd_ = ::openat(open_.dir, open_.temp.c_str() + open_.base,
                       O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
      } while (fd_ < 0 && errno == EINTR);
      if (fd_ < 0) fail("Could not open " + open_.target + "\n");
      break;
    case Job::kData:
      if (!sink(job.data.data(), job.data.size())) fail_write(open_.target);
      break;
    case Job::kEnd: {
      // The set buffers itself: each write has reached the system already.
      if (injected(Failure::kFlush)) fail_write(open_.target);
      int fd = fd_;
      fd_ = -1;
      if (::close(fd) != 0 || injected(Failure::kClose)) fail_write(open_.target);
      break;
    }
    case Job::kNote:
      break;
  }
}

bool OutputSet::sink(const char* data, std::size_t size) {
  bool failing = injected(Failure::kWrite) && written_ + size > failure_.after;
  if (failing) size = failure_.after > written_ ? failure_.after - written_ : 0;
  while (size > 0) {
    ssize_t done = ::write(fd_, data, size);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    written_ += static_cast<std::size_t>(done);
    data += done;
    size -= static_cast<std::size_t>(done);
  }
  return !failing;
}

void OutputSet::fail_write(const std::string& target) { fail("Could not write " + target + "\n"); }

// ---------------------------------------------------------------- the caller

void OutputSet::push(Job job) {
  batch_bytes_ += job.data.size();
  batch_.push_back(std::move(job));
  if (batch_.size() >= kBatchJobs || batch_bytes_ >= buffer_size_) hand_over();
}

// Hands the gathered jobs to the thread, prints the noted lines that are
// due and throws a failure met.
void OutputSet::hand_over() {
  std::unique_lock lock(mutex_);
  if (!batch_.empty()) {
    if (!thread_.joinable() && !alone_) start_thread();
    // A large file waits for the system rather than filling the memory.
    done_.wait(lock, [&] { return failed_ || queued_bytes_ == 0 || queued_bytes_ + batch_bytes_ <= kMaxQueued; });
    if (!failed_) {
      queued_bytes_ += batch_bytes_;
      for (Job& j : batch_) jobs_.push_back(std::move(j));
      if (alone_) do_jobs(lock);
      else wake_.notify_one();
    }
    batch_.clear();
    batch_bytes_ = 0;
  }
  std::vector<std::string> lines;
  lines.swap(printable_);
  bool failed = failed_;
  lock.unlock();
  if (log_)
    for (const std::string& l : lines) std::fputs(l.c_str(), log_);
  if (failed) rethrow_failure();
}

void OutputSet::start_thread() {
  try {
    if (failure_.no_thread)
      throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    thread_ = zelk::start_thread([this] { work(); });
  } catch (const std::system_error&) {
    alone_ = true;  // the limit of threads is reached: the files are still written
  }
}

void OutputSet::note(std::string line) {
  Job job{Job::kNote, {}, {}};
  job.data.assign(line.begin(), line.end());
  push(std::move(job));
}

void OutputSet::settle() {
  hand_over();
  {
    std::unique_lock lock(mutex_);
    done_.wait(lock, [&] { return failed_ || (jobs_.empty() && !busy_); });
  }
  hand_over();  // prints the last lines, throws a failure
}

void OutputSet::rethrow_failure() {
  std::unique_lock lock(mutex_);
  if (!failed_) return;
  std::string message = failure_message_;
  std::exception_ptr other = failure_exception_;
  lock.unlock();
  discard();
  if (other) std::rethrow_exception(other);
  fail(std::move(message));
}

void OutputSet::stop() {
  {
    std::lock_guard lock(mutex_);
    // Jobs not taken yet are dropped: the set is given up.
    stopping_ = true;
    jobs_.clear();
    queued_bytes_ = 0;
    wake_.notify_one();
    batch_.clear();
    batch_bytes_ = 0;
  }
  if (thread_.joinable()) thread_.join();
  stopping_ = false;
}

void OutputSet::discard() {
  // The jobs given are done (or dropped after a failure) before anything is
  // removed: the thread may be writing a temporary.
  stop();
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  for (const std::string& temp : opened_) std::remove(temp.c_str());
  opened_.clear();
  pending_.clear();
  superseded_.clear();
  targets_.clear();
  close_folders();
  unlist_temporaries();
}

void OutputSet::unlist_temporaries() {
  for (int place : listed_) unlist_temporary(place);
  listed_.clear();
}

// The folder of a target, met for the first time: opened, and its
// directories listed.  A run writes up to a file per module copy into one
// folder: the system is asked once, not about every target.  A folder that
// cannot be opened or listed is left to the system for each target, as the
// open will tell anyway.
OutputSet::Folder& OutputSet::folder(const std::string& name) {
  auto [it, fresh] = folders_.try_emplace(name);
  Folder& f = it->second;
  if (!fresh) return f;
  f.fd = ::open(name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (f.fd < 0) return f;
  // Listed through a second descriptor of the same opening: the folder
  // listed is the one the temporaries go to, even if its path is replaced
  // meanwhile.  The listing owns and closes its descriptor.
  const int listing = ::fcntl(f.fd, F_DUPFD_CLOEXEC, 0);
  DIR* dir = listing >= 0 ? ::fdopendir(listing) : nullptr;
  if (!dir) {
    if (listing >= 0) ::close(listing);
    ::close(f.fd);
    f.fd = -1;
    return f;
  }
  while (const dirent* e = ::readdir(dir)) {
    bool dir_entry = e->d_type == DT_DIR;
    if (e->d_type == DT_LNK || e->d_type == DT_UNKNOWN) {
      struct stat st {};
      dir_entry = ::fstatat(::dirfd(dir), e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
    }
    if (dir_entry) f.subdirs.insert(e->d_name);
  }
  ::closedir(dir);
  return f;
}

void OutputSet::close_folders() {
  for (auto& [name, f] : folders_)
    if (f.fd >= 0) ::close(f.fd);
  folders_.clear();
}

void OutputSet::begin(const std::string& target) {
  auto cannot_open = [&] {
    settle();  // a failure of an earlier file comes first
    fail("Could not open " + target + "\n");
  };
  std::size_t slash = target.rfind('/');
  std::size_t base = slash == std::string::npos ? 0 : slash + 1;
  const Folder& f = folder(slash == std::string::npos ? "." : target.substr(0, slash ? slash : 1));
  // Opening a directory for writing fails; the rename would too, but only
  // after the whole run had been written.
  std::error_code ec;
  if (f.fd >= 0 ? f.subdirs.count(target.substr(base)) != 0 : std::filesystem::is_directory(target, ec))
    cannot_open();
  // A name too long for the file system cannot be opened, as before.
  if (target.size() - base > kMaxFileName) cannot_open();
  Entry entry{target, target + kSuffix, f.fd >= 0 ? f.fd : AT_FDCWD, f.fd >= 0 ? base : 0};
  // A file name near the system's limit leaves no room for the suffix; its
  // temporary gets a short name of its own, with the same ending.
  if (target.size() - base + std::strlen(kSuffix) > kMaxFileName)
    entry.temp = target.substr(0, base) + ".zelk-" + std::to_string(begun_) + kSuffix;
  ++begun_;
  // Listed before it is made: a signal that ends the run removes it.
  if (listed_.size() == listed_.capacity()) listed_.reserve(2 * listed_.size() + 16);
  listed_.push_back(list_temporary(entry.temp));
  current_ = entry;
  used_ = 0;
  push(Job{Job::kOpen, std::move(entry), {}});
}

void OutputSet::drain() {
  if (used_ == 0) return;
  Job job{Job::kData, {}, {}};
  if (used_ == buffer_size_) {
    // A full buffer goes whole, and one the thread has written takes its
    // place: the text is not copied again.
    std::vector<char> next = spare_buffer();
    job.data.swap(buffer_);
    buffer_.swap(next);
  } else {
    job.data.assign(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(used_));
  }
  used_ = 0;
  push(std::move(job));
}

std::vector<char> OutputSet::spare_buffer() {
  {
    std::lock_guard lock(mutex_);
    if (!spare_.empty()) {
      std::vector<char> b = std::move(spare_.back());
      spare_.pop_back();
      return b;
    }
  }
  return std::vector<char>(buffer_size_);
}

void OutputSet::write(std::vector<char>&& bytes) {
  if (bytes.empty()) return;
  drain();
  push(Job{Job::kData, {}, std::move(bytes)});
}

void OutputSet::write(const char* data, std::size_t size) {
  // A large text goes a buffer at a time, so that no more of it waits for
  // the system than the set keeps in hand.
  while (size > 0) {
    if (used_ == buffer_size_) drain();
    std::size_t n = std::min(size, buffer_size_ - used_);
    std::memcpy(buffer_.data() + used_, data, n);
    used_ += n;
    data += n;
    size -= n;
  }
}

void OutputSet::put(const char* text) {
  if (text) write(text, std::strlen(text));
}

// By hand: a gate line of ten million carries its fan-in, and the
// formatted print costs more than the rest of the line.
void OutputSet::put_int(int value) {
  char digits[16];
  char* at = digits + sizeof digits;
  // Through unsigned, so that the most negative value has its digits too.
  unsigned magnitude = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
  do {
    *--at = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) *--at = '-';
  write(at, static_cast<std::size_t>(digits + sizeof digits - at));
}

void OutputSet::copy_from(FILE* source) {
  for (;;) {
    if (used_ == buffer_size_) drain();
    std::size_t got = std::fread(buffer_.data() + used_, 1, buffer_size_ - used_, source);
    if (got == 0) break;
    used_ += got;
  }
}

void OutputSet::end() {
  drain();
  push(Job{Job::kEnd, {}, {}});
  // A target written twice in one run keeps its last text, as a file
  // overwritten in place would.
  if (!targets_.insert(current_.target).second) {
    for (auto it = pending_.begin(); it != pending_.end(); ++it) {
      if (it->target == current_.target) {
        // A temporary of a short name of its own is not overwritten by the
        // later one: it goes once every file is in place.
        if (it->temp != current_.temp) superseded_.push_back(it->temp);
        pending_.erase(it);
        break;
      }
    }
  }
  pending_.push_back(std::move(current_));
}

// A rename that replaces a file may reach the disk before the data of the
// file put in its place: a power loss would then leave an empty file where
// the old one was (the design read, when the run writes over it).  So
// before the first rename that replaces a file, every temporary's data is
// sent to the disk, one sync of each file system written to; renames of
// new files cost nothing more.
bool OutputSet::put_in_place(const Entry& e, std::vector<int>& synced) {
  const char* from = e.temp.c_str() + e.base;
  const char* to = e.target.c_str() + e.base;
  if (std::find(synced.begin(), synced.end(), e.dir) == synced.end()) {
    if (::renameat2(e.dir, from, e.dir, to, RENAME_NOREPLACE) == 0) return true;
    // A file to replace, or a file system that cannot say.
    const int fd = ::openat(e.dir, from, O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
      ::syncfs(fd);
      ::close(fd);
    }
    synced.push_back(e.dir);
  }
  return ::renameat(e.dir, from, e.dir, to) == 0;
}

void OutputSet::commit() {
  settle();
  // A signal that ends the run waits for the renames: the targets are
  // replaced all or none.
  EndingSignalsHeld held;
  std::vector<int> synced;  // folders whose file system was synced
  for (std::size_t i = 0; i < pending_.size(); ++i) {
    const Entry& e = pending_[i];
    bool injected_here = failure_.step == Failure::kRename && failure_.file == static_cast<int>(i);
    if (injected_here || !put_in_place(e, synced)) {
      std::string target = e.target;
      // The ones renamed are in place; the rest are removed.
      opened_ = superseded_;
      for (std::size_t k = i; k < pending_.size(); ++k) opened_.push_back(pending_[k].temp);
      discard();
      fail_write(target);
    }
  }
  for (const std::string& temp : superseded_) std::remove(temp.c_str());
  superseded_.clear();
  pending_.clear();
  opened_.clear();
  targets_.clear();
  close_folders();
  unlist_temporaries();
}

}  // namespace zelk
