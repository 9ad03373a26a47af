// The build step and the address tool against a real executable: kesgen's model of the exe
// answers like i686-w64-mingw32-addr2line with readable names, and kxaddr prints the expected
// lines; the exe also carries its application manifest. Skipped when the exe
// (TIDEWELL_DEBUGINFO_EXE) or addr2line is not there.
#include "crash/analysis/debuginfo/MapFile.h"
#include "crash/analysis/debuginfo/SymbolNames.h"
#include "tests/crash/analysis/debuginfo/LineProgramSample.h"
#include "tests/support/CommandOutput.h"
#include "tests/support/MangledNames.h"
#include "tools/kesgen/ExeDebugInfo.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>

namespace fs = std::filesystem;

namespace {

std::string Env(const char *name, const char *fallback) {
  const char *v = std::getenv(name);
  return v && *v ? v : fallback;
}

const std::string kExe = Env("TIDEWELL_DEBUGINFO_EXE", TIDEWELL_DEBUGINFO_EXE);
const std::string kAddr2Line = ADDR2LINE;
const std::string kSourceRoot = Env("TIDEWELL_DEBUGINFO_SOURCE_ROOT", SOURCE_ROOT);
constexpr auto kCoff = debuginfo::SymbolSource::CoffTable;

std::string Shell(const std::string &command) { return tidewell_test::CommandOutput(command); }

// addr2line prints a COFF symbol without its leading i386 underscore, or the bare name the
// DWARF information gives (no parameter list).
std::string Addr2LineName(const std::string &name) {
  return debuginfo::ReadableFunctionName("_" + name, kCoff);
}

// The data of the resource with a numeric type and id (first language) in an image file; empty
// when there is none.
std::string NumericResource(const std::vector<uint8_t> &file, uint32_t type, uint32_t id) {
  auto pe = debuginfo::PeImage::Parse(file.data(), file.size());
  if (!pe || pe->DataDirectories.size() < 3)
    return {};
  auto root = pe->FileOffsetOfRva(pe->DataDirectories[2].first);
  auto u16 = [&](uint64_t at) { return at + 2 <= file.size() ? uint32_t(file[at] | file[at + 1] << 8) : 0u; };
  auto u32 = [&](uint64_t at) { return at + 4 <= file.size() ? u16(at) | u16(at + 2) << 16 : 0u; };
  // The subdirectory or data entry of a directory's entry with the given id (0: the first).
  auto entry = [&](uint64_t dir, uint32_t wanted, bool any) -> std::optional<uint32_t> {
    const uint32_t count = u16(dir + 12) + u16(dir + 14);
    for (uint32_t i = 0; i < count; ++i)
      if (any || u32(dir + 16 + 8 * i) == wanted)
        return u32(dir + 20 + 8 * i);
    return std::nullopt;
  };
  if (!root)
    return {};
  auto types = entry(*root, type, false);
  auto names = types && (*types >> 31) ? entry(*root + (*types & 0x7FFFFFFF), id, false) : std::nullopt;
  auto language = names && (*names >> 31) ? entry(*root + (*names & 0x7FFFFFFF), 0, true) : std::nullopt;
  if (!language || (*language >> 31))
    return {};
  auto data = pe->FileOffsetOfRva(u32(*root + *language));
  const uint32_t size = u32(*root + *language + 4);
  if (!data || uint64_t(*data) + size > file.size())
    return {};
  return std::string(file.begin() + *data, file.begin() + *data + size);
}

class RealExe : public ::testing::Test {
protected:
  void SetUp() override {
    if (!fs::exists(kExe))
      GTEST_SKIP() << "no executable at " << kExe << " (set TIDEWELL_DEBUGINFO_EXE)";
    exe_ = *FileModuleFiles::Instance().ReadFile(kExe);
    kesgen::Options options;
    options.SourceRoots = {kSourceRoot};
    std::string error;
    ASSERT_TRUE(kesgen::BuildModel(exe_, options, model_, stats_, error)) << error;
  }
  std::vector<uint8_t> exe_;
  TMapFile model_;
  kesgen::Stats stats_;
};

TEST_F(RealExe, AgreesWithAddr2Line) {
  if (!fs::exists(kAddr2Line))
    GTEST_SKIP() << "no " << kAddr2Line;
  // Every line start of our code, and one address inside each line's range.
  std::vector<uint32_t> sample;
  std::mt19937 rng(8);
  const auto &lines = model_.Lines();
  for (size_t i = 0; i < lines.size(); ++i) {
    sample.push_back(lines[i].Address);
    uint64_t next = 0;
    model_.FindLine(lines[i].Address, next);
    if (next > lines[i].Address + 1)
      sample.push_back(lines[i].Address + 1 + rng() % (next - lines[i].Address - 1));
  }
  ASSERT_GT(sample.size(), 1000u);
  // addr2line is asked for each sample and for the start of the function we name for it.
  std::vector<uint32_t> queries = sample;
  for (uint32_t a : sample)
    queries.push_back(model_.FindPublic(a).Address);
  fs::path input = fs::temp_directory_path() / ("kx_addr_" + std::to_string(getpid()));
  {
    std::ofstream out(input);
    for (uint32_t a : queries)
      out << std::hex << a << "\n";
  }
  // Code inlined from another function is ours at its call site: of the chain that addr2line
  // gives with -i, the outermost function and its line are compared.
  std::istringstream answers(Shell(kAddr2Line + " -a -f -i -e '" + kExe + "' < '" + input.string() + "'"));
  fs::remove(input);
  std::vector<std::pair<std::string, std::string>> replies; // function, file:line
  for (std::string text; std::getline(answers, text);) {
    if (text.starts_with("0x")) {
      replies.emplace_back();
      continue;
    }
    std::string location;
    ASSERT_FALSE(replies.empty());
    ASSERT_TRUE(std::getline(answers, location));
    replies.back() = {text, location};
  }
  ASSERT_EQ(replies.size(), queries.size());

  // A function agrees when addr2line names it as we do, or (for names spelt differently, such
  // as template arguments through typedefs) gives the sample the same function as the start
  // of ours. Where addr2line knows no function ("??") only the line is compared.
  int functionAgree = 0, lineAgree = 0, both = 0, unknown = 0, sameName = 0;
  std::vector<std::string> differences;
  for (size_t i = 0; i < sample.size(); ++i) {
    const uint32_t a = sample[i];
    const auto &[function, location] = replies[i];
    const std::string &startFunction = replies[sample.size() + i].first;
    int line = std::atoi(location.substr(location.rfind(':') + 1).c_str());
    TMfPublic pub = model_.FindPublic(a);
    int ours = model_.FindLine(a);
    const std::string theirs = Addr2LineName(function);
    bool named = pub.IsValid && (pub.Name == theirs || pub.Name.ends_with("." + theirs));
    bool f = function == "??" || named || (pub.IsValid && function == startFunction);
    bool l = ours == line;
    unknown += function == "??";
    sameName += named;
    functionAgree += f;
    lineAgree += l;
    both += f && l;
    if (!(f && l) && differences.size() < 10) {
      char buf[512];
      std::snprintf(buf, sizeof buf, "%08x ours %s:%d addr2line %s %s", a, pub.Name.c_str(), ours,
                    theirs.c_str(), location.c_str());
      differences.push_back(buf);
    }
  }
  const double n = double(sample.size());
  std::printf("%zu addresses: function agrees %d (%.2f%%; same name %d, addr2line unknown %d), "
              "line %d (%.2f%%), both %d (%.2f%%)\n",
              sample.size(), functionAgree, 100 * functionAgree / n, sameName, unknown, lineAgree,
              100 * lineAgree / n, both, 100 * both / n);
  for (const auto &d : differences)
    std::printf("  %s\n", d.c_str());
  EXPECT_GE(both, 0.99 * n);
  EXPECT_GE(sameName, 0.85 * n);
}

// The outermost function of the chain addr2line -i gives for an address, and its line.
std::pair<std::string, int> Addr2LineOutermost(uint32_t address) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "%x", address);
  std::istringstream answer(Shell(kAddr2Line + " -f -i -e '" + kExe + "' " + hex));
  std::pair<std::string, int> outermost;
  for (std::string function, location; std::getline(answer, function) && std::getline(answer, location);)
    outermost = {Addr2LineName(function), std::atoi(location.substr(location.rfind(':') + 1).c_str())};
  return outermost;
}

