// This machine's client identifier: Testing.ini's ClientIDForTest, else the maker's
// client-identifier library (CID.dll or ClientID.dll in the player folder), lower-cased.
#pragma once
#include <string>

namespace app {

// cached is the caller's copy (the update driver's field): returned when non-empty,
// filled on success. An empty identifier is looked up again on the next call.
std::u16string clientIdentifier(std::u16string& cached);

// The library's export GetClientID (C calling convention): fills buffer (128 characters)
// with the identifier; the one-byte flag is the library's own business.
using GetClientIdFunction = int (*)(char16_t* buffer, unsigned char* flag);
inline constexpr char kGetClientIdExport[] = "GetClientID";
inline constexpr size_t kClientIdBufferChars = 128;

}  // namespace app
