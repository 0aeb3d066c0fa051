// URL transfers behind DownloadFile and UploadFile: an HTTP/1.1 client
// (GET, POST, multipart uploads, Basic authorisation, a plain proxy,
// redirects, chunked, sized and read-until-close bodies) and a passive-mode
// FTP client, both on the socket layer's connections.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct VmState;

uint32_t CmdDownloadFile(VmState* vm);
uint32_t CmdUploadFile(VmState* vm);

// Percent-encodes every byte outside 0x21..0x7A and the unsafe characters.
std::string UrlEncodeString(const char* text, size_t length);
// Decodes escapes of safe characters, keeps the others; false for a '%'
// without a hex digit after it.
bool NormaliseUrlEscapes(const char* text, std::string* out);