TEST_F(RealExe, KesgenAndKxaddr) {
  // btnSetClick's first statement: the first row of the function with a line other than the one
  // the function starts on. Optimised code may repeat the opening line over several rows.
  uint64_t start = model_.FindPublic(true, "MainUnit", "TForm1.btnSetClick", true);
  ASSERT_NE(start, 0u);
  uint64_t next = 0;
  const int32_t headerLine = model_.FindLine(start, next);
  ASSERT_GT(headerLine, 0);
  int32_t firstStatement = headerLine;
  uint32_t statement = start;
  for (int rows = 0; rows < 100 && firstStatement == headerLine && model_.FindPublic(next).Address == start; ++rows) {
    statement = next;
    firstStatement = model_.FindLine(statement, next);
  }
  ASSERT_NE(firstStatement, headerLine) << "no second line in btnSetClick";
  ASSERT_EQ(model_.FindPublic(statement).Address, start);
  EXPECT_GT(firstStatement, headerLine); // the body follows the line that opens the function
  if (fs::exists(kAddr2Line)) {
    // Both lines are what addr2line gives as the line in btnSetClick's own source.
    EXPECT_EQ(Addr2LineOutermost(start), std::make_pair(std::string("TForm1.btnSetClick"), int(headerLine)));
    EXPECT_EQ(Addr2LineOutermost(statement), std::make_pair(std::string("TForm1.btnSetClick"), int(firstStatement)));
  }
  next = statement;

  fs::path dir = fs::temp_directory_path() / ("kx_tools_" + std::to_string(getpid()));
  fs::create_directories(dir);
  fs::copy_file(kExe, dir / "Tidewell.exe", fs::copy_options::overwrite_existing);
  std::string exe = (dir / "Tidewell.exe").string();
  std::string log = Shell(std::string(KESGEN) + " --source-root '" + kSourceRoot + "' '" + exe + "' '" +
                        (dir / "Tidewell.kes").string() + "' 2>&1");
  ASSERT_TRUE(fs::exists(dir / "Tidewell.kes")) << log;

  EXPECT_NE(Shell(std::string(KESGEN) + " --check '" + exe + "' '" + (dir / "Tidewell.kes").string() + "'")
                .find("matches the code"),
            std::string::npos);

  char args[64];
  std::snprintf(args, sizeof args, " %x %X 10 zz", unsigned(next), unsigned(start));
  std::string out = Shell(std::string(KXADDR) + " '" + exe + "'" + args + " 2>/dev/null");
  char expected[256];
  std::snprintf(expected, sizeof expected,
                "%08x\tTidewell.exe\tMainUnit\t%d\tTForm1.btnSetClick\n"
                "%08x\tTidewell.exe\tMainUnit\t%d\tTForm1.btnSetClick\n"
                "00000010\t\t\t0\t\n",
                unsigned(next), firstStatement, unsigned(start), headerLine);
  EXPECT_EQ(out, expected);
  // A stdcall window procedure, named as the model names it.
  const uint32_t formProc = model_.FindPublic(true, "Forms", "TForm.FormProc", true);
  ASSERT_NE(formProc, 0u);
  std::snprintf(args, sizeof args, " %x", formProc);
  std::snprintf(expected, sizeof expected, "%08x\tTidewell.exe\tForms\t%d\tTForm.FormProc\n", formProc,
                int(model_.FindLine(formProc)));
  EXPECT_EQ(Shell(std::string(KXADDR) + " '" + exe + "'" + args + " 2>/dev/null"), expected);

  // The container read back through the model's own source order equals kesgen's model.
  TMapFile loaded(true, exe, model_.HInstance(), false, true);
  ASSERT_TRUE(loaded.IsValid());
  // The container does not carry the line-table flag, and names are cut to 255 bytes.
  auto segments = model_.Segments();
  for (auto &s : segments)
    s.LineNumbers = false;
  EXPECT_TRUE(loaded.Segments() == segments);
  auto publics = model_.Publics();
  for (auto &p : publics)
    p.Name.resize(std::min<size_t>(p.Name.size(), 255));
  ASSERT_EQ(loaded.Publics().size(), publics.size());
  for (size_t i = 0; i < publics.size(); ++i)
    ASSERT_TRUE(loaded.Publics()[i] == publics[i]) << i << " " << publics[i].Name << " " << loaded.Publics()[i].Name;
  EXPECT_TRUE(loaded.Lines() == model_.Lines());

  // Without the container the tool says so and still answers every address.
  fs::remove(dir / "Tidewell.kes");
  std::string bare = Shell(std::string(KXADDR) + " '" + exe + "' 10 2>&1");
  EXPECT_NE(bare.find("no debug information"), std::string::npos) << bare;
  EXPECT_NE(bare.find("00000010\t\t\t0\t\n"), std::string::npos) << bare;
  fs::remove_all(dir);
}

