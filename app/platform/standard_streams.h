// SPDX-License-Identifier: Apache-2.0
// The three standard descriptors, as the program needs them at its start.
#ifndef KESTRUNE_APP_PLATFORM_STANDARD_STREAMS_H
#define KESTRUNE_APP_PLATFORM_STANDARD_STREAMS_H

/// Opens /dev/null on each of the descriptors 0, 1 and 2 the program was
/// started without. Nothing on Windows.
void HoldStandardDescriptors();

#endif
