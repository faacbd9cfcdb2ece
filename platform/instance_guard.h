// One launcher at a time: a second start wakes the first one and leaves.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace platform {

class InstanceGuard {
 public:
  virtual ~InstanceGuard() = default;
  // Called (on a thread of the guard's) when a later start asks this instance to come forward.
  virtual void OnActivation(std::function<void()> handler) = 0;
};

// Null when another instance holds `mutexName`; that instance is then sent `messageName`
// and has been woken by the time this returns.
std::unique_ptr<InstanceGuard> AcquireSingleInstance(const std::string& mutexName, const std::string& messageName);

}  // namespace platform
