#include "libusb/EmulatedUsbfs.h"

#include <sys/ioctl.h>
#include <linux/usbdevice_fs.h>
#include <sys/stat.h>
#include <umockdev.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <list>
#include <map>
#include <stdexcept>
#include <thread>

#include "usb/RequestRecord.h"

namespace okc::test {

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint8_t kTypeDevice = 1;
constexpr uint8_t kTypeConfiguration = 2;
constexpr size_t kSetupBytes = 8;
// A reap that finds nothing waits this long before answering "nothing yet": the
// usbfs node of a testbed always polls writable, so libusb's event loop would
// otherwise ask again at once, over and over.
constexpr auto kReapWait = std::chrono::milliseconds(2);
constexpr auto kPumpPeriod = std::chrono::milliseconds(1);

usb::UsbDeviceClass ClassOf(const sim::SimCamera& camera) {
  usb::UsbDeviceClass deviceClass;
  deviceClass.vendorId = camera.Options().vendorId;
  deviceClass.productId = camera.Options().classProductId;
  return deviceClass;
}

// The URB status usbfs reports for a request the simulated camera finished.
int UrbStatusOf(const usb::IoResult& result) {
  if (result.ok) return 0;
  switch (result.error) {
    case usb::kErrOperationAborted: return -ENOENT;
    case usb::kErrNoDevice: return -ENODEV;
    case usb::kErrTimeout: return -ETIMEDOUT;
    default: return -EPIPE;  // the device stalled the request
  }
}

template <typename T>
T* DataAs(UMockdevIoctlData* data) {
  return reinterpret_cast<T*>(data->data);
}

}  // namespace

// The usbfs side of one device node: the open file handles (clients) with
// their link to the simulated camera and their URBs. umockdev calls the
// signal handlers on its worker thread; a pump thread of our own finishes
// URBs as the simulated camera completes them and answers waiting reaps.
class UsbfsHandler {
 public:
  UsbfsHandler(std::shared_ptr<sim::SimBus> bus, std::shared_ptr<sim::SimCamera> camera, UsbfsCounts* counts,
               std::mutex* countsMutex)
      : bus_(std::move(bus)), camera_(std::move(camera)), counts_(counts), countsMutex_(countsMutex) {
    base_ = umockdev_ioctl_base_new();
    g_signal_connect(base_, "handle-ioctl", G_CALLBACK(&UsbfsHandler::OnIoctl), this);
    g_signal_connect(base_, "client-connected", G_CALLBACK(&UsbfsHandler::OnConnected), this);
    g_signal_connect(base_, "client-vanished", G_CALLBACK(&UsbfsHandler::OnVanished), this);
    pump_ = std::thread([this] { Pump(); });
  }

