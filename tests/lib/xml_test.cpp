#include "lib/xml_document.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "lib/system.h"
#include "lib/xml_text_reader.h"

namespace {

TMemoryStream Bytes(const std::string& s) {
  return TMemoryStream(std::vector<uint8_t>(s.begin(), s.end()));
}

std::string Text(const TMemoryStream& s) {
  return std::string(s.Bytes().begin(), s.Bytes().end());
}

// A compact picture of a tree: name[attr=value,...]="text"(children).
std::string Dump(const TVelXMLNode& n) {
  std::string s = Utf16ToUtf8(n.NodeName());
  if (n.Attributes().Count()) {
    s += "[";
    for (int i = 0; i < n.Attributes().Count(); ++i) {
      if (i) s += ",";
      s += Utf16ToUtf8(n.Attributes().Items(i)->Name) + "=" +
           Utf16ToUtf8(n.Attributes().Items(i)->Value);
    }
    s += "]";
  }
  if (!n.NodeValue().empty()) s += "=\"" + Utf16ToUtf8(n.NodeValue()) + "\"";
  if (n.Count()) {
    s += "(";
    for (int i = 0; i < n.Count(); ++i) s += (i ? "," : "") + Dump(*n.Nodes(i));
    s += ")";
  }
  return s;
}

// A document: its text (when it has one) and its top-level nodes.
std::string DumpDoc(const TVelXMLDocument& doc) {
  std::string s = doc.NodeValue().empty() ? "" : "=\"" + Utf16ToUtf8(doc.NodeValue()) + "\";";
  for (int i = 0; i < doc.Count(); ++i) s += (i ? "," : "") + Dump(*doc.Nodes(i));
  return s;
}

std::string Load(const std::string& input, bool multipleRoots = false) {
  TVelXMLDocument doc;
  doc.SetAllowMultipleRoots(multipleRoots);
  TMemoryStream s = Bytes(input);
  doc.LoadFromStream(s);
  return DumpDoc(doc);
}

std::string Save(TVelXMLDocument& doc, uint32_t settings = VelXMLSave::Default) {
  TMemoryStream s;
  doc.SaveToStream(s, settings);
  return Text(s);
}

std::string Utf16Le(const std::u16string& s, bool bom) {
  std::string out = bom ? "\xFF\xFE" : "";
  for (char16_t c : s) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
  return out;
}

std::string Utf16Be(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) {
    out.push_back(static_cast<char>(c >> 8));
    out.push_back(static_cast<char>(c & 0xFF));
  }
  return out;
}

}  // namespace

// --- the tree --------------------------------------------------------------

TEST(XmlNode, ChildrenAndLookup) {
  TVelXMLNode root(u"root");
  EXPECT_EQ(root.Count(), 0);
  EXPECT_EQ(root.Nodes(0), nullptr);
  TVelXMLNode* setup = root.Add(u"setup");
  root.Add(u"\u00e4rger");
  EXPECT_EQ(setup->Parent(), &root);
  EXPECT_EQ(root.Nodes(-1), nullptr);
  EXPECT_EQ(root.Nodes(2), nullptr);

  TVelXMLNode* found = nullptr;
  EXPECT_TRUE(root.FindNode(u"SETUP", found));
  EXPECT_EQ(found, setup);
  // Only ASCII letters fold: a different non-ASCII case is another name.
  EXPECT_FALSE(root.FindNode(u"\u00c4rger", found));
  EXPECT_EQ(found, nullptr);
  EXPECT_TRUE(root.FindNode(u"\u00e4RGER", found));

  // Paths: found, missing, created.
  EXPECT_FALSE(root.FindNode(std::vector<String>{u"Setup", u"files", u"file"}, found, false));
  EXPECT_EQ(setup->Count(), 0);
  EXPECT_TRUE(root.FindNode(std::vector<String>{u"Setup", u"files", u"file"}, found, true));
  EXPECT_EQ(found->NodeName(), u"file");
  EXPECT_EQ(found->Parent()->Parent(), setup);
  TVelXMLNode* again = nullptr;
  EXPECT_TRUE(root.FindNode(std::vector<String>{u"SETUP", u"FILES", u"FILE"}, again, true));
  EXPECT_EQ(again, found);
  EXPECT_EQ(setup->Count(), 1);
}

