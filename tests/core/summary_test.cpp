// The ready-to-install summary: headings written with their first item only.
#include "core/setup_summary.h"

#include <functional>

#include "core_test_util.h"

namespace core_test {
namespace {

TEST(SummaryBuilder, HeadingsAndItems) {
  struct TCase {
    const char* name;
    std::function<void(TSetupSummaryBuilder&)> build;
    const char16_t* text;
  } cases[] = {
      {"nothing", [](TSetupSummaryBuilder&) {}, u""},
      {"one group",
       [](TSetupSummaryBuilder& b) {
         b.BeginGroup(u"Folder");
         b.AddItem(u"C:\\Mivo\\");
       },
       u"Folder:\r\n * C:\\Mivo\\\r\n"},
      {"heading with its colon",
       [](TSetupSummaryBuilder& b) {
         b.BeginGroup(u"Folder:");
         b.AddItem(u"a");
       },
       u"Folder:\r\n * a\r\n"},
      {"empty heading",
       [](TSetupSummaryBuilder& b) {
         b.BeginGroup(u"");
         b.AddItem(u"a");
       },
       u":\r\n * a\r\n"},
      {"group without items leaves no trace",
       [](TSetupSummaryBuilder& b) {
         b.BeginGroup(u"A");
         b.AddItem(u"1");
         b.BeginGroup(u"Empty");
         b.BeginGroup(u"B");
         b.AddItem(u"2");
         b.AddItem(u"3");
         b.BeginGroup(u"Trailing");
       },
       u"A:\r\n * 1\r\n\r\nB:\r\n * 2\r\n * 3\r\n"},
      {"items before any heading",
       [](TSetupSummaryBuilder& b) {
         b.AddItem(u"x");
         b.BeginGroup(u"H");
         b.AddItem(u"y");
       },
       u" * x\r\n\r\nH:\r\n * y\r\n"},
      {"a repeated heading is written again",
       [](TSetupSummaryBuilder& b) {
         b.BeginGroup(u"T");
         b.AddItem(u"1");
         b.BeginGroup(u"T");
         b.AddItem(u"W3");
       },
       u"T:\r\n * 1\r\n\r\nT:\r\n * W3\r\n"},
  };
  for (const auto& c : cases) {
    TSetupSummaryBuilder builder;
    c.build(builder);
    EXPECT_EQ(U8(builder.ToString()), U8(c.text)) << c.name;
  }
}

using SummaryTest = CoreTest;

TEST_F(SummaryTest, LanguageTextsAreExpanded) {
  TSetup& setup = CreateAuto();
  TSetupSummaryBuilder builder;
  builder.BeginGroup(u"Common", u"E4");
  builder.AddItem(u"Common", u"A1");
  builder.AddItem(u"Common", u"NoSuchKey");
  EXPECT_EQ(U8(builder.ToString()), "Installation was cancelled by the user:\r\n * Installing " +
                                        U8(setup.ProductName()) + " into " +
                                        U8(setup.GetDestPath()) + "\r\n * \r\n");
}

}  // namespace
}  // namespace core_test