  ~UsbfsHandler() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    pump_.join();
    g_signal_handlers_disconnect_by_data(base_, this);
    std::lock_guard lock(mutex_);
    for (auto& [client, state] : clients_) {
      Drop(state);
      g_object_unref(client);
    }
    clients_.clear();
    g_object_unref(base_);
  }

  UMockdevIoctlBase* Base() const { return base_; }

  // From now on bulk URBs are refused at submission with this errno (0: taken again).
  void RefuseBulkSubmissions(int error) {
    std::lock_guard lock(mutex_);
    refuseBulk_ = error;
  }

  // The device left the bus: every request on a handle opened before fails as on a real bus.
  void MarkGone() {
    std::lock_guard lock(mutex_);
    gone_ = true;
  }

 private:
  struct Urb {
    UMockdevIoctlData* urb = nullptr;     // the client's usbdevfs_urb, resolved
    UMockdevIoctlData* buffer = nullptr;  // its data buffer, resolved
    bool control = false;
    std::vector<uint8_t> record;  // request record (+ data stage for control requests)
    std::unique_ptr<usb::PendingIo> io;
  };
  struct Client {
    std::unique_ptr<usb::DeviceLink> link;
    uint32_t openError = usb::kErrNone;
    std::list<std::unique_ptr<Urb>> inFlight;
    std::list<std::unique_ptr<Urb>> reapable;
    bool reapWaiting = false;
    bool reapBlocks = false;  // USBDEVFS_REAPURB: waits for an URB however long it takes
    Clock::time_point reapDeadline;
  };

  static void OnConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    static_cast<UsbfsHandler*>(self)->Connected(client);
  }
  static void OnVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    static_cast<UsbfsHandler*>(self)->Vanished(client);
  }
  static gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    return static_cast<UsbfsHandler*>(self)->Ioctl(client);
  }

  void Count(int UsbfsCounts::*field) {
    std::lock_guard lock(*countsMutex_);
    ++(counts_->*field);
  }

  void Connected(UMockdevIoctlClient* client) {
    Count(&UsbfsCounts::opens);
    std::lock_guard lock(mutex_);
    // Held until the handle is closed: a reap may be answered after the signal returns.
    g_object_ref(client);
    Client& state = clients_[client];
    state.link = bus_->Open(ClassOf(*camera_), 0, &state.openError);
  }

  void Vanished(UMockdevIoctlClient* client) {
    std::lock_guard lock(mutex_);
    auto it = clients_.find(client);
    if (it == clients_.end()) return;
    Drop(it->second);
    clients_.erase(it);
    g_object_unref(client);
  }

  // Withdraws what is still queued at the camera before the buffers go.
  static void Drop(Client& state) {
    for (auto* list : {&state.inFlight, &state.reapable})
      for (auto& urb : *list) Release(*urb);
    state.link.reset();
  }

  static void Release(Urb& urb) {
    urb.io.reset();
    if (urb.buffer) g_object_unref(urb.buffer);
    if (urb.urb) g_object_unref(urb.urb);
    urb.buffer = urb.urb = nullptr;
  }

  static void Complete(UMockdevIoctlClient* client, long result, int error) {
    umockdev_ioctl_client_complete(client, result, error);
  }

  // Resolves the unsigned int the ioctl argument points to.
  static UMockdevIoctlData* ResolveUint(UMockdevIoctlClient* client) {
    return umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(unsigned int), nullptr);
  }

  gboolean Ioctl(UMockdevIoctlClient* client) {
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    std::lock_guard lock(mutex_);
    auto it = clients_.find(client);
    if (it == clients_.end()) {
      Complete(client, -1, EBADF);
      return TRUE;
    }
    Client& state = it->second;
    const bool reachable = !gone_ && state.link && !camera_->Unplugged();
    switch (request) {
      case USBDEVFS_GET_CAPABILITIES: {
        UMockdevIoctlData* caps = ResolveUint(client);
        *DataAs<uint32_t>(caps) = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                                  USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
        Complete(client, 0, 0);
        g_object_unref(caps);
        return TRUE;
      }
      case USBDEVFS_GETDRIVER: Complete(client, -1, ENODATA); return TRUE;  // no kernel driver bound
      case USBDEVFS_CLAIMINTERFACE:
        Count(&UsbfsCounts::claims);
        if (!state.link)
          Complete(client, -1, state.openError == usb::kErrBusy ? EBUSY : ENODEV);
        else
          Complete(client, reachable ? 0 : -1, reachable ? 0 : ENODEV);
        return TRUE;
      case USBDEVFS_DISCONNECT_CLAIM:  // claim, taking the interface from a kernel driver (none is bound)
        Count(&UsbfsCounts::claims);
        Complete(client, reachable ? 0 : -1, reachable ? 0 : ENODEV);
        return TRUE;
      case USBDEVFS_IOCTL: Complete(client, -1, ENODATA); return TRUE;  // no kernel driver to disconnect
      case USBDEVFS_RELEASEINTERFACE:
      case USBDEVFS_SETINTERFACE:
      case USBDEVFS_SETCONFIGURATION: Complete(client, reachable ? 0 : -1, reachable ? 0 : ENODEV); return TRUE;
      case USBDEVFS_CLEAR_HALT: {
        Count(&UsbfsCounts::clearHalts);
        UMockdevIoctlData* endpoint = ResolveUint(client);
        const bool ok = reachable && state.link->ResetPipe(static_cast<uint8_t>(*DataAs<uint32_t>(endpoint)));
        Complete(client, ok ? 0 : -1, ok ? 0 : (reachable ? EPIPE : ENODEV));
        g_object_unref(endpoint);
        return TRUE;
      }
      case USBDEVFS_RESET: {
        Count(&UsbfsCounts::resets);
        const bool ok = reachable && state.link->ResetPort();
        Complete(client, ok ? 0 : -1, ok ? 0 : ENODEV);
        return TRUE;
      }
      case USBDEVFS_SUBMITURB: Submit(client, state, reachable); return TRUE;
      case USBDEVFS_DISCARDURB: Discard(client, state); return TRUE;
      case USBDEVFS_REAPURB:
      case USBDEVFS_REAPURBNDELAY:
        if (!state.reapable.empty()) {
          Reap(client, state);
        } else if (!reachable && state.inFlight.empty()) {
          Complete(client, -1, ENODEV);
        } else {
          state.reapWaiting = true;
          state.reapBlocks = request == USBDEVFS_REAPURB;
          state.reapDeadline = Clock::now() + kReapWait;
          wake_.notify_all();
        }
        return TRUE;
      default:
        Count(&UsbfsCounts::unknownRequests);
        Complete(client, -1, ENOTTY);
        return TRUE;
    }
  }

  void Submit(UMockdevIoctlClient* client, Client& state, bool reachable) {
    auto urb = std::make_unique<Urb>();
    urb->urb = umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(usbdevfs_urb), nullptr);
    if (!urb->urb) {
      Complete(client, -1, EFAULT);
      return;
    }
    auto* u = DataAs<usbdevfs_urb>(urb->urb);
    if (u->buffer_length < 0 || (u->type != USBDEVFS_URB_TYPE_CONTROL && u->type != USBDEVFS_URB_TYPE_BULK)) {
      Release(*urb);
      Complete(client, -1, EINVAL);
      return;
    }
    if (!reachable) {
      Release(*urb);
      Complete(client, -1, ENODEV);
      return;
    }
    if (u->type == USBDEVFS_URB_TYPE_BULK && refuseBulk_ != 0) {
      Release(*urb);
      Complete(client, -1, refuseBulk_);
      return;
    }
    if (u->buffer_length > 0) {
      urb->buffer = umockdev_ioctl_data_resolve(urb->urb, offsetof(usbdevfs_urb, buffer),
                                                static_cast<size_t>(u->buffer_length), nullptr);
      if (!urb->buffer) {
        Release(*urb);
        Complete(client, -1, EFAULT);
        return;
      }
    }
    uint8_t* data = urb->buffer ? urb->buffer->data : nullptr;
    u->status = 0;
    u->actual_length = 0;
    if (u->type == USBDEVFS_URB_TYPE_CONTROL) {
      if (u->buffer_length < static_cast<int>(kSetupBytes)) {
        Release(*urb);
        Complete(client, -1, EINVAL);
        return;
      }
      usb::RequestRecord r;
      r.requestType = data[0];
      r.request = data[1];
      r.value = static_cast<uint16_t>(data[2] | data[3] << 8);
      r.index = static_cast<uint16_t>(data[4] | data[5] << 8);
      r.length = static_cast<uint16_t>(data[6] | data[7] << 8);
      r.timeoutSeconds = 5;
      if (kSetupBytes + r.length > static_cast<size_t>(u->buffer_length)) {
        Release(*urb);
        Complete(client, -1, EINVAL);
        return;
      }
      urb->control = true;
      urb->record.assign(usb::kRecordSize + r.length, 0);
      r.Encode(urb->record.data());
      if (!r.IsIn()) std::memcpy(urb->record.data() + usb::kRecordSize, data + kSetupBytes, r.length);
      urb->io = state.link->SubmitControl(urb->record.data(), urb->record.size());
    } else {
      urb->record.assign(usb::kRecordSize, 0);
      urb->record[13] = u->endpoint;
      urb->io = state.link->SubmitDirect(urb->record.data(), data, static_cast<size_t>(u->buffer_length));
    }
    // A camera that is gone refuses at once: usbfs fails the submission itself.
    if (urb->io->IsDone() && !urb->io->Result().ok && urb->io->Result().error == usb::kErrNoDevice) {
      Release(*urb);
      Complete(client, -1, ENODEV);
      return;
    }
    Count(urb->control ? &UsbfsCounts::controlUrbs : &UsbfsCounts::bulkUrbs);
    state.inFlight.push_back(std::move(urb));
    Complete(client, 0, 0);
    wake_.notify_all();
  }

  // Fills in the URB from what the camera did and moves it to the reapable ones.
  static void Finish(Client& state, std::list<std::unique_ptr<Urb>>::iterator it, bool discarded) {
    Urb& urb = **it;
    auto* u = DataAs<usbdevfs_urb>(urb.urb);
    if (discarded) {
      urb.io.reset();  // the camera forgets it; nothing more is written
      u->status = -ENOENT;
      u->actual_length = 0;
    } else {
      const usb::IoResult result = urb.io->Result();
      u->status = UrbStatusOf(result);
      if (urb.control) {
        const size_t moved = result.bytesReturned > usb::kRecordSize ? result.bytesReturned - usb::kRecordSize : 0;
        if (moved > 0 && (urb.record[0] & 0x80))
          std::memcpy(urb.buffer->data + kSetupBytes, urb.record.data() + usb::kRecordSize, moved);
        u->actual_length = static_cast<int>(moved);
      } else {
        u->actual_length = static_cast<int>(std::min<uint32_t>(result.bytesReturned, u->buffer_length));
      }
    }
    state.reapable.splice(state.reapable.end(), state.inFlight, it);
  }

  void Discard(UMockdevIoctlClient* client, Client& state) {
    Count(&UsbfsCounts::discardRequests);
    // The argument is the URB's address in the client.
    const auto address = *DataAs<gulong>(umockdev_ioctl_client_get_arg(client));
    for (auto it = state.inFlight.begin(); it != state.inFlight.end(); ++it) {
      if ((*it)->urb->client_addr != address) continue;
      if ((*it)->io->IsDone()) break;  // finished meanwhile: it is reaped as it is
      Count(&UsbfsCounts::discarded);
      Finish(state, it, true);
      Complete(client, 0, 0);
      return;
    }
    Complete(client, -1, EINVAL);
  }

  void Reap(UMockdevIoctlClient* client, Client& state) {
    std::unique_ptr<Urb> urb = std::move(state.reapable.front());
    Count(urb->control ? &UsbfsCounts::controlReaped : &UsbfsCounts::bulkReaped);
    state.reapable.pop_front();
    state.reapWaiting = false;
    UMockdevIoctlData* slot =
        umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(void*), nullptr);
    umockdev_ioctl_data_set_ptr(slot, 0, urb->urb);
    Complete(client, 0, 0);
    g_object_unref(slot);
    Release(*urb);
  }

  void Pump() {
    std::unique_lock lock(mutex_);
    while (!stop_) {
      wake_.wait_for(lock, kPumpPeriod);
      const auto now = Clock::now();
      for (auto& [client, state] : clients_) {
        for (auto it = state.inFlight.begin(); it != state.inFlight.end();) {
          auto next = std::next(it);
          if ((*it)->io->IsDone()) Finish(state, it, false);
          it = next;
        }
        if (!state.reapWaiting) continue;
        if (!state.reapable.empty()) {
          Reap(client, state);
        } else if (!state.reapBlocks && now >= state.reapDeadline) {
          state.reapWaiting = false;
          Complete(client, -1, EAGAIN);
        }
      }
    }
  }

  std::shared_ptr<sim::SimBus> bus_;
  std::shared_ptr<sim::SimCamera> camera_;
  UsbfsCounts* counts_;
  std::mutex* countsMutex_;
  UMockdevIoctlBase* base_ = nullptr;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  bool gone_ = false;
  int refuseBulk_ = 0;
  std::map<UMockdevIoctlClient*, Client> clients_;
  std::thread pump_;
};

