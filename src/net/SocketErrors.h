// Translation of the system's error numbers into the socket error codes the program reports.
#pragma once

// The code for an errno value; a value without a counterpart is passed on unchanged (it has
// no text, so the user sees "Winsock error no" and the number).
int WinsockCodeOfErrno(int error);
// The code for a getaddrinfo result (EAI_...); error is errno for EAI_SYSTEM.
int WinsockCodeOfResolver(int result, int error);
