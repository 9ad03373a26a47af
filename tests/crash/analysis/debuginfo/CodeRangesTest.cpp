// kesgen's reading of function and inlined-call ranges from debugging-information entries, and
// the line rows of a function that it builds from them.
#include "tests/crash/analysis/debuginfo/DebugInfoSample.h"
#include "tests/crash/analysis/debuginfo/LineProgramSample.h"
#include "tests/crash/analysis/debuginfo/TestImage.h"
#include "tools/kesgen/CodeRanges.h"
#include "crash/analysis/debuginfo/MapFile.h"
#include "tools/kesgen/ExeDebugInfo.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using kesgen::CodeRange;
using kesgen::InlinedCall;
using Lines = std::vector<std::pair<int32_t, uint64_t>>;

kesgen::Sections SectionsOf(const debuginfo_sample::Sample &s) {
  kesgen::Sections d;
  d.Info = s.Info.data(), d.InfoSize = s.Info.size();
  d.Abbrev = s.Abbrev.data(), d.AbbrevSize = s.Abbrev.size();
  d.Ranges = s.Ranges.data(), d.RangesSize = s.Ranges.size();
  d.RngLists = s.RngLists.data(), d.RngListsSize = s.RngLists.size();
  d.Addr = s.Addr.data(), d.AddrSize = s.Addr.size();
  return d;
}

const std::vector<CodeRange> kFunctions = {{0x401000, 0x401100}, {0x401110, 0x401200}, {0x402000, 0x402140}};
const std::vector<InlinedCall> kUnit1Calls = {
    {0x401010, 0x401020, 10}, {0x401040, 0x401048, 20}, {0x401050, 0x401054, 20}, {0x401180, 0x401190, 30}};
const std::vector<InlinedCall> kUnit2Calls = {{0x402010, 0x402020, 7}, {0x402080, 0x402088, 7}, {0x402100, 0x402110, 3}};

TEST(CodeRanges, OutermostCallsAndFunctionsOfDwarf4And5Units) {
  const auto sample = debuginfo_sample::Build();
  std::string error;
  const kesgen::CodeRanges code = kesgen::ReadCodeRanges(SectionsOf(sample), error);
  EXPECT_EQ(error, "");
  std::vector<InlinedCall> calls = kUnit1Calls;
  calls.insert(calls.end(), kUnit2Calls.begin(), kUnit2Calls.end());
  EXPECT_EQ(code.Calls, calls);
  EXPECT_EQ(code.Functions, kFunctions);
}

TEST(CodeRanges, DamageEndsTheWalkAndDropsTheDamagedUnit) {
  const auto sample = debuginfo_sample::Build();
  std::string error;
  // Nothing to read: no entries, and no complaint.
  EXPECT_TRUE(kesgen::ReadCodeRanges({}, error).Calls.empty());
  EXPECT_EQ(error, "");

  // Cut anywhere: no read outside the data, an error unless the cut falls between units, and
  // only whole units count.
  for (size_t cut = 1; cut < sample.Info.size(); ++cut) {
    auto s = SectionsOf(sample);
    s.InfoSize = cut;
    error.clear();
    const auto code = kesgen::ReadCodeRanges(s, error);
    if (cut < sample.Unit2Offset) {
      EXPECT_TRUE(code.Calls.empty()) << cut;
      EXPECT_TRUE(code.Functions.empty()) << cut;
    } else {
      EXPECT_EQ(code.Calls, kUnit1Calls) << cut;
    }
    EXPECT_EQ(error.empty(), cut == sample.Unit2Offset) << cut << " " << error;
  }

  // Without its range lists or address table, unit 1 cannot be read; unit 2 is not reached.
  for (int missing = 0; missing < 3; ++missing) {
    auto s = SectionsOf(sample);
    (missing == 0 ? s.RngLists : missing == 1 ? s.Addr : s.Abbrev) = nullptr;
    error.clear();
    EXPECT_TRUE(kesgen::ReadCodeRanges(s, error).Calls.empty()) << missing;
    EXPECT_NE(error, "") << missing;
  }

  // An unknown form in unit 2's table: unit 1 stays.
  auto damaged = sample;
  auto &abbrev = damaged.Abbrev;
  for (size_t i = abbrev.size() - 1; i > 0; --i)
    if (abbrev[i - 1] == debuginfo_sample::AT_call_line && abbrev[i] == debuginfo_sample::FORM_data1) {
      abbrev[i] = 0x7F;
      break;
    }
  error.clear();
  auto code = kesgen::ReadCodeRanges(SectionsOf(damaged), error);
  EXPECT_EQ(code.Calls, kUnit1Calls);
  EXPECT_NE(error.find("not understood"), std::string::npos) << error;

  // A unit length past the section, and entries nested without end, are refused.
  damaged = sample;
  damaged.Info[sample.Unit2Offset] = 0xF0;
  error.clear();
  EXPECT_EQ(kesgen::ReadCodeRanges(SectionsOf(damaged), error).Calls, kUnit1Calls);
  EXPECT_NE(error.find("runs past"), std::string::npos) << error;

  debuginfo_sample::Bytes deep, deepAbbrev;
  deepAbbrev.Uleb(1).Uleb(debuginfo_sample::TAG_lexical_block).U8(1).U8(0).U8(0).U8(0);
  std::vector<uint8_t> nest(100000, 1); // every entry opens another level
  deep.U32(uint32_t(2 + 4 + 1 + nest.size())).U16(4).U32(0).U8(4).Raw(nest);
  kesgen::Sections s;
  s.Info = deep.B.data(), s.InfoSize = deep.B.size();
  s.Abbrev = deepAbbrev.B.data(), s.AbbrevSize = deepAbbrev.B.size();
  error.clear();
  EXPECT_TRUE(kesgen::ReadCodeRanges(s, error).Calls.empty());
  EXPECT_NE(error.find("nested deeper"), std::string::npos) << error;
}

