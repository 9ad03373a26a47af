// The readable form sources that kxstream turns into definition streams.
#include <gtest/gtest.h>

#include "crash/ui/assistant/FormStream.h"
#include "tools/kxstream/FormSource.h"

namespace kx {
namespace {

TEST(FormSource, CompilesObjectsPropertiesAndEveryKindOfValue) {
  const std::string stream = CompileFormSource(R"(# a comment
object ContactForm: TKXContactForm
  Message = 'it''s here'
  Small = -5
  Medium = 1000
  Large = 100000
  Flag = True
  Other = false
  Kind = nvoHeader
  Joined = 'a'#13#10'b'
  OnAction = 'Kestrelix.HandleContactForm'

  object NameEdit: TNVEdit
    Text = ''
  end
end
)");
  TNVStreamContent content = ReadFormStream(stream);
  EXPECT_EQ(content.failure, "");
  ASSERT_EQ(content.objects.size(), 2u);
  EXPECT_EQ(content.objects[0].className, "TKXContactForm");
  EXPECT_EQ(content.objects[0].objectName, "ContactForm");
  EXPECT_EQ(content.objects[0].properties,
            (std::vector<TNVStreamProperty>{{"Message", "it's here"},
                                            {"Small", "-5"},
                                            {"Medium", "1000"},
                                            {"Large", "100000"},
                                            {"Flag", "1"},
                                            {"Other", "0"},
                                            {"Kind", "nvoHeader"},
                                            {"Joined", "a\r\nb"},
                                            {"OnAction", "Kestrelix.HandleContactForm"}}));
  EXPECT_EQ(content.objects[1].objectName, "NameEdit");
  EXPECT_EQ(content.objects[1].depth, 1);
  EXPECT_EQ(content.objects[1].properties, (std::vector<TNVStreamProperty>{{"Text", ""}}));
  // Integers take their smallest type: -5 is one byte after the type.
  EXPECT_NE(stream.find(std::string("\x05Small\x02\xFB", 8)), std::string::npos);
}

TEST(FormSource, MistakesNameTheirLine) {
  auto lineOf = [](const std::string &source) {
    try {
      CompileFormSource(source);
    } catch (const StreamSourceError &e) {
      return e.Line();
    }
    return 0;
  };
  EXPECT_EQ(lineOf("object F: T\n  A = 'open\nend\n"), 2);
  EXPECT_EQ(lineOf("object F: T\n  A = 99999999999\nend\n"), 2);
  EXPECT_EQ(lineOf("object F: T\n  object G: T\n  end\n  A = 1\nend\n"), 4) << "properties come first";
  EXPECT_EQ(lineOf("object F: T\nend\nobject G: T\nend\n"), 3);
  EXPECT_EQ(lineOf("object F T\nend\n"), 1);
  EXPECT_EQ(lineOf("A = 1\n"), 1);
  EXPECT_EQ(lineOf("object F: T\n  A = #300\nend\n"), 2);
  EXPECT_EQ(lineOf("object F: T\n  A =\nend\n"), 2);
  EXPECT_GT(lineOf("object F: T\n"), 0);
  EXPECT_GT(lineOf("# nothing\n"), 0);
  EXPECT_EQ(lineOf("end\n"), 1);
}

} // namespace
} // namespace kx