TEST_F(RealExe, EveryFunctionNameIsReadable) {
  // Window and thread procedures are stdcall, some in anonymous namespaces.
  EXPECT_NE(model_.FindPublic(true, "Forms", "TForm.FormProc", true), 0u);
  EXPECT_NE(model_.FindPublic(true, "KXStandInBox", "kx.StandInProc", true), 0u);
  EXPECT_NE(model_.FindPublic(true, "Thread", "TThread.ThreadProc", true), 0u);
  std::vector<std::string> mangled;
  for (const TMfPublic &p : model_.Publics())
    if (tidewell_test::ContainsMangledName(p.Name) && mangled.size() < 10)
      mangled.push_back(p.Name);
  EXPECT_TRUE(mangled.empty()) << ::testing::PrintToString(mangled);
}

TEST_F(RealExe, ManifestNamesTheSupportedSystems) {
  // Without it Windows 8.1 and later report themselves as Windows 8 to the exe.
  const std::string manifest = NumericResource(exe_, 24, 1); // RT_MANIFEST, the process's own
  ASSERT_FALSE(manifest.empty());
  EXPECT_TRUE(manifest.starts_with("<?xml")) << manifest;
  for (const char *id : {"e2011457-1546-43c5-a5fe-008deee3d3f0", "35138b9a-5d96-4fbd-8e2d-a2440225f93a",
                         "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38", "1f676c76-80e1-4239-95bb-83d0f6d0da78",
                         "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"})
    EXPECT_NE(manifest.find("<supportedOS Id=\"{" + std::string(id) + "}\"/>"), std::string::npos) << id;
}

