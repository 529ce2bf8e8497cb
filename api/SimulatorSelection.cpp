// The explicit switch between real cameras and the simulated bus.
#include <string>
#include <vector>

#include "api/CameraState.h"
#include "okccamera/SimCameras.h"
#include "okccamera/okccamera.h"

extern "C" int okcUseSimulatedCameras(const char* models) {
  std::vector<okc::sim::Model> wanted;
  const std::string list = models ? models : "";
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(',', start);
    if (end == std::string::npos) end = list.size();
    const std::string name = list.substr(start, end - start);
    if (!name.empty()) {
      auto model = okc::sim::ParseModel(name);
      if (!model) return -1;
      wanted.push_back(*model);
    }
    start = end + 1;
  }
  auto bus = okc::sim::InstallSimulator();
  for (okc::sim::Model m : wanted) bus->Attach(m);
  okc::api::ForgetEnumeration();  // the next openCamera enumerates the new bus
  return static_cast<int>(wanted.size());
}

extern "C" void okcUseRealCameras(void) {
  okc::sim::RemoveSimulator();
  okc::api::ForgetEnumeration();
}