TEST(XmlNode, Attributes) {
  TVelXMLAttributes a;
  a.Add(u"Name", u"first");
  a.Add(u"\u00e9", u"x");
  EXPECT_EQ(a.Count(), 2);
  EXPECT_EQ(a.Items(2), nullptr);
  EXPECT_EQ(a.GetValueDef(u"NAME"), u"first");
  EXPECT_EQ(a.GetValueDef(u"\u00c9"), u"");
  String v = u"unchanged";
  EXPECT_FALSE(a.GetValue(u"missing", v));
  EXPECT_EQ(v, u"unchanged");

  TVelXMLAttributes b;
  b.Assign(a);
  EXPECT_TRUE(b.Equals(a));
  b.Items(1)->Value = u"X";  // values compare exactly
  EXPECT_FALSE(b.Equals(a));
  b.Add(u"NAME", u"second");  // duplicates only by hand; the first wins
  EXPECT_EQ(b.GetValueDef(u"name"), u"first");
  TVelXMLAttributes c;
  c.Add(u"NAME", u"first");
  TVelXMLAttributes d;
  d.Add(u"name", u"first");
  EXPECT_TRUE(c.Equals(d));  // names are looked up like Find
  d.Add(u"x", u"");
  EXPECT_FALSE(c.Equals(d));
}

TEST(XmlNode, SetParentMovesAndRefuses) {
  TVelXMLNode root(u"root");
  TVelXMLNode* a = root.Add(u"a");
  TVelXMLNode* b = root.Add(u"b");
  TVelXMLNode* a1 = a->Add(u"a1");
  TVelXMLNode* a11 = a1->Add(u"a11");
  const std::string before = Dump(root);
  for (TVelXMLNode* target : {static_cast<TVelXMLNode*>(nullptr), a, &root, a1, a11}) {
    a->SetParent(target);  // none, itself, its parent, its descendants
    EXPECT_EQ(Dump(root), before);
  }
  TVelXMLNode free(u"free");
  free.SetParent(&root);  // belongs to no list: stays where it is
  EXPECT_EQ(Dump(root), before);

  a1->SetParent(b);
  EXPECT_EQ(Dump(root), "root(a,b(a1(a11)))");
  EXPECT_EQ(a1->Parent(), b);
  a->SetParent(b);
  EXPECT_EQ(Dump(root), "root(b(a1(a11),a))");
}

TEST(XmlNode, AssignAndEquals) {
  TVelXMLNode src(u"s");
  src.SetNodeValue(u"text");
  src.Attributes().Add(u"k", u"v");
  TVelXMLNode* c = src.Add(u"c");
  c->Add(u"d")->Attributes().Add(u"x", u"1");
  TVelXMLNode copy;
  copy.Add(u"old");
  copy.Assign(src);
  EXPECT_EQ(Dump(copy), "s[k=v]=\"text\"(c(d[x=1]))");
  EXPECT_TRUE(copy.Equals(src));

  // Assigning a node's own descendant to it.
  src.Assign(*c);
  EXPECT_EQ(Dump(src), "c(d[x=1])");

  struct Case {
    const char* what;
    void (*change)(TVelXMLNode&);
  } cases[] = {
      {"name case", [](TVelXMLNode& n) { n.SetNodeName(u"S"); }},
      {"text", [](TVelXMLNode& n) { n.SetNodeValue(u"Text"); }},
      {"attribute value", [](TVelXMLNode& n) { n.Attributes().Items(0)->Value = u"V"; }},
      {"extra attribute", [](TVelXMLNode& n) { n.Attributes().Add(u"k2", u""); }},
      {"extra child", [](TVelXMLNode& n) { n.Add(u"c"); }},
      {"grandchild text", [](TVelXMLNode& n) { n.Nodes(0)->Nodes(0)->SetNodeValue(u"t"); }},
  };
  TVelXMLNode base(u"s");
  base.SetNodeValue(u"text");
  base.Attributes().Add(u"k", u"v");
  base.Add(u"c")->Add(u"d");
  for (const auto& k : cases) {
    TVelXMLNode other;
    other.Assign(base);
    EXPECT_TRUE(other.Equals(base)) << k.what;
    k.change(other);
    EXPECT_FALSE(other.Equals(base)) << k.what;
  }
  TVelXMLDocument doc;
  EXPECT_FALSE(doc.Equals(TVelXMLNode()));  // different classes
}

