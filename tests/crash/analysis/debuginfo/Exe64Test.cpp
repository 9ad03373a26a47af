// kesgen and kxaddr on 64-bit executables that the build compiles with the x86-64 cross compiler
// from some of our own sources (DWARF 5 at -O2, DWARF 4 at -O1; based above 4 GiB as the linker
// places them by default): kxaddr answers like x86_64-w64-mingw32-addr2line for a sample of the
// code, prints 16-digit addresses, and the container names its machine. Skipped when the cross
// compiler or addr2line is not there (the exes are then not built).
#include "crash/analysis/debuginfo/MapFile.h"
#include "crash/analysis/debuginfo/SymbolNames.h"
#include "tests/support/CommandOutput.h"
#include "tools/kesgen/ExeDebugInfo.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <iomanip>
#include <random>
#include <sstream>

namespace fs = std::filesystem;

namespace {

const std::string kAddr2Line = ADDR2LINE64;
const std::string kSourceRoot = SOURCE_ROOT;

std::string Shell(const std::string &command) { return tidewell_test::CommandOutput(command); }

struct Reply {
  std::string Function; // outermost of the inlined chain
  int Line = 0;
};

// addr2line -a -f -i for each address: the outermost function and its line. The x86-64 symbol
// table has no extra underscore, so its names read as plain symbols.
std::vector<Reply> Addr2Line(const std::string &exe, const std::vector<uint64_t> &addresses) {
  const fs::path input = fs::temp_directory_path() / ("kx_addr64_" + std::to_string(getpid()));
  {
    std::ofstream out(input);
    for (uint64_t a : addresses)
      out << std::hex << a << "\n";
  }
  std::istringstream answers(Shell(kAddr2Line + " -a -f -i -e '" + exe + "' < '" + input.string() + "'"));
  fs::remove(input);
  std::vector<Reply> replies;
  for (std::string text, location; std::getline(answers, text);) {
    if (text.starts_with("0x")) {
      replies.emplace_back();
      continue;
    }
    if (replies.empty() || !std::getline(answers, location))
      return {};
    const std::string name = text == "??" ? text : debuginfo::ReadableFunctionName(text);
    replies.back() = {name, std::atoi(location.substr(location.rfind(':') + 1).c_str())};
  }
  return replies;
}

struct KxAnswer {
  std::string Address, Module, Unit, Function;
  int Line = 0;
};

std::vector<KxAnswer> KxAddr(const std::string &exe, const std::vector<std::string> &arguments) {
  std::string command = std::string(KXADDR) + " '" + exe + "'";
  for (const std::string &a : arguments)
    command += " " + a;
  std::istringstream out(Shell(command + " 2>/dev/null"));
  std::vector<KxAnswer> answers;
  for (std::string row; std::getline(out, row);) {
    std::vector<std::string> fields;
    std::stringstream s(row);
    for (std::string f; std::getline(s, f, '\t');)
      fields.push_back(f);
    fields.resize(5);
    answers.push_back({fields[0], fields[1], fields[2], fields[4], std::atoi(fields[3].c_str())});
  }
  return answers;
}

std::string Hex(uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%llx", (unsigned long long)v);
  return buf;
}

// One sample exe copied into a folder of its own, with the container kesgen writes beside it;
// prepared once for all the tests of an exe, and removed at the end.
struct Prepared {
  fs::path Dir;
  std::string Exe, Kes, Log;
  std::vector<uint8_t> Image;
  uint64_t Base = 0;
  TMapFile Model;
};

class Exe64 : public ::testing::TestWithParam<const char *> {
protected:
  static std::map<std::string, Prepared> &Cache() {
    static std::map<std::string, Prepared> cache;
    return cache;
  }
  static void TearDownTestSuite() {
    for (auto &[source, p] : Cache())
      fs::remove_all(p.Dir);
    Cache().clear();
  }
  void SetUp() override {
    const fs::path source = GetParam();
    if (!fs::exists(source) || !fs::exists(kAddr2Line))
      GTEST_SKIP() << "no " << source << " or " << kAddr2Line;
    auto [it, fresh] = Cache().try_emplace(source.string());
    Prepared &p = it->second;
    if (fresh) {
      p.Dir = fs::temp_directory_path() / ("kx_exe64_" + std::to_string(getpid()) + "_" + source.stem().string());
      fs::create_directories(p.Dir);
      p.Exe = (p.Dir / source.filename()).string();
      fs::copy_file(source, p.Exe, fs::copy_options::overwrite_existing);
      p.Kes = TMapFile::ChangeExtension(p.Exe, ".kes");
      p.Log = Shell(std::string(KESGEN) + " --source-root '" + kSourceRoot + "' '" + p.Exe + "' '" + p.Kes + "' 2>&1");
      if (auto image = FileModuleFiles::Instance().ReadFile(p.Exe))
        p.Image = std::move(*image);
      if (auto pe = debuginfo::PeImage::Parse(p.Image.data(), p.Image.size()); pe && pe->Pe32Plus)
        p.Base = pe->ImageBase;
      p.Model = TMapFile(true, p.Exe, p.Base, false, true);
    }
    ASSERT_TRUE(fs::exists(p.Kes)) << p.Log;
    ASSERT_NE(p.Base, 0u) << "not a PE32+ image";
    ASSERT_TRUE(p.Model.IsValid());
    exe_ = p.Exe, kes_ = p.Kes, base_ = p.Base, image_ = &p.Image, model_ = &p.Model;
  }
  std::string exe_, kes_;
  const std::vector<uint8_t> *image_ = nullptr;
  uint64_t base_ = 0;
  const TMapFile *model_ = nullptr;
};

TEST_P(Exe64, KxaddrAgreesWithAddr2Line) {
  // The sample: every third line start of our code and one address inside that line's range,
  // so that addr2line and kxaddr are asked a few thousand addresses, not every one.
  ASSERT_GT(base_, 0xFFFFFFFFull); // the default base of a 64-bit image, above 4 GiB
  std::vector<uint64_t> sample;
  std::mt19937 rng(64);
  const auto &lines = model_->Lines();
  for (size_t i = 0; i < lines.size(); i += 3) {
    sample.push_back(lines[i].Address);
    uint64_t next = 0;
    model_->FindLine(lines[i].Address, next);
    if (next > lines[i].Address + 1)
      sample.push_back(lines[i].Address + 1 + rng() % (next - lines[i].Address - 1));
  }
  ASSERT_GT(sample.size(), 500u);
  ASSERT_LT(sample.size(), 10000u);

  std::vector<std::string> arguments;
  for (uint64_t a : sample)
    arguments.push_back(Hex(a));
  const std::vector<KxAnswer> ours = KxAddr(exe_, arguments);
  ASSERT_EQ(ours.size(), sample.size());
  // addr2line is also asked for the start of the function kxaddr names, for names that the
  // two spell differently.
  std::vector<uint64_t> queries = sample;
  for (uint64_t a : sample)
    queries.push_back(model_->FindPublic(a).Address);
  const std::vector<Reply> theirs = Addr2Line(exe_, queries);
  ASSERT_EQ(theirs.size(), queries.size());

  int functions = 0, lineCount = 0, unknown = 0, sameName = 0;
  std::vector<std::string> differences;
  for (size_t i = 0; i < sample.size(); ++i) {
    const KxAnswer &k = ours[i];
    const Reply &r = theirs[i];
    EXPECT_EQ(k.Address, (std::ostringstream() << std::hex << std::setw(16) << std::setfill('0') << sample[i]).str());
    const bool named = !k.Function.empty() && (k.Function == r.Function || k.Function.ends_with("." + r.Function));
    const bool f = r.Function == "??" || named || (!k.Function.empty() && r.Function == theirs[sample.size() + i].Function);
    const bool l = k.Line == r.Line;
    unknown += r.Function == "??";
    sameName += named;
    functions += f;
    lineCount += l;
    if (!(f && l) && differences.size() < 10)
      differences.push_back(k.Address + " kxaddr " + k.Unit + ":" + std::to_string(k.Line) + " " + k.Function +
                            " addr2line " + r.Function + ":" + std::to_string(r.Line));
  }
  const double n = double(sample.size());
  std::printf("%s: %zu addresses, function agrees %d (%.2f%%; same name %d, addr2line unknown %d), "
              "line %d (%.2f%%)\n",
              fs::path(exe_).filename().c_str(), sample.size(), functions, 100 * functions / n, sameName,
              unknown, lineCount, 100 * lineCount / n);
  for (const auto &d : differences)
    std::printf("  %s\n", d.c_str());
  EXPECT_GE(functions, 0.95 * n);
  EXPECT_GE(sameName, 0.85 * n);
  EXPECT_GE(lineCount, 0.90 * n);
  EXPECT_LT(unknown, 0.05 * n); // the comparison means something only where addr2line knows
}

TEST_P(Exe64, ContainerNamesItsMachineAndKxaddrPrintsWideAddresses) {
  const std::vector<uint8_t> kes = *FileModuleFiles::Instance().ReadFile(kes_);
  ASSERT_GE(kes.size(), 38u);
  EXPECT_EQ(kes[18], 4);                        // version 4
  EXPECT_EQ(kes[34] | kes[35] << 8, 0x8664);    // x86-64
  EXPECT_EQ(kes[36] | kes[37] << 8, 0);
  EXPECT_EQ(model_->Machine(), kMachineAmd64);
  EXPECT_NE(Shell(std::string(KESGEN) + " --check '" + exe_ + "' '" + kes_ + "'").find("matches the code"),
            std::string::npos);

  // The model read back equals kesgen's own (the container has no line-table flag).
  kesgen::Options options;
  options.SourceRoots = {kSourceRoot};
  TMapFile built;
  kesgen::Stats stats;
  std::string error;
  ASSERT_TRUE(kesgen::BuildModel(*image_, options, built, stats, error)) << error;
  auto segments = built.Segments();
  for (auto &s : segments)
    s.LineNumbers = false;
  EXPECT_TRUE(model_->Segments() == segments);
  EXPECT_TRUE(model_->Lines() == built.Lines());
  EXPECT_EQ(model_->EntryPoint(), built.EntryPoint());
  EXPECT_GT(model_->EntryPoint(), base_);

  // A model of an i386 image refuses the container.
  TMapFile i386;
  i386.SetBounds(model_->BaseOfCode(), model_->TopOfCode(), 0, 0);
  i386.SetMachine(kMachineI386);
  EXPECT_FALSE(i386.LoadContainer(kes.data(), kes.size()));
  EXPECT_EQ(i386.PublicCount(), 0);

  // A function of ours by its unit, above 4 GiB, and addresses outside the image.
  const TMfSegment segment = model_->FindSegmentAt(0);
  ASSERT_TRUE(segment.IsValid && !segment.Unit_.empty());
  const TMfPublic pub = model_->FindPublic(segment.StartAddress);
  const auto answers = KxAddr(exe_, {Hex(segment.StartAddress), "10", "ffffffffffffffff", "1ffffffffffffffff", "zz"});
  ASSERT_EQ(answers.size(), 3u); // the last two are no 64-bit numbers
  EXPECT_EQ(answers[0].Address, Hex(segment.StartAddress).insert(0, 16 - Hex(segment.StartAddress).size(), '0'));
  EXPECT_EQ(answers[0].Module, fs::path(exe_).filename().string());
  EXPECT_EQ(answers[0].Unit, segment.Unit_);
  EXPECT_EQ(answers[0].Function, pub.Name);
  EXPECT_GT(answers[0].Line, 0);
  EXPECT_EQ(answers[1].Address, "0000000000000010");
  EXPECT_EQ(answers[1].Module, "");
  EXPECT_EQ(answers[2].Address, "ffffffffffffffff");
  EXPECT_EQ(answers[2].Function, "");
}

INSTANTIATE_TEST_SUITE_P(Dwarf, Exe64, ::testing::Values(SAMPLE64_DWARF5_EXE, SAMPLE64_DWARF4_EXE),
                         [](const auto &info) { return info.index == 0 ? "Dwarf5" : "Dwarf4"; });

} // namespace
