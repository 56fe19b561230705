#include "tests/Procedure/ProcedureRunFixture.h"

#include <algorithm>
#include <map>
#include <string_view>

#include "Procedure/ProcedureMessages.h"
#include "patch/PatchMessages.h"
#include "patch/ProtectedFile.h"
#include "platform/Clock.h"
#include "tests/Procedure/LaunchLogLines.h"
#include "tools/publisher/ServerTreePublisher.h"

namespace fs = std::filesystem;

namespace testsupport {

namespace {

enum class Arg { kNone, kWParam, kLParam, kBoth, kTextW, kTextL };

struct MessageForm {
  const char* name;
  Arg arg;
};

const std::map<MessageId, MessageForm>& MessageForms() {
  static const std::map<MessageId, MessageForm> forms = {
      {UM_LATEST_VERSION, {"latest", Arg::kTextW}},
      {UM_CURRENT_VERSION, {"current", Arg::kTextW}},
      {UM_REPAIR_COMPARE_PERCENT, {"percent", Arg::kWParam}},
      {UM_REPAIR_ABORTED, {"aborted", Arg::kWParam}},
      {UM_REPAIR_FILE_TOTAL, {"total", Arg::kWParam}},
      {UM_REPAIR_FILE_STEP, {"step", Arg::kBoth}},
      {UM_REPAIR_FILE_NAME, {"name", Arg::kTextW}},
      {UM_INSTALL_TOTAL_SIZE, {"install total", Arg::kTextL}},
      {UM_INSTALL_PAGE_COUNT, {"install count", Arg::kLParam}},
      {UM_INSTALL_DONE_SIZE, {"install done", Arg::kTextL}},
      {UM_INSTALL_PAGE_INDEX, {"install index", Arg::kLParam}},
      {UM_INSTALL_TIMER_START, {"install timer", Arg::kNone}},
      {UM_GAMEPATCH_UPDATING, {"patch updating", Arg::kNone}},
      {UM_GAMEPATCH_DOWNLOAD_BEGIN, {"patch begin", Arg::kNone}},
      {UM_GAMEPATCH_TOTAL_SIZE, {"patch total", Arg::kTextL}},
      {UM_GAMEPATCH_COUNT, {"patch count", Arg::kLParam}},
      {UM_GAMEPATCH_DONE_SIZE, {"patch done", Arg::kTextL}},
      {UM_GAMEPATCH_INDEX, {"patch index", Arg::kLParam}},
      {UM_UPDATE_FILE_NAME, {"applier name", Arg::kTextL}},
      {UM_PAGE_NAME, {"applier page", Arg::kTextL}},
  };
  return forms;
}

bool IsApplierMessage(MessageId id) { return id >= UM_UPDATE_FILES_BEGIN && id <= UM_PAGES_DONE; }

std::string Hex(MessageId id) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", id);
  return text;
}

std::string Describe(const SeenMessage& seen) {
  const auto form = MessageForms().find(seen.message.id);
  if (form == MessageForms().end()) return "message " + Hex(seen.message.id);
  std::string line = form->second.name;
  switch (form->second.arg) {
    case Arg::kNone: break;
    case Arg::kWParam: line += " " + std::to_string(seen.message.wParam); break;
    case Arg::kLParam: line += " " + std::to_string(seen.message.lParam); break;
    case Arg::kBoth:
      line += " " + std::to_string(seen.message.wParam) + " " + std::to_string(seen.message.lParam);
      break;
    case Arg::kTextW:
    case Arg::kTextL: line += " " + seen.text; break;
  }
  return line;
}

fs::path MakeFolder(const fs::path& folder) {
  fs::create_directories(folder);
  return folder;
}

}  // namespace

std::string SizeText(double bytes) {
  char text[64];
  std::snprintf(text, sizeof text, "%lf", bytes);
  return text;
}

fs::path ListPath(const std::string& name) {
  std::string path = name;
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return path;
}

std::string ListEntry(const ListedFile& file) {
  return file.name + "," + Md5Of(file.bytes) + "," + CrcOf(file.bytes) + "," + std::to_string(file.bytes.size()) + "," +
         std::to_string(file.checkFlag);
}

std::string VersionListText(const std::string& version, const std::vector<ListedFile>& files) {
  std::string text =
      "[Version]\r\nVersion=" + version + "\r\n[FileList]\r\nFileCount=" + std::to_string(files.size()) + "\r\n";
  for (size_t i = 0; i < files.size(); ++i) text += "File" + std::to_string(i) + "=" + ListEntry(files[i]) + "\r\n";
  return text;
}

std::string Protected(const std::string& plain) {
  ProtectionKey key;
  BuildProtectionKey(key);
  return ProtectBuffer(key, plain);
}