TEST(XmlDocument, OneRootUnlessAllowed) {
  TVelXMLDocument doc;
  TVelXMLNode* root = doc.Add(u"a");
  EXPECT_EQ(root->Parent(), nullptr);
  try {
    doc.Add(u"b");
    FAIL() << "second root accepted";
  } catch (const EVelXMLDocument& e) {
    EXPECT_EQ(e.Message(), u"Only one Root available");
  }
  // Moving a node to the top level is refused the same way, and nothing moves.
  TVelXMLNode* child = root->Add(u"child");
  EXPECT_THROW(child->SetParent(&doc), EVelXMLDocument);
  EXPECT_EQ(DumpDoc(doc), "a(child)");
  doc.SetAllowMultipleRoots(true);
  child->SetParent(&doc);
  EXPECT_EQ(DumpDoc(doc), "a,child");
  EXPECT_EQ(child->Parent(), nullptr);
}

// --- loading text ----------------------------------------------------------

TEST(XmlDocument, LoadText) {
  struct Case {
    const char* input;
    const char* tree;
  } cases[] = {
      {"", ""},
      {"<a>", ""},  // fewer than 4 bytes
      {"<a/>", "a"},
      {"<a>x<b/>y</a>", "a=\"y\"(b)"},
      {"<a>x<!-- c -->y</a>", "a=\"y\""},
      {"<a><b>t</b><c><d", "a(b=\"t\",c)"},  // truncated: no error
      {"<a><b>t</b><c x='1' y='", "a(b=\"t\")"},
      {"<a>\n  <b/>\n</a>", "a(b)"},
      {"<a xml:space=\"preserve\"> <b>\t</b></a>", "a[xml:space=preserve]=\" \"(b=\"\t\")"},
      {"<a xml:space=\"preserve\"><b xml:space=\"default\"> </b></a>",
       "a[xml:space=preserve](b[xml:space=default])"},
      {"<r><a/><b xml:space=\"keep\"/><c/></r>", "r(a)"},
      {"<a b=\"x&#10;y\tz &amp; &lt;&#x41;\" c='\"'>&quot;&#65;&apos;</a>",
       "a[b=x\ny z & <A,c=\"]=\"\"A'\""},
      {"<a>l1\r\nl2\rl3</a>", "a=\"l1\nl2\nl3\""},
      {"<x:a xmlns:x=\"urn:x\" x:b=\"1\"><x:c/></x:a>", "x:a[xmlns:x=urn:x,x:b=1](x:c)"},
      {"<a><![CDATA[<&>]]></a>", "a=\"<&>\""},
      {"<a>x<![CDATA[y]]>z</a>", "a=\"z\""},
      {"<a b=\"\x01\">\x02\x1F</a>", "a[b=\x01]=\"\x02\x1F\""},  // character checking off
      {"<a>\xEF\xBF\xBF\xF4\x8F\xBC\x81</a>", "a=\"\xEF\xBF\xBF\xF4\x8F\xBC\x81\""},
      {"<a/><b/>", "a"},  // a second root ends loading
      {"<a/>text", "a"},
      {"<?xml version=\"1.0\"?>\r\n<?pi x?><!-- c --><a/>", "a"},
      {"\xEF\xBB\xBF<a>\xC3\xA9</a>", "a=\"\xC3\xA9\""},
      {"<?xml version=\"1.0\" encoding=\"windows-1252\"?><a>\x80\xE9</a>",
       "a=\"\xE2\x82\xAC\xC3\xA9\""},
      {"<?xml version='1.0' encoding='ISO-8859-1'?><a b='\xE9'/>", "a[b=\xC3\xA9]"},
      {"<?xml version='1.0' encoding='us-ascii'?><a><b/>\xE9</a>", "a(b)"},
      {"<?xml version='1.0' encoding='koi8-r'?><a/>", ""},
      {"<!DOCTYPE a [<!ENTITY e 'x'>]><a>&e;</a>", ""},
      {"<a>&undefined;</a>", "a"},
      {"<a>\xC3</a>", "a"},  // broken UTF-8
      {"   ", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Load(c.input), c.tree) << c.input;
}

TEST(XmlDocument, LoadTextEncodings) {
  const String doc = u"<?xml version=\"1.0\" encoding=\"utf-16\"?><a b=\"\u00e9\">\U0001F3B5</a>";
  const std::string expected = "a[b=\xC3\xA9]=\"\xF0\x9F\x8E\xB5\"";
  EXPECT_EQ(Load(Utf16Le(doc, true)), expected);
  EXPECT_EQ(Load(Utf16Le(doc, false)), expected);
  EXPECT_EQ(Load("\xFE\xFF" + Utf16Be(doc)), expected);
  EXPECT_EQ(Load(Utf16Be(doc)), expected);
  EXPECT_EQ(Load(Utf16Le(u"<a>\xD800</a>", true)), "a");  // lone surrogate
  EXPECT_EQ(Load(std::string("\x00\x00\x00<\x00\x00\x00"
                             "a\x00\x00\x00/\x00\x00\x00>",
                             16)),
            "");
  EXPECT_EQ(Load("\x4C\x6F\xA7\x94\x93\xC0"), "");  // EBCDIC
}

TEST(XmlDocument, LoadFragments) {
  EXPECT_EQ(Load("<a/>text<b x='1'>y</b>", true), "=\"text\";a,b[x=1]=\"y\"");
  EXPECT_EQ(Load("<?xml version=\"1.0\"?>\n<a/>\n<b/>", true), "a,b");
  EXPECT_EQ(Load("<a/><b/></c><d/>", true), "a,b");
  EXPECT_EQ(Load("<a/><b><c/>", true), "a,b(c)");
  EXPECT_EQ(Load("<a/><?xml version='1.0'?><b/>", true), "a");
}

TEST(XmlDocument, DeepNestingDoesNotExhaustTheStack) {
  const int depth = 200000;
  std::string text;
  for (int i = 0; i < depth; ++i) text += "<n>";
  text += "x";
  for (int i = 0; i < depth; ++i) text += "</n>";
  TVelXMLDocument doc;
  TMemoryStream in = Bytes(text);
  doc.LoadFromStream(in);
  const TVelXMLNode* n = &doc;
  int levels = 0;
  while (n->Count()) {
    n = n->Nodes(0);
    ++levels;
  }
  EXPECT_EQ(levels, depth);
  EXPECT_EQ(n->NodeValue(), u"x");

  TVelXMLDocument copy;
  copy.Assign(doc);
  EXPECT_TRUE(copy.Equals(doc));
  for (uint32_t settings : {VelXMLSave::Binary, VelXMLSave::Text}) {
    TMemoryStream out;
    doc.SaveToStream(out, settings);
    out.SetPosition(0);
    TVelXMLDocument back;
    back.LoadFromStream(out);
    EXPECT_TRUE(back.Equals(doc));
  }
}

// --- saving text -----------------------------------------------------------

TEST(XmlDocument, SaveTextExactBytes) {
  TVelXMLDocument doc;
  TVelXMLNode* root = doc.Add(u"Setup");
  root->Attributes().Add(u"a", u"&<>\"'\t\n\r");
  TVelXMLNode* text = root->Add(u"Text");
  text->SetNodeValue(u"1\r\n2\n3\r4 & <x> \"q\" 'a'\t\u00e9");
  root->Add(u"Empty")->Attributes().Add(u"k", u"v");
  TVelXMLNode* mixed = root->Add(u"Mixed");
  mixed->SetNodeValue(u"t");
  mixed->Add(u"Inner");

  EXPECT_EQ(Save(doc),
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
            "<Setup a=\"&amp;&lt;&gt;&quot;'&#x9;&#xA;&#xD;\">\r\n"
            "\t<Text>1\r\n2\r\n3\r\n4 &amp; &lt;x&gt; \"q\" 'a'\t\xC3\xA9</Text>\r\n"
            "\t<Empty k=\"v\"/>\r\n"
            "\t<Mixed>t\r\n"
            "\t\t<Inner/>\r\n"
            "\t</Mixed>\r\n"
            "</Setup>");
  EXPECT_EQ(Save(doc, VelXMLSave::Text),
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
            "<Setup a=\"&amp;&lt;&gt;&quot;'&#x9;&#xA;&#xD;\">"
            "<Text>1\r\n2\r\n3\r\n4 &amp; &lt;x&gt; \"q\" 'a'\t\xC3\xA9</Text>"
            "<Empty k=\"v\"/><Mixed>t<Inner/></Mixed></Setup>");

  TVelXMLDocument small;
  TVelXMLNode* r = small.Add(u"r");
  r->Attributes().Add(u"a", u"1");
  r->Attributes().Add(u"b", u"2");
  r->Add(u"c");
  EXPECT_EQ(Save(small, VelXMLSave::Default | VelXMLSave::NewLineOnAttributes),
            "<?xml version=\"1.0\" "
            "encoding=\"utf-8\"?>\r\n<r\r\n\ta=\"1\"\r\n\tb=\"2\">\r\n\t<c/>\r\n</r>");
  TVelXMLDocument empty;
  EXPECT_EQ(Save(empty), "<?xml version=\"1.0\" encoding=\"utf-8\"?>");
  TMemoryStream sink;
  EXPECT_THROW(small.SaveToStream(sink, 0x02000000), EInvalidOperation);
}

TEST(XmlDocument, TextRoundTrip) {
  TVelXMLDocument doc;
  TVelXMLNode* root = doc.Add(u"install");
  root->Attributes().Add(u"name", u"Mivo \"5\" <&> \t\n\r end");
  TVelXMLNode* files = root->Add(u"files");
  for (int i = 0; i < 3; ++i) {
    TVelXMLNode* f = files->Add(u"file");
    f->Attributes().Add(u"src", u"bin\\" + IntToStr(i));
    f->SetNodeValue(u"line 1\nline 2 \u00e9\U0001F3B5 ' \" & < >");
  }
  root->Add(u"empty");
  TMemoryStream s;
  doc.SaveToStream(s);
  s.SetPosition(0);
  TVelXMLDocument back(s);
  EXPECT_TRUE(back.Equals(doc)) << Dump(back);
}

TEST(XmlDocument, SaveToFile) {
  TVelXMLDocument doc;
  doc.Add(u"a")->SetNodeValue(u"x");
  const std::string path = ::testing::TempDir() + "vel_xml_save_test.xml";
  doc.SaveToFile(Utf8ToUtf16(path));
  auto in = OpenFileStream(Utf8ToUtf16(path));
  const std::vector<uint8_t> bytes = ReadAll(*in);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()),
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<a>x</a>");
  in.reset();
  std::remove(path.c_str());
  EXPECT_THROW(doc.SaveToFile(Utf8ToUtf16(::testing::TempDir() + "no-such-dir/x/dump.xml")),
               EFCreateError);
}

