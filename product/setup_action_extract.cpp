#include "product/setup_action_extract.h"

#include "core/setup.h"
#include "lib/run_log.h"
#include "lib/system.h"
#include "package/setup_package.h"
#include "platform/app_repo.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/security.h"
#include "platform/setup_helpers.h"
#include "platform/system_info.h"
#include "product/setup_classes.h"
#include "product/setup_helper.h"
#include "resources/program_copy.h"

namespace {

const TSetupClassRegistrar registrar(u"TSetupActionExtract", ActionClass<TSetupActionExtract>());

constexpr size_t kReservedFiles = 512;

// The uninstaller: the running program without its product package, which
// an uninstallation never reads (it reads the data package beside it). A
// program not laid out for that is copied whole.
void WriteUninstaller(const String& target) {
  const String program = platform::ModuleFileName();
  std::unique_ptr<TStream> source = platform::OpenFileShared(
      program, platform::kGenericRead, platform::kFileShareRead, platform::kOpenExisting);
  TProgramCut cut;
  if (source && cut.Plan(*source, u"PRODUCT")) {
    SaveFileReplacing(target, [&](TStream& file) { cut.Write(*source, file); });
    return;
  }
  source.reset();
  CopyFileOrRaise(program, target);
}

// The size of the files, in KiB rounded up, for the registry entry.
uint32_t SizeKiB(const std::vector<String>& paths) {
  uint64_t bytes = 0;
  for (const String& path : paths) {
    uint64_t size = 0;
    int64_t time = 0;
    if (platform::FileSizeAndTime(path, size, time)) bytes += size;
  }
  const uint64_t kib = (bytes + 1023) / 1024;
  return kib > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(kib);
}

}  // namespace

void TSetupActionExtract::Execute() {
  SetStatus(GetCommonText(u"A4"));
  MakeDestination();
  const std::unique_ptr<TSetupScriptFileList> files = CollectFiles();
  // Files that are replaced are moved aside, those that are new recorded.
  std::vector<String> targets;
  targets.reserve(files->size());
  for (const TSetupScriptFile* entry : *files) targets.push_back(Resources().ExpandPath(entry->Name));
  // Reached from the destination without following a link (a portable
  // installation's folder is its user's).
  RunJournal().WillWrite(targets, Setup->GetDestPath());
  Setup->ExtractHelper().ExtractFiles(*files, [this](int percent) { SetProgress(percent); });
  SetStatus(GetCommonText(u"A7"));
  WriteUninstallRecord(Setup->GetDestPath(), *files);
}

void TSetupActionExtract::MakeDestination() {
  const String dest = Setup->GetDestPath();
  if (platform::DirectoryExists(dest) || Setup->IsOptionSet(TSetupOption::Portable) ||
      Setup->IsDestInProgramFiles())
    return;
  ForceFolder(dest);
  // Users could otherwise change the programs that administrators run from
  // there (the uninstaller, the registration program).
  if (!platform::SetFolderAccess(dest, platform::TFolderAccess::LikeProgramFiles))
    platform::RaiseLastOSError(dest);
}

std::unique_ptr<TSetupScriptFileList> TSetupActionExtract::CollectFiles() {
  auto files = std::make_unique<TSetupScriptFileList>();
  files->reserve(kReservedFiles);
  const String family = Resources().GetLanguageFamily();
  const TSetupScriptGroup& components = Script().Components;
  for (int i = 0; i < components.Count(); ++i) {
    const TSetupScriptFile& entry = components.Items(i);
    if (entry.MatchesFamily(family)) files->push_back(&entry);
  }
  return files;
}

void TSetupActionExtract::WriteUninstallRecord(const String& destPath,
                                               const TSetupScriptFileList& files) {
  const String uninstaller = destPath + kUninstallerName;
  const String data = destPath + kUninstallDataName;
  // Each is replaced in one step: the old ones stay whole until then.
  RunJournal().WillReplace({uninstaller, data}, destPath);
  WriteUninstaller(uninstaller);
  RunLog(u"Written: " + uninstaller);

  TVelIniFile record;
  record.Assign(Settings());
  record.EraseSection(kRecordSection);
  for (const TSetupScriptFile* entry : files)
    AddRecordEntry(record, Resources().ExpandPath(entry->Name));
  AddRecordEntry(record, data);
  AddRecordEntry(record, uninstaller);
  try {
    SaveRecordPackage(record, data);
  } catch (const Exception& e) {
    throw EInstallerInstallError(data + u"\r\n" + e.Message());
  }
  RunLog(u"Written: " + data + u" (" + IntToStr(record.ReadInteger(kRecordSection, u"Count", 0)) +
         u" entries)");

  if (Setup->IsOptionSet(TSetupOption::Portable)) return;
  TSetupProductInfo& product = ProductInfo();
  TSetupHelper::RecordAppRepoEntry(product.GetProductName());
  std::vector<String> installed{uninstaller, data};
  for (const TSetupScriptFile* entry : files) installed.push_back(Resources().ExpandPath(entry->Name));
  TSetupAppRepo::Write(product.GetProductName(), uninstaller, product.GetProductVersionNo(),
                       product.GetPublisher(), product.GetHomePage(), SizeKiB(installed));
  RunLog(u"Registry entry written: HKEY_LOCAL_MACHINE\\" + TSetupAppRepo::GetKeyPath(false) +
         TSetupAppRepo::MakeKeyName(product.GetProductName()));
}

void TSetupActionExtract::AddRecordEntry(TVelIniFile& record, const String& path) {
  String entry = path;
  const int32_t n = record.ReadInteger(kRecordSection, u"Count", 0);
  const String& dest = Setup->GetDestPath();
  if (!dest.empty() && entry.size() >= dest.size() &&
      SameTextLocale(StringView(entry).substr(0, dest.size()), dest))
    entry.erase(0, dest.size());
  record.WriteString(kRecordSection, IntToStr(n), entry);
  record.WriteInteger(kRecordSection, u"Count", n + 1);
}

void TSetupActionExtract::SaveRecordPackage(const TVelIniFile& record, const String& packagePath) {
  TMemoryStream text;
  record.SaveToStream(text, TVelEncoding::Utf16LE);
  text.SetPosition(0);
  TSetupPackageBuilder builder(kSetupPackageKey);
  builder.Add(text, kRecordName);
  // Replaced in one step: a run killed meanwhile leaves the previous record
  // readable, which the registry entry still names.
  SaveFileReplacing(packagePath, [&](TStream& file) { builder.Commit(file, kRecordPackageLevel); });
}
