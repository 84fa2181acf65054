#include "dialup/RasErrors.h"

#include "dialup/RasApi.h"

namespace {
struct TErrorText {
    uint32_t Error;
    const char* Text;
};

const TErrorText kErrorTexts[] = {
    {ERROR_INVALID_HANDLE, "The connection handle is not valid."},
    {ERROR_INVALID_PARAMETER, "A parameter is not valid."},
    {ERROR_BUFFER_TOO_SMALL, "The buffer is too small."},
    {ERROR_DEVICE_DOES_NOT_EXIST, "No device is available for this connection."},
    {ERROR_CANNOT_FIND_PHONEBOOK_ENTRY, "The phone-book entry was not found."},
    {ERROR_DISCONNECTION, "The connection was closed before it was established."},
    {ERROR_REMOTE_DISCONNECTION, "The connection was closed by the remote end."},
    {ERROR_USER_DISCONNECTION, "The connection was ended by the user."},
    {ERROR_INVALID_SIZE, "The record size is not valid."},
    {ERROR_PORT_NOT_AVAILABLE, "The port is in use or not configured for dialling."},
    {ERROR_REQUEST_TIMEOUT, "The request timed out."},
    {ERROR_NO_DIALIN_PERMISSION, "You are not permitted to start this connection."},
    {ERROR_FROM_DEVICE, "The connecting device reported an error."},
    {ERROR_LINE_BUSY, "The line is busy."},
    {ERROR_NO_ANSWER, "The remote end did not answer."},
    {ERROR_NO_DIALTONE, "There is no dial tone."},
    {ERROR_AUTHENTICATION_FAILURE, "Access denied: user name or password not accepted."},
    {ERROR_SERVICE_NOT_AVAILABLE, "The connection service is not available."},
    {ERROR_PPP_TIMEOUT, "The link timed out while it was being set up."},
    {ERROR_PPP_NO_PROTOCOLS, "No IP settings could be agreed for the link."},
    {ERROR_PROJECTION_NOT_COMPLETE, "The link's IP settings are not complete yet."},
};

const char kUnknownError[] = "Dial-up error ";
} // namespace

std::string RasErrorText(uint32_t error) {
    for (const TErrorText& e : kErrorTexts)
        if (e.Error == error) return e.Text;
    return kUnknownError + std::to_string(error);
}
