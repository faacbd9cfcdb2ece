// Watches a folder (not its subfolders) for files arriving (or going), so that a test can kill
// the launcher after exactly the k-th file of an install: the kill lands at a chosen point of an
// unpacking, a commit or the removal of dropped files, which take only milliseconds.
#pragma once

#include <filesystem>
#include <set>
#include <string>

namespace chaos {

class ExtractionWatch {
 public:
  enum class Arrival {
    kCreated,  // made in the folder: files unpacked into the staging folder
    kMovedIn,  // renamed into the folder: files committed into the data folder
    kDeleted,  // removed from the folder: files a new release dropped
  };
  // Counts arrivals of files named in `names`, each name once.
  explicit ExtractionWatch(std::set<std::string> names, Arrival arrival = Arrival::kCreated);
  ~ExtractionWatch();
  ExtractionWatch(const ExtractionWatch&) = delete;
  ExtractionWatch& operator=(const ExtractionWatch&) = delete;

  // Starts watching once `folder` exists; call repeatedly until it answers true. Files created
  // in it before the watch began are counted too, so a folder made just before its files are
  // written loses none of them.
  bool Attach(const std::filesystem::path& folder);
  // Reads pending events without waiting; returns the arrivals counted so far.
  int Poll();

 private:
  void Count(const std::string& name);

  std::set<std::string> names_;
  Arrival arrival_;
  int inotify_ = -1;
  int watch_ = -1;
  std::set<std::string> arrived_;
};

}  // namespace chaos
