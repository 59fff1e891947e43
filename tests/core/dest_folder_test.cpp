// The places that are never a program's folder: refused as the destination
// and never deleted whole by the uninstaller.
#include "core/dest_folder.h"
#include "core_test_util.h"

namespace core_test {
namespace {

using DestFolderTest = CoreTest;

String Special(int id) {
  String path;
  EXPECT_TRUE(platform::SpecialFolder(id, path)) << id;
  return IncludeTrailingBackslash(path);
}

// The path below the drive ("Users\x\Documents\" of "C:\Users\x\Documents\").
String BelowDrive(const String& path) {
  return path.substr(3);
}

TEST_F(DestFolderTest, PlacesThatAreNoProgramsFolder) {
  const String windows = Special(platform::kCsidlWindows);
  const String programFiles = Special(platform::kCsidlProgramFiles);
  const String programData = Special(platform::kCsidlCommonAppData);
  const String profile = Special(platform::kCsidlProfile);
  const String appData = Special(platform::kCsidlAppData);
  const String documents = Special(platform::kCsidlPersonal);
  const String drive = windows.substr(0, 3);
  constexpr TDestPlace kAnyPlace = static_cast<TDestPlace>(-1);
  const struct {
    String folder;
    TDestPlace place;
  } cases[] = {
      {drive, TDestPlace::Root},
      {drive.substr(0, 2), TDestPlace::Root},
      {u"\\\\server\\share\\", TDestPlace::Root},
      {u"\\\\server\\share", TDestPlace::Root},
      {windows, TDestPlace::Windows},
      {UpperAscii(ExcludeTrailingBackslash(windows)), TDestPlace::Windows},
      {windows + u"system32\\..\\", TDestPlace::Windows},
      {Special(platform::kCsidlSystem), TDestPlace::Windows},
      {windows + u"Mivo\\", TDestPlace::Windows},
      {programFiles, TDestPlace::Shared},
      {ExcludeTrailingBackslash(programFiles), TDestPlace::Shared},
      {programFiles + u"Mivo\\..", TDestPlace::Shared},
      {Special(platform::kCsidlProgramFilesX86), TDestPlace::Shared},
      {programData, TDestPlace::Shared},
      {profile, TDestPlace::Profile},
      {ExtractFilePath(ExcludeTrailingBackslash(profile)), kAnyPlace},  // the profiles
      {documents, TDestPlace::UserFolder},
      {windows + u"..\\" + BelowDrive(documents), TDestPlace::UserFolder},
      {LowerAscii(documents) + u"/", TDestPlace::UserFolder},
      {Special(platform::kFolderDownloads), TDestPlace::UserFolder},
      {Special(platform::kCsidlDesktopDirectory), TDestPlace::UserFolder},
      {Special(platform::kCsidlMyMusic), TDestPlace::UserFolder},
      {Special(platform::kCsidlMyPictures), TDestPlace::UserFolder},
      {Special(platform::kCsidlMyVideo), TDestPlace::UserFolder},
      {appData, TDestPlace::UserFolder},
      {ExtractFilePath(ExcludeTrailingBackslash(appData)), TDestPlace::UserFolder},
      {ExtractFilePath(ExcludeTrailingBackslash(Special(platform::kCsidlStartMenu))),
       TDestPlace::HoldsFolder},
      {platform::TempFolder(), TDestPlace::Temp},
      // Places to install to.
      {programFiles + u"Mivo\\", TDestPlace::None},
      {Special(platform::kCsidlProgramFilesX86) + u"Mivo", TDestPlace::None},
      {profile + u"Tools\\", TDestPlace::None},
      {documents + u"Mivo\\", TDestPlace::None},
      {appData + u"Mivo\\", TDestPlace::None},
      {drive + u"Tools\\", TDestPlace::None},
      {u"\\\\server\\share\\Mivo\\", TDestPlace::None},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(U8(c.folder));
    const TDestPlaceProblem problem = DestPlaceProblem(c.folder);
    if (c.place == kAnyPlace)
      EXPECT_NE(problem.Place, TDestPlace::None);
    else
      EXPECT_EQ(problem.Place, c.place);
    EXPECT_EQ(IsProtectedFolder(c.folder), c.place != TDestPlace::None);
#ifndef _WIN32
    if (c.folder.rfind(u"\\\\", 0) == 0) continue;  // the stand-in resolves no shares
#endif
    EXPECT_EQ(DestFolderProblem(c.folder).empty(), c.place == TDestPlace::None);
  }
  // A long-path prefix does not get past the rule: the form is refused.
  EXPECT_FALSE(DestFolderProblem(u"\\\\?\\" + windows).empty());
  EXPECT_FALSE(DestFolderProblem(u"\\\\?\\" + programFiles + u"Mivo\\").empty());
}

TEST_F(DestFolderTest, RefusedBeforeAnythingIsWritten) {
  const String documents = Special(platform::kCsidlPersonal);
  const String given = Special(platform::kCsidlWindows) + u"..\\" + BelowDrive(documents);
  EXPECT_EQ(MessageOf([&] { Create(u"/AUTO=\"" + given + u"\" /SILENT"); }),
            "The destination folder \"" + U8(given) +
                "\" cannot be used: it is a folder that Windows keeps for a user's own files.");
  EXPECT_EQ(::Setup, nullptr);
  const String root = documents.substr(0, 3);
  EXPECT_EQ(MessageOf([&] { Create(u"/AUTO=" + root + u" /SILENT"); }),
            "The destination folder \"" + U8(root) +
                "\" cannot be used: it is the root of a drive or of a network share; choose a "
                "folder inside it.");
  // A folder that a page gave is refused when the run would start.
  TSetup& setup = Create(u"/AUTO=\"" + work_ + u"\"");
  setup.SetDestPath(documents);
  EXPECT_EQ(MessageOf([&] { setup.StartInstall(false); }),
            "The destination folder \"" + U8(documents) +
                "\" cannot be used: it is a folder that Windows keeps for a user's own files.");
  EXPECT_EQ(setup.State(), TSetupState::Idle);
}

TEST(DestPlaceText, NamesTheFolderItHolds) {
  EXPECT_EQ(U8(DestPlaceText({TDestPlace::HoldsFolder, u"C:\\Users\\x\\AppData\\Roaming\\"})),
            "it holds \"C:\\Users\\x\\AppData\\Roaming\", a folder of Windows or of a user");
  EXPECT_EQ(DestPlaceText({}), u"");
}

}  // namespace
}  // namespace core_test
