#include "app/production_services.h"

#include <stdexcept>

#include "app/settings.h"
#include "app/zip_package_extractor.h"
#include "net/curl_package_downloader.h"
#include "update/check.h"

namespace {

std::unique_ptr<UpdateCheck> MakeUpdateCheck(SplashState* splash) {
  CheckOptions options;
  options.baseUrls = settings::baseUrls;
  options.splash = splash;
  options.releasePublicKey = settings::releasePublicKey;
  options.serialStorePath = settings::releaseSerialPath;
  return std::make_unique<Check>(std::move(options));
}

}  // namespace

ProductionServices MakeProductionServices(SplashState* splash) {
  ProductionServices services;
  services.checker = MakeUpdateCheck(splash);                       // update check
  services.downloader = std::make_unique<CurlPackageDownloader>();  // package download
  services.extractor = std::make_unique<ZipPackageExtractor>();     // extraction
  services.game = std::make_unique<SystemGameControl>();            // game processes
  services.files = std::make_unique<ThreadedFileLevelUpdater>();    // updates by files
  return services;
}
