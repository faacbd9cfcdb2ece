// What a launcher with a release key holds each document to, in this order:
//   1. the signature beside it: present, well formed, made by the release key over the
//      document's exact bytes; nothing of the document is parsed before this holds;
//   2. a JSON object whose "channel" is this launcher's channel;
//   3. file information: "version" is the version the launcher asked for (the local override
//      asks for none, but must name one), "zipSha256" is 64 hex digits;
//   4. configuration: "serial" an integer of at least 1 and not lower than the highest serial
//      accepted before (the serial store); "expires", when present, not passed yet.
// Each refusal throws std::runtime_error whose text names the document and the rule it broke.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "update/release_signature.h"

// A document as it was read or fetched, and the text of its signature file (nullopt: none).
struct SignedDocument {
  std::string name;  // as the messages name it: "MorvanePC1/config.json", "local_config.json"
  std::string bytes;
  std::optional<std::string> signature;
};

// The highest configuration serial accepted, one decimal number and a line end in a file of
// the data folder. A missing store reads as 0; a damaged one too, after a line on standard output.
class SerialStore {
 public:
  explicit SerialStore(std::string path);
  // 0 when the store is missing or damaged.
  std::uint64_t Highest() const;
  // Replaces the store in one step (the data folder is made when missing); false when it could not be written.
  bool Write(std::uint64_t serial) const;

 private:
  std::string path_;
};

class ReleaseRules {
 public:
  ReleaseRules(const ReleaseKey& key, std::string channel);

  // Throws unless rules 1 to 3 hold; `expectedVersion` is dotted, empty for the local override.
  // Returns the archive's SHA-256 as the document gives it, in lower case.
  std::string CheckFileInfo(const SignedDocument& document, const std::string& expectedVersion) const;
  // Throws unless rules 1, 2 and 4 hold at `nowMs` (UTC milliseconds); raises the store's serial.
  void CheckConfig(const SignedDocument& document, std::uint64_t nowMs, const SerialStore& serials) const;

 private:
  void CheckSignatureOf(const SignedDocument& document) const;

  ReleaseKey key_;
  std::string channel_;
};

// "<document name>.sig": where a document's signature lies, on the server and on disk.
std::string SignaturePathOf(const std::string& documentPath);
