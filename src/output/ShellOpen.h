// Opening web pages and documents with the desktop's applications, telling the user why
// when that fails.
#pragma once

#include <string>

// Opens target (a web address or a file path) asking for a maximized window; used for web
// pages. Returns the shell's result (above 32: success); a failure is reported first.
int OpenDocumentMaximized(const std::string& Target);
// The same with a normal window; used for mail files.
int OpenDocument(const std::string& Target);
// Sounds the message beep and shows the failure in English, then again in German.
void ReportShellError(int Code);
