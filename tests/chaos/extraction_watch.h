// Watches a folder (not its subfolders) for files being created, so that a test can kill the
// launcher after exactly the k-th file of an extraction was opened: the kill lands at a chosen
// point of an extraction that takes only milliseconds.
#pragma once

#include <filesystem>
#include <set>
#include <string>

namespace chaos {

class ExtractionWatch {
 public:
  // Counts creations of files named in `names`.
  explicit ExtractionWatch(std::set<std::string> names);
  ~ExtractionWatch();
  ExtractionWatch(const ExtractionWatch&) = delete;
  ExtractionWatch& operator=(const ExtractionWatch&) = delete;

  // Starts watching once `folder` exists; call repeatedly until it answers true.
  bool Attach(const std::filesystem::path& folder);
  // Reads pending events without waiting; returns the creations counted so far.
  int Poll();

 private:
  std::set<std::string> names_;
  int inotify_ = -1;
  int watch_ = -1;
  int created_ = 0;
};

}  // namespace chaos