struct EmulatedUsbfs::Testbed {
  UMockdevTestbed* bed = nullptr;
  UsbfsCounts counts;
  mutable std::mutex countsMutex;
};

struct EmulatedUsbfs::Device {
  std::shared_ptr<sim::SimBus> bus;
  std::shared_ptr<sim::SimCamera> camera;
  int busNumber = 0;
  std::string ports;
  int address = 0;
  std::string syspath;
  std::unique_ptr<UsbfsHandler> handler;
  std::vector<std::unique_ptr<UsbfsHandler>> retired;  // handlers of earlier nodes, kept for open handles
};

bool EmulatedUsbfs::Available() {
  const char* preload = std::getenv("LD_PRELOAD");
  return preload && std::strstr(preload, "libumockdev-preload") != nullptr;
}

EmulatedUsbfs::EmulatedUsbfs() : testbed_(std::make_unique<Testbed>()) {
  if (!Available()) throw std::runtime_error("not running under umockdev-wrapper");
  testbed_->bed = umockdev_testbed_new();
}

EmulatedUsbfs::~EmulatedUsbfs() {
  for (auto& device : devices_)
    if (!device->syspath.empty()) RemoveFromTestbed(*device);
  // The testbed goes first: no signal reaches a handler that is being destroyed.
  g_object_unref(testbed_->bed);
  devices_.clear();
}

