#include "net/download_record.h"

#include <cstdio>
#include <exception>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "app/settings.h"
#include "app/texts.h"
#include "package/file_util.h"
#include "platform/dialogs.h"
#include "platform/files.h"

namespace {

using Entries = std::unordered_map<std::string, std::string>;

// The launcher uses the store from one thread at a time; the lock only keeps that assumption
// from mattering.
std::mutex storeMutex;
std::optional<Entries> store;

std::string WithoutTrailingCarriageReturns(std::string text) {
  while (!text.empty() && text.back() == '\r') text.pop_back();
  return text;
}

Entries Parse(const std::string& text) {
  Entries entries;
  for (const auto& rawLine : StringUtil::Split(text, "\n")) {
    const auto pieces = StringUtil::Split(WithoutTrailingCarriageReturns(rawLine), "=");
    if (pieces.size() < 2) continue;
    entries.emplace(pieces[0], pieces[1]);  // the first line with a key wins
  }
  return entries;
}

std::string Serialize(const Entries& entries) {
  std::string text;
  for (const auto& [key, value] : entries) {
    if (!text.empty()) text += "\r\n";
    text += key + "=" + value;
  }
  return text;
}

// An unreadable record file (a folder or a link in its place, no permission) reads as an empty
// record, and so does one too large to be a record: it is not read at all.
void LoadLocked() {
  try {
    std::uint64_t size = 0;
    const bool plainFile = platform::FileSize(settings::downloadRecordPath, &size);
    if (plainFile && size > DownloadRecord::kMaxRecordBytes) {
      std::printf("download record %s holds %llu bytes, more than a record ever does: starting afresh\n",
                  settings::downloadRecordPath.c_str(), static_cast<unsigned long long>(size));
    }
    store = plainFile && size <= DownloadRecord::kMaxRecordBytes
                ? Parse(FileUtil::ReadAll(settings::downloadRecordPath))
                : Entries();
  } catch (const std::exception&) {
    store = Entries();
  }
}

Entries& StoreLocked() {
  if (!store) LoadLocked();
  return *store;
}

}  // namespace

void DownloadRecord::ShowWriteError() {
  auto& dialogs = platform::CurrentDialogs();
  dialogs.BringMainWindowToFront();
  dialogs.Show(std::string(texts::kRecordErrorHead) + settings::downloadRecordPath + texts::kRecordErrorTail,
               texts::kRecordErrorCaption, platform::kErrorIcon | platform::kSystemModal);
}

void DownloadRecord::Load() {
  std::lock_guard<std::mutex> lock(storeMutex);
  LoadLocked();
}

std::string DownloadRecord::Get(const std::string& key) {
  std::lock_guard<std::mutex> lock(storeMutex);
  return StoreLocked()[key];
}

bool DownloadRecord::Set(const std::string& key, const std::string& value) {
  bool raised = false;
  bool written = false;
  {
    std::lock_guard<std::mutex> lock(storeMutex);
    Entries& entries = StoreLocked();
    entries[key] = value;
    try {
      const std::string text = Serialize(entries);
      if (!FileUtil::Exists(settings::downloadRecordPath) && !platform::IsDirectory(settings::dataFolder)) {
        FileUtil::CreateDir(settings::dataFolder);
      }
      // Written beside the record and renamed over it: a crash mid-write leaves the old record.
      written = FileUtil::WriteAllAtomically(settings::downloadRecordPath, text);
    } catch (const std::exception&) {
      raised = true;
    }
  }
  if (raised) ShowWriteError();  // outside the lock: the box blocks until answered
  return written;
}
