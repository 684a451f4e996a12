// KorvexServerList.exe's registration under HKEY_CLASSES_ROOT, in its own registry view: the server
// list class with its local server, the ProgIDs OPC.ServerList.1 and OPC.ServerList, and an AppID
// with packet integrity, as the OPC server's. Another program's registration of the same class (the
// server list another product installed) is neither overwritten nor removed.
#pragma once

namespace serverlist {

enum class RegistrationResult { done, failed, anotherProgram };

// Writes every key for the running executable; `failed` when one could not be written.
RegistrationResult RegisterServerList();

// Removes what RegisterServerList writes; keys that are not there are no error.
RegistrationResult UnregisterServerList();

}  // namespace serverlist
