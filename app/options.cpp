// SPDX-License-Identifier: MIT
// The options record, its defaults and name copies, and the usage and version texts.
#include "app/options.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "app/version.h"

OPTIONS options;


bool OPTIONS::SetDefaults() {
  resultCode = RC_OK;
  fileFormat = FORMAT_BINARY;
  address = 0;
  length = 0;
  spiSpeed = 0;
  readFlash = false;
  writeFlash = false;
  bulkErase = false;
  rangeErase = true;
  printId = false;
  printTime = false;
  printVersion = false;
  printUsage = false;
  runtimeVersion = 0;
  configReset = false;
  verify = true;
  update = false;
  unprotect = false;
  listDevices = false;
  return true;
}

void OPTIONS::FreeNames() {
  devName.reset();
  fileName.reset();
  memType.reset();
}

bool OPTIONS::CopyText(std::unique_ptr<char[]>& field, const char* text) {
  field.reset();
  const size_t size = std::strlen(text) + 1;
  field.reset(new (std::nothrow) char[size]);
  if (!field) return false;
  std::memcpy(field.get(), text, size);
  return true;
}

bool Fail(const char* message, int32_t code) {
  if (message) printf("%s", message);
  options.SetResultCode(code);
  return false;
}

void PrintUsage() {
  printf("\n");
  printf("SPI Serial Flash programming utility, Rev %d.%d.%d\n", kRevMajor, kRevMinor, kRevBuild);
  printf("This program will read the contents of an SPI serial flash memory\n");
  printf("and write it to a file, or write the contents of a file to the flash\n");
  printf("memory.\n");
  printf("\n");
  printf("romwick [opt1] [opt2] [opt3] [...]\n");
  printf("\n");
  printf(" Options:\n");
  printf("  -d <devname>\tspecify name of SPI interface device to use\n");
  printf("  -m <memtype>\tspecify flash memory device type\n");
  printf("  -w <filename>\twrite flash memory device with data from specified file\n");
  printf("  -r <filename>\twrite specified file with data read from flash\n");
  printf("  -id\t\tprint the id code from the flash memory device\n");
  printf("  -a <address>\tspecify starting address to write/read\n");
  printf("  -l <length>\tspecify number of bytes to read\n");
  printf("  -E\t\tbulk erase the entire flash memory device\n");
  printf("  -e\t\terase a range of sectors in the flash memory device\n");
  printf("  -NE\t\tdon't perform any erase before write\n");
  printf("  -fb\t\tread/write files in binary format\n");
  printf("  -fi\t\tread/write files in Intel hex format\n");
  printf("  -fh\t\tread/write files in raw hex format\n");
  printf("  -s <freq>\tset SPI clock speed\n");
  printf("  -p <port>\tspecify SPI port number to use\n");
  printf("  -t \t\tprint elapsed time\n");
  printf("  -NV\t\tdon't verify the flash memory after writing\n");
  printf("  -rv\t\tread the flash memory twice and compare before saving the file\n");
  printf("  -u\t\tonly erase and write what differs from the file\n");
  printf("  -unprotect\tclear the flash memory device's write protection first\n");
  printf("  -list\t\tlist the SPI interface devices that can be found\n");
}

void PrintVersion() { printf("Version: %d.%d.%d\n", kRevMajor, kRevMinor, kRevBuild); }