// One function [0x1000, 0x1028) of file 1 (file 2 is a header), with code inlined at
// [0x1008, 0x1010) from line 12, and alignment padding from 0x1020.
struct FunctionLinesTest : ::testing::Test {
  std::vector<kesgen::LineRow> rows = {
      {0x1000, 1, 10},        {0x1004, 1, 11}, {0x1008, 2, 200}, {0x100c, 2, 201},
      {0x1010, 1, 13},        {0x1014, 2, 300}, // another file's row outside inlined code
      {0x1018, 1, 14, false}, {0x101c, 1, 15},  {0x1020, 2, 400}, {0x1028, 1, 0, true, true},
  };
  kesgen::CodeRanges code{{{0x1000, 0x1020}}, {{0x1008, 0x1010, 12}}};

  Lines Of(const kesgen::CodeRanges &c, bool statementsOnly = false) const {
    return kesgen::FunctionLines(rows, 0x1000, 0x1028, 1, c, statementsOnly);
  }
};

TEST_F(FunctionLinesTest, InlinedCodeTakesTheCallLine) {
  EXPECT_EQ(Of(code), (Lines{{10, 0x1000}, {11, 0x1004}, {12, 0x1008}, {13, 0x1010}, {14, 0x1018},
                             {15, 0x101c}, {400, 0x1020}}));
  // Without debugging entries: the function's own rows, as before there were any.
  EXPECT_EQ(Of({}), (Lines{{10, 0x1000}, {11, 0x1004}, {13, 0x1010}, {14, 0x1018}, {15, 0x101c}}));
  EXPECT_EQ(Of(code, true), (Lines{{10, 0x1000}, {11, 0x1004}, {12, 0x1008}, {13, 0x1010}, {15, 0x101c}, {400, 0x1020}}));
}

TEST_F(FunctionLinesTest, TheLineInEffectReturnsAfterInlinedCode) {
  // Inlined code that ends where no row starts: its call line stops there all the same.
  code.Calls = {{0x1004, 0x100a, 12}, {0x1011, 0x1013, 16}};
  EXPECT_EQ(Of(code), (Lines{{10, 0x1000}, {12, 0x1004}, {11, 0x100a}, {13, 0x1010}, {16, 0x1011},
                             {13, 0x1013}, {14, 0x1018}, {15, 0x101c}, {400, 0x1020}}));
  // Calls of neighbouring functions, and one reaching in from before the function, are clipped.
  code.Calls = {{0x0f00, 0x1002, 5}, {0x1026, 0x1100, 6}};
  EXPECT_EQ(Of(code), (Lines{{5, 0x1000}, {10, 0x1002}, {11, 0x1004}, {13, 0x1010}, {14, 0x1018},
                             {15, 0x101c}, {400, 0x1020}, {6, 0x1026}}));
}