ProcedureRunTest::ProcedureRunTest()
    : game_(MakeFolder(sandbox_.path() / "game")),
      launcher_(MakeFolder(game_ / "launcher")),
      cwd_(launcher_),
      transfer_(CAutoDownload_Curl::Create()),
      service_(transfer_.get(), GetTickCount32) {
  main_.onMessage = [this](const Message& message) {
    SeenMessage seen{message, ""};
    const auto form = MessageForms().find(message.id);
    if (form != MessageForms().end() && form->second.arg == Arg::kTextW) {
      seen.text = reinterpret_cast<const char*>(message.wParam);
    }
    if (form != MessageForms().end() && form->second.arg == Arg::kTextL) {
      seen.text = reinterpret_cast<const char*>(message.lParam);
    }
    seen_.push_back(seen);
    if (onSeen_) onSeen_(seen_.back());
  };
  service_.Init(main_.window());
}

std::string ProcedureRunTest::UnreachableBase() const {
  return "http://127.0.0.1:" + std::to_string(FreeLocalPort()) + "/KVMETRA";
}

fs::path ProcedureRunTest::Served(const std::string& relative) const {
  return serverRoot_.path() / "KVMETRA" / relative;
}

void ProcedureRunTest::Publish(const std::vector<VersionInput>& launcherVersions,
                               const std::vector<VersionInput>& gameVersions, bool smallPackages) {
  PublishSettings settings;
  settings.outputFolder = (serverRoot_.path() / "KVMETRA").string();
  const auto write = [this](const std::string& kind, const std::vector<VersionInput>& versions) {
    std::vector<VersionSource> sources;
    for (const VersionInput& input : versions) {
      const fs::path folder = sources_.path() / kind / input.version;
      fs::create_directories(folder);
      Install(folder, input.files);
      sources.push_back({input.version, folder.string()});
    }
    return sources;
  };
  settings.launcherVersions = write("launcher", launcherVersions);
  settings.gameVersions = write("game", gameVersions);
  if (smallPackages) settings.maxPackageSize = 4096;
  std::string error;
  ASSERT_TRUE(PublishServerTree(settings, error)) << error;
}

std::vector<std::pair<std::string, int64_t>> ProcedureRunTest::ServedPackages(const std::string& relative,
                                                                              const std::string& prefix) const {
  std::vector<std::pair<std::string, int64_t>> packages;
  for (int i = 0;; ++i) {
    const fs::path package = Served(relative) / (prefix + std::to_string(i) + ".zip");
    if (!fs::exists(package)) return packages;
    packages.emplace_back(package.filename().string(), static_cast<int64_t>(fs::file_size(package)));
  }
}

void ProcedureRunTest::CopyServed(const std::string& relative, const fs::path& destination) const {
  fs::create_directories(destination);
  fs::copy(Served(relative), destination, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
}

void ProcedureRunTest::Install(const fs::path& folder, const VersionFiles& files) {
  for (const auto& [name, bytes] : files) WriteFile(folder / name, bytes);
}

VersionFiles ProcedureRunTest::FolderFiles(const fs::path& folder, const std::vector<std::string>& skip) {
  VersionFiles files;
  for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it) {
    const std::string name = fs::relative(it->path(), folder).generic_string();
    if (it.depth() == 0 && std::find(skip.begin(), skip.end(), name) != skip.end()) {
      it.disable_recursion_pending();
      continue;
    }
    if (it->is_regular_file()) files[name] = ReadFile(it->path());
  }
  return files;
}

DownloadFunction ProcedureRunTest::Download() {
  return [this](const std::string& url, const std::string& localPath, int32_t cookie, uint64_t maxBytes) {
    const bool ok = service_.DownloadFile(url, localPath, cookie, maxBytes);
    downloads_.push_back({url, localPath, cookie, maxBytes, ok});
    return ok;
  };
}

std::vector<std::string> ProcedureRunTest::Trace(bool withApplier) const {
  std::vector<std::string> lines;
  for (const SeenMessage& seen : seen_) {
    const MessageId id = seen.message.id;
    if (id == UM_DOWNLOAD_BYTES || id == UM_DOWNLOAD_SPEED || id == UM_DOWNLOAD_RETRY) continue;
    if (!withApplier && IsApplierMessage(id)) continue;
    lines.push_back(Describe(seen));
  }
  return lines;
}

std::vector<std::string> ProcedureRunTest::LogLines() const { return LaunchLogLines(launcher_); }

std::vector<std::string> ProcedureRunTest::LogLinesStartingWith(const std::string& prefix) const {
  std::vector<std::string> lines = LogLines();
  std::erase_if(lines, [&prefix](const std::string& line) { return !line.starts_with(prefix); });
  return lines;
}

std::vector<std::string> ProcedureRunTest::DownloadedUrls() const {
  std::vector<std::string> urls;
  for (const DownloadCall& call : downloads_) urls.push_back(call.url);
  return urls;
}

int ProcedureRunTest::DownloadsOf(const std::string& suffix) const {
  int count = 0;
  for (const DownloadCall& call : downloads_) count += call.url.ends_with(suffix) ? 1 : 0;
  return count;
}

}  // namespace testsupport
