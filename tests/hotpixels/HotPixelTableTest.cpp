// The camera's hot-pixel map in its SPI flash at 0x40000, the crop to the
// region and the correction of frames, on a simulated TAVC.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "imaging/BmpFile.h"
#include "imaging/HotPixelMap.h"
#include "okccamera/CCameraTAVC.h"
#include "okccamera/Clock.h"
#include "okccamera/okccamera.h"
#include "support/SimEnvironment.h"

namespace okc::test {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr int kW = 1280;
constexpr int kH = 960;
constexpr size_t kN = size_t{kW} * kH;
constexpr uint32_t kMapAddress = 0x40000;

struct Pixel {
  int x, y;
  size_t Index(int rowLength = kW) const { return static_cast<size_t>(y) * rowLength + x; }
};

size_t Idx(int x, int y, int rowLength = kW) { return static_cast<size_t>(y) * rowLength + x; }

// The stream the flash must hold for a full-sensor map with these hot pixels.
Bytes StreamOf(const std::vector<Pixel>& hot) {
  std::vector<uint32_t> map(kN, 0);
  for (const Pixel& p : hot) map[p.Index()] = 1;
  Bytes bitmap(kN / 8);
  imaging::PackHotBitmap(map, bitmap);
  return imaging::CompressHotBitmap(bitmap);
}

class HotPixelTable : public SimEnvironment {
 protected:
  void SetUp() override {
    SimEnvironment::SetUp();
    okc::platform::UseClock(std::make_shared<okc::platform::FastClock>(1000.0));
    cam = bus->Attach(sim::Model::TAVC);
  }

  std::unique_ptr<CCameraTAVC> OpenAt(int width, int height) {
    auto camera = std::make_unique<CCameraTAVC>();
    EXPECT_TRUE(camera->OpenCamera(1));
    EXPECT_TRUE(camera->InitCamera());
    EXPECT_TRUE(camera->SetResolution(width, height, 1, IMAGE_8BIT));
    cam->ClearRequests();
    return camera;
  }

  // A flat dark frame of level 10 with the given pixels at 200: they are its hot pixels.
  static void LoadDark(CCameraBase& camera, const std::vector<Pixel>& hot) {
    ASSERT_TRUE(camera.EnsureDarkTables());
    std::fill_n(camera.darkFull.get(), kN, 10u);
    for (const Pixel& p : hot) camera.darkFull[p.Index()] = 200;
    camera.AdjustDarkBuff(camera.darkFull.get(), camera.darkWorking.get());
  }

