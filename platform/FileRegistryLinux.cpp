// The file store's file system on Linux.
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include "platform/FileRegistryIo.h"

namespace platform::file_store {

namespace {

std::string Directory(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string SystemText(int error) {
  return std::strerror(error);
}

class FdCloser {
 public:
  explicit FdCloser(int fd) : fd_(fd) {}
  ~FdCloser() {
    if (fd_ >= 0) close(fd_);
  }
  FdCloser(const FdCloser&) = delete;
  FdCloser& operator=(const FdCloser&) = delete;
  int Get() const { return fd_; }
  int Release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

class FlockLock final : public Lock {
 public:
  explicit FlockLock(int fd) : fd_(fd) {}
  ~FlockLock() override { close(fd_); }  // releases the lock

 private:
  int fd_;
};

bool MakeDirs(const std::string& dir) {
  for (std::size_t pos = 1; pos <= dir.size(); ++pos) {
    if (pos != dir.size() && dir[pos] != '/') continue;
    if (mkdir(dir.substr(0, pos).c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return true;
}

}  // namespace

std::string ResolveLinks(const std::string& path, std::string& why) {
  std::string current = path;
  for (int hop = 0; hop < 40; ++hop) {
    struct stat st {};
    if (lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    std::vector<char> target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1);
    const ssize_t n = readlink(current.c_str(), target.data(), target.size());
    if (n < 0 || static_cast<std::size_t>(n) >= target.size()) return current;
    std::string next(target.data(), static_cast<std::size_t>(n));
    current = next.starts_with('/') ? next : Directory(current) + "/" + next;
  }
  why = path + ": zu viele symbolische Verknüpfungen hintereinander";
  return {};
}

bool CheckFolder(const std::string& dir, bool create, bool& missing, std::string& why) {
  missing = false;
  struct stat st {};
  if (stat(dir.c_str(), &st) != 0) {
    if (errno != ENOENT) {
      why = dir + ": " + SystemText(errno);
      return false;
    }
    if (!create) {
      missing = true;
      return true;
    }
    if (!MakeDirs(dir) || stat(dir.c_str(), &st) != 0) {
      why = "Ordner " + dir + " kann nicht angelegt werden: " + SystemText(errno);
      return false;
    }
  }
  if (!S_ISDIR(st.st_mode)) {
    why = dir + " ist kein Ordner";
    return false;
  }
  if (st.st_uid != getuid()) {
    why = "Ordner " + dir + " gehört einem anderen Benutzer; die Einstellungen bleiben dort nicht";
    return false;
  }
  if (st.st_mode & S_IWOTH) {
    why = "in den Ordner " + dir + " dürfen alle schreiben; die Einstellungen bleiben dort nicht";
    return false;
  }
  return true;
}

ReadResult ReadStore(const std::string& path, std::size_t limit, std::string& text,
                     std::string& why) {
  text.clear();
  // Looked at before it is opened: opening a device or a FIFO can itself wait or act.
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return ReadResult::Missing;
    why = path + ": " + SystemText(errno);
    return ReadResult::Failed;
  }
  auto not_regular = [&] {
    why = path + " ist keine gewöhnliche Datei und wird nicht gelesen";
    return ReadResult::Failed;
  };
  auto too_large = [&] {
    why = path + " ist größer als " + std::to_string(limit / 1024) + " KiB und wird nicht gelesen";
    return ReadResult::Failed;
  };
  if (!S_ISREG(st.st_mode)) return not_regular();
  if (static_cast<std::size_t>(st.st_size) > limit) return too_large();
  // O_NONBLOCK: should a FIFO have taken the file's place since, the opening does not wait.
  FdCloser fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (fd.Get() < 0) {
    if (errno == ENOENT) return ReadResult::Missing;
    why = path + ": " + SystemText(errno);
    return ReadResult::Failed;
  }
  if (fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return not_regular();
  text.resize(limit + 1);
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = read(fd.Get(), text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      why = path + ": " + SystemText(errno);
      text.clear();
      return ReadResult::Failed;
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  if (done > limit) {
    text.clear();
    return too_large();
  }
  text.resize(done);
  return ReadResult::Ok;
}

std::unique_ptr<Lock> LockStore(const std::string& path, std::chrono::milliseconds wait,
                                std::string& why) {
  const std::string name = path + ".lock";
  FdCloser fd(open(name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600));
  if (fd.Get() < 0) {
    why = name + ": " + SystemText(errno);
    return nullptr;
  }
  // flock cannot wait with a bound: try, then sleep a little, until the bound has passed.
  const auto deadline = std::chrono::steady_clock::now() + wait;
  auto pause = std::chrono::milliseconds(2);
  for (;;) {
    if (flock(fd.Get(), LOCK_EX | LOCK_NB) == 0) return std::make_unique<FlockLock>(fd.Release());
    if (errno != EWOULDBLOCK && errno != EINTR) {
      why = name + ": " + SystemText(errno);
      return nullptr;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) break;
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
    pause = std::min(pause * 2, std::chrono::milliseconds(50));
  }
  why = "ein anderes Programm speichert gerade " + path + " (Sperre " + name + ")";
  return nullptr;
}

void RemoveStaleTemporaries(const std::string& path) {
  const std::string dir = Directory(path);
  const std::string prefix = BaseName(path) + ".tmp.";
  DIR* folder = opendir(dir.c_str());
  if (!folder) return;
  std::vector<std::string> stale;
  while (const dirent* entry = readdir(folder)) {
    const std::string name = entry->d_name;
    if (!name.starts_with(prefix) || name.size() == prefix.size() ||
        name.size() > prefix.size() + 9)
      continue;
    const std::string digits = name.substr(prefix.size());
    if (digits.find_first_not_of("0123456789") != std::string::npos) continue;
    const pid_t pid = static_cast<pid_t>(std::stol(digits));
    if (pid == getpid() || (kill(pid, 0) != 0 && errno == ESRCH)) stale.push_back(name);
  }
  closedir(folder);
  for (const std::string& name : stale) unlink((dir + "/" + name).c_str());
}

bool ReplaceStore(const std::string& path, const std::string& text, int& fsyncs, std::string& why) {
  const std::string dir = Directory(path);
  mode_t mode = 0600;
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) {
      why = path + " ist keine gewöhnliche Datei und wird nicht überschrieben";
      return false;
    }
    if (!(st.st_mode & S_IWUSR)) {
      why = path + " ist schreibgeschützt und bleibt, wie sie ist";
      return false;
    }
    mode = st.st_mode & 07777;
  }
  const std::string temp = path + ".tmp." + std::to_string(getpid());
  const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC;
  int raw = open(temp.c_str(), flags, 0600);
  if (raw < 0 && errno == EEXIST) {
    // Left by an earlier process of this number, or planted: under the lock nobody uses it.
    // Removing a link removes the link only.
    unlink(temp.c_str());
    raw = open(temp.c_str(), flags, 0600);
  }
  if (raw < 0) {
    why = temp + ": " + SystemText(errno);
    return false;
  }
  FdCloser fd(raw);
  bool ok = fchmod(fd.Get(), mode) == 0;
  std::size_t done = 0;
  while (ok && done < text.size()) {
    const ssize_t n = write(fd.Get(), text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (ok) {
    ++fsyncs;
    ok = fsync(fd.Get()) == 0;
  }
  const int error = errno;
  if (close(fd.Release()) != 0) ok = false;
  if (!ok || rename(temp.c_str(), path.c_str()) != 0) {
    why = path + " kann nicht geschrieben werden: " + SystemText(ok ? errno : error);
    unlink(temp.c_str());
    return false;
  }
  // Makes the renaming itself durable.
  if (const int dir_fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir_fd >= 0) {
    ++fsyncs;
    fsync(dir_fd);
    close(dir_fd);
  }
  return true;
}

std::string AccountHomeFolder() {
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(static_cast<std::size_t>(size > 0 ? size : 16384));
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found ||
      !found->pw_dir)
    return {};
  return found->pw_dir;
}

}  // namespace platform::file_store
