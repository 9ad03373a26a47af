// Function names from GCC's i686 symbols: decorations, the symbol table's underscore,
// demangling and the dotted form; and the scanner that finds mangled names left in text.
// The symbols are the ones i686-w64-mingw32-g++ writes for the declarations named beside them.
#include "crash/analysis/debuginfo/SymbolNames.h"
#include "tests/support/MangledNames.h"

#include <gtest/gtest.h>

namespace {

using debuginfo::DemangleSymbol;
using debuginfo::FunctionDisplayName;
using debuginfo::ReadableFunctionName;
using debuginfo::SymbolSource;
using debuginfo::UndecoratedSymbol;
using tidewell_test::ContainsMangledName;
using tidewell_test::FirstMangledName;

constexpr auto kCoff = SymbolSource::CoffTable;
constexpr auto kPlain = SymbolSource::Plain;

TEST(SymbolDecoration, StdcallLosesArgumentSizeAndUnderscore) {
  // static LRESULT CALLBACK TForm::FormProc(HWND, UINT, WPARAM, LPARAM)
  for (auto source : {kCoff, kPlain}) {
    EXPECT_EQ(DemangleSymbol("__ZN5TForm8FormProcEP6HWND__jjl@16", source),
              "TForm::FormProc(HWND__*, unsigned int, unsigned int, long)");
    EXPECT_EQ(ReadableFunctionName("__ZN5TForm8FormProcEP6HWND__jjl@16", source), "TForm.FormProc");
    // As earlier reports showed it: the table's underscore gone, the decoration still there.
    EXPECT_EQ(ReadableFunctionName("_ZN5TForm8FormProcEP6HWND__jjl@16", source), "TForm.FormProc");
    // extern "C" int __stdcall cstd(int): the underscore belongs to the decoration.
    EXPECT_EQ(ReadableFunctionName("_cstd@4", source), "cstd");
    EXPECT_EQ(ReadableFunctionName("_GetTickCount@0", source), "GetTickCount");
  }
  // An export directory of a DLL linked without --kill-at: no underscore.
  EXPECT_EQ(ReadableFunctionName("cstd@4", kPlain), "cstd");
}

TEST(SymbolDecoration, FastcallLosesBothAtSigns) {
  // int __fastcall fast(int, int) and extern "C" int __fastcall cfast(int, int)
  for (auto source : {kCoff, kPlain}) {
    EXPECT_EQ(DemangleSymbol("@_Z4fastii@8", source), "fast(int, int)");
    EXPECT_EQ(ReadableFunctionName("@_Z4fastii@8", source), "fast");
    EXPECT_EQ(ReadableFunctionName("@cfast@8", source), "cfast");
    // A fastcall name has no table underscore: one of its own stays.
    EXPECT_EQ(UndecoratedSymbol("@_cfast@8", source), "_cfast");
  }
}

TEST(SymbolDecoration, ClonesKeepTheirSuffixBehindTheDecoration) {
  // GCC writes clone suffixes after the decoration; the clone is shown as its function.
  EXPECT_EQ(UndecoratedSymbol("__ZL4ProcP6HWND__jjl@16.constprop.0", kCoff), "_ZL4ProcP6HWND__jjl.constprop.0");
  EXPECT_EQ(ReadableFunctionName("__ZL4ProcP6HWND__jjl@16.constprop.0", kCoff), "Proc");
  EXPECT_EQ(ReadableFunctionName("@_ZL1Fii@8.cold", kCoff), "F");
  EXPECT_EQ(ReadableFunctionName("__ZN6TForm111btnSetClickEv.cold", kCoff), "TForm1.btnSetClick");
  EXPECT_EQ(ReadableFunctionName("_cstd@4.part.0", kCoff), "cstd.part.0");
}

TEST(SymbolDecoration, CdeclNamesOnlyLoseTheTableUnderscore) {
  EXPECT_EQ(DemangleSymbol("__ZN6TForm111btnSetClickEv", kCoff), "TForm1::btnSetClick()");
  EXPECT_EQ(DemangleSymbol("_ZN6TForm111btnSetClickEv", kPlain), "TForm1::btnSetClick()");
  EXPECT_EQ(DemangleSymbol("__ZN6TForm111btnSetClickEv", kPlain), "TForm1::btnSetClick()");
  // A C name: from the symbol table the underscore is the compiler's, elsewhere its own
  // (msvcrt exports _except_handler3; the tracer's lists name __cxa_throw).
  EXPECT_EQ(ReadableFunctionName("_ccdecl", kCoff), "ccdecl");
  EXPECT_EQ(ReadableFunctionName("_except_handler3", kPlain), "_except_handler3");
  EXPECT_EQ(ReadableFunctionName("__cxa_throw", kPlain), "__cxa_throw");
  EXPECT_EQ(ReadableFunctionName("RtlUnwind", kPlain), "RtlUnwind");
  EXPECT_EQ(ReadableFunctionName("_", kCoff), "_");
}

TEST(SymbolDecoration, AnAtSignThatIsNoArgumentSizeStays) {
  for (auto source : {kCoff, kPlain}) {
    EXPECT_EQ(ReadableFunctionName("foo@bar", source), "foo@bar");
    EXPECT_EQ(ReadableFunctionName("foo@3", source), "foo@3");   // not whole stack slots
    EXPECT_EQ(ReadableFunctionName("foo@04", source), "foo@04"); // not how sizes are written
    EXPECT_EQ(ReadableFunctionName("foo@", source), "foo@");
    EXPECT_EQ(ReadableFunctionName("@16", source), "@16");
    EXPECT_EQ(ReadableFunctionName("@@16", source), "@@16");
    EXPECT_EQ(ReadableFunctionName("@@Unit1.Finish", source), "@@Unit1.Finish");
  }
  EXPECT_EQ(ReadableFunctionName("_foo@bar", kCoff), "foo@bar");
  EXPECT_EQ(ReadableFunctionName("_foo@bar", kPlain), "_foo@bar");
}

TEST(SymbolDecoration, NamesThatDoNotDemangleComeBackUnchanged) {
  for (auto source : {kCoff, kPlain}) {
    EXPECT_EQ(DemangleSymbol("__ZN5TForm@16", source), "__ZN5TForm@16");
    EXPECT_EQ(ReadableFunctionName("__ZN5TForm@16", source), "__ZN5TForm@16");
    EXPECT_EQ(ReadableFunctionName("_Zebra", source), "_Zebra");
    EXPECT_EQ(ReadableFunctionName("@_ZN1A@8", source), "@_ZN1A@8");
  }
}

TEST(FunctionDisplayNames, AnonymousNamespacesAndLambdas) {
  // namespace kx { namespace { LRESULT CALLBACK StandInProc(HWND, UINT, WPARAM, LPARAM); } }
  EXPECT_EQ(ReadableFunctionName("__ZN2kx12_GLOBAL__N_111StandInProcEP6HWND__jjl@16", kCoff), "kx.StandInProc");
  EXPECT_EQ(ReadableFunctionName("_ZN2kx12_GLOBAL__N_111StandInProcEP6HWND__jjl@16", kPlain), "kx.StandInProc");
  EXPECT_EQ(FunctionDisplayName("kx::(anonymous namespace)::Run()::{lambda()#1}::operator()() const"),
            "kx.Run().{lambda()#1}.operator()");
  // A stdcall lambda in lam(): its call operator (thiscall with stdcall: @20) and the static
  // invoker behind its conversion to WNDPROC.
  EXPECT_EQ(ReadableFunctionName("__ZZ3lamvENKUlP6HWND__jjlE_clES0_jjl@20", kCoff),
            "lam().{lambda(HWND__*, unsigned int, unsigned int, long)#1}.operator()");
  EXPECT_EQ(ReadableFunctionName("__ZZ3lamvENUlP6HWND__jjlE_4_FUNES0_jjl@16", kCoff),
            "lam().{lambda(HWND__*, unsigned int, unsigned int, long)#1}._FUN");
  // Lambdas of two overloads stay apart through the enclosing function's parameters.
  EXPECT_EQ(ReadableFunctionName("__ZZ4lam3iENKUliE_clEi", kCoff), "lam3(int).{lambda(int)#1}.operator()");
  // The conversion of a captureless lambda to a function pointer.
  EXPECT_EQ(ReadableFunctionName("__ZZ4lam2vENKUliE0_cvPFiiEEv", kCoff), "lam2().{lambda(int)#2}.operator int (*)(int)");
}

TEST(FunctionDisplayNames, UnitInitialisationAndAbiTags) {
  // GCC names the constructor of a unit's globals after the unit's first function.
  EXPECT_EQ(ReadableFunctionName("__GLOBAL__sub_I__ZN2kx33InstallThreadCreationInterceptionEv", kCoff),
            "_GLOBAL__sub_I_kx.InstallThreadCreationInterception");
  EXPECT_EQ(DemangleSymbol("_GLOBAL__sub_D__ZN2kx5StartEv", kPlain), "_GLOBAL__sub_D_kx::Start()");
  EXPECT_EQ(ReadableFunctionName("__GLOBAL__sub_I_HidCtl", kCoff), "_GLOBAL__sub_I_HidCtl");
  EXPECT_EQ(ReadableFunctionName("_GLOBAL__sub_I__ZN5TForm", kPlain), "_GLOBAL__sub_I__ZN5TForm");
  // std::string TJvHidDevice::VendorName(), tagged for the C++11 string ABI.
  EXPECT_EQ(ReadableFunctionName("__ZN12TJvHidDevice10VendorNameB5cxx11Ev", kCoff), "TJvHidDevice.VendorName");
  EXPECT_EQ(FunctionDisplayName("kx::Name[abi:cxx11][abi:x](int)"), "kx.Name");
}

TEST(FunctionDisplayNames, OperatorsClonesAndReturnTypes) {
  EXPECT_EQ(FunctionDisplayName("std::function<void (void*)>::operator()(void*) const"),
            "std.function<void (void*)>.operator()");
  EXPECT_EQ(FunctionDisplayName("Foo::operator<(Foo const&) const::{lambda()#1}::operator()() const"),
            "Foo.operator<(Foo const&) const.{lambda()#1}.operator()");
  EXPECT_EQ(FunctionDisplayName("Foo::operator->() const"), "Foo.operator->");
  EXPECT_EQ(FunctionDisplayName("Foo::operator>>=(int)"), "Foo.operator>>=");
  EXPECT_EQ(FunctionDisplayName("operator new(unsigned int)"), "operator new");
  EXPECT_EQ(FunctionDisplayName("Foo::operator delete[](void*)"), "Foo.operator delete[]");
  EXPECT_EQ(FunctionDisplayName("Foo::operator bool() const"), "Foo.operator bool");
  EXPECT_EQ(FunctionDisplayName("TForm::Foo() [clone .cold]"), "TForm.Foo");
  EXPECT_EQ(FunctionDisplayName("Proc(HWND__*, unsigned int, unsigned int, long) [clone .constprop.0] [clone .isra.0]"),
            "Proc");
  EXPECT_EQ(FunctionDisplayName("int kx::Max<int>(int, int)"), "kx.Max<int>");
  EXPECT_EQ(FunctionDisplayName("coordinate_operator::Apply()"), "coordinate_operator.Apply");
  EXPECT_EQ(FunctionDisplayName("operators::Apply()"), "operators.Apply");
}

TEST(MangledNameScan, FindsMangledTokensAnywhereInText) {
  EXPECT_EQ(FirstMangledName("0045a1f3 +01b Tidewell.exe Forms 180 +0 _ZN5TForm8FormProcEP6HWND__jjl@16\r\n"),
            "_ZN5TForm8FormProcEP6HWND__jjl@16");
  EXPECT_EQ(FirstMangledName("__ZN2kx3useEv"), "__ZN2kx3useEv");
  EXPECT_EQ(FirstMangledName("call @_Z4fastii@8"), "@_Z4fastii@8");
  EXPECT_EQ(FirstMangledName("Unit._ZN1A1fEv.cold"), "_ZN1A1fEv.cold");
  EXPECT_EQ(FirstMangledName("(_Znwj)"), "_Znwj");
  EXPECT_EQ(FirstMangledName("a\t_ZdlPv"), "_ZdlPv");
  EXPECT_TRUE(ContainsMangledName("x\r\n_ZTV5TForm"));

  EXPECT_FALSE(ContainsMangledName(""));
  EXPECT_FALSE(ContainsMangledName("0045a1f3 +01b Tidewell.exe MainUnit 131 +5 TForm1.btnSetClick"));
  EXPECT_FALSE(ContainsMangledName("kx.StandInProc lam().{lambda(int)#1}.operator()"));
  EXPECT_EQ(FirstMangledName("ok _GLOBAL__sub_I__ZN2kx5StartEv\r\n"), "_GLOBAL__sub_I__ZN2kx5StartEv");
  EXPECT_EQ(FirstMangledName("$_ZN1A1fEv"), "$_ZN1A1fEv");

  EXPECT_FALSE(ContainsMangledName("Foo_Zap x_ZN1A1fEv TForm1.btnSetClick_Z3"));
  EXPECT_FALSE(ContainsMangledName("_Z _Z_ _Z@ _Z. _Z"));
}

} // namespace
