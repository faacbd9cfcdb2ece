// The release rules on their own: signatures over exact bytes, each refusal, the serial store
// and the expiry boundary. Keys and signatures are made with libsodium at test time.
#include "update/release_rules.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "release_signer.h"
#include "test_helpers.h"

namespace updatetest {
namespace {

const char* const kChannel = "MorvanePC1";
const char* const kSha = "9F86D081884C7D659A2FEAA0C55AD015A3BF4F1B2B0B822CD15D6C15B0F00A08";

ReleaseKey KeyOf(const ReleaseSigner& signer) { return *DecodeReleaseKey(signer.PublicKeyBase64()); }

TEST(ReleaseSignatureTest, HoldsOnlyOverTheExactBytesSignedByTheKey) {
  const ReleaseSigner signer;
  const ReleaseSigner other;
  const std::string document = "{\"lastVersion\":\"1.0.3\",\"serial\":4}\n";
  const std::string signature = signer.Sign(document);
  EXPECT_EQ(SignatureCheck::kValid, CheckSignature(KeyOf(signer), document, signature));
  // The same JSON re-serialised with other whitespace, or with a line end more or less.
  EXPECT_EQ(SignatureCheck::kMismatch,
            CheckSignature(KeyOf(signer), "{ \"lastVersion\": \"1.0.3\", \"serial\": 4 }\n", signature));
  EXPECT_EQ(SignatureCheck::kMismatch, CheckSignature(KeyOf(signer), document + "\n", signature));
  EXPECT_EQ(SignatureCheck::kMismatch,
            CheckSignature(KeyOf(signer), "{\"lastVersion\":\"1.0.3\",\"serial\":4}\r\n", signature));
  std::string flipped = document;
  flipped[17] ^= 1;
  EXPECT_EQ(SignatureCheck::kMismatch, CheckSignature(KeyOf(signer), flipped, signature));
  EXPECT_EQ(SignatureCheck::kMismatch, CheckSignature(KeyOf(other), document, signature));
}

TEST(ReleaseSignatureTest, SignatureFileTakesOneLineEndAndNothingElse) {
  const ReleaseSigner signer;
  const std::string document = "{}";
  std::string bare = signer.Sign(document);
  bare.pop_back();
  const ReleaseKey key = KeyOf(signer);
  EXPECT_EQ(SignatureCheck::kValid, CheckSignature(key, document, bare));
  EXPECT_EQ(SignatureCheck::kValid, CheckSignature(key, document, bare + "\r\n"));
  for (const std::string& text : {std::string(), std::string("\n"), bare + "\n\n", " " + bare, bare + " \n",
                                  bare.substr(0, 84) + "\n" + bare.substr(84), bare.substr(0, 84), bare + "AAAA"}) {
    EXPECT_EQ(SignatureCheck::kMalformed, CheckSignature(key, document, text)) << "[" << text << "]";
  }
  // URL-safe alphabet instead of the standard one, and a missing padding.
  std::string urlSafe = bare;
  for (char& c : urlSafe) c = c == '+' ? '-' : c == '/' ? '_' : c;
  if (urlSafe != bare) {
    EXPECT_EQ(SignatureCheck::kMalformed, CheckSignature(key, document, urlSafe));
  }
  EXPECT_EQ(SignatureCheck::kMalformed, CheckSignature(key, document, bare.substr(0, bare.size() - 2)));
  // 64 bytes that no key made.
  EXPECT_EQ(SignatureCheck::kMismatch, CheckSignature(key, document, std::string(86, 'A') + "=="));
}

TEST(ReleaseSignatureTest, KeyIsExactly32BytesOfCanonicalBase64) {
  const ReleaseSigner signer;
  const std::string key = signer.PublicKeyBase64();
  ASSERT_EQ(44u, key.size());
  EXPECT_TRUE(DecodeReleaseKey(key).has_value());
  EXPECT_FALSE(DecodeReleaseKey("").has_value());
  EXPECT_FALSE(DecodeReleaseKey(key.substr(0, 43)).has_value());
  EXPECT_FALSE(DecodeReleaseKey(key + "\n").has_value());
  EXPECT_FALSE(DecodeReleaseKey(std::string(43, 'A') + "B=").has_value());  // stray low bits
  EXPECT_FALSE(DecodeReleaseKey(std::string(44, 'A')).has_value());         // 33 bytes
}

class ReleaseRulesTest : public ::testing::Test {
 protected:
  SignedDocument Signed(const std::string& name, const std::string& bytes) const {
    return SignedDocument{name, bytes, signer_.Sign(bytes)};
  }
  SignedDocument FileInfo(const std::string& members) const {
    return Signed("MorvanePC1/fileInfo_1_0_3.json", "{\"zipName\":\"MorvanePC1/res_1_0_3.zip\"," + members + "}");
  }
  SignedDocument Config(const std::string& members) const {
    return Signed("MorvanePC1/config.json", "{\"lastVersion\":\"1.0.3\"," + members + "}");
  }
  // The text of the refusal, or "" when the document passes.
  std::string FileInfoRefusal(const SignedDocument& document, const std::string& version = "1.0.3") const {
    try {
      rules_.CheckFileInfo(document, version);
      return {};
    } catch (const std::exception& error) {
      return error.what();
    }
  }
  std::string ConfigRefusal(const SignedDocument& document, std::uint64_t nowMs = 1000) const {
    try {
      rules_.CheckConfig(document, nowMs, store_);
      return {};
    } catch (const std::exception& error) {
      return error.what();
    }
  }

