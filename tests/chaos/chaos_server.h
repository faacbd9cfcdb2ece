// The content server on the fixed loopback port the test launcher was built for.
#pragma once

#include <chrono>
#include <memory>

#include "tests/support/content_server.h"

namespace chaos {

// Another run of these suites on the same machine holds the port until it ends; it is waited
// for, up to `patience`. Throws when the port stays taken.
std::unique_ptr<testsupport::ContentServer> ListenOnChaosPort(std::chrono::seconds patience);

}  // namespace chaos
