#include <gtest/gtest.h>

#include <string>

#include "platform/richtext/rtf_reader.h"

namespace veltrane::richtext {
namespace {

std::u16string textOf(const RtfParagraph& p) {
  std::u16string s;
  for (const RtfRun& r : p.runs) s += r.text;
  return s;
}

std::u16string allText(const RtfDocument& d) {
  std::u16string s;
  for (std::size_t i = 0; i < d.paragraphs.size(); ++i) {
    if (i) s += u'|';
    s += textOf(d.paragraphs[i]);
  }
  return s;
}

RtfDocument read(const std::string& rtf) {
  RtfDocument d;
  std::string why;
  EXPECT_EQ(ReadRtf(rtf, d, &why), kRtfOk) << why;
  return d;
}

TEST(RtfReader, CharacterParagraphAndPageFormats) {
  RtfDocument d = read(
      "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\fswiss Arial;}{\\f1\\froman\\fcharset0 Times New Roman;}}"
      "{\\colortbl;\\red255\\green0\\blue0;}"
      "\\paperw11906\\paperh16838\\margl1134\\margr567\\margt850\\margb1417"
      "\\pard\\qc\\fi-360\\li720\\ri288\\sb120\\sa240\\sl-480\\slmult0\\tqr\\tx5000\\tx7000 "
      "{\\f1\\fs32\\b Bold}{\\i italic}\\ul under\\ulnone {\\cf1 red}\\par"
      "\\pard\\qj\\pagebb\\sl360\\slmult1 Next}");
  ASSERT_EQ(d.paragraphs.size(), 2u);
  EXPECT_EQ(d.layout, (RtfPageLayout{11906, 16838, 1134, 567, 850, 1417}));
  ASSERT_EQ(d.fonts.size(), 2u);
  EXPECT_EQ(d.fonts[1].name, "Times New Roman");

  const RtfParagraph& p = d.paragraphs[0];
  EXPECT_EQ(p.format.align, RtfAlign::Center);
  EXPECT_EQ(p.format.firstIndent, -360);
  EXPECT_EQ(p.format.leftIndent, 720);
  EXPECT_EQ(p.format.rightIndent, 288);
  EXPECT_EQ(p.format.spaceBefore, 120);
  EXPECT_EQ(p.format.spaceAfter, 240);
  EXPECT_EQ(p.format.lineHeight, -480);
  EXPECT_FALSE(p.format.lineMultiple);
  EXPECT_EQ(p.format.tabs, (std::vector<RtfTab>{{5000, RtfTabKind::Right}, {7000, RtfTabKind::Left}}));
  ASSERT_EQ(p.runs.size(), 4u);
  EXPECT_EQ(p.runs[0].text, u"Bold");
  EXPECT_EQ(p.runs[0].format.font, 1);
  EXPECT_EQ(p.runs[0].format.halfPoints, 32);
  EXPECT_TRUE(p.runs[0].format.bold);
  EXPECT_EQ(p.runs[1].text, u"italic");
  EXPECT_TRUE(p.runs[1].format.italic);
  EXPECT_FALSE(p.runs[1].format.bold);  // the group ended
  EXPECT_EQ(p.runs[1].format.font, 0);  // \deff0
  EXPECT_EQ(p.runs[2].text, u"under");
  EXPECT_TRUE(p.runs[2].format.underline);
  EXPECT_EQ(p.runs[3].text, u"red");
  EXPECT_EQ(p.runs[3].format.color, 0xFF0000);

  const RtfParaFormat& q = d.paragraphs[1].format;
  EXPECT_EQ(q.align, RtfAlign::Justify);
  EXPECT_TRUE(q.pageBreakBefore);
  EXPECT_TRUE(q.lineMultiple);
  EXPECT_EQ(q.lineHeight, 360);
}

TEST(RtfReader, DecodesCodePagesUnicodeAndSymbols) {
  static const struct {
    const char* rtf;
    const char16_t* text;
  } kCases[] = {
      {"{\\rtf1\\ansi caf\\'e9 \\'80}", u"café €"},
      {"{\\rtf1\\ansi\\ansicpg1251 \\'cf\\'f0\\'e8}", u"При"},
      {"{\\rtf1{\\fonttbl{\\f0 A;}{\\f1\\fcharset238 B;}}\\f1 \\'b9\\f0 \\'b9}", u"ą¹"},
      {"{\\rtf1\\ansi\\ansicpg932 \\'82\\'a0}", u"あ"},
      {"{\\rtf1 \\u8364?x}", u"€x"},
      {"{\\rtf1 \\uc2\\u8364\\'80\\'80x}", u"€x"},
      {"{\\rtf1 \\u-4064?}", u"\xF020"},
      {"{\\rtf1 a\\tab b\\line c\\~d\\{\\}\\\\}", u"a\tb\u2028c\u00A0d{}\\"},
      {"{\\rtf1 \\lquote x\\rquote  \\emdash}", u"‘x’ —"},
      {"{\\rtf1 a\\v hidden\\v0 b}", u"ab"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(allText(read(c.rtf)), std::u16string(c.text)) << c.rtf;
  }
}

TEST(RtfReader, SkipsDestinationsPicturesAndObjects) {
  RtfDocument d = read(
      "{\\rtf1{\\info{\\title T}{\\author A}}{\\stylesheet{\\s0 Normal;}}"
      "{\\*\\generator LibreOffice}{\\header head}{\\*\\unknown{nested {deep}} x}"
      "A{\\pict\\pngblip\\picw10 89504e47}"
      "{\\*\\shppict{\\pict\\bin6 }}{{}}}}B"
      "{\\object\\objemb{\\*\\objdata 0102}{\\result R}}C"
      "{\\footnote note}D}");
  EXPECT_EQ(allText(d), u"ABCD");
}

TEST(RtfReader, PageBreaksSectionsAndTables) {
  static const struct {
    const char* rtf;
    const char16_t* text;
    std::vector<bool> breaks;
  } kCases[] = {
      {"{\\rtf1 one\\page two\\par three}", u"one|two|three", {false, true, false}},
      {"{\\rtf1 one\\par\\page two}", u"one|two", {false, true}},
      {"{\\rtf1\\page one}", u"one", {false}},
      {"{\\rtf1 one\\sect two}", u"one|two", {false, true}},
      {"{\\rtf1 one\\sect\\sectd\\sbknone two}", u"one|two", {false, false}},
      {"{\\rtf1\\trowd\\cellx1000\\cellx2000\\intbl a\\cell b\\cell\\row\\pard after}",
       u"a\tb|after", {false, false}},
  };
  for (const auto& c : kCases) {
    RtfDocument d = read(c.rtf);
    EXPECT_EQ(allText(d), std::u16string(c.text)) << c.rtf;
    std::vector<bool> breaks;
    for (const auto& p : d.paragraphs) breaks.push_back(p.format.pageBreakBefore);
    EXPECT_EQ(breaks, c.breaks) << c.rtf;
  }
}

TEST(RtfReader, PlaceholderFieldsKeepCodeMarkerAndText) {
  RtfDocument d = read(
      "{\\rtf1 To: {\\field{\\*\\fldinst{ VLNFIELD 1 MARKER }}{\\fldrslt{\\cf1 *}{[RECIPIENT]}}}"
      " re {\\field{\\*\\fldinst VLNFIELD 3}{\\fldrslt Fax}}"
      " see {\\field{\\*\\fldinst HYPERLINK \"http://x\"}{\\fldrslt link}}"
      " bad {\\field{\\*\\fldinst VLNFIELD 9}{\\fldrslt nine}}}");
  ASSERT_EQ(d.paragraphs.size(), 1u);
  EXPECT_EQ(allText(d), u"To: *[RECIPIENT] re Fax see link bad nine");
  std::vector<std::tuple<std::u16string, int, bool>> fields;
  for (const RtfRun& r : d.paragraphs[0].runs) {
    if (r.format.placeholderCode) fields.emplace_back(r.text, r.format.placeholderCode, r.format.marker);
  }
  EXPECT_EQ(fields, (decltype(fields){{u"*", 1, true}, {u"[RECIPIENT]", 1, false}, {u"Fax", 3, false}}));
}

TEST(RtfReader, MalformedInputLoadsWhatItCanOrFailsClearly) {
  RtfDocument d;
  std::string why;
  EXPECT_EQ(ReadRtf("plain text", d, &why), kRtfNotRtf);
  EXPECT_NE(why.find("not an RTF"), std::string::npos);
  EXPECT_EQ(ReadRtf(std::string(1000, '{').insert(0, "{\\rtf1"), d, &why), kRtfTooDeep);
  EXPECT_TRUE(d.paragraphs.empty());
  RtfReadLimits small;
  small.maxTextChars = 10;
  EXPECT_EQ(ReadRtf("{\\rtf1 " + std::string(100, 'x') + "}", d, &why, small), kRtfTooLarge);
  RtfReadLimits fewRuns;
  fewRuns.maxRuns = 10;
  std::string toggling = "{\\rtf1 ";
  for (int i = 0; i < 20; ++i) toggling += "\\b x\\b0 y";
  EXPECT_EQ(ReadRtf(toggling + "}", d, &why, fewRuns), kRtfTooLarge);
  EXPECT_NE(why.find("format"), std::string::npos);

  // Truncated files and stray braces keep the text read so far.
  EXPECT_EQ(allText(read("{\\rtf1 {\\b bold} and more")), u"bold and more");
  EXPECT_EQ(allText(read("{\\rtf1 a}}} b")), u"a");
  EXPECT_EQ(allText(read("{\\rtf1 a\\")), u"a");
  EXPECT_EQ(allText(read("{\\rtf1 a\\'4")), u"a");
  EXPECT_EQ(allText(read("{\\rtf1 \\fs999999999999 \\li-99999999999 x}")), u"x");
  EXPECT_EQ(allText(read("{\\rtf1{\\pict\\bin999999 }")), u"");
  EXPECT_EQ(read("{\\rtf1}").paragraphs.size(), 1u);
}

}  // namespace
}  // namespace veltrane::richtext