// --- binary forms ----------------------------------------------------------

TEST(XmlDocument, BinaryExactBytes) {
  TVelXMLDocument doc;
  TVelXMLNode* a = doc.Add(u"a");
  a->Attributes().Add(u"k", u"\u00e9");
  a->Add(u"k")->SetNodeValue(u"hi");
  a->Add(u"a");
  const std::string tree = std::string(
      "\x01"                    // one top-level node
      "\x00\x03"                // name 0 "a", attributes and children
      "\x01\x01\x01\xE9\x00"    // one attribute: name 1 "k", 1 unit
      "\x02"                    // two children
      "\x01\x04\x02h\x00i\x00"  // "k" with text
      "\x00\x00",               // "a", nothing
      18);
  const std::string table = std::string(
      "\x02\x01"
      "a"
      "\x01"
      "k",
      5);
  const std::string expected =
      std::string("SXML\x12\x00\x00\x00\x00\x00\x00\x00", 12) + tree + table;
  EXPECT_EQ(Save(doc, VelXMLSave::Binary), expected);

  TVelXMLDocument back;
  TMemoryStream in = Bytes(expected + "trailing");
  back.LoadFromStream(in);
  EXPECT_TRUE(back.Equals(doc));
  EXPECT_EQ(in.Position(), static_cast<int64_t>(expected.size()));
}

