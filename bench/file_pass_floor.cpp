// What one pass over a saved file costs a fresh process, three ways: a
// mapping read ahead with MAP_POPULATE, a mapping faulted page by page, and
// pread into one reused buffer of CHUNK_KB. Each reads one byte per 64, so
// the figure is the cost of reaching the bytes, not of using them.
//
//   file_pass_floor FILE map|fault|read [CHUNK_KB]
// prints "MODE bytes N ms T".
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: file_pass_floor FILE map|fault|read [CHUNK_KB]\n");
    return 2;
  }
  const std::string mode = argv[2];
  int fd = ::open(argv[1], O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0 || st.st_size <= 0) {
    std::perror(argv[1]);
    return 1;
  }
  const size_t size = static_cast<size_t>(st.st_size);
  const auto start = std::chrono::steady_clock::now();
  uint64_t sum = 0;
  if (mode == "map" || mode == "fault") {
    void* p = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | (mode == "map" ? MAP_POPULATE : 0), fd, 0);
    if (p == MAP_FAILED) return 1;
    const uint8_t* bytes = static_cast<const uint8_t*>(p);
    for (size_t i = 0; i < size; i += 64) sum += bytes[i];
    munmap(p, size);
  } else if (mode == "read") {
    const size_t chunk = (argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 256) * 1024;
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[chunk]());
    for (size_t at = 0; at < size;) {
      ssize_t got = pread(fd, buffer.get(), chunk, static_cast<off_t>(at));
      if (got <= 0) return 1;
      for (ssize_t i = 0; i < got; i += 64) sum += buffer[i];
      at += static_cast<size_t>(got);
    }
  } else {
    return 2;
  }
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  std::printf("%s bytes %zu ms %.2f (%llu)\n", mode.c_str(), size, ms, static_cast<unsigned long long>(sum & 1));
  return 0;
}
