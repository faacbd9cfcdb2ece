#include "app/production_services.h"

#include <stdexcept>

#include "app/zip_package_extractor.h"
#include "net/curl_package_downloader.h"

namespace {

// Stand-ins for stages this build does not have yet. They fail loudly; none pretends success.
class MissingCheck : public UpdateCheck {
 public:
  void Start(ResultCallback callback) override {
    callback("error", "update check is not part of this build", "", 0, 0);
  }
  void SaveLastFileInfo() override {}
};

}  // namespace

ProductionServices MakeProductionServices(SplashState* splash) {
  (void)splash;
  ProductionServices services;
  services.checker = std::make_unique<MissingCheck>();          // update check
  services.downloader = std::make_unique<CurlPackageDownloader>();  // package download
  services.extractor = std::make_unique<ZipPackageExtractor>();  // extraction
  services.game = std::make_unique<SystemGameControl>();        // game processes
  return services;
}
