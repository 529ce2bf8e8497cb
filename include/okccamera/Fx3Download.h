// Result and target types of the FX3 boot-loader firmware downloads: the RAM
// load of CUsbDevice and the download family of CCameraBase share them.
#pragma once

// Where a boot image goes.
enum FX3_FWDWNLOAD_MEDIA_TYPE : int {
  FX3_MEDIA_RAM = 1,
  FX3_MEDIA_I2C_EEPROM = 2,
  FX3_MEDIA_SPI_FLASH = 3,
};

// Outcome of a download.
enum FX3_FWDWNLOAD_ERROR_CODE : int {
  FX3_FW_SUCCESS = 0,
  FX3_FW_FAILED = 1,                 // a control transfer failed, or a piece did not read back equal
  FX3_FW_INVALID_MEDIA_TYPE = 2,     // media type not 1, 2 or 3
  FX3_FW_INVALID_SIGNATURE = 3,      // the image does not begin with "CY"
  FX3_FW_DEVICE_IO_ERROR = 4,        // reserved: never produced by this library
  FX3_FW_IMAGE_TOO_SHORT = 5,        // the image ends before its sections do
  FX3_FW_INVALID_FILE = 6,           // the file cannot be opened, is empty or cannot be buffered
  FX3_FW_FLASH_ERASE_FAILED = 7,     // a flash sector erase failed
  FX3_FW_PIECE_TOO_LONG = 8,         // a piece of a section is longer than the whole image
  FX3_FW_BAD_EEPROM_SIZE = 9,        // the image's I2C EEPROM size code is 0 or 1
  FX3_FW_IMAGE_TOO_LARGE = 10,       // the image does not fit the boot medium (or a boot image at all)
  FX3_FW_BAD_CHECKSUM = 11,          // the checksum word differs from the sum of the section data
};