TEST_F(FunctionLinesTest, SeveralRowsAtOneAddressAndDamagedRanges) {
  // The last row at an address is the one that counts.
  rows.insert(rows.begin() + 1, {0x1000, 1, 9});
  EXPECT_EQ(Of({})[0], (std::pair<int32_t, uint64_t>{9, 0x1000}));
  // Overlapping calls (not in sound information): the earlier keeps the shared part, and the
  // rows stay in strictly ascending address order.
  code.Calls = {{0x1004, 0x100c, 12}, {0x1008, 0x1009, 21}, {0x1008, 0x1014, 20}};
  const Lines lines = Of(code);
  EXPECT_EQ(lines, (Lines{{9, 0x1000}, {12, 0x1004}, {20, 0x100c}, {13, 0x1014}, {14, 0x1018},
                          {15, 0x101c}, {400, 0x1020}}));
}

// Units of an x86-64 image (8-byte addresses, code above 4 GiB) in DWARF 4 (.debug_ranges) and
// DWARF 5 (.debug_rnglists), and an i386 unit whose range would run past 32 bits.
TEST(CodeRanges, EightByteAddressesAboveFourGiB) {
  using namespace debuginfo_sample;
  Bytes abbrev;
  abbrev.Uleb(1).Uleb(TAG_compile_unit).U8(1).Uleb(AT_low_pc).Uleb(FORM_addr).U8(0).U8(0);
  abbrev.Uleb(2).Uleb(TAG_subprogram).U8(1).Uleb(AT_low_pc).Uleb(FORM_addr).Uleb(AT_high_pc).Uleb(FORM_data4).U8(0).U8(0);
  abbrev.Uleb(3).Uleb(TAG_inlined).U8(0).Uleb(AT_ranges).Uleb(FORM_sec_offset).Uleb(AT_call_line).Uleb(FORM_data1).U8(0).U8(0);
  abbrev.Uleb(4).Uleb(TAG_inlined).U8(0).Uleb(AT_low_pc).Uleb(FORM_addr).Uleb(AT_high_pc).Uleb(FORM_addr)
      .Uleb(AT_call_line).Uleb(FORM_data1).U8(0).U8(0);
  abbrev.U8(0);
  auto u64 = [](Bytes &b, uint64_t v) -> Bytes & { return b.U32(v).U32(v >> 32); };

  // .debug_ranges: a pair from the unit's base, a base selection (all ones), a pair, the end.
  Bytes ranges;
  u64(u64(ranges, 0x10), 0x20);
  u64(u64(ranges, ~uint64_t(0)), 0x140001080);
  u64(u64(ranges, 0), 8);
  u64(u64(ranges, 0), 0);
  // .debug_rnglists: a header, then a start and length, a base address and an offset pair.
  Bytes list;
  u64(list.U8(7), 0x200000000).Uleb(0x10);
  u64(list.U8(5), 0x200000100);
  list.U8(4).Uleb(0).Uleb(4).U8(0);
  Bytes lists;
  lists.U32(uint32_t(8 + list.B.size())).U16(5).U8(8).U8(0).U32(0).Raw(list.B);

  Bytes dies4; // DWARF 4, base 0x140001000
  u64(dies4.Uleb(1), 0x140001000);
  u64(dies4.Uleb(2), 0x140001000).U32(0x100);
  dies4.Uleb(3).U32(0).U8(7);
  u64(u64(dies4.Uleb(4), 0x1400010C0), 0x1400010D0).U8(9);
  dies4.U8(0).U8(0);
  Bytes dies5; // DWARF 5, base 0x200000000
  u64(dies5.Uleb(1), 0x200000000);
  u64(dies5.Uleb(2), 0x200000000).U32(0x200);
  dies5.Uleb(3).U32(12).U8(11);
  dies5.U8(0).U8(0);
  Bytes dies32; // DWARF 4 with 4-byte addresses: the function would end past 4 GiB
  dies32.Uleb(1).U32(0xFFFFF000);
  dies32.Uleb(2).U32(0xFFFFF000).U32(0x2000);
  dies32.U8(0).U8(0);
  Bytes info;
  info.U32(uint32_t(2 + 4 + 1 + dies4.B.size())).U16(4).U32(0).U8(8).Raw(dies4.B);
  info.U32(uint32_t(2 + 1 + 1 + 4 + dies5.B.size())).U16(5).U8(1).U8(8).U32(0).Raw(dies5.B);
  info.U32(uint32_t(2 + 4 + 1 + dies32.B.size())).U16(4).U32(0).U8(4).Raw(dies32.B);

  kesgen::Sections s;
  s.Info = info.B.data(), s.InfoSize = info.B.size();
  s.Abbrev = abbrev.B.data(), s.AbbrevSize = abbrev.B.size();
  s.Ranges = ranges.B.data(), s.RangesSize = ranges.B.size();
  s.RngLists = lists.B.data(), s.RngListsSize = lists.B.size();
  std::string error;
  const kesgen::CodeRanges code = kesgen::ReadCodeRanges(s, error);
  EXPECT_EQ(error, "");
  EXPECT_EQ(code.Functions, (std::vector<CodeRange>{{0x140001000, 0x140001100}, {0x200000000, 0x200000200}}));
  EXPECT_EQ(code.Calls, (std::vector<InlinedCall>{{0x140001010, 0x140001020, 7},
                                                   {0x140001080, 0x140001088, 7},
                                                   {0x1400010C0, 0x1400010D0, 9},
                                                   {0x200000000, 0x200000010, 11},
                                                   {0x200000100, 0x200000104, 11}}));
}

