// SPDX-License-Identifier: MIT
#include "runtime/trace_writer.h"

#include <gtest/gtest.h>

#include "testsupport/run_program.h"

namespace {

TEST(TraceWriter, FoldsRunsOfIdenticalCallsAndAppendsTheSummary) {
  testsupport::ScratchDir dir;
  const std::string path = dir.File("trace.txt");
  testsupport::WriteFile(path, "earlier run\n");
  {
    TraceWriter trace;
    ASSERT_TRUE(trace.Open(path));
    trace.Record("SerXfer tx 05 00 rx FF 03");
    trace.Record("SerXfer tx 05 00 rx FF 03");
    trace.Record("SerXfer tx 05 00 rx FF 03");
    trace.Record("SerXfer tx 05 00 rx FF 00");
    trace.Record("SerSetSelect(level=1)");
    trace.Close("summary: calls=5");
  }
  EXPECT_EQ(testsupport::ReadFile(path),
            "earlier run\n"
            "1 SerXfer tx 05 00 rx FF 03 [x3]\n"
            "4 SerXfer tx 05 00 rx FF 00\n"
            "5 SerSetSelect(level=1)\n"
            "summary: calls=5\n");
}

// Status polls with idle gaps between them (an erase) take turns.
TEST(TraceWriter, FoldsTwoCallsTakingTurns) {
  testsupport::ScratchDir dir;
  const std::string path = dir.File("trace.txt");
  {
    TraceWriter trace;
    ASSERT_TRUE(trace.Open(path));
    for (const char* call : {"open", "select", "poll busy", "idle", "poll busy", "idle", "poll busy", "idle",
                             "poll busy", "poll ready", "A", "B", "A", "C", "C"}) {
      trace.Record(call);
    }
    trace.Close("summary");
  }
  EXPECT_EQ(testsupport::ReadFile(path),
            "1 open\n"
            "2 select\n"
            "3 poll busy [x3, taking turns with the next line]\n"
            "4 idle [x3]\n"
            "9 poll busy\n"
            "10 poll ready\n"
            "11 A\n"
            "12 B\n"
            "13 A\n"
            "14 C [x2]\n"
            "summary\n");
}

TEST(TraceWriter, RendersLongDataShortened) {
  uint8_t data[40];
  for (int i = 0; i < 40; ++i) data[i] = static_cast<uint8_t>(i);
  EXPECT_EQ(TraceWriter::Bytes(data, 3), "00 01 02");
  EXPECT_EQ(TraceWriter::Bytes(data, 40, 4), "00 01 02 03 ...(+36)");
  EXPECT_EQ(TraceWriter::Bytes(data, 0), "");
}

TEST(TraceWriter, UnopenedWriterRecordsNothing) {
  TraceWriter trace;
  trace.Record("x");
  trace.Close("summary");
  EXPECT_FALSE(trace.IsOpen());
  EXPECT_FALSE(trace.Open("/nonexistent-dir/trace.txt"));
}

}  // namespace
