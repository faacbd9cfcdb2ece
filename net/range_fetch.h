// Pieces of the package archive fetched by byte ranges, for updates that need only some of its
// entries.
//
// Policy, the archive download's (net/archive_failover.h) applied to each piece in turn: the URLs
// are tried in the order given, each once for the whole list. An attempt that fails for the
// server's sake (an error status, a libcurl error, a stall under the window, a connection cut)
// hands over to the next URL, which goes on after the bytes the piece holds by then, so nothing
// that arrived is fetched twice; the pieces after it are fetched from that URL too. A piece that
// cannot be written ends the fetch at once: no server can help with that.
//
// A server must answer each range with 206 and exactly the Content-Range asked for (the total
// being the archive's size). Any other answer with a body (200 with the whole archive from a
// server that ignores ranges, another range, another total) is refused on its headers, before
// its first body byte is kept, and ends the fetch with kUnusable: the caller takes the whole
// archive instead, which such a server serves well.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// One inclusive byte range of the archive and where its bytes go.
struct RangePiece {
  std::uint64_t first = 0;
  std::uint64_t last = 0;
  // The file the bytes are written to (replaced); empty: kept in `bytes`.
  std::string path;
  std::string bytes;
};

struct RangeFetchTask {
  // The archive at each base URL, in the order they are tried.
  std::vector<std::string> urls;
  // The archive's whole size: every Content-Range must give it.
  std::uint64_t archiveBytes = 0;
  // The stall window, as for the whole archive.
  long stallBytesPerSecond = 1024;
  long stallSeconds = 30;
  // Bytes kept so far over all pieces, after each block; may be empty.
  std::function<void(std::uint64_t fetched)> progress;
};

enum class RangeFetchOutcome {
  kDone,      // every piece holds its bytes
  kUnusable,  // a server does not serve ranges of this archive: `reason` says how
  kFailed,    // every URL failed, or a piece could not be written: `reason` says why
};

struct RangeFetchResult {
  RangeFetchOutcome outcome = RangeFetchOutcome::kFailed;
  std::string reason;
  std::uint64_t fetchedBytes = 0;  // body bytes kept, over all pieces
  std::size_t urlIndex = 0;        // the URL in use at the end
};

// Synchronous. Fetches every piece in order, starting with urls[startUrl]. Pieces are
// fetched over one connection where the server keeps it open.
RangeFetchResult FetchRanges(const RangeFetchTask& task, std::vector<RangePiece>& pieces, std::size_t startUrl = 0);
