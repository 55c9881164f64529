// The I/O floor of a conversion: reads EXPORT_FILE once and writes, beside it, files of the given
// sizes (those the converter writes) in 1 MiB blocks, with no work in between. Each file is
// replaced as the converter replaces its outputs: written under a temporary name in the same
// folder, flushed to the disk, renamed over the file, and the folder flushed after the rename.
// With --earlier it first reads whole each file it is about to replace that is there already,
// as a run that compares its outputs with their earlier versions must.
//
//   io_floor [--earlier] EXPORT_FILE SIZE...

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

std::string NameOf(int index) {
  return "FLOOR" + std::to_string(index) + ".DAT";
}

// Reads the whole of `fd` into `block`, a block at a time; the bytes read.
unsigned long long ReadAll(int fd, std::vector<char>& block) {
  unsigned long long read = 0;
  for (ssize_t n; (n = ::read(fd, block.data(), block.size())) > 0;) {
    read += static_cast<unsigned long long>(n);
  }
  return read;
}

// Writes `size` bytes of `block` into a new version of FLOOR<index>.DAT in `folder`.
bool Replace(int folder, int index, unsigned long long size, const std::vector<char>& block) {
  const std::string name = NameOf(index);
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
  const bool earlier = argc > 1 && std::string(argv[1]) == "--earlier";
  const int first = earlier ? 2 : 1;  // the export's argument
  if (argc < first + 2) {
    std::fputs("usage: io_floor [--earlier] EXPORT_FILE SIZE...\n", stderr);
    return 2;
  }
  std::vector<char> block(kBlock, 'x');
  const int in = open(argv[first], O_RDONLY);
  if (in < 0) {
    std::perror(argv[first]);
    return 1;
  }
  const unsigned long long read = ReadAll(in, block);
  close(in);
  const std::string folderPath = FolderOf(argv[first]);
  const int folder = open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) {
    std::perror(folderPath.c_str());
    return 1;
  }
  for (int i = first + 1; i < argc; ++i) {
    const int index = i - first - 1;
    if (earlier) {
      const int old = openat(folder, NameOf(index).c_str(), O_RDONLY | O_CLOEXEC);
      if (old >= 0) {
        ReadAll(old, block);
        close(old);
      }
    }
    if (!Replace(folder, index, std::strtoull(argv[i], nullptr, 10), block)) {
      return 1;
    }
  }
  close(folder);
  return read > 0 ? 0 : 1;
}
