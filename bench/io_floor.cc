// The I/O floor of a conversion: reads EXPORT_FILE once and writes, beside it, files of the given
// sizes (those the converter writes) in 1 MiB blocks, with no work in between. Each file is
// replaced as the converter replaces its outputs: written under a temporary name in the same
// folder, flushed to the disk, renamed over the file, and the folder flushed after the rename.
//
//   io_floor EXPORT_FILE SIZE...

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kBlock = 1 << 20;

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// Writes `size` bytes of `block` into a new version of FLOOR<index>.DAT in `folder`.
bool Replace(int folder, int index, unsigned long long size, const std::vector<char>& block) {
  const std::string name = "FLOOR" + std::to_string(index) + ".DAT";
  const std::string temp = "." + name + "." + std::to_string(getpid()) + ".tmp";
  const int out = openat(folder, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (out < 0) {
    std::perror(temp.c_str());
    return false;
  }
  for (unsigned long long left = size; left > 0;) {
    const std::size_t n = left < kBlock ? static_cast<std::size_t>(left) : kBlock;
    if (write(out, block.data(), n) != static_cast<ssize_t>(n)) {
      std::perror(temp.c_str());
      close(out);
      return false;
    }
    left -= n;
  }
  const bool synced = fsync(out) == 0;
  if (close(out) != 0 || !synced || renameat(folder, temp.c_str(), folder, name.c_str()) != 0) {
    std::perror(name.c_str());
    unlinkat(folder, temp.c_str(), 0);
    return false;
  }
  fsync(folder);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: io_floor EXPORT_FILE SIZE...\n", stderr);
    return 2;
  }
  std::vector<char> block(kBlock, 'x');
  const int in = open(argv[1], O_RDONLY);
  if (in < 0) {
    std::perror(argv[1]);
    return 1;
  }
  unsigned long long read = 0;
  for (ssize_t n; (n = ::read(in, block.data(), kBlock)) > 0;) {
    read += static_cast<unsigned long long>(n);
  }
  close(in);
  const std::string folderPath = FolderOf(argv[1]);
  const int folder = open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) {
    std::perror(folderPath.c_str());
    return 1;
  }
  for (int i = 2; i < argc; ++i) {
    if (!Replace(folder, i - 2, std::strtoull(argv[i], nullptr, 10), block)) {
      return 1;
    }
  }
  close(folder);
  return read > 0 ? 0 : 1;
}