TEST(XmlDocument, BinaryRoundTrip) {
  TVelXMLDocument doc;
  doc.SetAllowMultipleRoots(true);
  for (int r = 0; r < 2; ++r) {
    TVelXMLNode* root = doc.Add(u"r\u00e9" + IntToStr(r));
    root->Attributes().Add(u"name", u"\U0001F3B5 \r\n\t");
    root->Attributes().Add(u"empty", u"");
    for (int i = 0; i < 200; ++i) {  // indices and lengths above 127 need two varint bytes
      TVelXMLNode* c = root->Add(u"child" + IntToStr(i));
      c->SetNodeValue(String(static_cast<size_t>(i), u'x'));
      c->Attributes().Add(u"name", IntToStr(i));
    }
  }
  TMemoryStream s;
  doc.SaveToStream(s, VelXMLSave::Binary);
  s.SetPosition(0);
  TVelXMLDocument back;
  back.SetAllowMultipleRoots(true);
  back.LoadFromStream(s);
  EXPECT_TRUE(back.Equals(doc));
}

TEST(XmlDocument, LegacyBinarySample) {
  auto u16 = [](uint16_t v) {
    return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
  };
  auto i32 = [](int32_t v) {
    std::string s;
    for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>(static_cast<uint32_t>(v) >> (8 * i)));
    return s;
  };
  std::string b = "BXML" + i32(1);
  b += u16(5) + "Setup" + "\x03";  // attributes and children
  b += i32(1) + u16(4) + "Name" + u16(2) + std::string("M\x00\xE9\x00", 4);
  b += i32(2);
  b += u16(4) + "File" + "\x04" + i32(3) +
       std::string(
           "a\x00.\x00"
           "b\x00",
           6);
  b += u16(5) + std::string("\xC4mpty") + std::string(1, '\0');
  TMemoryStream in = Bytes(b);
  TVelXMLDocument doc(in);
  EXPECT_EQ(DumpDoc(doc), "Setup[Name=M\xC3\xA9](File=\"a.b\",\xC3\x84mpty)");
}

