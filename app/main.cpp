#include "app/launcher_main.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  platform::RecordArguments(argc, argv);
  return LauncherMain();
}
