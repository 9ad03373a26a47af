#pragma once
// Readable function names from the symbols of GCC-built code: the i686 calling-convention
// decoration is taken off, Itanium C++ names are demangled, and the result is put into the
// dotted form the reports show ("TForm1.btnSetClick"). Every place that turns a symbol into a
// name goes through here, so a report, kesgen's container and kxaddr always agree.
#include <string>
#include <string_view>

namespace debuginfo {

// Where a symbol was read. An i386 COFF symbol table gives every C and C++ name one more
// leading underscore ("_main", "__ZN6TForm15ClickEv"); in other places (export directories,
// linker maps, names already taken from such a table) a C name's leading underscore is its own.
enum class SymbolSource { CoffTable, Plain };

// The symbol without its i686 decoration: stdcall "_name@N" and fastcall "@name@N" give "name"
// ("@N" counts only as a whole argument size: decimal digits giving a multiple of 4, so
// "foo@bar" and "foo@3" keep their "@"); a C++ name loses the extra underscore of the symbol
// table ("__ZN..." -> "_ZN..."), and with CoffTable a C name its leading underscore.
std::string UndecoratedSymbol(std::string_view symbol, SymbolSource source);

// The demangled form of a symbol: the undecorated symbol, with Itanium C++ names demangled
// ("kx::(anonymous namespace)::StandInProc(HWND__*, unsigned int, unsigned int, long)"), also
// behind the "_GLOBAL__sub_I_" prefix of a unit's initialisation. A C++ name that does not
// demangle is returned exactly as given.
std::string DemangleSymbol(std::string_view symbol, SymbolSource source = SymbolSource::Plain);

// "ns::Class::Method(int) const" -> "ns.Class.Method": the return type, the parameter list, the
// trailing qualifiers, ABI tags ("[abi:cxx11]") and clone suffixes (" [clone .cold]") go, scope
// separators outside brackets become dots (template arguments keep "::"). Anonymous namespaces
// are dropped, as the unit column already tells where such a function lives ("kx.StandInProc");
// a lambda keeps the demangler's marker, and its enclosing function its parameter list, so that
// lambdas of overloads stay apart ("TForm1.Start(int).{lambda()#1}.operator()").
std::string FunctionDisplayName(const std::string &demangled);

// The name a report shows for a function symbol: DemangleSymbol, and the dotted form for C++
// names that demangled; other names as DemangleSymbol leaves them.
std::string ReadableFunctionName(std::string_view symbol, SymbolSource source = SymbolSource::Plain);

} // namespace debuginfo