TEST(XmlDocument, TruncatedBinaryRaisesReadError) {
  TVelXMLDocument doc;
  TVelXMLNode* a = doc.Add(u"a");
  a->Attributes().Add(u"k", u"value");
  a->Add(u"b")->SetNodeValue(u"text");
  const std::string sxml = Save(doc, VelXMLSave::Binary);
  const std::string bxml = std::string(
                               "BXML\x01\x00\x00\x00\x01\x00"
                               "a\x03",
                               12) +
                           std::string("\x01\x00\x00\x00\x01\x00k\x01\x00v\x00", 11) +
                           std::string(
                               "\x01\x00\x00\x00\x01\x00"
                               "b\x00",
                               8);
  {
    TMemoryStream whole = Bytes(bxml);
    EXPECT_EQ(DumpDoc(TVelXMLDocument(whole)), "a[k=v](b)");
  }
  for (const std::string& full : {sxml, bxml}) {
    for (size_t cut = 4; cut < full.size(); ++cut) {
      TMemoryStream in = Bytes(full.substr(0, cut));
      TVelXMLDocument d;
      try {
        d.LoadFromStream(in);
        ADD_FAILURE() << full.substr(0, 4) << " cut at " << cut << " loaded";
      } catch (const EReadError& e) {
        EXPECT_EQ(e.Message(), u"Stream read error");
      }
    }
  }
}