TEST_F(RealExe, DamagedCopiesFailCleanly) {
  // Cut inside the headers, the sections, and the symbol table (the last: the string table
  // loses its tail, names there are dropped and the rest still builds).
  for (size_t cut : {size_t(0x40), size_t(0x200), exe_.size() / 2, exe_.size() - 64}) {
    std::vector<uint8_t> part(exe_.begin(), exe_.begin() + cut);
    TMapFile m;
    kesgen::Stats stats;
    std::string error;
    bool built = kesgen::BuildModel(part, {{kSourceRoot}, false}, m, stats, error);
    if (cut < exe_.size() / 2 + 1) {
      EXPECT_FALSE(built) << cut;
      EXPECT_FALSE(error.empty()) << cut;
    }
  }
}

TEST_F(RealExe, SectionTableFromTheHeadersNamesTheSectionsAsTheWholeFileDoes) {
  // The long names (".eh_frame", the debug sections) live in the string table at the file's end.
  std::optional<debuginfo::PeImage> whole = debuginfo::PeImage::Parse(exe_.data(), exe_.size());
  std::optional<debuginfo::PeImage> table = FileModuleFiles::Instance().SectionTable(kExe);
  ASSERT_TRUE(whole && table);
  ASSERT_GT(exe_.size(), 64u * 1024) << "the string table lies beyond the headers read";
  ASSERT_EQ(table->Sections.size(), whole->Sections.size());
  for (size_t i = 0; i < whole->Sections.size(); ++i) {
    EXPECT_EQ(table->Sections[i].Name, whole->Sections[i].Name) << i;
    EXPECT_EQ(table->Sections[i].VirtualAddress, whole->Sections[i].VirtualAddress) << i;
  }
  EXPECT_TRUE(table->FindSection(".eh_frame"));

  // A copy whose string table was cut off keeps the sections under their "/nnn" names.
  fs::path cut = fs::temp_directory_path() / ("kx_cut_" + std::to_string(getpid()) + ".exe");
  {
    std::ofstream out(cut, std::ios::binary);
    out.write(reinterpret_cast<const char *>(exe_.data()), std::streamsize(64 * 1024));
  }
  std::optional<debuginfo::PeImage> headersOnly = FileModuleFiles::Instance().SectionTable(cut.string());
  ASSERT_TRUE(headersOnly);
  EXPECT_FALSE(headersOnly->FindSection(".eh_frame"));
  EXPECT_TRUE(headersOnly->Sections.back().Name.starts_with("/")) << headersOnly->Sections.back().Name;
  {
    std::ofstream out(cut, std::ios::binary);
    out << "not an image";
  }
  EXPECT_FALSE(FileModuleFiles::Instance().SectionTable(cut.string()));
  EXPECT_FALSE(FileModuleFiles::Instance().SectionTable(cut.string() + ".missing"));
  fs::remove(cut);
}