void EmulatedUsbfs::AddHub(int bus, const std::string& ports, int address) {
  // A high-speed hub: device descriptor, then a configuration with one interface and its interrupt endpoint.
  std::vector<uint8_t> descriptors = {18, 1, 0x00, 0x02, 9, 0, 1, 64, 0x6B, 0x1D, 0x02, 0x00, 0x00, 0x01, 0, 0, 0, 1,
                                      9,  2, 25,   0,    1, 1, 0, 0xE0, 0,
                                      9,  4, 0,    0,    1, 9, 0, 0,    0,
                                      7,  5, 0x81, 3,    2, 0, 12};
  const std::string name = std::to_string(bus) + "-" + ports;
  const std::string busnum = std::to_string(bus) + "\n", devnum = std::to_string(address) + "\n";
  char node[40];
  std::snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d", bus, address);
  gchar* syspath = umockdev_testbed_add_device(testbed_->bed, "usb", name.c_str(), nullptr, "idVendor", "1d6b",
                                               "idProduct", "0002", "busnum", busnum.c_str(), "devnum",
                                               devnum.c_str(), "speed", "480\n", "bConfigurationValue", "1\n",
                                               nullptr, "DEVTYPE", "usb_device", "DEVNAME", node, nullptr);
  if (!syspath) throw std::runtime_error("umockdev could not add the hub");
  umockdev_testbed_set_attribute_binary(testbed_->bed, syspath, "descriptors", descriptors.data(),
                                        static_cast<gint>(descriptors.size()));
  umockdev_testbed_uevent(testbed_->bed, syspath, "add");
  g_free(syspath);
}