TEST(XmlDocument, HostileBinarySizes) {
  using namespace std::string_literals;
  const std::string cases[] = {
      "SXML\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x7F"s,                          // tree length past the end
      "SXML\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF"s,                          // negative tree length
      "SXML\x00\x00\x00\x00\x00\x00\x00\x00\xFF\xFF\xFF\xFF\x0F"s,      // huge string count
      "SXML\x00\x00\x00\x00\x00\x00\x00\x00\x01\xFF\xFF\xFF\xFF\x0F"s,  // huge string length
      "SXML\x02\x00\x00\x00\x00\x00\x00\x00\x01\x05\x01\x01"
      "a"s,  // name index out of range
      "SXML\x0B\x00\x00\x00\x00\x00\x00\x00\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x01\x00"s,  // varint > 64 bits
      "SXML\x04\x00\x00\x00\x00\x00\x00\x00\xFF\xFF\xFF\x0F\x00"s,  // huge node count
      "BXML\xFF\xFF\xFF\x7F"s,                                      // huge node count
      "BXML\xFF\xFF\xFF\xFF"s,                                      // negative node count
      "BXML\x01\x00\x00\x00\x01\x00"
      "a\x04\xFF\xFF\xFF\x7F"s,  // huge text length
  };
  for (const std::string& bytes : cases) {
    TMemoryStream in = Bytes(bytes);
    TVelXMLDocument d;
    EXPECT_THROW(d.LoadFromStream(in), EReadError) << bytes;
  }
}

// --- the reader on its own -------------------------------------------------

namespace {

String ReadError(const std::string& input,
                 TVelXMLConformance conformance = TVelXMLConformance::Document) {
  TMemoryStream s = Bytes(input);
  TVelXMLReaderSettings settings;
  settings.Conformance = conformance;
  TVelXMLTextReader reader(s, settings);
  try {
    while (reader.Read()) {
    }
  } catch (const EVelXMLException& e) {
    return e.Message();
  }
  return u"(no error)";
}

}  // namespace

TEST(XmlTextReader, ErrorMessages) {
  struct Case {
    const char* input;
    const char16_t* message;
  } cases[] = {
      {"", u"Root element is missing. Line 1, position 1"},
      {"<a><b>",
       u"Unexpected end of file has occurred. The following elements are not closed: a, b Line 1, "
       u"position 7"},
      {"<a><b", u"Unexpected end of file while parsing Name has occurred. Line 1, position 4"},
      {"<a b='x", u"There is an unclosed literal string. Line 1, position 1"},
      {"<a><!-- x",
       u"Unexpected end of file while parsing Comment has occurred. Line 1, position 4"},
      {"abc", u"Data at the root level is invalid. Line 1, position 1"},
      {"<a/><b/>", u"There are multiple root elements. Line 1, position 6"},
      {"<a/></b>", u"Unexpected end tag. Line 1, position 7"},
      {"<a>\n  <b></c>",
       u"The 'b' start tag on line '2' position '4' does not match the end tag of 'c'. Line 2, "
       u"position 8"},
      {"<a b='1' b='2'/>", u"b is a duplicate attribute name Line 1, position 10"},
      {"<1a/>",
       u"Name cannot begin with the '1' character, hexadecimal value 0x31. Line 1, position 2"},
      {"<ab\x01/>",
       u"The '\x01' character, hexadecimal value 0x01, cannot be included in a name. Line 1, "
       u"position 4"},
      {"<a>x\x01</a>",
       u"'\x01', hexadecimal value 0x01, is an invalid character. Line 1, position 5"},
      {"<a b='<'/>",
       u"'<', hexadecimal value 0x3C, is an invalid attribute character. Line 1, position 7"},
      {"<a><!-- x -- y --></a>",
       u"An XML comment cannot contain '--', and '-' cannot be the last character. Line 1, "
       u"position 13"},
      {"<a>]]></a>", u"']]&gt;' is not allowed in character data. Line 1, position 4"},
      {"<a>&#xZZ;</a>",
       u"Invalid syntax for a hexadecimal numeric entity reference. Line 1, position 7"},
      {"<a>&#1a;</a>",
       u"Invalid syntax for a decimal numeric entity reference. Line 1, position 7"},
      {"<a>&#0;</a>", u"Invalid value of a character entity reference. Line 1, position 4"},
      {" <?xml version='1.0'?><a/>",
       u"Unexpected XML declaration. The XML declaration must be the first node in the document, "
       u"and no white space characters are allowed to appear before it. Line 1, position 2"},
      {"<?xml foo='1'?><a/>", u"Syntax for an XML declaration is invalid. Line 1, position 7"},
      {"<a><!DOCTYPE a></a>", u"Unexpected DTD declaration. Line 1, position 4"},
      {"<a>\xC3(</a>", u"Invalid character in the given encoding. Line 1, position 4"},
      {"<a xml:space='x'/>", u"'x' is an invalid xml:space value. Line 1, position 2"},
      {"<?xml version='1.0' encoding='koi8-r'?><a/>",
       u"System does not support 'koi8-r' encoding. Line 1, position 31"},
      {"<a>&nbsp;</a>", u"Reference to undeclared entity 'nbsp'. Line 1, position 5"},
  };
  for (const auto& c : cases) EXPECT_EQ(ReadError(c.input), c.message) << c.input;

  EXPECT_EQ(ReadError("<a/></b>", TVelXMLConformance::Fragment),
            u"Unexpected end tag. Line 1, position 7");
  EXPECT_EQ(ReadError("<?xml version='1.0'?><a>\n<b></c></a>", TVelXMLConformance::Fragment),
            u"The 'b' start tag on line '2' position '2' does not match the end tag of 'c'. Line "
            u"2, position 6");
  EXPECT_EQ(ReadError("<?xml version='1.0'?><a><b>", TVelXMLConformance::Fragment),
            u"Unexpected end of file has occurred. The following elements are not closed: a, b "
            u"Line 1, position 28");
  EXPECT_EQ(ReadError("<a/>text<b/>", TVelXMLConformance::Fragment), u"(no error)");
  EXPECT_EQ(EVelXMLException(u"").Message(), u"An XML error has occurred.");
  EXPECT_EQ(EVelXMLException(u"", 3, 4).Message(),
            u"An XML error has occurred. Line 3, position 4");
}

