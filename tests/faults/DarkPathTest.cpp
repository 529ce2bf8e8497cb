// Dark-frame paths that name a FIFO, a device or a folder: opening the camera with
// such a stored path, and enabling or saving a dark frame there, return at once.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "api/CameraState.h"
#include "okccamera/okccamera.h"
#include "platform/SettingsStore.h"
#include "support/SimEnvironment.h"

namespace {

constexpr wchar_t kTavcKey[] = L"SOFTWARE\\OKCTAVC";

// Should a call block on the FIFO after all, the guard opens the FIFO's other end after a
// generous grace time, so the test fails instead of hanging.
class FifoGuard {
 public:
  explicit FifoGuard(std::string fifo)
      : fifo_(std::move(fifo)), thread_([this] {
          std::unique_lock lock(mutex_);
          if (!done_.wait_for(lock, std::chrono::seconds(30), [this] { return finished_; })) {
            rescued_ = true;
            for (int fd : {open(fifo_.c_str(), O_WRONLY | O_NONBLOCK), open(fifo_.c_str(), O_RDONLY | O_NONBLOCK)})
              if (fd >= 0) close(fd);
          }
        }) {}
  ~FifoGuard() { Finish(); }
  // True when a call blocked and had to be set free.
  bool Finish() {
    {
      std::lock_guard lock(mutex_);
      finished_ = true;
    }
    done_.notify_all();
    if (thread_.joinable()) thread_.join();
    return rescued_;
  }

 private:
  std::string fifo_;
  std::mutex mutex_;
  std::condition_variable done_;
  bool finished_ = false;
  std::atomic<bool> rescued_{false};
  std::thread thread_;
};

class DarkPath : public okc::test::SimEnvironment {
 protected:
  void SetUp() override {
    SimEnvironment::SetUp();
    const std::string dir = MakeTempDir();
    fifo_ = dir + "/dark.bmp";
    ASSERT_EQ(mkfifo(fifo_.c_str(), 0600), 0);
    folder_ = dir + "/folder.bmp";
    std::filesystem::create_directory(folder_);
  }

  // Stores dark subtraction as switched on with this path, as a camera closed so would have.
  static void StoreDarkPath(const std::string& path) {
    auto key = okc::platform::SettingsKey::Create(kTavcKey);
    ASSERT_TRUE(key);
    char stored[256] = {};
    std::strncpy(stored, path.c_str(), sizeof stored - 1);
    ASSERT_TRUE(key->SetBytes("BMPPATH", stored, sizeof stored));
    const uint8_t on = 1;
    ASSERT_TRUE(key->SetBytes("CutDark", &on, 1));
    ASSERT_TRUE(key->Close());
  }

  CCameraBase& Cam() { return *okc::api::CurrentCamera(); }

  std::string fifo_;
  std::string folder_;
};

TEST_F(DarkPath, AStoredPathOfNoRegularFileNeitherBlocksNorEnablesOpening) {
  for (const std::string& path : {fifo_, folder_, std::string("/dev/zero")}) {
    SCOPED_TRACE(path);
    bus->Attach(okc::sim::Model::TAVC);
    StoreDarkPath(path);
    FifoGuard guard(fifo_);
    ASSERT_TRUE(openCamera(0));
    EXPECT_FALSE(Cam().IsUsingDark());
    closeCamera();
    EXPECT_FALSE(guard.Finish()) << "opening the camera blocked on the dark path";
    bus->Detach(bus->Cameras().front());
  }
  EXPECT_TRUE(std::filesystem::is_fifo(fifo_));
}

TEST_F(DarkPath, EnablingOrSavingADarkFrameThereReturnsAtOnce) {
  bus->Attach(okc::sim::Model::TAVC);
  ASSERT_TRUE(openCamera(0));
  ASSERT_TRUE(initCamera());
  for (const std::string& path : {fifo_, folder_, std::string("/dev/null")}) {
    SCOPED_TRACE(path);
    FifoGuard guard(fifo_);
    std::string writable = path;
    EnableDarkSubtract(writable.data());
    EXPECT_FALSE(Cam().IsUsingDark());
    EXPECT_EQ(Cam().CreateBMP(4, 4, std::vector<unsigned char>(16).data(), path.c_str()), 0);
    EXPECT_FALSE(guard.Finish()) << "the dark-frame file call blocked";
  }
  EXPECT_TRUE(std::filesystem::is_fifo(fifo_));
  EXPECT_TRUE(std::filesystem::is_directory(folder_));
}

}  // namespace
