// How repainted spans reach an X server. Through X shared memory Qt waits for
// the server to finish a transfer before it paints the same span again, a
// round trip per window and frame; the few changed pixels of a meter's frame
// cost less sent over the connection (the process and its X server about a
// seventh less CPU, half the context switches). TARVOLIN_X_SHM=1 keeps shared
// memory.
#pragma once

#include <cstdlib>
#include <cstring>

// Call before the QApplication is made; true when it set QT_XCB_NO_MITSHM.
// The X connection reads the variable once, so EndXTransferChoice() may drop
// it right after, and commands the program starts later do not inherit it.
inline bool ChooseXTransfer()
{
    const char* keep = std::getenv("TARVOLIN_X_SHM");
    if (std::getenv("QT_XCB_NO_MITSHM") || (keep && *keep && std::strcmp(keep, "0") != 0)) return false;
    setenv("QT_XCB_NO_MITSHM", "1", 0);
    return true;
}

inline void EndXTransferChoice(bool chosen)
{
    if (chosen) unsetenv("QT_XCB_NO_MITSHM");
}
