// SPDX-License-Identifier: MIT
// ScratchStream: a stream over a scratch file for the codec tests, its
// contents set before a read or taken back after a write.
#pragma once

#include <cstdio>
#include <string>

#include "testsupport/run_program.h"

class ScratchStream {
 public:
  /// A file holding `content`, opened with `mode` ("r" to read it, "w" to
  /// write it afresh).
  explicit ScratchStream(const std::string& content = "", const char* mode = "r")
      : path_(dir_.File("stream")) {
    testsupport::WriteFile(path_, content);
    stream_ = std::fopen(path_.c_str(), mode);
  }
  /// A stream that opens but fails every read: the scratch folder itself.
  struct Folder {};
  explicit ScratchStream(Folder) : stream_(std::fopen(dir_.path().c_str(), "r")) {}
  ~ScratchStream() {
    if (stream_) std::fclose(stream_);
  }
  ScratchStream(const ScratchStream&) = delete;
  ScratchStream& operator=(const ScratchStream&) = delete;

  FILE* get() const { return stream_; }
  /// The stream's user closed it (the Intel HEX codec closes its output).
  void Forget() { stream_ = nullptr; }
  /// The file's bytes, with whatever the open stream still buffers.
  std::string Contents() const {
    if (stream_) std::fflush(stream_);
    return testsupport::ReadFile(path_);
  }

 private:
  testsupport::ScratchDir dir_;
  std::string path_;
  FILE* stream_ = nullptr;
};
