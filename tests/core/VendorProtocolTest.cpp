// The vendor requests as the simulated controller receives them.
#include <gtest/gtest.h>

#include <thread>

#include "api/CameraState.h"
#include "okccamera/CCyUSBEndPoint.h"
#include "okccamera/CUsbDevice.h"
#include "okccamera/okccamera.h"
#include "support/SimEnvironment.h"

using okc::sim::Model;

namespace {

class VendorProtocol : public okc::test::SimEnvironment {
 protected:
  void SetUp() override {
    SimEnvironment::SetUp();
    sim = bus->Attach(Model::SELM);  // no firmware read at open: a clean request log
    ASSERT_TRUE(openCamera(0));
    cam = okc::api::CurrentCamera().get();
    sim->ClearRequests();
  }
  std::shared_ptr<okc::sim::SimCamera> sim;
  CCameraBase* cam = nullptr;
};

TEST_F(VendorProtocol, RegisterWriteCarriesAddressAndValue) {
  ASSERT_TRUE(cam->WriteCameraRegister(0x3012, 0xBEEF));
  auto log = sim->VendorRequests();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].request, 0xA6);
  EXPECT_FALSE(log[0].in);
  EXPECT_EQ(log[0].value, 0x3012);
  EXPECT_EQ(log[0].index, 0xBEEF);
  EXPECT_EQ(sim->Register(0x3012), 0xBEEF);
  EXPECT_EQ(cam->device->controlEndpoint->timeoutMs, 200u);
}

TEST_F(VendorProtocol, RegisterReadIsMostSignificantByteFirst) {
  sim->SetRegister(0x30B2, 0x1234);
  unsigned short value = 0;
  ASSERT_TRUE(cam->ReadCameraRegister(0x30B2, &value));
  EXPECT_EQ(value, 0x1234);
  auto log = sim->VendorRequests(0xA7);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_TRUE(log[0].in);
  EXPECT_EQ(log[0].value, 0x30B2);
  ASSERT_EQ(log[0].data.size(), 2u);
  EXPECT_EQ(log[0].data[0], 0x12);
}

TEST_F(VendorProtocol, ByteRegisters) {
  ASSERT_TRUE(cam->WriteCameraRegisterByte(0x0017, 0xA5));
  unsigned char byte = 0;
  ASSERT_TRUE(cam->ReadCameraRegisterByte(0x0017, &byte));
  EXPECT_EQ(byte, 0xA5);
  EXPECT_EQ(sim->VendorRequests(0xB6).at(0).index, 0xA5);
}

TEST_F(VendorProtocol, FailedReadReportsZero) {
  sim->SetRegister(0x3000, 0x55AA);
  sim->SetStallRequest(0xA7);
  unsigned short value = 0xFFFF;
  EXPECT_FALSE(cam->ReadCameraRegister(0x3000, &value));
  EXPECT_EQ(value, 0);
  sim->SetStallRequest(0xB7);
  unsigned char byte = 0xFF;
  EXPECT_FALSE(cam->ReadCameraRegisterByte(0x10, &byte));
  EXPECT_EQ(byte, 0);
}

TEST_F(VendorProtocol, FirmwareVersion) {
  sim->SetFirmwareVersion(3);
  unsigned char version = 0;
  EXPECT_TRUE(cam->GetFirmwareVer(&version));
  EXPECT_EQ(version, 3);
  sim->SetStallRequest(0xAD);
  EXPECT_FALSE(cam->GetFirmwareVer(&version));
  EXPECT_EQ(version, 1);
}

TEST_F(VendorProtocol, FirmwareVersionKeepsThePreviousTimeout) {
  CCyControlEndPoint* ep = cam->device->controlEndpoint;
  ASSERT_TRUE(cam->SendCMD(0xA9));
  ASSERT_EQ(ep->timeoutMs, 500u);
  unsigned char version = 0;
  cam->GetFirmwareVer(&version);
  EXPECT_EQ(ep->timeoutMs, 500u);
  cam->WriteCameraRegister(1, 1);
  cam->GetFirmwareVer(&version);
  EXPECT_EQ(ep->timeoutMs, 200u);
}

