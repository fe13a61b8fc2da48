// The status table: every code the library and the tasks return, with its text. Searched from
// the first entry to the last; each text is at most 255 characters.
#include <cstring>

#include "library/link/upgrade.h"
#include "platform/edition.h"

namespace {

struct StatusEntry {
    int code;
    const char* text;
};

constexpr StatusEntry kStatusTable[] = {
    {UPG_OK, "Success!"},
    {UPG_ERR_GENERIC, "Generic error!"},
    {UPG_ERR_CONNECT_PORT, "Can not connect serial port!"},
    {UPG_ERR_SEND_DATA, "Send data error!"},
    {UPG_ERR_ECHO_MISMATCH, "Return command not equal to send command!"},
    {UPG_ERR_SEND_COMMAND, "Send command error!"},
    {UPG_ERR_CANCELLED, "User canceled the operate"},
    {UPG_ERR_NO_TARGET, "Target not connect or target is error status!"},
    {UPG_ERR_TIMEOUT, "Time out when read data!"},
    {UPG_ERR_CRC, "CRC check error!"},
    {UPG_ERR_TARGET_FAILED, "Target return error when oprate!"},
    {UPG_ERR_UNRECOGNISED_REPLY, "Target return is not recognize!"},
    {UPG_ERR_RETRIES, "Overrun retry times"},
    {UPG_ERR_BURN, "Burn error!"},
    {UPG_ERR_DUMP_LENGTH, "Error dump len"},
    {UPG_ERR_SDRAM_INI, "Load sdram ini file error!"},
    {UPG_ERR_OPEN_PORT, "Can not open serial port!"},
    {UPG_ERR_CANCELLED_2, "User canceled the operate"},
    {UPG_ERR_OPEN_FILE, "Open file error!"},
    {UPG_ERR_MALLOC, "Malloc memory error!"},
    {UPG_ERR_READ_FILE, "Read file error!"},
    {UPG_ERR_DUMP, "Dump error!"},
    {UPG_ERR_COMTEST, "Command comtest error!"},
    {UPG_ERR_READ_DATA, "Read data error!"},
    {UPG_ERR_SEND_HEAD, "Send packet head error!"},
    {UPG_ERR_SEND_PACKET_DATA, "Send Packet data error!"},
    {UPG_ERR_SEND_PACKET_CRC, "Send packet data CRC error!"},
    {UPG_ERR_NO_PACKET, "No Packet receive!"},
    {UPG_ERR_RECEIVE_HEAD, "Receive packet head error!"},
    {UPG_ERR_HEAD_CRC, "Check packet head CRC error!"},
    {UPG_ERR_RECEIVE_DATA, "Receive packet data error!"},
    {UPG_ERR_DATA_CRC, "Check packet data CRC error!"},
    {UPG_ERR_PACKET_UNRECOGNISED, "Packet not recognize!"},
    {UPG_ERR_COMMAND_UNRECOGNISED, "Command not recognize!"},
    {UPG_ERR_STB_COMPRESS, "STB compress transfer data error!"},
    {UPG_ERR_STB_INCOMPLETE, "STB not receive all data!"},
    {UPG_ERR_FILE_NOT_OPEN, "File not open!"},
    {UPG_ERR_READ_FILE_DATA, "Read file data error!"},
    {UPG_ERR_WRITE_FILE_DATA, "Write file data error!"},
    {UPG_ERR_MALLOC_2, "Malloc memory error"},
    {UPG_STB_BAD_PARAMETER, "STB check command line parameter error!"},
    {UPG_STB_ADDRESS_OVERFLOW, "STB set address  overflow!"},
    {UPG_STB_ADDRESS_NOT_INIT, "STB address not init!"},
    {UPG_STB_CHUNK_NOT_FOUND, "STB chunk not found!"},
    {UPG_STB_NOTHING_TO_BURN, "STB nothing can burn!"},
    {UPG_STB_NO_BUFFER, "STB not enough buffer!"},
    {UPG_STB_DUMP_INCOMPLETE, "STB not dump all data!"},
    {UPG_ERR_SEND_PACKET, "Send Packet Error!Please Check serial port device"},
    {UPG_COMMAND_EXECUTED, "Command Executed"},
};

}  // namespace

const char* UpgGetLibraryVersion(void) {
    if constexpr (kEdition200)
        return "3.0.0b";
    return "3.0.0d";
}

int UpgGetErrorText(int code, char* buffer) {
    for (const StatusEntry& entry : kStatusTable) {
        // Edition 2.0.0's table ends before "Command Executed".
        if constexpr (kEdition200) {
            if (entry.code == UPG_COMMAND_EXECUTED)
                break;
        }
        if (entry.code == code) {
            std::strcpy(buffer, entry.text);
            std::strcat(buffer, "\r\n");
            return 1;
        }
    }
    return 0;
}