  std::shared_ptr<sim::SimCamera> cam;
  const std::vector<Pixel> hot = {{0, 0}, {700, 500}, {701, 500}, {1279, 959}, {640, 10}};
};

TEST_F(HotPixelTable, SavedMapIsInFlashByteForByteAndLoadsIntoAnotherCameraObject) {
  auto camera = OpenAt(kW, kH);
  LoadDark(*camera, hot);
  ASSERT_EQ(camera->darkHotCount, hot.size());
  ASSERT_TRUE(camera->SaveHPCTable());

  const Bytes stream = StreamOf(hot);
  Bytes expected = stream;
  expected.resize((stream.size() + 255) / 256 * 256, 0xFF);
  EXPECT_EQ(cam->ReadFlash(kMapAddress, expected.size()), expected);
  // Sector 4 erased, then one page programmed at 0x40000 and read back.
  const auto erase = cam->VendorRequests(0xC4);
  ASSERT_FALSE(erase.empty());
  EXPECT_EQ(erase[0].index, 4);
  const auto program = cam->VendorRequests(0xC2);
  ASSERT_EQ(program.size(), 1u);
  EXPECT_EQ(program[0].index, kMapAddress / 256);
  EXPECT_EQ(program[0].data, expected);
  EXPECT_EQ(camera->HotPixelsInMap(), 5);
  EXPECT_EQ(camera->hotPixelCount, 5u);

  camera.reset();
  auto other = OpenAt(kW, kH);
  EXPECT_EQ(other->HotPixelsInMap(), 0);
  ASSERT_TRUE(other->LoadHPCTable());
  EXPECT_EQ(other->HotPixelsInMap(), 5);
  for (const Pixel& p : hot) EXPECT_EQ(other->hotPixelMapFull[p.Index()], 1u);
  ASSERT_EQ(other->hotPixelCount, 5u);
  EXPECT_EQ(other->hotPixelList[1], Idx(640, 10));
}

TEST_F(HotPixelTable, PreloadedMapOfSeveralPagesIsReadWholeAndCroppedToTheRegion) {
  std::vector<Pixel> many;
  for (int y = 0; y < kH; y += 8)
    for (int x = 0; x < kW; x += 64) many.push_back({x + (y % 5), y});
  const Bytes stream = StreamOf(many);
  ASSERT_GT(stream.size(), 2 * 2048u);
  cam->WriteFlash(kMapAddress, stream);

  auto camera = OpenAt(320, 240);  // centred: start (480, 360)
  ASSERT_TRUE(camera->LoadHPCTable());
  EXPECT_EQ(camera->HotPixelsInMap(), static_cast<int>(many.size()));
  const auto reads = cam->VendorRequests(0xC3);
  ASSERT_EQ(reads.size(), (stream.size() + 2047) / 2048);
  for (size_t i = 0; i < reads.size(); ++i) EXPECT_EQ(reads[i].index, (kMapAddress + 2048 * i) / 256);

  std::vector<uint32_t> expectedList;
  for (int r = 0; r < 240; ++r)
    for (int c = 0; c < 320; ++c)
      if (camera->hotPixelMapFull[Idx(480 + c, 360 + r)]) expectedList.push_back(r * 320 + c);
  ASSERT_FALSE(expectedList.empty());
  ASSERT_EQ(camera->hotPixelCount, expectedList.size());
  EXPECT_TRUE(std::equal(expectedList.begin(), expectedList.end(), camera->hotPixelList.get()));

  // A new start position crops the map again.
  ASSERT_TRUE(camera->SetStartPos(0, 0));
  camera->AdjustHPCTable(camera->hotPixelMapFull.get(), camera->hotPixelMapRegion.get());
  EXPECT_EQ(camera->hotPixelList[0], Idx(0, 0, 320));
}

TEST_F(HotPixelTable, CorruptFlashMapsAreRefusedAndTheMapInForceStays) {
  cam->WriteFlash(kMapAddress, StreamOf(hot));
  auto camera = OpenAt(kW, kH);
  ASSERT_TRUE(camera->LoadHPCTable());
  const Bytes good = StreamOf(hot);
  auto with = [&](auto change) {
    Bytes b = good;
    change(b);
    return b;
  };
  const std::pair<const char*, Bytes> cases[] = {
      {"erased flash", Bytes(2048, 0xFF)},
      {"wrong magic", with([](Bytes& b) { b[0] = 'X'; })},
      {"length beyond the bitmap", with([](Bytes& b) { b[4] = 0x7F; })},
      {"odd length", with([](Bytes& b) { b[7] |= 1; })},
      {"more markers than blocks", [] {
         Bytes b = {'O', 'K', 'C', 'D', 0, 0, 0x04, 0xC0};  // 1216 bytes of markers
         b.resize(1216, 0);
         return b;
       }()},
  };
  for (const auto& [what, bytes] : cases) {
    cam->WriteFlash(kMapAddress, Bytes(4096, 0xFF));
    cam->WriteFlash(kMapAddress, bytes);
    EXPECT_FALSE(camera->LoadHPCTable()) << what;
    EXPECT_EQ(camera->HotPixelsInMap(), 5) << what;
    EXPECT_EQ(camera->hotPixelCount, 5u) << what;
  }
}

TEST_F(HotPixelTable, FlashFaultsOnSaving) {
  auto camera = OpenAt(kW, kH);
  LoadDark(*camera, hot);
  // A page that reads back wrong once is written again.
  cam->CorruptNextWrites(0xC2, 1);
  ASSERT_TRUE(camera->SaveHPCTable());
  EXPECT_EQ(cam->VendorRequests(0xC2).size(), 2u);
  const Bytes stream = StreamOf(hot);
  EXPECT_EQ(cam->ReadFlash(kMapAddress, stream.size()), stream);

  cam->ClearRequests();
  cam->SetEraseBusyPolls(-1);
  EXPECT_FALSE(camera->SaveHPCTable());
  EXPECT_TRUE(cam->VendorRequests(0xC2).empty());
  cam->SetEraseBusyPolls(0);

  // A map with a hot pixel in every byte would not fit its area: nothing is written.
  cam->ClearRequests();
  ASSERT_TRUE(camera->EnsureDarkTables());
  std::fill_n(camera->darkHotFlags.get(), kN, 0u);
  for (size_t i = 0; i < kN; i += 8) camera->darkHotFlags[i] = 1;
  EXPECT_FALSE(camera->SaveHPCTable());
  EXPECT_TRUE(cam->VendorRequests(0xC2).empty());
  EXPECT_TRUE(cam->VendorRequests(0xC4).empty());

  camera->CloseCamera();
  EXPECT_FALSE(camera->SaveHPCTable());
  EXPECT_FALSE(camera->LoadHPCTable());
}

TEST_F(HotPixelTable, FrameHotPixelsTakeTheirNeighboursValues) {
  cam->WriteFlash(kMapAddress, StreamOf(hot));
  auto camera = OpenAt(kW, kH);
  ASSERT_TRUE(camera->LoadHPCTable());
  // A colour sensor: same-colour neighbours two pixels away.
  std::vector<uint8_t> frame(kN);
  for (size_t i = 0; i < kN; ++i) frame[i] = static_cast<uint8_t>(40 + (i % kW) % 2 * 20 + (i / kW) % 2 * 7);
  const std::vector<uint8_t> clean = frame;
  for (const Pixel& p : hot) frame[p.Index()] = 255;

  camera->hpcEnabled = false;
  camera->HandleHotPixels(frame.data(), kW, kH, false);
  EXPECT_EQ(frame[Idx(700, 500)], 255);  // switched off: untouched
  camera->hpcEnabled = true;
  camera->HandleHotPixels(frame.data(), kW, kH, false);
  for (const Pixel& p : hot) EXPECT_EQ(frame[p.Index()], clean[p.Index()]) << p.x << "," << p.y;

  // 16-bit frames, the dark frame's hot pixels and the map's together.
  LoadDark(*camera, {{300, 300}});
  camera->useDark = true;
  std::vector<uint16_t> wide(kN, 1000);
  wide[Idx(700, 500)] = 65535;
  wide[Idx(300, 300)] = 65535;
  camera->HandleHotPixels(reinterpret_cast<uint8_t*>(wide.data()), kW, kH, true);
  EXPECT_EQ(wide[Idx(700, 500)], 1000);
  EXPECT_EQ(wide[Idx(300, 300)], 1000);
  EXPECT_EQ(camera->HotPixelsCorrectedPerFrame(), 6);
  // A frame larger than the sensor is left alone.
  camera->HandleHotPixels(frame.data(), kW + 1, kH, false);
}

TEST_F(HotPixelTable, ExportedFunctionsSaveLoadClearAndCount) {
  ASSERT_EQ(getNumberOfConnectedCameras(), 1);
  ASSERT_TRUE(openCamera(0));
  ASSERT_TRUE(initCamera());
  EXPECT_FALSE(okcLoadHotPixels());  // the flash holds no map yet
  ASSERT_TRUE(setImageFormat(kW, kH, 1, IMGTYPE_RAW8));
  Bytes dark(kN, 12);
  for (const Pixel& p : hot) dark[p.Index()] = 90;
  const std::string bmp = MakeTempDir() + "/dark.bmp";
  ASSERT_TRUE(imaging::WriteGreyBmp(bmp.c_str(), kW, kH, dark.data()));
  std::string path = bmp;
  ASSERT_TRUE(EnableDarkSubtract(path.data()));
  ASSERT_TRUE(okcSaveHotPixels());
  EXPECT_EQ(okcGetHotPixelMapCount(), 5);
  EXPECT_EQ(okcGetHotPixelCount(), 10);  // the map's and the dark frame's
  DisableDarkSubtract();
  EXPECT_EQ(okcGetHotPixelCount(), 5);
  ASSERT_TRUE(okcLoadHotPixels());
  EXPECT_EQ(okcGetHotPixelMapCount(), 5);

  ASSERT_TRUE(okcClearHotPixels());
  EXPECT_EQ(okcGetHotPixelCount(), 0);
  EXPECT_EQ(okcGetHotPixelMapCount(), 0);
  EXPECT_EQ(cam->ReadFlash(kMapAddress, 8), (Bytes{'O', 'K', 'C', 'D', 0, 0, 0, 8}));
  ASSERT_TRUE(okcLoadHotPixels());
  EXPECT_EQ(okcGetHotPixelMapCount(), 0);

  closeCamera();
  EXPECT_FALSE(okcSaveHotPixels());
  EXPECT_EQ(okcGetHotPixelCount(), 0);
}

}  // namespace
}  // namespace okc::test