TEST(LinePrograms, Version4RowsAndTruncation) {
  auto bytes = LineProgramSample();
  kesgen::Sections s;
  s.Line = bytes.data();
  s.LineSize = bytes.size();
  std::string error;
  auto programs = kesgen::ReadLinePrograms(s, error);
  ASSERT_EQ(programs.size(), 1u) << error;
  EXPECT_EQ(programs[0].Files, (std::vector<std::string>{"", "/src/a.cpp"}));
  std::vector<std::tuple<uint32_t, int32_t, bool, bool>> rows;
  for (const auto &r : programs[0].Rows)
    rows.emplace_back(r.Address, r.Line, r.IsStmt, r.EndSequence);
  EXPECT_EQ(rows, (std::vector<std::tuple<uint32_t, int32_t, bool, bool>>{
                      {0x401000, 1, true, false}, {0x401001, 2, false, false},
                      {0x401011, 7, false, false}, {0x401011, 7, false, true}}));
  for (size_t cut = 0; cut < bytes.size(); ++cut) {
    s.LineSize = cut;
    error.clear();
    auto partial = kesgen::ReadLinePrograms(s, error);
    EXPECT_TRUE(partial.empty()) << cut;
  }
}

TEST(FunctionNames, DemangledFormsBecomeDottedNames) {
  EXPECT_EQ(debuginfo::FunctionDisplayName(debuginfo::DemangleSymbol("__ZN6TForm111btnSetClickEv", kCoff)), "TForm1.btnSetClick");
  EXPECT_EQ(debuginfo::DemangleSymbol("_WinMain@16", kCoff), "WinMain");
  EXPECT_EQ(debuginfo::DemangleSymbol("_main", kCoff), "main");
  EXPECT_EQ(debuginfo::FunctionDisplayName("TForm1::TForm1()::{lambda()#1}::operator()() const"),
            "TForm1.TForm1().{lambda()#1}.operator()");
  EXPECT_EQ(debuginfo::FunctionDisplayName("void std::vector<int, std::allocator<int> >::_M_insert<int const&>(int const&)"),
            "std.vector<int, std::allocator<int> >._M_insert<int const&>"); // template arguments keep "::"
  EXPECT_EQ(debuginfo::FunctionDisplayName("(anonymous namespace)::Helper(char const*, int)"), "Helper");
  EXPECT_EQ(debuginfo::FunctionDisplayName("Foo::operator<(Foo const&) const"), "Foo.operator<");
  EXPECT_EQ(debuginfo::FunctionDisplayName("plain"), "plain");
  EXPECT_EQ(debuginfo::FunctionDisplayName("A::f(int) const::{lambda()#1}::operator()() const"),
            "A.f(int) const.{lambda()#1}.operator()");
  EXPECT_EQ(kesgen::NormalisePath("/a/./b/../c//d.cpp"), "/a/c/d.cpp");
}

} // namespace
