// The okccamera Python module: the library's cameras with numpy frames.
//
//   import okccamera
//   okccamera.use_simulated("TAVC")
//   with okccamera.Camera(0) as cam:
//       cam.format = "raw16"
//       frame = cam.capture()          # numpy array, H x W, uint16
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "python/PyCamera.h"

namespace py = pybind11;
using okc::python::Camera;
using okc::python::FrameStream;

namespace {

// A property over one of the library's controls.
template <Control_TYPE control>
void ControlProperty(py::class_<Camera, std::shared_ptr<Camera>>& cls, const char* name, const char* doc) {
  cls.def_property(
      name, [](const Camera& c) { return c.GetControl(control); },
      [](Camera& c, int value) { c.SetControl(control, value); }, doc);
}

}  // namespace

PYBIND11_MODULE(okccamera, m) {
  m.doc() = "OKCCamera: USB astronomy cameras (and their simulated twins) with numpy frames";
  py::register_exception<okc::python::Error>(m, "Error", PyExc_RuntimeError);

  m.def(
      "cameras",
      [] {
        std::vector<std::string> models;
        const int count = getNumberOfConnectedCameras();
        for (int i = 0; i < count; ++i) {
          const char* model = getCameraModel(i);
          models.push_back(model ? model : "");
        }
        return models;
      },
      "The models of the attached cameras; a camera's index is its place in this list.");
  m.def(
      "use_simulated",
      [](const std::string& models) {
        const int count = okcUseSimulatedCameras(models.c_str());
        if (count < 0) throw py::value_error("unknown model in '" + models + "' (TAVC, TAVM, TAVC-U, TAVM-U, ...)");
        return count;
      },
      py::arg("models"),
      "Replaces the real cameras by simulated ones, e.g. \"TAVC,TAVM-U\". Returns how many are attached.");
  m.def("use_real", &okcUseRealCameras, "Goes back to the real cameras (libusb).");

  py::class_<Camera, std::shared_ptr<Camera>> camera(m, "Camera", R"(An open camera.

Camera(index=0) opens and initialises the camera; close() (or leaving a
with block) closes it. One camera is open at a time.)");
  camera.def(py::init<int>(), py::arg("index") = 0)
      .def("close", &Camera::Close)
      .def_property_readonly("closed", &Camera::Closed)
      .def("__enter__", [](std::shared_ptr<Camera> c) { return c; })
      .def("__exit__", [](Camera& c, py::object, py::object, py::object) { c.Close(); return false; })
      .def_property_readonly("index", &Camera::Index)
      .def_property_readonly("model", &Camera::Model)
      .def_property_readonly("is_color", &Camera::IsColor)
      .def_property_readonly("pixel_size", &Camera::PixelSize, "micrometres")
      .def_property_readonly("sensor_size", &Camera::SensorSize, "(width, height) in sensor pixels")
      .def_property_readonly("bayer_pattern", &Camera::BayerPattern, "\"RGGB\"... on the sensor; \"\" if monochrome")
      .def("is_bin_supported", &Camera::IsBinSupported)
      .def("control_range", &Camera::GetControlRange, "(min, max) of a control, by its number")
      .def_property(
          "white_balance", &Camera::GetWhiteBalance, &Camera::SetWhiteBalance, "(red, blue), colour cameras")
      .def_property(
          "auto_exposure", [](const Camera& c) { return c.GetAuto(CTRL_EXPOSURE); },
          [](Camera& c, bool on) { c.SetAuto(CTRL_EXPOSURE, on); })
      .def_property(
          "auto_gain", [](const Camera& c) { return c.GetAuto(CTRL_GAIN); },
          [](Camera& c, bool on) { c.SetAuto(CTRL_GAIN, on); })
      .def_property(
          "auto_white_balance", [](const Camera& c) { return c.GetAuto(CTRL_WB_RED); },
          [](Camera& c, bool on) { c.SetAuto(CTRL_WB_RED, on); })
      .def_property_readonly("formats", &Camera::Formats, "the formats this camera delivers")
      .def_property("format", &Camera::GetFormat, &Camera::SetFormat, "\"raw8\", \"raw16\", \"rgb24\" or \"y8\"")
      .def_property("binning", &Camera::GetBinning, &Camera::SetBinning, "1 or 2; setting it selects the whole sensor")
      .def_property("region", &Camera::GetRegion, &Camera::SetRegion,
                    "(width, height, x, y) in delivered pixels; set (width, height) to centre it")
      .def_property_readonly("temperature", &Camera::Temperature, "sensor temperature in degrees Celsius")
      .def_property_readonly("dropped_frames", &Camera::DroppedFrames)
      .def_property_readonly("frame_info", &Camera::FrameInfo,
                             "what is known about the last frame delivered (a dict), or None")
      .def("pulse_guide", &Camera::PulseGuide, py::arg("direction"), py::arg("ms"),
           "Drives a guide output for ms milliseconds (returns when the pulse ends).")
      .def("capture", &Camera::Capture, py::arg("timeout_ms") = py::none(),
           "One frame as a numpy array: H x W (uint8, or uint16 for raw16), H x W x 3 in R, G, B for rgb24.")
      .def(
          "stream",
          [](std::shared_ptr<Camera> c, std::optional<long> count, std::optional<unsigned long> timeoutMs) {
            return std::make_unique<FrameStream>(std::move(c), count, timeoutMs);
          },
          py::arg("count") = py::none(), py::arg("timeout_ms") = py::none(),
          "An iterator of frames (count of them, or until closed); capture runs while it is open.");
  ControlProperty<CTRL_EXPOSURE>(camera, "exposure", "exposure time in microseconds");
  ControlProperty<CTRL_GAIN>(camera, "gain", "sensor gain");
  ControlProperty<CTRL_GAMMA>(camera, "gamma", "gamma");
  ControlProperty<CTRL_BRIGHTNESS>(camera, "brightness", "brightness (black level offset)");

  py::class_<FrameStream>(m, "FrameStream")
      .def("__iter__", [](FrameStream& s) -> FrameStream& { return s; }, py::return_value_policy::reference_internal)
      .def("__next__", &FrameStream::Next)
      .def("close", &FrameStream::Close)
      .def("__enter__", [](FrameStream& s) -> FrameStream& { return s; }, py::return_value_policy::reference_internal)
      .def("__exit__", [](FrameStream& s, py::object, py::object, py::object) { s.Close(); return false; });

  m.attr("CTRL_GAIN") = static_cast<int>(CTRL_GAIN);
  m.attr("CTRL_EXPOSURE") = static_cast<int>(CTRL_EXPOSURE);
  m.attr("CTRL_GAMMA") = static_cast<int>(CTRL_GAMMA);
  m.attr("CTRL_WB_RED") = static_cast<int>(CTRL_WB_RED);
  m.attr("CTRL_WB_BLUE") = static_cast<int>(CTRL_WB_BLUE);
  m.attr("CTRL_BRIGHTNESS") = static_cast<int>(CTRL_BRIGHTNESS);
}
