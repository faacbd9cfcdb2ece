#include "net/archive_failover.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "net/http_util.h"
#include "net/transfer_words.h"
#include "package/archive_digest.h"
#include "package/growing_archive.h"
#include "platform/files.h"

namespace {

struct AttemptEnd {
  std::string status;
  std::string payload;
  double first = 0;
  double second = 0;
};

bool IsLocalFailure(const std::string& payload) {
  return payload.rfind(transfer::kCannotOpenLocalFile, 0) == 0 || payload == transfer::kCannotInitCurl;
}

// Bytes the next attempt may continue after: what the partial archive holds now.
std::uint64_t KeptBytes(const DownloadTask& task) {
  std::uint64_t size = 0;
  if (task.localPath.empty() || !platform::FileSize(task.localPath, &size)) return 0;
  return size;
}

}  // namespace

void DownloadFromMirrors(const DownloadTask& task) {
  std::vector<std::string> urls{task.url};
  urls.insert(urls.end(), task.mirrorUrls.begin(), task.mirrorUrls.end());
  std::uint64_t offset = task.resumeOffset;
  // One digest over all attempts: a mirror that takes over after a failed attempt continues
  // from bytes the digest has already seen.
  const auto digest =
      task.digest || task.localPath.empty() ? task.digest : std::make_shared<ArchiveDigest>(task.withSha256);
  AttemptEnd end;
  for (std::size_t at = 0; at < urls.size(); ++at) {
    DownloadTask attempt;
    attempt.resumeOffset = offset;
    attempt.localPath = task.localPath;
    attempt.url = urls[at];
    attempt.maxBodyBytes = task.maxBodyBytes;
    attempt.stallBytesPerSecond = task.stallBytesPerSecond;
    attempt.stallSeconds = task.stallSeconds;
    attempt.archiveBytes = task.archiveBytes;
    attempt.withSha256 = task.withSha256;
    attempt.digest = digest;
    attempt.growing = task.growing;
    attempt.callback = [&task, &end](const std::string& status, const std::string& payload, double first,
                                     double second) {
      if (status == transfer::kTrans || status == transfer::kRestart) {
        task.callback(status, payload, first, second);
      } else {
        end = {status, payload, first, second};
      }
    };
    HttpUtil::Download(attempt);
    if (end.status == transfer::kSucc) break;
    if (at + 1 == urls.size() || IsLocalFailure(end.payload)) break;
    offset = KeptBytes(task);
    std::printf("\narchive attempt %zu of %zu failed at %s; going on from %s after %llu bytes\n", at + 1, urls.size(),
                urls[at].c_str(), urls[at + 1].c_str(), static_cast<unsigned long long>(offset));
    task.callback(transfer::kRestart, "", static_cast<double>(offset), 0);
  }
  // Before the outcome: the reader's last wait ends here, and the launcher's next stage waits for the reader.
  if (task.growing) task.growing->End(end.status == transfer::kSucc);
  task.callback(end.status, end.payload, end.first, end.second);
}
