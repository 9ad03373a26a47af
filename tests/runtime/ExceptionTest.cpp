#include "runtime/ClassInfo.h"
#include "runtime/Exception.h"

#include <gtest/gtest.h>

TEST(ClassInfo, NamesComeFromTypeInformation) {
  EConvertError e("x");
  EXPECT_EQ(ClassNameOf(e), "EConvertError");
  const Exception &base = e;
  EXPECT_EQ(ClassNameOf(base), "EConvertError") << "the dynamic type names the class";
  EXPECT_EQ(ClassName(typeid(std::out_of_range("x"))), "std::out_of_range");
}

TEST(ClassInfo, AncestryWalksEveryBaseOnce) {
  auto names = ClassAncestry(typeid(EDivByZero));
  std::vector<std::string> expected{"EDivByZero", "EIntError", "EExternal", "Exception", "std::exception"};
  EXPECT_EQ(names, expected);
}

namespace {
struct Mixin {
  virtual ~Mixin() = default;
};
struct EMixed : EAbort, Mixin {
  EMixed() : EAbort("m") {}
};
} // namespace

TEST(ClassInfo, AncestorTestsSeeMultipleInheritance) {
  EXPECT_TRUE(InheritsFromName(typeid(EMixed), "EAbort"));
  EXPECT_TRUE(InheritsFromName(typeid(EMixed), "(anonymous namespace)::Mixin"));
  EXPECT_FALSE(InheritsFromName(typeid(EConvertError), "EAbort"));
  EXPECT_TRUE(InheritsFromName(typeid(EDBEditError), "Exception"));
  EXPECT_FALSE(InheritsFromName(typeid(int), "Exception")) << "a non-class type has no ancestors";
}

TEST(Exception, MessageIsWhat) {
  KesException e("Access Violation");
  EXPECT_STREQ(e.what(), "Access Violation");
  e.SetMessage("changed");
  EXPECT_EQ(e.Message(), "changed");
  EAccessViolation av("Access Violation", 0xC0000005);
  EXPECT_EQ(av.ExceptionCode(), 0xC0000005u);
}
