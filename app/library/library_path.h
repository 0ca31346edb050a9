// SPDX-License-Identifier: Apache-2.0
// Which file the bridge library was loaded from.
#ifndef KESTRUNE_APP_LIBRARY_PATH_H
#define KESTRUNE_APP_LIBRARY_PATH_H

#include <string>

/// The full path of the bridge library file this process has loaded, as the
/// system names it (in UTF-8 on Windows), or empty when the operations are
/// not in a library of their own (a test that links them in) or the system
/// cannot tell.
std::string BridgeLibraryPath();

#endif