  ReleaseSigner signer_;
  ReleaseRules rules_{KeyOf(signer_), kChannel};
  ScratchWorkingFolder folder_;
  SerialStore store_{"data/releaseSerial"};
};

TEST_F(ReleaseRulesTest, FileInformationNamesItsChannelVersionAndArchiveDigest) {
  const std::string good =
      std::string("\"channel\":\"MorvanePC1\",\"version\":\"1.0.3\",\"zipSha256\":\"") + kSha + "\"";
  EXPECT_EQ("", FileInfoRefusal(FileInfo(good)));
  EXPECT_EQ(std::string(kSha).size(), rules_.CheckFileInfo(FileInfo(good), "1.0.3").size());
  EXPECT_EQ("9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08",
            rules_.CheckFileInfo(FileInfo(good), "1.0.3"));
  // The local override asks for no version but must still name one.
  EXPECT_EQ("", FileInfoRefusal(FileInfo(good), ""));

  SignedDocument tampered = FileInfo(good);
  tampered.bytes.replace(tampered.bytes.find("1_0_3.zip"), 9, "1_0_4.zip");
  EXPECT_EQ("signature of MorvanePC1/fileInfo_1_0_3.json does not match the release key", FileInfoRefusal(tampered));
  SignedDocument stripped = FileInfo(good);
  stripped.signature.reset();
  EXPECT_EQ("signature of MorvanePC1/fileInfo_1_0_3.json is missing", FileInfoRefusal(stripped));
  SignedDocument garbled = FileInfo(good);
  garbled.signature = "not base64\n";
  EXPECT_EQ("signature of MorvanePC1/fileInfo_1_0_3.json is malformed", FileInfoRefusal(garbled));

  const std::string sha = std::string("\"zipSha256\":\"") + kSha + "\"";
  EXPECT_EQ("MorvanePC1/fileInfo_1_0_3.json is the file information of version 1.0.2, not of 1.0.3",
            FileInfoRefusal(FileInfo("\"channel\":\"MorvanePC1\",\"version\":\"1.0.2\"," + sha)));
  EXPECT_EQ("MorvanePC1/fileInfo_1_0_3.json names no \"version\"",
            FileInfoRefusal(FileInfo("\"channel\":\"MorvanePC1\",\"version\":103," + sha)));
  EXPECT_EQ("MorvanePC1/fileInfo_1_0_3.json is for channel \"MorvanePC2\", not for \"MorvanePC1\"",
            FileInfoRefusal(FileInfo("\"channel\":\"MorvanePC2\",\"version\":\"1.0.3\"," + sha)));
  EXPECT_EQ("MorvanePC1/fileInfo_1_0_3.json names no \"channel\"",
            FileInfoRefusal(FileInfo("\"version\":\"1.0.3\"," + sha)));
  EXPECT_EQ("MorvanePC1/fileInfo_1_0_3.json names no \"zipSha256\"",
            FileInfoRefusal(FileInfo("\"channel\":\"MorvanePC1\",\"version\":\"1.0.3\"")));
  EXPECT_EQ("MorvanePC1/fileInfo_1_0_3.json has a malformed \"zipSha256\"",
            FileInfoRefusal(FileInfo("\"channel\":\"MorvanePC1\",\"version\":\"1.0.3\",\"zipSha256\":\"" +
                                     std::string(kSha).substr(1) + "\"")));
  EXPECT_EQ("MorvanePC1/fileInfo_1_0_3.json is signed but is not a JSON object",
            FileInfoRefusal(Signed("MorvanePC1/fileInfo_1_0_3.json", "[1]")));
}

TEST_F(ReleaseRulesTest, ConfigurationSerialIsKeptAndNeverGoesBack) {
  EXPECT_EQ(0u, store_.Highest());
  EXPECT_EQ("", ConfigRefusal(Config("\"channel\":\"MorvanePC1\",\"serial\":5")));
  EXPECT_EQ(5u, store_.Highest());  // the data folder did not exist: the store made it
  EXPECT_EQ("", ConfigRefusal(Config("\"channel\":\"MorvanePC1\",\"serial\":5")));  // the same one again
  EXPECT_EQ("serial 4 of MorvanePC1/config.json is lower than the highest accepted, 5",
            ConfigRefusal(Config("\"channel\":\"MorvanePC1\",\"serial\":4")));
  EXPECT_EQ(5u, store_.Highest());
  EXPECT_EQ("", ConfigRefusal(Config("\"channel\":\"MorvanePC1\",\"serial\":18446744073709551615")));
  EXPECT_EQ(18446744073709551615u, store_.Highest());
  EXPECT_FALSE(std::filesystem::exists("data/releaseSerial.tmp"));

  for (const char* serial : {"0", "-3", "2.5", "\"6\"", "null", "18446744073709551616"}) {
    EXPECT_EQ("MorvanePC1/config.json has no valid \"serial\" (an integer of at least 1)",
              ConfigRefusal(Config(std::string("\"channel\":\"MorvanePC1\",\"serial\":") + serial)))
        << serial;
  }
  EXPECT_EQ("MorvanePC1/config.json has no valid \"serial\" (an integer of at least 1)",
            ConfigRefusal(Config("\"channel\":\"MorvanePC1\"")));
  EXPECT_EQ("MorvanePC1/config.json is for channel \"\", not for \"MorvanePC1\"",
            ConfigRefusal(Config("\"channel\":\"\",\"serial\":7")));
  SignedDocument stripped = Config("\"channel\":\"MorvanePC1\",\"serial\":7");
  stripped.signature.reset();
  EXPECT_EQ("signature of MorvanePC1/config.json is missing", ConfigRefusal(stripped));
}

TEST_F(ReleaseRulesTest, ConfigurationIsGoodUpToItsExpiryMillisecondItself) {
  const SignedDocument config = Config("\"channel\":\"MorvanePC1\",\"serial\":2,\"expires\":1765000000000");
  EXPECT_EQ("MorvanePC1/config.json expired at 1765000000000 (UTC milliseconds; now 1765000000001)",
            ConfigRefusal(config, 1765000000001));
  EXPECT_EQ(0u, store_.Highest());  // a refused configuration raises nothing
  EXPECT_EQ("", ConfigRefusal(config, 1765000000000));
  EXPECT_EQ("", ConfigRefusal(config, 1765000000000 - 1));
  EXPECT_EQ(2u, store_.Highest());
  for (const char* expires : {"-1", "1.5e12", "\"1765000000000\"", "true"}) {
    EXPECT_EQ("MorvanePC1/config.json has a malformed \"expires\"",
              ConfigRefusal(Config(std::string("\"channel\":\"MorvanePC1\",\"serial\":3,\"expires\":") + expires)))
        << expires;
  }
}

TEST_F(ReleaseRulesTest, DamagedSerialStoreIsTakenAsEmptyAndSaidSo) {
  std::filesystem::create_directories("data");
  for (const char* damaged : {"", "12x\n", " 12\n", "12\n\n", "99999999999999999999\n", "-4\n"}) {
    WriteFile("data/releaseSerial", damaged);
    testing::internal::CaptureStdout();
    const std::uint64_t highest = store_.Highest();
    std::fflush(stdout);
    const std::string said = testing::internal::GetCapturedStdout();
    EXPECT_EQ(0u, highest) << "[" << damaged << "]";
    EXPECT_EQ("release serial store data/releaseSerial is damaged; taken as empty\n", said);
  }
  // A damaged store is rewritten by the next configuration accepted.
  EXPECT_EQ("", ConfigRefusal(Config("\"channel\":\"MorvanePC1\",\"serial\":3")));
  EXPECT_EQ(3u, store_.Highest());
  WriteFile("data/releaseSerial", "41");  // no line end: still a number
  EXPECT_EQ(41u, store_.Highest());
}

}  // namespace
}  // namespace updatetest
