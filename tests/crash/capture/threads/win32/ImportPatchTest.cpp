#include "crash/capture/threads/win32/ImportPatch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

UINT WINAPI FirstReplacement() { return 11111; }
UINT WINAPI SecondReplacement() { return 22222; }

FARPROC AsProc(UINT(WINAPI *function)()) { return kx::AsFarProc(function); }

// The optimiser takes an import-table entry for constant: it may keep what it loaded once across
// a whole test, or load it again where a value read earlier is used. So the entries are read,
// and the functions called through them, only inside functions it cannot look into.

// GetACP as this executable's import table holds it now (taking the address of an imported
// function reads its import-table entry).
__attribute__((noipa)) FARPROC ImportedGetACP() { return kx::AsFarProc(&GetACP); }
__attribute__((noipa)) FARPROC ImportedGetOEMCP() { return kx::AsFarProc(&GetOEMCP); }

// Calls through the import table as it is at this moment.
__attribute__((noipa)) UINT CallGetACP() { return GetACP(); }
__attribute__((noipa)) UINT CallGetOEMCP() { return GetOEMCP(); }

TEST(ImportPatch, ReplacesAndRestoresExactlyTheLoggedEntries) {
  HMODULE own = GetModuleHandleW(nullptr);
  UINT codePage = CallGetACP();
  FARPROC original = ImportedGetACP();
  ASSERT_NE(codePage, 11111u);

  kx::ImportPatcher first;
  int replaced = first.Replace(original, AsProc(FirstReplacement), false, own);
  EXPECT_GE(replaced, 1);
  EXPECT_EQ(first.PatchedCount(), size_t(replaced));
  EXPECT_EQ(CallGetACP(), 11111u);

  // Another component replaces our interceptor later: undoing ours leaves its entry alone.
  kx::ImportPatcher later;
  EXPECT_EQ(later.Replace(AsProc(FirstReplacement), AsProc(SecondReplacement), false, own), replaced);
  EXPECT_EQ(first.UndoAll(), 0);
  EXPECT_EQ(first.PatchedCount(), 0u);
  EXPECT_EQ(CallGetACP(), 22222u);
  // Its undo gives back what it found (our interceptor); a repeated undo of ours does nothing.
  EXPECT_EQ(later.UndoAll(), replaced);
  EXPECT_EQ(CallGetACP(), 11111u);
  EXPECT_EQ(first.UndoAll(), 0);
  EXPECT_EQ(CallGetACP(), 11111u);

  kx::ImportPatcher repair;
  EXPECT_EQ(repair.Replace(AsProc(FirstReplacement), original, false, own), replaced);
  EXPECT_EQ(CallGetACP(), codePage);
  EXPECT_EQ(ImportedGetACP(), original);
}

TEST(ImportPatch, UndoOfOneReplacementKeepsTheOthers) {
  HMODULE own = GetModuleHandleW(nullptr);
  UINT codePage = CallGetACP();
  UINT oemCodePage = CallGetOEMCP();
  FARPROC acp = ImportedGetACP();
  FARPROC oem = ImportedGetOEMCP();

  kx::ImportPatcher patcher;
  ASSERT_GE(patcher.Replace(acp, AsProc(FirstReplacement), false, own), 1);
  ASSERT_GE(patcher.Replace(oem, AsProc(SecondReplacement), false, own), 1);
  EXPECT_EQ(CallGetACP(), 11111u);
  EXPECT_EQ(CallGetOEMCP(), 22222u);
  EXPECT_GE(patcher.Undo(AsProc(FirstReplacement)), 1);
  EXPECT_EQ(CallGetACP(), codePage);
  EXPECT_EQ(CallGetOEMCP(), 22222u);
  EXPECT_GE(patcher.UndoAll(), 1);
  EXPECT_EQ(CallGetOEMCP(), oemCodePage);
}

TEST(ImportPatch, AllModulesCoverTheOwnModuleAndNonsenseChangesNothing) {
  HMODULE own = GetModuleHandleW(nullptr);
  FARPROC acp = ImportedGetACP();
  kx::ImportPatcher patcher;
  EXPECT_EQ(patcher.Replace(nullptr, AsProc(FirstReplacement), true, own), 0);
  EXPECT_EQ(patcher.Replace(acp, nullptr, true, own), 0);
  EXPECT_EQ(patcher.Replace(acp, acp, true, own), 0);
  // A function nobody imports.
  EXPECT_EQ(patcher.Replace(AsProc(SecondReplacement), AsProc(FirstReplacement), true, own), 0);
  EXPECT_EQ(patcher.PatchedCount(), 0u);

  std::vector<HMODULE> modules = kx::LoadedModules();
  EXPECT_NE(std::find(modules.begin(), modules.end(), own), modules.end());
  EXPECT_NE(std::find(modules.begin(), modules.end(), GetModuleHandleW(L"kernel32.dll")), modules.end());

  int all = patcher.Replace(acp, AsProc(FirstReplacement), true, nullptr);
  EXPECT_GE(all, 1);
  EXPECT_EQ(CallGetACP(), 11111u);
  EXPECT_EQ(patcher.UndoAll(), all);
  EXPECT_EQ(ImportedGetACP(), acp);
}

} // namespace
