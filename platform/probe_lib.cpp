// SPDX-License-Identifier: MIT
// A tiny shared library that the loader tests load by path and by bare name.
extern "C" int ProbeAnswer() { return 42; }
