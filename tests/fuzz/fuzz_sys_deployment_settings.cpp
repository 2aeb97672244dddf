// deployment.ini is written by hand at each school: any bytes must read as
// settings, and neither value may ever come out empty.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "sys/deployment_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const panels::DeploymentSettings settings =
      panels::parseDeploymentSettings(std::string(reinterpret_cast<const char*>(data), size));
  if (settings.hotline.empty() || settings.provider.empty()) std::abort();
  return 0;
}
