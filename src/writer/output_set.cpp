#include "writer/output_set.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <system_error>

#include "netlist/netlist.h"

namespace zelk {

namespace {
// The longest file name (one path component) of the usual file systems.
constexpr std::size_t kMaxFileName = 255;
}  // namespace

OutputSet::OutputSet(std::size_t buffer_size, Failure failure)
    : buffer_(buffer_size ? buffer_size : 1), failure_(failure) {}

OutputSet::~OutputSet() { discard(); }

void OutputSet::discard() {
  if (file_) {
    std::fclose(file_);
    file_ = nullptr;
    std::remove(current_.temp.c_str());
  }
  for (const Entry& e : pending_) std::remove(e.temp.c_str());
  pending_.clear();
  targets_.clear();
}

void OutputSet::fail_write(const std::string& target) {
  std::string message = "Could not write " + target + "\n";
  discard();
  fail(std::move(message));
}

// Whether the target is a directory (or a link to one).  A run writes up
// to a file per module copy into one folder: the folder is listed once, at
// its first target, instead of asking the system about every target.
bool OutputSet::is_directory(const std::string& target) {
  std::size_t slash = target.rfind('/');
  std::string folder = slash == std::string::npos ? "." : target.substr(0, slash ? slash : 1);
  auto [it, fresh] = subdirs_.try_emplace(folder);
  if (fresh) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) {
      // Not listable: asked for each target, as the open will tell anyway.
      subdirs_.erase(it);
      std::error_code ec;
      return std::filesystem::is_directory(target, ec);
    }
    while (const dirent* e = ::readdir(dir)) {
      bool dir_entry = e->d_type == DT_DIR;
      if (e->d_type == DT_LNK || e->d_type == DT_UNKNOWN) {
        struct stat st {};
        dir_entry = ::fstatat(::dirfd(dir), e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
      }
      if (dir_entry) it->second.insert(e->d_name);
    }
    ::closedir(dir);
  }
  return it->second.count(slash == std::string::npos ? target : target.substr(slash + 1)) != 0;
}

void OutputSet::begin(const std::string& target) {
  // Opening a directory for writing fails; the rename would too, but only
  // after the whole run had been written.
  if (is_directory(target)) fail("Could not open " + target + "\n");
  current_ = Entry{target, target + kSuffix};
  // A file name near the system's limit leaves no room for the suffix; its
  // temporary gets a short name of its own, with the same ending.
  std::size_t slash = target.rfind('/');
  std::size_t base = slash == std::string::npos ? 0 : slash + 1;
  // A name too long for the file system cannot be opened, as before.
  if (target.size() - base > kMaxFileName) fail("Could not open " + target + "\n");
  if (target.size() - base + std::strlen(kSuffix) > kMaxFileName)
    current_.temp = target.substr(0, base) + ".zelk-" + std::to_string(index_ + 1) + kSuffix;
  file_ = std::fopen(current_.temp.c_str(), "w");
  if (!file_) fail("Could not open " + target + "\n");
  // The set buffers itself, so that each write reaches the system at once
  // and its result is known.
  std::setvbuf(file_, nullptr, _IONBF, 0);
  ++index_;
  used_ = 0;
  written_ = 0;
}

bool OutputSet::sink(const char* data, std::size_t size) {
  if (injected(Failure::kWrite) && written_ + size > failure_.after) {
    std::size_t part = failure_.after > written_ ? failure_.after - written_ : 0;
    written_ += std::fwrite(data, 1, part, file_);
    return false;
  }
  std::size_t done = std::fwrite(data, 1, size, file_);
  written_ += done;
  return done == size;
}

void OutputSet::drain() {
  if (used_ > 0 && !sink(buffer_.data(), used_)) fail_write(current_.target);
  used_ = 0;
}

void OutputSet::write(const char* data, std::size_t size) {
  if (size >= buffer_.size()) {
    drain();
    if (!sink(data, size)) fail_write(current_.target);
    return;
  }
  if (size > buffer_.size() - used_) drain();
  std::memcpy(buffer_.data() + used_, data, size);
  used_ += size;
}

void OutputSet::put(const char* text) {
  if (text) write(text, std::strlen(text));
}

void OutputSet::put_int(int value) {
  char digits[16];
  int n = std::snprintf(digits, sizeof digits, "%d", value);
  write(digits, static_cast<std::size_t>(n));
}

void OutputSet::copy_from(FILE* source) {
  for (;;) {
    if (used_ == buffer_.size()) drain();
    std::size_t got = std::fread(buffer_.data() + used_, 1, buffer_.size() - used_, source);
    if (got == 0) break;
    used_ += got;
  }
}

void OutputSet::end() {
  drain();
  if (std::fflush(file_) != 0 || injected(Failure::kFlush)) fail_write(current_.target);
  FILE* f = file_;
  file_ = nullptr;
  if (std::fclose(f) != 0 || injected(Failure::kClose)) {
    std::remove(current_.temp.c_str());
    fail_write(current_.target);
  }
  // A target written twice in one run keeps its last text, as a file
  // overwritten in place would.
  if (!targets_.insert(current_.target).second) {
    for (auto it = pending_.begin(); it != pending_.end(); ++it) {
      if (it->target == current_.target) {
        pending_.erase(it);
        break;
      }
    }
  }
  pending_.push_back(std::move(current_));
}

void OutputSet::commit() {
  for (std::size_t i = 0; i < pending_.size(); ++i) {
    const Entry& e = pending_[i];
    bool injected_here = failure_.step == Failure::kRename && failure_.file == static_cast<int>(i);
    if (injected_here || std::rename(e.temp.c_str(), e.target.c_str()) != 0) {
      std::string target = e.target;
      pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(i));
      fail_write(target);
    }
  }
  pending_.clear();
  targets_.clear();
  subdirs_.clear();
}

}  // namespace zelk
