// FLASHAPP: the application object that owns everything a run needs and
// drives it: command line, interface bring-up, the run driver, the file side.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "image/ghex.h"
#include "image/ihex.h"

class SPICTL;
class SPIRT2;
class SFPRG;

/// Size of the image buffer: the largest image the program handles.
constexpr uint32_t kImageBufferSize = 0x1000000;

/// A run of bytes an image file gave: `length` bytes at buffer offset
/// `offset`, which is also their distance from the flash address of `-a`.
struct ImageSpan {
  uint32_t offset;
  uint32_t length;

  uint32_t End() const { return offset + length; }
  bool operator==(const ImageSpan&) const = default;
};

class FLASHAPP {
 public:
  FLASHAPP();
  ~FLASHAPP();
  FLASHAPP(const FLASHAPP&) = delete;
  FLASHAPP& operator=(const FLASHAPP&) = delete;

  /// Option defaults, the generic programmer, the image buffer. A failure
  /// records its result code; the run goes on without what is missing.
  bool Startup();
  /// Releases everything Startup and OpenInterface acquired.
  void Shutdown();

  /// Takes the argument list into `options`; false on the first error, with
  /// its message printed and its result code recorded.
  bool ParseCommandLine(int argc, char** argv);
  /// Decimal, or hexadecimal after 0x/0X; nothing else, nothing above 32 bits.
  bool ParseNumber(const char* text, uint32_t* value);

  /// Creates the controller and brings the interface device up.
  bool OpenInterface();
  /// Releases chip select, disables SPI and closes the device, if there is a controller.
  void CloseInterface();

  /// Performs what `options` asks for, in a fixed order; the first failing step ends it.
  void RunOperations();

  // The steps of RunOperations.
  bool IdentifyDevice();
  bool PrepareWrite();
  bool ReadFromFlash();
  bool WriteToFlash();

  // The file side: moves the image buffer to and from the image file.
  bool OpenImageFile();
  /// Fills the buffer from the open file and sets `dataLength` and
  /// `imageSpans`. An Intel HEX image lies at its own addresses: the buffer
  /// is erased to FF first, and only the spans hold the file's bytes.
  bool LoadImage();
  /// Writes the first `dataLength` buffer bytes to the open file. After an
  /// Intel HEX save that closed the stream, `imageFile` is none.
  bool SaveImage();
  void CloseImageFile();
  /// The fopen mode for the image file: written ("-r") or read, binary or text.
  static const char* ImageFileMode(bool fileIsWritten, int32_t fileFormat);

  FILE* imageFile = nullptr;
  std::unique_ptr<SPICTL> controller;
  std::unique_ptr<SFPRG> programmer;
  std::unique_ptr<uint8_t[]> imageBuffer;
  int32_t dataLength = 0;
  /// What the last load filled, ascending, no span touching the next: one
  /// span for a binary or raw hex image, one per run of Intel HEX records;
  /// empty when the file held no data.
  std::vector<ImageSpan> imageSpans;
  int32_t spiPort = 0;
  int32_t ctlError = 0;
  int32_t byteCount = 0;
  IHEX ihex;
  GHEX ghex;

 private:
  // Creates the controller that runtimeVersion asks for and loads its
  // runtime, falling back from the second generation to the first.
  bool LoadController();
  bool CreateFirstGeneration();
  bool CreateSecondGeneration();

  // Steps of RunOperations; false stops the run.
  bool AssertConfigReset(SPIRT2** resetController);
  bool RunFlashSteps();
  void PrintId();
  bool BulkErase();
  bool RangeErase();
  bool WriteStep();
  bool ReadStep();
  /// Refuses an image that holds no data or that runs past the device end.
  bool CheckImageFits();
  /// Erases the sectors under the image's spans, each once.
  bool EraseUnderImage();
  /// `length`, cut at the end of the device from `address`; 0 at or past the end.
  int32_t InsideDevice(uint64_t address, uint32_t length) const;
};

/// The run's application object.
extern FLASHAPP flashApp;
