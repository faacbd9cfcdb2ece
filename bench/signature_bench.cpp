// Cost of the release checks per document against parsing the same document.
//
//   signature_bench [--runs R]
//
// For a configuration (about 150 bytes) and file information of 10, 1,000 and 20,000 listed
// files, times R rounds of the release rules (base64, Ed25519 verification over the exact
// bytes, the members) and of Check::ParseFileInfo, which every check does anyway. Prints the
// median microseconds per document and their ratio.
#include <sodium.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_stats.h"
#include "update/check.h"
#include "update/release_rules.h"

namespace {

std::string Base64(const unsigned char* bytes, std::size_t length) {
  std::string text(sodium_base64_ENCODED_LEN(length, sodium_base64_VARIANT_ORIGINAL), '\0');
  sodium_bin2base64(text.data(), text.size(), bytes, length, sodium_base64_VARIANT_ORIGINAL);
  text.resize(text.size() - 1);
  return text;
}

std::string FileInfoWith(int files) {
  std::string text =
      "{\"zipName\":\"MorvanePC1/res_1_0_3.zip\",\"zipMd5\":\"0123456789abcdef0123456789abcdef\","
      "\"zipBytes\":123456789,\"channel\":\"MorvanePC1\",\"version\":\"1.0.3\",\"zipSha256\":\"" +
      std::string(64, 'a') + "\",\"fileNameList\":[";
  for (int i = 0; i < files; ++i)
    text += (i ? ",\"" : "\"") + std::string("assets/pack/file_") + std::to_string(i) + ".bin\"";
  return text + "]}";
}

template <typename Work>
double MedianMicroseconds(int runs, Work work) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    work();
    times.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
  }
  return Median(times);
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 200;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--runs") == 0) runs = std::atoi(argv[i + 1]);
  }
  if (sodium_init() < 0) return 1;
  std::array<unsigned char, crypto_sign_PUBLICKEYBYTES> publicKey{};
  std::array<unsigned char, crypto_sign_SECRETKEYBYTES> secretKey{};
  crypto_sign_keypair(publicKey.data(), secretKey.data());
  const std::optional<ReleaseKey> key = DecodeReleaseKey(Base64(publicKey.data(), publicKey.size()));
  const ReleaseRules rules(*key, "MorvanePC1");
  auto sign = [&secretKey](const std::string& document) {
    std::array<unsigned char, crypto_sign_BYTES> signature{};
    crypto_sign_detached(signature.data(), nullptr, reinterpret_cast<const unsigned char*>(document.data()),
                         document.size(), secretKey.data());
    return Base64(signature.data(), signature.size()) + "\n";
  };

  std::printf("%-28s %10s %14s %14s %8s\n", "document", "bytes", "release us", "parse us", "ratio");
  for (int files : {10, 1000, 20000}) {
    const std::string text = FileInfoWith(files);
    const SignedDocument document{"MorvanePC1/fileInfo_1_0_3.json", text, sign(text)};
    const double release = MedianMicroseconds(runs, [&] { rules.CheckFileInfo(document, "1.0.3"); });
    const double parse = MedianMicroseconds(runs, [&] { Check::ParseFileInfo(text, true); });
    const std::string name = "fileInfo, " + std::to_string(files) + " files";
    std::printf("%-28s %10zu %14.1f %14.1f %8.2f\n", name.c_str(), text.size(), release, parse,
                parse > 0 ? release / parse : 0.0);
  }
  {
    const std::string text =
        "{\"lastVersion\":\"1.0.3\",\"unsupportedVersions\":[\"0.x.x\",\"1.0.1\"],"
        "\"channel\":\"MorvanePC1\",\"serial\":42,\"expires\":4102444800000}";
    const SignedDocument document{"MorvanePC1/config.json", text, sign(text)};
    const SerialStore serials("signature_bench_serial");
    const double release = MedianMicroseconds(runs, [&] { rules.CheckConfig(document, 1765000000000, serials); });
    std::printf("%-28s %10zu %14.1f %14s %8s   (with the serial store's read)\n", "config", text.size(), release, "-",
                "-");
    std::remove("signature_bench_serial");
  }
  return 0;
}
