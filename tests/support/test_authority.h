// A certificate authority made by a test, and a certificate for 127.0.0.1 signed by it, in a
// scratch folder: "ca.pem" (to trust through CURL_CA_BUNDLE, in one process only), "server.pem"
// and "server.key" (for nginx). Never the machine's store.
#pragma once

#include <cstdlib>
#include <fstream>
#include <string>

#include "tests/support/scratch_dir.h"

namespace testsupport {

// False when openssl fails.
inline bool MakeTestAuthority(const ScratchDir& scratch) {
  const std::string dir = scratch.Path().string();
  std::ofstream(scratch.File("san.cnf")) << "subjectAltName=IP:127.0.0.1\n";
  const std::string script =
      "cd " + dir +
      " && openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=launcher-test-ca -keyout ca.key -out ca.pem"
      " && openssl req -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -keyout server.key -out server.csr"
      " && openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 1 -extfile san.cnf"
      " -out server.pem";
  return std::system(("(" + script + ") >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace testsupport
