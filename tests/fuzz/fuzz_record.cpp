// The download record file, as any program (or a damaged disk) may have left it.
#include <fstream>
#include <string>
#include <vector>

#include "app/settings.h"
#include "net/download_record.h"
#include "tests/fuzz/fuzz_entries.h"

namespace fuzz {

int RecordFile(const std::uint8_t* data, std::size_t size) {
  ScratchFolder();
  std::filesystem::create_directories(settings::dataFolder);
  {
    std::ofstream out(settings::downloadRecordPath, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  DownloadRecord::Load();
  const std::vector<std::string> keys = {DownloadRecord::kZipName, DownloadRecord::kZipMd5, DownloadRecord::kUnzipping};
  std::vector<std::string> values;
  for (const auto& key : keys) {
    values.push_back(DownloadRecord::Get(key));
    Require(values.back().find('\n') == std::string::npos, "a value holds no line break");
    Require(values.back().find('=') == std::string::npos, "a value holds no separator");
  }
  // Rewriting the record and reading it back keeps every value the launcher uses.
  DownloadRecord::Set(DownloadRecord::kZipName, values[0]);
  DownloadRecord::Load();
  for (std::size_t i = 0; i < keys.size(); ++i) {
    // A carriage return at the end of a value is line-end noise the reader drops by design.
    if (values[i].find('\r') != std::string::npos) continue;
    Require(DownloadRecord::Get(keys[i]) == values[i], "a rewritten record reads back the same");
  }
  return 0;
}

}  // namespace fuzz
