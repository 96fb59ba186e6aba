// SPDX-License-Identifier: MIT
// OPTIONS: what the command line asked for, and the run result code that
// becomes the process exit code.
#pragma once

#include <cstdint>
#include <memory>

/// Run result codes. The exit code is the last one recorded.
enum ResultCode : int32_t {
  RC_OK = 0,
  RC_INTERNAL = 1,
  RC_SYNTAX = 2,
  RC_MISSING_VALUE = 3,
  RC_DEVICE_ACCESS = 4,
  RC_OUT_OF_MEMORY = 5,
  RC_INPUT_FILE = 6,
  RC_INPUT_TRUNCATED = 7,  // a warning: the run goes on with the first 16 MB
  RC_UNSUPPORTED_DEVICE = 8,
  RC_NO_CONFIG_RESET = 9,
  RC_UNKNOWN_DEVICE = 10,
  RC_OUTPUT_FILE = 11,
  RC_IMAGE_DOES_NOT_FIT = 12,
  RC_VERIFY_FAILED = 13,
  RC_WRITE_PROTECTED = 14,
};

/// An interrupted run exits with this plus the number of the signal.
constexpr int32_t kInterruptedBase = 128;

/// File formats of `fileFormat`.
enum FileFormat : int32_t { FORMAT_BINARY = 0, FORMAT_RAW_HEX = 1, FORMAT_INTEL_HEX = 2 };

class OPTIONS {
 public:
  /// Puts every field but the three names to its default. Always true.
  bool SetDefaults();
  /// Frees the three names.
  void FreeNames();

  /// The name setters keep their own copy; false (and the name none) when
  /// the copy cannot be allocated.
  bool SetDevName(const char* text) { return CopyText(devName, text); }
  bool SetFileName(const char* text) { return CopyText(fileName, text); }
  bool SetMemType(const char* text) { return CopyText(memType, text); }
  const char* GetDevName() const { return devName.get(); }
  const char* GetFileName() const { return fileName.get(); }
  const char* GetMemType() const { return memType.get(); }

  int32_t GetResultCode() const { return resultCode; }
  void SetResultCode(int32_t v) { resultCode = v; }
  int32_t GetFileFormat() const { return fileFormat; }
  void SetFileFormat(int32_t v) { fileFormat = v; }
  uint32_t GetAddress() const { return address; }
  void SetAddress(uint32_t v) { address = v; }
  int32_t GetLength() const { return length; }
  void SetLength(int32_t v) { length = v; }
  uint32_t GetSpiSpeed() const { return spiSpeed; }
  void SetSpiSpeed(uint32_t v) { spiSpeed = v; }
  bool GetReadFlash() const { return readFlash; }
  void SetReadFlash(bool v) { readFlash = v; }
  bool GetWriteFlash() const { return writeFlash; }
  void SetWriteFlash(bool v) { writeFlash = v; }
  bool GetBulkErase() const { return bulkErase; }
  void SetBulkErase(bool v) { bulkErase = v; }
  bool GetRangeErase() const { return rangeErase; }
  void SetRangeErase(bool v) { rangeErase = v; }
  bool GetPrintId() const { return printId; }
  void SetPrintId(bool v) { printId = v; }
  bool GetPrintTime() const { return printTime; }
  void SetPrintTime(bool v) { printTime = v; }
  bool GetPrintVersion() const { return printVersion; }
  void SetPrintVersion(bool v) { printVersion = v; }
  bool GetPrintUsage() const { return printUsage; }
  void SetPrintUsage(bool v) { printUsage = v; }
  int32_t GetRuntimeVersion() const { return runtimeVersion; }
  void SetRuntimeVersion(int32_t v) { runtimeVersion = v; }
  bool GetConfigReset() const { return configReset; }
  void SetConfigReset(bool v) { configReset = v; }
  bool GetVerify() const { return verify; }
  void SetVerify(bool v) { verify = v; }
  bool GetReadTwice() const { return readTwice; }
  void SetReadTwice(bool v) { readTwice = v; }
  bool GetUpdate() const { return update; }
  void SetUpdate(bool v) { update = v; }
  bool GetUnprotect() const { return unprotect; }
  void SetUnprotect(bool v) { unprotect = v; }
  bool GetListDevices() const { return listDevices; }
  void SetListDevices(bool v) { listDevices = v; }

 private:
  static bool CopyText(std::unique_ptr<char[]>& field, const char* text);

  int32_t resultCode = RC_OK;
  std::unique_ptr<char[]> devName;
  std::unique_ptr<char[]> fileName;
  std::unique_ptr<char[]> memType;
  int32_t fileFormat = FORMAT_BINARY;
  uint32_t address = 0;
  int32_t length = 0;  // 0: none given
  uint32_t spiSpeed = 0;  // 0: keep the bring-up clock
  bool readFlash = false;
  bool writeFlash = false;
  bool bulkErase = false;
  bool rangeErase = true;
  bool printId = false;
  bool printTime = false;
  bool printVersion = false;
  bool printUsage = false;
  int32_t runtimeVersion = 0;  // 0 automatic, 1 first generation, 2 second
  bool configReset = false;
  bool verify = true;  // read back what a write programmed ("-NV" turns it off)
  bool readTwice = false;  // "-rv": a read is read again and compared before the file is saved
  bool update = false;  // "-u": erase and program only the erase units that differ
  bool unprotect = false;  // "-unprotect": clear the chip's write protection first
  bool listDevices = false;
};

/// The run's options record.
extern OPTIONS options;

/// Prints `message` (none when null) and records `code` as the run's result;
/// false, for the failing step to return.
bool Fail(const char* message, int32_t code);

/// Prints the usage text.
void PrintUsage();

/// Prints the version line.
void PrintVersion();
