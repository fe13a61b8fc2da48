// The upgrade or dump task: writes firmware into the STB's flash (address, a transfer or a move
// for every chunk in table order, burn, reboot) or reads the flash back into files.
#pragma once

#include <string>

// The task's procedure; started by StartUpgradeTask, or called directly (tests). Posts its step
// texts, the progress and finally WM_UPGRADE_DONE (wParam 1 failure; lParam 1 the cancel flag
// was set), closes the port and then returns the task state to TASK_IDLE. Returns 1.
unsigned UpgradeThreadProc(void* parameter);

// Sends the whole image file, from its start (withBootLoader non-zero) or from chunk 0's slot
// on. Status: 0, UPG_ERR_FILE_NOT_OPEN, UPG_ERR_READ_FILE_DATA (file shorter than the boot
// loader's slot), UPG_ERR_MALLOC_2, UPG_STB_NO_BUFFER (the image is larger than the STB's
// flash), or the transfer's code.
int DownloadWholeImage(const std::string& file, int withBootLoader);
// A transfer or a move for every chunk of the table, in table order; stops at the first
// failure and returns its code.
int DownloadChunks();
// Builds chunk `index`'s slot from its record and sends it whole. Status: 0,
// UPG_ERR_FILE_NOT_OPEN, UPG_ERR_READ_FILE_DATA (the file holds fewer bytes than the record
// says), UPG_ERR_MALLOC_2, UPG_STB_NO_BUFFER (the data, with any header built in front, do not
// fit the chunk's slot: nothing is sent), or the transfer's code.
int DownloadOneChunk(int index);
// Dumps the whole flash into `file`.
int DumpAllChunks(const std::string& file);
// Dumps chunk `index` (its payload; the boot loader chunk whole) into `file`.
int DumpOneChunk(int index, const std::string& file);
// Dumps `size` bytes from `start` (0 and 0: the whole flash) into `file`. The file is written
// beside its target and renamed over it only when complete, so a failed or cancelled dump
// leaves an existing file as it was. Status: 0 (also when the STB delivered no data: no file),
// UPG_ERR_MALLOC_2, UPG_ERR_DUMP_LENGTH (a span outside the dump buffer), UPG_ERR_FILE_NOT_OPEN,
// UPG_ERR_WRITE_FILE_DATA, or the dump's code.
int DumpToFile(const std::string& file, unsigned start, unsigned size);