TEST(LinePrograms, EightByteSetAddress) {
  // The sample program with its set_address widened to 8 bytes (0x140401000).
  std::vector<uint8_t> bytes = LineProgramSample();
  const std::vector<uint8_t> narrow = {0x00, 0x05, 0x02, 0x00, 0x10, 0x40, 0x00};
  auto at = std::search(bytes.begin(), bytes.end(), narrow.begin(), narrow.end());
  ASSERT_NE(at, bytes.end());
  at = bytes.erase(at, at + narrow.size());
  const std::vector<uint8_t> wide = {0x00, 0x09, 0x02, 0x00, 0x10, 0x40, 0x40, 0x01, 0, 0, 0};
  bytes.insert(at, wide.begin(), wide.end());
  bytes[0] += 4; // the unit length
  kesgen::Sections s;
  s.Line = bytes.data();
  s.LineSize = bytes.size();
  std::string error;
  const auto programs = kesgen::ReadLinePrograms(s, error);
  ASSERT_EQ(programs.size(), 1u) << error;
  std::vector<std::pair<uint64_t, int32_t>> rows;
  for (const auto &r : programs[0].Rows)
    rows.emplace_back(r.Address, r.Line);
  EXPECT_EQ(rows, (std::vector<std::pair<uint64_t, int32_t>>{
                      {0x140401000, 1}, {0x140401001, 2}, {0x140401011, 7}, {0x140401011, 7}}));
  // A function of those rows keeps its 64-bit addresses.
  EXPECT_EQ(kesgen::FunctionLines(programs[0].Rows, 0x140401000, 0x140401011, 1, {}, false),
            (Lines{{1, 0x140401000}, {2, 0x140401001}}));
}

// Three functions back to back with no padding between them: library code (/lib/lib.h) at
// 0x401000, our function (/src/a.cpp) at 0x401010 and library code again at 0x401020, up to
// 0x401030. Each function's code ends with a row at the next one's address, after which the
// program sets the address anew for the next function, as the assembler writes it when a function
// starts right where the previous one ends.
std::vector<uint8_t> BackToBackProgram() {
  std::vector<uint8_t> header = {
      1, 1, 1, 0xFB, 14, 13,                  // min inst, max ops, is_stmt, line base -5, range, opcode base
      0, 1, 1, 1, 1, 0, 0, 0, 1, 0, 0, 1,     // standard opcode lengths
      '/', 's', 'r', 'c', 0, '/', 'l', 'i', 'b', 0, 0,                         // directories
      'a', '.', 'c', 'p', 'p', 0, 1, 0, 0, 'l', 'i', 'b', '.', 'h', 0, 2, 0, 0, 0, // files 1, 2
  };
  auto setAddress = [](uint32_t a) {
    return std::vector<uint8_t>{0x00, 0x05, 0x02, uint8_t(a), uint8_t(a >> 8), uint8_t(a >> 16), uint8_t(a >> 24)};
  };
  std::vector<uint8_t> program;
  auto add = [&](std::vector<uint8_t> bytes) { program.insert(program.end(), bytes.begin(), bytes.end()); };
  add({0x04, 2});                               // file lib.h
  add(setAddress(0x401000));
  add({0x03, 9, 0x01});                         // line 10, copy
  add({0x02, 0x10, 0x01});                      // the library code ends at 0x401010
  add({0x04, 1});                               // file a.cpp
  add(setAddress(0x401010));
  add({0x03, 10, 0x01});                        // line 20, copy
  add({0x02, 8, 0x03, 1, 0x01});                // 0x401018 line 21
  add({0x02, 8, 0x01});                         // our code ends at 0x401020
  add({0x04, 2});
  add(setAddress(0x401020));
  add({0x03, 9, 0x01});                         // line 30, copy
  add({0x02, 0x10, 0x00, 0x01, 0x01});          // end of the sequence at 0x401030
  std::vector<uint8_t> unit = {0, 0, 0, 0, 4, 0, 0, 0, 0, 0};
  Put32(unit, 6, uint32_t(header.size()));
  unit.insert(unit.end(), header.begin(), header.end());
  unit.insert(unit.end(), program.begin(), program.end());
  Put32(unit, 0, uint32_t(unit.size() - 4));
  return unit;
}