void EmulatedUsbfs::SetUsbfsMemoryLimit(int megabytes) {
  gchar* sys = umockdev_testbed_get_sys_dir(testbed_->bed);
  const std::filesystem::path folder = std::filesystem::path(sys) / "module/usbcore/parameters";
  g_free(sys);
  std::filesystem::create_directories(folder);
  std::ofstream(folder / "usbfs_memory_mb") << megabytes << "\n";
}

void EmulatedUsbfs::RefuseBulkSubmissions(int error) {
  for (auto& device : devices_)
    if (device->handler) device->handler->RefuseBulkSubmissions(error);
}

std::string EmulatedUsbfs::DeviceNode(const std::shared_ptr<sim::SimCamera>& camera) const {
  return NodeOf(Find(camera));
}

std::string EmulatedUsbfs::NodeOf(const Device& device) {
  char node[40];
  std::snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d", device.busNumber, device.address);
  return node;
}

EmulatedUsbfs::Device& EmulatedUsbfs::Find(const std::shared_ptr<sim::SimCamera>& camera) const {
  for (const auto& device : devices_)
    if (device->camera == camera) return *device;
  throw std::logic_error("camera not plugged into the emulated bus");
}

std::shared_ptr<sim::SimCamera> EmulatedUsbfs::Plug(const sim::SimDeviceOptions& options, int bus,
                                                    const std::string& ports, int address) {
  auto device = std::make_unique<Device>();
  device->bus = sim::CreateSimBus();
  device->camera = device->bus->Attach(options);
  device->busNumber = bus;
  device->ports = ports;
  device->address = address;
  AddToTestbed(*device);
  devices_.push_back(std::move(device));
  return devices_.back()->camera;
}

