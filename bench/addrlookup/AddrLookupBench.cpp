// Naming a batch of code addresses of the exe with function and line: kxaddr (our debug-information
// container, embedded in the exe or beside it) against binutils' addr2line reading the DWARF of the
// unstripped exe ("addr2line -f -e EXE", the addresses on stdin in one batch). Both run as the
// processes a developer runs, on the same addresses; each is timed from start to exit (wall time,
// and the processor time of the process, which a busy machine disturbs less), the median of several
// rounds. Prints how many addresses each side could place, then the figure lines.
//   addrlookup_bench KXADDR EXE ADDR2LINE UNSTRIPPED_EXE [COUNT]
#include "bench/figure/BenchFigure.h"
#include "crash/base/pe/PeImage.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

extern char **environ;

namespace {

constexpr int kRounds = 5;

struct Timing {
  double wall = -1; // seconds; negative when the run failed
  double cpu = -1;  // user and system seconds of the process
};

struct Answers {
  size_t lines = 0;  // lines of output
  size_t placed = 0; // addresses given a known source line
};

// Runs argv with stdin from inputPath (or /dev/null) and stdout into outputPath; negative times
// when it could not run or failed.
Timing TimeRun(const std::vector<std::string> &argv, const std::string &inputPath, const std::string &outputPath) {
  std::vector<char *> args;
  for (const std::string &a : argv)
    args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, inputPath.empty() ? "/dev/null" : inputPath.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int error = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    std::fprintf(stderr, "addrlookup_bench: cannot start %s\n", args[0]);
    return {};
  }
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  const auto end = std::chrono::steady_clock::now();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "addrlookup_bench: %s failed (status %d)\n", args[0], status);
    return {};
  }
  auto seconds = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) * 1e-6; };
  return {std::chrono::duration<double>(end - start).count(), seconds(usage.ru_utime) + seconds(usage.ru_stime)};
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Medians of kRounds runs; negative when any run failed.
Timing MedianRun(const std::vector<std::string> &argv, const std::string &inputPath, const std::string &outputPath) {
  std::vector<double> wall, cpu;
  for (int i = 0; i < kRounds; ++i) {
    const Timing t = TimeRun(argv, inputPath, outputPath);
    if (t.wall < 0)
      return {};
    wall.push_back(t.wall);
    cpu.push_back(t.cpu);
  }
  return {Median(wall), Median(cpu)};
}

std::vector<std::string> ReadLines(const std::string &path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

// kxaddr: address, module, unit, line, function; a line of 0 is unknown.
Answers KxaddrAnswers(const std::string &path) {
  Answers a;
  for (const std::string &line : ReadLines(path)) {
    ++a.lines;
    std::vector<std::string> fields;
    std::stringstream s(line);
    for (std::string f; std::getline(s, f, '\t');)
      fields.push_back(f);
    if (fields.size() >= 4 && fields[3] != "0" && !fields[3].empty())
      ++a.placed;
  }
  return a;
}

// addr2line -f: the function, then file:line; "??:0" or "file:?" are unknown.
Answers Addr2lineAnswers(const std::string &path) {
  Answers a;
  const std::vector<std::string> lines = ReadLines(path);
  a.lines = lines.size();
  for (size_t i = 1; i < lines.size(); i += 2) {
    const std::string &where = lines[i];
    const size_t colon = where.rfind(':');
    if (colon == std::string::npos)
      continue;
    const std::string number = where.substr(colon + 1, where.find(' ', colon) - colon - 1);
    if (!number.empty() && number != "0" && number != "?")
      ++a.placed;
  }
  return a;
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: addrlookup_bench KXADDR EXE ADDR2LINE UNSTRIPPED_EXE [COUNT]\n");
    return 2;
  }
  const std::string kxaddr = argv[1], exe = argv[2], addr2line = argv[3], unstripped = argv[4];
  const int count = argc > 5 ? std::atoi(argv[5]) : 2000;
  if (count <= 0) {
    std::fprintf(stderr, "addrlookup_bench: COUNT must be positive\n");
    return 2;
  }

  std::ifstream in(exe, std::ios::binary);
  std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto pe = debuginfo::PeImage::Parse(file.data(), file.size());
  const debuginfo::PeSection *code = nullptr;
  if (pe)
    for (const auto &s : pe->Sections)
      if (s.IsCode() && s.VirtualSize > 0) {
        code = &s;
        break;
      }
  if (!code) {
    std::fprintf(stderr, "addrlookup_bench: %s has no code section\n", exe.c_str());
    return 1;
  }

  // The same addresses, spread over the code section, for both sides.
  const uint32_t start = pe->ImageBase + code->VirtualAddress;
  std::mt19937 random(1);
  std::vector<uint32_t> addresses;
  for (int i = 0; i < count; ++i)
    addresses.push_back(start + random() % code->VirtualSize);

  const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                       ("addrlookup_bench." + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  const std::string input = (folder / "addresses.txt").string(), ourOutput = (folder / "kxaddr.txt").string(),
                    theirOutput = (folder / "addr2line.txt").string();
  std::vector<std::string> kxaddrArgs = {kxaddr, exe};
  {
    std::ofstream list(input);
    char text[16];
    for (uint32_t a : addresses) {
      std::snprintf(text, sizeof text, "%08x", a);
      kxaddrArgs.push_back(text);
      list << "0x" << text << '\n';
    }
  }
  const std::vector<std::string> addr2lineArgs = {addr2line, "-f", "-e", unstripped};

  const Timing ours = MedianRun(kxaddrArgs, "", ourOutput);
  const Timing theirs = MedianRun(addr2lineArgs, input, theirOutput);
  const Answers ourAnswers = KxaddrAnswers(ourOutput), theirAnswers = Addr2lineAnswers(theirOutput);
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  if (ours.wall < 0 || theirs.wall < 0)
    return 1;
  if (ourAnswers.lines != addresses.size() || theirAnswers.lines != 2 * addresses.size()) {
    std::fprintf(stderr, "addrlookup_bench: unexpected output: kxaddr %zu lines, addr2line %zu lines for %zu addresses\n",
                 ourAnswers.lines, theirAnswers.lines, addresses.size());
    return 1;
  }
  std::printf("%d addresses in %s's code section (%u bytes); median of %d runs each\n", count, exe.c_str(),
              code->VirtualSize, kRounds);
  std::printf("kxaddr:    %8.1f ms (processor %8.1f ms), %zu addresses placed on a source line\n", ours.wall * 1e3,
              ours.cpu * 1e3, ourAnswers.placed);
  std::printf("addr2line: %8.1f ms (processor %8.1f ms), %zu addresses placed on a source line\n", theirs.wall * 1e3,
              theirs.cpu * 1e3, theirAnswers.placed);
  const std::string name = "name " + std::to_string(count) + " addresses (function, line)";
  kx::bench::PrintFigure(name.c_str(), ours.wall * 1e3, theirs.wall * 1e3, "ms", "addr2line -f on the DWARF of the exe");
  kx::bench::PrintFigure((name + ", processor time").c_str(), ours.cpu * 1e3, theirs.cpu * 1e3, "ms",
                         "addr2line -f on the DWARF of the exe");
  return 0;
}
