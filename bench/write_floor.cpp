// bench-write-floor: the least any updater must spend writing a release's files out of its own
// memory, to weigh the real program against where `cp -a` is no fair yardstick (it copies inside
// the kernel and never pays for moving the bytes from a buffer of its own). The files below
// FILES are read into memory first and not timed; then, timed, every folder is made and every
// file created, written in one write() from memory and closed (no fsync), in an empty folder
// TARGET (made anew, untimed, before each repetition). Times and attributes are not set: that
// is the updater's own work, as is everything else beyond the bytes. Prints one JSON object:
// the wall and CPU seconds of each repetition, and the median wall time.
//
// The benchmark runs one repetition per process (the default), as the program always runs
// fresh: later repetitions in one process write into pages the previous one has just given
// back, and come out several times faster than a fresh process ever is.
//
//   bench-write-floor FILES TARGET [REPETITIONS]
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct File {
  std::string relative;
  std::vector<char> data;
};

struct Release {
  std::vector<std::string> folders;  // parents before children
  std::vector<File> files;
  size_t bytes = 0;
};

bool ReadRelease(const fs::path& root, Release* release) {
  std::error_code error;
  for (fs::recursive_directory_iterator it(root, error), end; it != end; it.increment(error)) {
    if (error) return false;
    std::string relative = fs::relative(it->path(), root).string();
    if (it->is_directory()) {
      release->folders.push_back(relative);
    } else if (it->is_regular_file()) {
      std::ifstream in(it->path(), std::ios::binary);
      File file{relative, std::vector<char>(std::istreambuf_iterator<char>(in), {})};
      if (!in.good() && !in.eof()) return false;
      release->bytes += file.data.size();
      release->files.push_back(std::move(file));
    }
  }
  return !error;
}

// The timed part. 0 on the first refusal, with what was refused in `what`.
int WriteRelease(const Release& release, const std::string& target, std::string* what) {
  for (const std::string& folder : release.folders) {
    std::string path = target + "/" + folder;
    if (mkdir(path.c_str(), 0777) != 0) {
      *what = path;
      return 0;
    }
  }
  for (const File& file : release.files) {
    std::string path = target + "/" + file.relative;
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    ssize_t n = fd < 0 ? -1 : write(fd, file.data.data(), file.data.size());
    if (fd < 0 || close(fd) != 0 || n != (ssize_t)file.data.size()) {
      *what = path;
      return 0;
    }
  }
  return 1;
}

double CpuSeconds() {
  struct timespec now;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return (double)now.tv_sec + (double)now.tv_nsec * 1e-9;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    fprintf(stderr, "usage: bench-write-floor FILES TARGET [REPETITIONS]\n");
    return 2;
  }
  int repetitions = argc == 4 ? atoi(argv[3]) : 1;
  if (repetitions < 1) repetitions = 1;
  Release release;
  if (!ReadRelease(argv[1], &release) || release.files.empty()) {
    fprintf(stderr, "bench-write-floor: cannot read the files below %s\n", argv[1]);
    return 1;
  }
  std::string target = argv[2];
  std::vector<double> samples, cpu;
  for (int i = 0; i < repetitions; i++) {
    std::error_code error;
    fs::remove_all(target, error);
    if (!fs::create_directories(target, error)) {
      fprintf(stderr, "bench-write-floor: cannot make %s\n", target.c_str());
      return 1;
    }
    std::string what;
    double cpuStart = CpuSeconds();
    auto start = std::chrono::steady_clock::now();
    int ok = WriteRelease(release, target, &what);
    auto end = std::chrono::steady_clock::now();
    cpu.push_back(CpuSeconds() - cpuStart);
    if (!ok) {
      perror(("bench-write-floor: " + what).c_str());
      return 1;
    }
    samples.push_back(std::chrono::duration<double>(end - start).count());
  }
  std::error_code error;
  fs::remove_all(target, error);

  std::vector<double> sorted = samples;
  std::sort(sorted.begin(), sorted.end());
  printf("{\"files\": %zu, \"folders\": %zu, \"bytes\": %zu, \"median\": %.6f, \"samples\": [",
         release.files.size(), release.folders.size(), release.bytes, sorted[sorted.size() / 2]);
  for (size_t i = 0; i < samples.size(); i++) printf("%s%.6f", i ? ", " : "", samples[i]);
  printf("], \"cpu\": [");
  for (size_t i = 0; i < cpu.size(); i++) printf("%s%.6f", i ? ", " : "", cpu[i]);
  printf("]}\n");
  return 0;
}