TEST_F(VendorProtocol, TransferCountSplitsHighAndLowWords) {
  ASSERT_TRUE(cam->SetTransferCount(74565));
  auto log = sim->VendorRequests(0xB5);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].value, 1);
  EXPECT_EQ(log[0].index, 9029);
  EXPECT_EQ(sim->TransferCount(), 74565u);
}

TEST_F(VendorProtocol, Usb3HostOnlyWhenTheByteIsOne) {
  sim->SetUsb3Host(false);
  EXPECT_FALSE(cam->IsUSB3Host());
  sim->SetUsb3Host(true);
  EXPECT_TRUE(cam->IsUSB3Host());
  sim->SetStallRequest(0xB4);
  EXPECT_FALSE(cam->IsUSB3Host());
}

TEST_F(VendorProtocol, PlainCommandAndGeneralForm) {
  ASSERT_TRUE(cam->SendCMD(0xAC));
  EXPECT_TRUE(sim->SixteenBitSamples());
  unsigned char data[2] = {};
  sim->SetRegister(0x0042, 0x0102);
  ASSERT_TRUE(cam->SendCMD(0xA7, 0x0042, 0, true, data, 2));
  EXPECT_EQ(data[0], 0x01);
  EXPECT_EQ(data[1], 0x02);
  EXPECT_FALSE(cam->SendCMD(0xA7, 0x0042, 0, true, nullptr, 2));  // no buffer for the data stage
  EXPECT_FALSE(cam->SendCMD(0xA7, 0x0042, 0, true, data, -1));
}

TEST_F(VendorProtocol, NothingIsSentByAnUnopenedCamera) {
  auto closed = okc::api::CreateCameraForProduct(0x6108, nullptr);  // constructed, never opened
  unsigned short reg = 0x7777;
  unsigned char byte = 0x77, version = 0x77;
  EXPECT_FALSE(closed->SendCMD(0xA9));
  EXPECT_FALSE(closed->SendCMD(0xA7, 1, 0, true, &byte, 1));
  EXPECT_FALSE(closed->WriteCameraRegister(1, 2));
  EXPECT_FALSE(closed->WriteCameraRegisterByte(1, 2));
  EXPECT_FALSE(closed->ReadCameraRegister(1, &reg));
  EXPECT_FALSE(closed->ReadCameraRegisterByte(1, &byte));
  EXPECT_FALSE(closed->GetFirmwareVer(&version));
  EXPECT_FALSE(closed->IsUSB3Host());
  EXPECT_FALSE(closed->SetTransferCount(5));
  EXPECT_EQ(reg, 0x7777);
  EXPECT_EQ(byte, 0x77);
  EXPECT_EQ(version, 0x77);
  EXPECT_TRUE(sim->VendorRequests().empty());  // opening its device only read descriptors
}

TEST_F(VendorProtocol, RequestsFromTwoThreadsNeverInterleave) {
  // Each thread writes then reads back its own register; a request whose fields were
  // changed half-way by the other thread would write or read the wrong register.
  auto worker = [&](unsigned short reg) {
    for (unsigned short i = 0; i < 200; ++i) {
      ASSERT_TRUE(cam->WriteCameraRegister(reg, i));
      unsigned short back = 0;
      ASSERT_TRUE(cam->ReadCameraRegister(reg, &back));
      ASSERT_EQ(back, i);
    }
  };
  std::thread a(worker, 0x1000), b(worker, 0x2000);
  a.join();
  b.join();
  EXPECT_EQ(sim->VendorRequests().size(), 800u);
}

TEST_F(VendorProtocol, UnpluggedCameraFailsCleanly) {
  sim->Unplug();
  unsigned short value = 1;
  EXPECT_FALSE(cam->WriteCameraRegister(1, 2));
  EXPECT_FALSE(cam->ReadCameraRegister(1, &value));
  EXPECT_EQ(value, 0);
}

}  // namespace