void EmulatedUsbfs::AddToTestbed(Device& device) {
  const sim::SimCamera& camera = *device.camera;
  std::vector<uint8_t> descriptors = camera.Descriptor(kTypeDevice, 0);
  const std::vector<uint8_t> config = camera.Descriptor(kTypeConfiguration, 0);
  descriptors.insert(descriptors.end(), config.begin(), config.end());
  const std::string name = std::to_string(device.busNumber) + "-" + device.ports;
  const std::string node = NodeOf(device);
  char vendor[8], product[8], devnum[8], busnum[8], dev[16], busnumLine[8], devnumLine[8];
  std::snprintf(vendor, sizeof vendor, "%04x", camera.Options().vendorId);
  std::snprintf(product, sizeof product, "%04x", camera.Options().productId);
  std::snprintf(busnum, sizeof busnum, "%d", device.busNumber);
  std::snprintf(devnum, sizeof devnum, "%d", device.address);
  std::snprintf(dev, sizeof dev, "189:%d", (device.busNumber - 1) * 128 + device.address - 1);
  std::snprintf(busnumLine, sizeof busnumLine, "%d\n", device.busNumber);
  std::snprintf(devnumLine, sizeof devnumLine, "%d\n", device.address);
  const char* speed = sim::IsUsb3Model(camera.GetModel()) ? "5000\n" : "480\n";
  gchar* syspath = umockdev_testbed_add_device(
      testbed_->bed, "usb", name.c_str(), nullptr,
      // attributes
      "idVendor", vendor, "idProduct", product, "busnum", busnumLine, "devnum", devnumLine, "speed", speed,
      "bConfigurationValue", "1\n", "bNumConfigurations", "1\n", "dev", dev, nullptr,
      // properties
      "DEVTYPE", "usb_device", "DEVNAME", node.c_str(), "BUSNUM", busnum, "DEVNUM", devnum, "ID_VENDOR_ID",
      vendor, "ID_MODEL_ID", product, nullptr);
  if (!syspath) throw std::runtime_error("umockdev could not add the device");
  device.syspath = syspath;
  g_free(syspath);
  umockdev_testbed_set_attribute_binary(testbed_->bed, device.syspath.c_str(), "descriptors", descriptors.data(),
                                        static_cast<gint>(descriptors.size()));
  // The node libusb opens; the handler answers what is sent to it.
  gchar* root = umockdev_testbed_get_root_dir(testbed_->bed);
  const std::string path = std::string(root) + node;
  g_free(root);
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  if (!std::filesystem::exists(path)) std::ofstream(path).close();
  device.handler = std::make_unique<UsbfsHandler>(device.bus, device.camera, &testbed_->counts, &testbed_->countsMutex);
  GError* error = nullptr;
  if (!umockdev_testbed_attach_ioctl(testbed_->bed, node.c_str(), device.handler->Base(), &error)) {
    std::string why = error ? error->message : "unknown";
    if (error) g_error_free(error);
    throw std::runtime_error("umockdev could not attach the usbfs handler: " + why);
  }
  umockdev_testbed_uevent(testbed_->bed, device.syspath.c_str(), "add");
}

void EmulatedUsbfs::RemoveFromTestbed(Device& device) {
  const std::string node = NodeOf(device);
  device.handler->MarkGone();
  umockdev_testbed_uevent(testbed_->bed, device.syspath.c_str(), "remove");
  umockdev_testbed_detach_ioctl(testbed_->bed, node.c_str(), nullptr);
  umockdev_testbed_remove_device(testbed_->bed, device.syspath.c_str());
  device.syspath.clear();
  device.retired.push_back(std::move(device.handler));
}

void EmulatedUsbfs::Unplug(const std::shared_ptr<sim::SimCamera>& camera) {
  Device& device = Find(camera);
  camera->Unplug();
  if (!device.syspath.empty()) RemoveFromTestbed(device);
}

void EmulatedUsbfs::Reenumerate(const std::shared_ptr<sim::SimCamera>& camera, int newAddress) {
  Device& device = Find(camera);
  if (!device.syspath.empty()) RemoveFromTestbed(device);
  device.address = newAddress;
  AddToTestbed(device);
}

void EmulatedUsbfs::RestrictAccess(const std::shared_ptr<sim::SimCamera>& camera) {
  // An emulated node is reached through its socket, whatever the node's mode:
  // without the handler the node is the plain file whose mode open() meets.
  umockdev_testbed_detach_ioctl(testbed_->bed, DeviceNode(camera).c_str(), nullptr);
  gchar* root = umockdev_testbed_get_root_dir(testbed_->bed);
  const std::string path = std::string(root) + DeviceNode(camera);
  g_free(root);
  if (chmod(path.c_str(), 0) != 0) throw std::runtime_error("chmod " + path + ": " + std::strerror(errno));
}

UsbfsCounts EmulatedUsbfs::Counts() const {
  std::lock_guard lock(testbed_->countsMutex);
  return testbed_->counts;
}

}  // namespace okc::test
