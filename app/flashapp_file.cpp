// SPDX-License-Identifier: MIT
// The application's file side: calls onto its ImageFile with what the
// options say, and the outcome of each recorded as the run's result code.
#include "app/flashapp.h"
#include "app/options.h"

namespace {

// The options' format numbers go to the image file as they are.
static_assert(int32_t{FORMAT_BINARY} == int32_t{IMAGEFORMAT_BINARY} &&
              int32_t{FORMAT_RAW_HEX} == int32_t{IMAGEFORMAT_RAW_HEX} &&
              int32_t{FORMAT_INTEL_HEX} == int32_t{IMAGEFORMAT_INTEL_HEX});

/// The result code for what the file side came to; RC_OK for nothing to record.
int32_t ResultCodeOf(ImageFileOutcome outcome) {
  switch (outcome) {
    case IMAGEFILE_NONE:
      return RC_OK;
    case IMAGEFILE_INPUT_FILE:
      return RC_INPUT_FILE;
    case IMAGEFILE_INPUT_TRUNCATED:
      return RC_INPUT_TRUNCATED;
    case IMAGEFILE_OUTPUT_FILE:
      return RC_OUTPUT_FILE;
    case IMAGEFILE_INTERNAL:
      break;
  }
  return RC_INTERNAL;
}

/// Records the outcome of the file side's last operation, if it has one,
/// and passes its result on.
bool Recorded(const ImageFile& file, bool ok) {
  if (file.LastOutcome() != IMAGEFILE_NONE) options.SetResultCode(ResultCodeOf(file.LastOutcome()));
  return ok;
}

}  // namespace

const char* FLASHAPP::ImageFileMode(bool fileIsWritten, int32_t fileFormat) {
  return ImageFile::Mode(fileIsWritten, fileFormat);
}

bool FLASHAPP::OpenImageFile() {
  return Recorded(imageFileSide,
                  imageFileSide.Open(options.GetFileName(), options.GetFileFormat(), options.GetReadFlash()));
}

bool FLASHAPP::LoadImage() {
  return Recorded(imageFileSide, imageFileSide.Load(options.GetFileFormat(), imageBuffer.get(), imageCapacity));
}

bool FLASHAPP::SaveImage() {
  return Recorded(imageFileSide, imageFileSide.Save(options.GetFileFormat(), imageBuffer.get(), imageCapacity));
}

bool FLASHAPP::CloseImageFile() { return Recorded(imageFileSide, imageFileSide.Close()); }
