// The forward XML reader of worksheet parts: tags and attributes in the
// forms producers write, elements skipped whole, and (what reading a part
// piece by piece relies on) text cut anywhere is never misread.
#include <gtest/gtest.h>

#include <string>

#include "link/book/sheet_xml.h"

namespace tersolv::link::book {
namespace {

TEST(SheetXml, TagsAttributesAndElements) {
  const std::string tag = "<x:c r=\"A1\" s='2' f=\"a>b\">";
  const auto c = ReadStartTag(tag, 0);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->Name, "x:c");
  EXPECT_FALSE(c->Empty);
  EXPECT_EQ(c->End, tag.size());
  std::string_view attributes = c->Attributes;
  Attribute a;
  const std::pair<const char*, const char*> expected[] = {{"r", "A1"}, {"s", "2"}, {"f", "a>b"}};
  for (const auto& [name, value] : expected) {
    ASSERT_EQ(NextAttribute(attributes, a), true);
    EXPECT_EQ(a.Name, name);
    EXPECT_EQ(a.Value, value);
  }
  EXPECT_EQ(NextAttribute(attributes, a), false);
  for (std::string_view bad : {" r=A1", " r=\"A1\"s=\"2\"", " r", " =\"1\"", " r=\"A1"}) {
    std::string_view list = bad;
    EXPECT_EQ(NextAttribute(list, a), std::nullopt) << bad;
  }
  for (const char* bad : {"<c a=\"1<2\">", "<1c>", "< c>", "<c", "<c a=\"1\"", "<!-- c -->", "</c>"})
    EXPECT_FALSE(ReadStartTag(bad, 0)) << bad;
  EXPECT_TRUE(ReadStartTag("<v/>", 0)->Empty);

  const std::string element = "<c><f>a&lt;b</f><!-- </c> --><![CDATA[</c>]]><?pi </c>?><v/></c>";
  EXPECT_EQ(SkipElement(element + "tail", 0), element.size());
  EXPECT_FALSE(HasBadReference("a&amp;b&#48;&#x4A;"));
  for (const char* bad : {"a&b", "&#;", "&#x;", "&amp", "&1;"}) EXPECT_TRUE(HasBadReference(bad)) << bad;
  for (const auto& [column, letters] : {std::pair<int, std::string>{1, "A"}, {26, "Z"}, {27, "AA"}, {28, "AB"},
                                        {702, "ZZ"}, {703, "AAA"}, {16384, "XFD"}}) {
    char buffer[8];
    EXPECT_EQ(std::string(buffer, PutColumnLetters(buffer, column)), letters);
  }
}

TEST(SheetXml, SheetDataIsFoundAmongTheRootsChildren) {
  const std::string head = "\xEF\xBB\xBF<?xml version=\"1.0\"?><!-- <sheetData> --><x:worksheet xmlns:x=\"m\">"
                           "<x:sheetPr><x:sheetData/></x:sheetPr><x:dimension ref=\"A1\"/> text <![CDATA[<x:sheetData>]]>";
  const std::string text = head + "<x:sheetData>";  // the layout's names point into it
  const auto layout = LocateSheetData(text);
  ASSERT_TRUE(layout);
  EXPECT_EQ(layout->DataBegin, head.size());
  EXPECT_EQ(layout->DataTag.Name, "x:sheetData");
  EXPECT_EQ(head.substr(layout->DimensionBegin, layout->DimensionEnd - layout->DimensionBegin),
            "<x:dimension ref=\"A1\"/>");
  EXPECT_TRUE(LocateSheetData("<worksheet><sheetData/>")->DataTag.Empty);
  for (const char* other : {"<workbook><sheetData/>", "<!DOCTYPE w><worksheet><sheetData/>", "<worksheet/>",
                            "<worksheet></worksheet><sheetData/>", "<worksheet><sheetData"})
    EXPECT_FALSE(LocateSheetData(other)) << other;
}

TEST(SheetXml, CutTextIsNeverMisread) {
  const std::string row = "<row r=\"1\" spans=\"1:3\"><c r=\"A1\" s=\"2\"><v>1.5</v></c><c r=\"B1\" t=\"inlineStr\">"
                          "<is><t>a</t></is></c><!-- </row> --><c r=\"C1\"/><?pi ?></row>";
  const auto whole = ReadStartTag(row, 0);
  ASSERT_TRUE(whole);
  ASSERT_EQ(SkipElement(row, 0), row.size());
  for (std::size_t cut = 0; cut < row.size(); ++cut) {
    const std::string text = row.substr(0, cut);
    const auto tag = ReadStartTag(text, 0);
    EXPECT_TRUE(!tag || tag->End == whole->End) << cut;
    EXPECT_FALSE(SkipElement(text, 0)) << cut;
    const auto next = SkipMisc(text, whole->End);
    EXPECT_TRUE(!next || row.compare(*next, 1, "<") == 0) << cut;
  }
}

}  // namespace
}  // namespace tersolv::link::book
