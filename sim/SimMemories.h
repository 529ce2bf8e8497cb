// The memories behind a simulated controller: the boot loader's RAM, the I2C
// EEPROMs and the SPI NOR flash. Each checks every access against its size and
// refuses (false) anything that would reach outside it. Storage is allocated on
// first write, so an attached camera costs little until a test fills it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace okc::sim {

// Controller RAM. The FX3 boot loader sees instruction TCM at 0, data TCM at
// 0x10000000 and system RAM at 0x40000000 (the default); the USB 2 controller
// its 16 KiB of program and data RAM at 0 and 512 bytes of scratch RAM at
// 0xE000. Unwritten bytes read as 0.
class ControllerRam {
 public:
  ControllerRam() = default;
  static ControllerRam Usb2Controller();

  bool Write(uint32_t address, const uint8_t* data, size_t length);
  bool Read(uint32_t address, uint8_t* out, size_t length) const;

 private:
  struct Region {
    uint32_t base;
    uint32_t size;
    std::vector<uint8_t> bytes;
  };
  Region* Find(uint32_t address, size_t length);
  const Region* Find(uint32_t address, size_t length) const;

  std::vector<Region> regions_{
      {0x00000000, 16 * 1024, {}},
      {0x10000000, 8 * 1024, {}},
      {0x40000000, 512 * 1024, {}},
  };
};

// Eight 64 KiB I2C EEPROMs, chosen by their device select 0 to 7; erased = 0xFF.
class EepromBank {
 public:
  static constexpr uint32_t kDevices = 8;
  static constexpr uint32_t kDeviceSize = 64 * 1024;

  bool Write(uint32_t deviceSelect, uint32_t address, const uint8_t* data, size_t length);
  bool Read(uint32_t deviceSelect, uint32_t address, uint8_t* out, size_t length) const;

 private:
  static bool InRange(uint32_t deviceSelect, uint32_t address, size_t length);
  std::array<std::vector<uint8_t>, kDevices> devices_;
};

// 4 MiB SPI NOR flash in 64 KiB sectors; erased = 0xFF.
class NorFlash {
 public:
  static constexpr uint32_t kSize = 4 * 1024 * 1024;
  static constexpr uint32_t kSectorSize = 64 * 1024;

  // Programming can only clear bits, as on the real part.
  bool Program(uint32_t address, const uint8_t* data, size_t length);
  bool EraseSector(uint32_t sector);
  bool Read(uint32_t address, uint8_t* out, size_t length) const;
  // Stores bytes as given (test set-up, not a flash operation); cut at the end of the flash.
  void Overwrite(uint32_t address, const uint8_t* data, size_t length);

 private:
  static bool InRange(uint32_t address, size_t length);
  void Allocate();
  std::vector<uint8_t> bytes_;
};

}  // namespace okc::sim
