// SPDX-License-Identifier: MIT
// placeholder
