// The real stage workers of this build, owned for the whole run.
#pragma once

#include <memory>

#include "app/launcher.h"

struct ProductionServices {
  std::unique_ptr<UpdateCheck> checker;
  std::unique_ptr<PackageDownloader> downloader;
  std::unique_ptr<PackageExtractor> extractor;
  std::unique_ptr<GameControl> game;
  std::unique_ptr<FileLevelUpdater> files;

  LauncherServices View() const { return {checker.get(), downloader.get(), extractor.get(), game.get(), files.get()}; }
};

ProductionServices MakeProductionServices(SplashState* splash);
