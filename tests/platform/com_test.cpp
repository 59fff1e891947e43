// COM on worker threads, new GUIDs and shell links as the shortcut step
// makes them: a link to a program alone, replaced in place, read back with
// a long path.
#include <set>

#include "platform/com.h"
#include "platform/handles.h"
#include "platform/shell.h"
#include "platform_fixture.h"

namespace platform_test {
namespace {

using namespace platform;

bool IsRegistryGuid(const String& text) {
  if (text.size() != 38 || text.front() != u'{' || text.back() != u'}') return false;
  for (size_t i = 1; i < 37; ++i) {
    const char16_t c = text[i];
    if (i == 9 || i == 14 || i == 19 || i == 24) {
      if (c != u'-') return false;
    } else if (!((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F'))) {
      return false;
    }
  }
  return true;
}

using ComTest = PlatformTest;

TEST_F(ComTest, GuidsInRegistryFormAreNew) {
  std::set<String> seen;
  for (int i = 0; i < 32; ++i) {
    String guid;
    ASSERT_TRUE(CreateGuidText(guid));
    EXPECT_TRUE(IsRegistryGuid(guid)) << U8(guid);
    seen.insert(guid);
  }
  EXPECT_EQ(seen.size(), 32u);
}

TEST_F(ComTest, ShellLinksOnAWorkerThreadWithNestedScopes) {
  const String program = ModuleFileName();
  const String path = dir_ + u"Worker.lnk";
  bool made = false, scoped = false;
  TShellLink back;
  TWaitHandle worker = StartThread([&] {
    TComScope outer;
    TComScope inner;
    scoped = outer.Initialized() && inner.Initialized();
    TShellLink link;
    link.target = program;
    made = CreateShellLink(path, link) && ReadShellLink(path, back);
  });
  ASSERT_EQ(Wait(worker, kInfinite), WaitResult::Signalled);
  EXPECT_TRUE(scoped);
  ASSERT_TRUE(made) << LastError();
  EXPECT_TRUE(SameTextAscii(back.target, program)) << U8(back.target);
  // A link to a program alone carries nothing else.
  EXPECT_EQ(U8(back.arguments), "");
  EXPECT_EQ(U8(back.workingDirectory), "");
  EXPECT_EQ(U8(back.description), "");
}

TEST_F(ComTest, ShellLinksReplacedAndReadBackUnderLongPaths) {
  const String first = ModuleFileName();
  const String second = dir_ + u"Other.exe";
  ASSERT_TRUE(WriteText(second, "MZ"));
  // A folder deep enough that the link's path has more than 260 characters.
  String folder = dir_;
  while (folder.size() < 280) {
    folder += u"Shortcuts of the player\\";
    ASSERT_TRUE(CreateFolder(folder)) << LastError();
  }
  for (const String& link : {dir_ + u"Mivo.lnk", folder + u"Mivo.lnk"}) {
    TShellLink made;
    made.target = first;
    ASSERT_TRUE(CreateShellLink(link, made)) << U8(link) << " " << LastError();
    made.target = second;
    ASSERT_TRUE(CreateShellLink(link, made)) << "replacing " << LastError();
    TShellLink back;
    ASSERT_TRUE(ReadShellLink(link, back)) << U8(link);
    EXPECT_TRUE(SameTextAscii(back.target, second)) << U8(back.target);
  }
  // Another spelling of the same path reads the same link.
  TShellLink back;
  ASSERT_TRUE(ReadShellLink(UpperAscii(dir_) + u"mivo.LNK", back));
  EXPECT_TRUE(SameTextAscii(back.target, second));
}

}  // namespace
}  // namespace platform_test
