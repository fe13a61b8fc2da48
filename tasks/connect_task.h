// The connect task: opens the port, waits for the boot loader's handshake while the user
// switches the STB on, reads the protocol version and the chunk table, marks the masked chunks
// and settles the protocol version for the rest of the run.
#pragma once

// Opens g_comPort and runs the handshake, posting its step texts. Returns 0, UPG_ERR_CONNECT_PORT
// (the port cannot be opened; the handshake is not started) or UpgComTest's UPG_ERR_CANCELLED /
// UPG_ERR_NO_TARGET. When the context's protocolVersion is 0 it takes the handshake's version
// (0 on failure) and hands it to the library. Leaves the port open in every case.
int OpenAndSync();

// The connect task's procedure; started by StartConnectTask, or called directly (tests). Fills
// g_chunkTable, protocolVersion and bootVersion, posts WM_CONNECT_DONE (wParam 1 success, 0
// failure), closes the port and then returns the task state to TASK_IDLE. Returns 1.
unsigned ConnectThreadProc(void* parameter);