TEST(XmlTextReader, NodeStream) {
  TMemoryStream s = Bytes(
      "<?xml version=\"1.0\"?><!--c--><a x=\"1\" y='2'><?pi data?>\n <b/>t<![CDATA[c]]>"
      "<c xml:space='preserve'> </c></a>");
  TVelXMLTextReader reader(s);
  std::string seen;
  while (reader.Read()) {
    static const char* names[] = {"None",
                                  "Element",
                                  "Text",
                                  "CDATA",
                                  "PI",
                                  "Comment",
                                  "DocumentType",
                                  "Whitespace",
                                  "SignificantWhitespace",
                                  "EndElement",
                                  "XmlDeclaration"};
    seen += names[static_cast<int>(reader.NodeType())];
    seen += ":" + Utf16ToUtf8(reader.Name()) + ":" + Utf16ToUtf8(reader.Value()) + ":" +
            std::to_string(reader.Depth());
    if (reader.IsEmptyElement()) seen += ":empty";
    for (const auto& a : reader.Attributes())
      seen += ":" + Utf16ToUtf8(a.Name) + "=" + Utf16ToUtf8(a.Value);
    seen += "\n";
  }
  EXPECT_EQ(seen,
            "XmlDeclaration:xml:version=\"1.0\":0\n"
            "Comment::c:0\n"
            "Element:a::0:x=1:y=2\n"
            "PI:pi:data:1\n"
            "Whitespace::\n :1\n"
            "Element:b::1:empty\n"
            "Text::t:1\n"
            "CDATA::c:1\n"
            "Element:c::1:xml:space=preserve\n"
            "SignificantWhitespace:: :2\n"
            "EndElement:c::1\n"
            "EndElement:a::0\n");
  EXPECT_FALSE(reader.Read());
}

TEST(XmlTextReader, CharacterLimit) {
  TMemoryStream s = Bytes("<a>0123456789</a>");
  TVelXMLReaderSettings settings;
  settings.MaxCharactersInDocument = 10;
  TVelXMLTextReader reader(s, settings);
  EXPECT_TRUE(reader.Read());
  try {
    while (reader.Read()) {
    }
    FAIL() << "limit not enforced";
  } catch (const EVelXMLException& e) {
    EXPECT_EQ(e.Message(),
              u"The input document has exceeded a limit set by MaxCharactersInDocument.");
  }
}
