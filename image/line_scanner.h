// LineScanner: reads a text stream line by line and takes raw hex byte
// tokens off each line. GHEX's reader.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

class LineScanner {
 public:
  /// Starts on `input` with a line buffer for `lineCapacity` - 1 characters;
  /// false when the line buffer cannot be allocated.
  bool Open(FILE* input, int lineCapacity);
  /// Reads the next line, or the next piece of a line longer than the buffer,
  /// up to and including its line feed. False only when the stream reports a
  /// read error; at the end of the stream the line is empty.
  bool ReadLine();
  /// The whole line has been taken.
  bool AtEnd() const;
  /// Steps over spaces, tabs, line feeds and carriage returns.
  void SkipBlanks();
  /// Takes one byte token: a hexadecimal digit, and a second one if it
  /// follows. False, with error 2, when the token does not begin with a digit.
  bool ReadByte(uint8_t& value);
  /// 0, or 2 after a token that did not begin with a digit.
  int GetError() const { return error; }
  /// Frees the line buffer.
  void Close();

 private:
  FILE* stream = nullptr;
  std::unique_ptr<char[]> line;
  const char* position = nullptr;
  int lineCapacity = 0;
  int error = 0;
};
