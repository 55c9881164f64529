// The I/O floor of a conversion: reads EXPORT_FILE once and writes, beside it, files of the given
// sizes (those the converter writes) in 1 MiB blocks, with no work in between.
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

std::string Beside(const std::string& path, int index) {
  const std::size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
  return dir + "/FLOOR" + std::to_string(index) + ".DAT";
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
  for (int i = 2; i < argc; ++i) {
    const std::string path = Beside(argv[1], i - 2);
    const int out = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0) {
      std::perror(path.c_str());
      return 1;
    }
    for (unsigned long long left = std::strtoull(argv[i], nullptr, 10); left > 0;) {
      const std::size_t n = left < kBlock ? static_cast<std::size_t>(left) : kBlock;
      if (write(out, block.data(), n) != static_cast<ssize_t>(n)) {
        std::perror(path.c_str());
        return 1;
      }
      left -= n;
    }
    if (close(out) != 0) {
      std::perror(path.c_str());
      return 1;
    }
  }
  return read > 0 ? 0 : 1;
}
