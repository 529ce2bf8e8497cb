// The driver's devices: one per attached camera, named by model and index
// ("OKC TAVC 0"), or, with none attached, one "OKC Camera" that connects to a
// simulated camera when SIMULATION is on. libindidriver's main loop serves
// every device constructed here.
#include <memory>
#include <string>
#include <vector>

#include "indi/OkcCcd.h"

namespace okc::indi {

namespace {

// "YRA OKCTAVC-U" -> "TAVC-U"
std::string ShortModelName(const std::string& model) {
  const std::string prefix = "YRA OKC";
  return model.compare(0, prefix.size(), prefix) == 0 ? model.substr(prefix.size()) : model;
}

class Devices {
 public:
  Devices() {
    const int count = getNumberOfConnectedCameras();
    for (int i = 0; i < count; ++i) {
      const char* model = getCameraModel(i);
      const std::string name = "OKC " + ShortModelName(model ? model : "camera") + " " + std::to_string(i);
      devices_.push_back(std::make_unique<OkcCcd>(i, name));
    }
    if (devices_.empty()) devices_.push_back(std::make_unique<OkcCcd>(-1, "OKC Camera"));
  }

 private:
  std::vector<std::unique_ptr<OkcCcd>> devices_;
};

// Never destroyed: at exit the library's own state may be gone before this
// object, and the library closes a camera left open itself.
Devices* const devices = new Devices;

}  // namespace

}  // namespace okc::indi