TEST(LinePrograms, RowsClosingThePreviousFunctionAtAFunctionsStart) {
  const std::vector<uint8_t> line = BackToBackProgram();
  kesgen::Sections s;
  s.Line = line.data();
  s.LineSize = line.size();
  std::string error;
  const auto programs = kesgen::ReadLinePrograms(s, error);
  ASSERT_EQ(programs.size(), 1u) << error;
  const std::vector<kesgen::LineRow> &rows = programs[0].Rows;
  ASSERT_EQ(rows.size(), 7u);
  std::vector<bool> set;
  for (const auto &r : rows)
    set.push_back(r.AddressSet);
  EXPECT_EQ(set, (std::vector<bool>{true, false, true, false, false, true, false}));
  EXPECT_EQ(kesgen::FunctionFirstRow(rows, 0), 0u);
  EXPECT_EQ(kesgen::FunctionFirstRow(rows, 1), 2u); // 0x401010: the closing row of lib.h is passed
  EXPECT_EQ(kesgen::FunctionFirstRow(rows, 3), 3u); // 0x401018: one row
  EXPECT_EQ(kesgen::FunctionFirstRow(rows, 4), 5u);
  EXPECT_EQ(kesgen::FunctionFirstRow(rows, 6), 6u); // the end of the sequence
  EXPECT_EQ(kesgen::FunctionFirstRow(rows, 7), 7u); // past the rows
  // Several rows at one address without the address set anew: the first stands.
  const std::vector<kesgen::LineRow> same = {{0x10, 1, 1}, {0x10, 2, 2}, {0x10, 1, 3}, {0x20, 1, 0, true, true}};
  EXPECT_EQ(kesgen::FunctionFirstRow(same, 0), 0u);

  // The image: the three functions in .text, the line program in .debug_line (a long section
  // name, from the symbol table's string table).
  std::vector<uint8_t> exe = BuildTestImage({{".text", 0x1000, 0x30, 0x60000020},
                                             {"/4", 0x2000, uint32_t(line.size()), 0x42000040}},
                                            0x400000);
  ASSERT_LE(line.size(), 0x200u);
  std::copy(line.begin(), line.end(), exe.begin() + 0x600);
  const size_t table = exe.size();
  const std::vector<std::pair<std::string, uint32_t>> symbols = {{"_lib", 0}, {"_own", 0x10}, {"_lib2", 0x20}};
  for (const auto &[name, value] : symbols) {
    std::vector<uint8_t> sym(18, 0);
    std::copy(name.begin(), name.end(), sym.begin());
    Put32(sym, 8, value);
    Put16(sym, 12, 1);    // section .text
    Put16(sym, 14, 0x20); // a function
    sym[16] = 2;          // external
    exe.insert(exe.end(), sym.begin(), sym.end());
  }
  const std::string strings = std::string(4, '\0') + ".debug_line" + '\0';
  exe.insert(exe.end(), strings.begin(), strings.end());
  Put32(exe, exe.size() - strings.size(), uint32_t(strings.size()));
  Put32(exe, 0x84 + 8, uint32_t(table));
  Put32(exe, 0x84 + 12, uint32_t(symbols.size()));

  TMapFile model;
  kesgen::Stats stats;
  ASSERT_TRUE(kesgen::BuildModel(exe, {{"/src"}, false}, model, stats, error)) << error;
  EXPECT_EQ(stats.OwnFunctions, 1);
  EXPECT_EQ(model.FindSegment(true, 0x401008).Unit_, "");
  EXPECT_EQ(model.FindSegment(true, 0x401010).Unit_, "a");
  EXPECT_EQ(model.FindSegment(true, 0x40101f).Unit_, "a");
  EXPECT_EQ(model.FindSegment(true, 0x401020).Unit_, ""); // not ours, though our code ends there
  EXPECT_EQ(model.FindLine(0x401010), 20);
  EXPECT_EQ(model.FindLine(0x401018), 21);
  EXPECT_LE(model.FindLine(0x401020), 0);
}

} // namespace
