// The conformance cases, one function per operation (or per group of operations that only make
// sense together, like an enumerator's methods), listed with the methods they call in
// conformance_test.cpp. Each runs against a server object of its own.
#pragma once

#include "client_support.h"

namespace conformance::client {

// server_cases.cpp: IOPCServer, IOPCServerPublicGroups, IOPCCommon, IOPCShutdown, server list
void addGroup(Session&);
void serverGetErrorString(Session&);
void getGroupByName(Session&);
void getStatus(Session&);
void removeGroup(Session&);
void createGroupEnumerator(Session&);
void getPublicGroupByName(Session&);
void removePublicGroup(Session&);
void localeIds(Session&);
void commonGetErrorString(Session&);
void clientNameAndShutdown(Session&);
void serverList(Session&);
void serverList2(Session&);
void enumGuid(Session&);

// address_space_cases.cpp: IOPCBrowseServerAddressSpace, IOPCItemProperties, IOPCBrowse, IOPCItemIO
void queryOrganization(Session&);
void changeBrowsePosition(Session&);
void browseOpcItemIds(Session&);
void getItemId(Session&);
void browseAccessPaths(Session&);
void queryAvailableProperties(Session&);
void getItemProperties(Session&);
void lookupItemIds(Session&);
void getProperties(Session&);
void browse(Session&);
void itemIoRead(Session&);
void itemIoWriteVqt(Session&);

// group_cases.cpp: group state, items, deadbands, sampling
void groupGetState(Session&);
void groupSetState(Session&);
void groupSetName(Session&);
void cloneGroup(Session&);
void keepAlive(Session&);
void publicGroupState(Session&);
void addItems(Session&);
void validateItems(Session&);
void removeItems(Session&);
void setActiveState(Session&);
void setClientHandles(Session&);
void setDatatypes(Session&);
void createEnumerator(Session&);
void itemAttributes(Session&);
void deadbands(Session&);
void samplingRates(Session&);
void bufferEnable(Session&);

// io_cases.cpp: IOPCSyncIO(2), IOPCAsyncIO, IOPCAsyncIO2/3 with IOPCDataCallback
void syncRead(Session&);
void syncWrite(Session&);
void syncReadMaxAge(Session&);
void syncWriteVqt(Session&);
void async1Read(Session&);
void async1Write(Session&);
void async1Refresh(Session&);
void async1Cancel(Session&);
void async2Read(Session&);
void async2Write(Session&);
void async2Refresh(Session&);
void async2Cancel(Session&);
void async2Enable(Session&);
void async3ReadMaxAge(Session&);
void async3WriteVqt(Session&);
void async3RefreshMaxAge(Session&);

}  // namespace conformance::client
