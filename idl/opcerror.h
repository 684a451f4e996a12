/* OPC Data Access result codes (FACILITY_ITF). Clients compare against these
 * exact values, so they are part of the binary contract like the IIDs.
 * OPC_E_* are errors (severity bits 0xC0000000), OPC_S_* success codes that
 * SUCCEEDED() accepts. 0xC0040002 and 0xC0040003 are not used. */
#ifndef KORVEX_OPCERROR_H
#define KORVEX_OPCERROR_H

#include <winerror.h>

#define OPC_E_INVALIDHANDLE             ((HRESULT)0xC0040001L)
#define OPC_E_BADTYPE                   ((HRESULT)0xC0040004L)
#define OPC_E_PUBLIC                    ((HRESULT)0xC0040005L)
#define OPC_E_BADRIGHTS                 ((HRESULT)0xC0040006L)
#define OPC_E_UNKNOWNITEMID             ((HRESULT)0xC0040007L)
#define OPC_E_INVALIDITEMID             ((HRESULT)0xC0040008L)
#define OPC_E_INVALIDFILTER             ((HRESULT)0xC0040009L)
#define OPC_E_UNKNOWNPATH               ((HRESULT)0xC004000AL)
#define OPC_E_RANGE                     ((HRESULT)0xC004000BL)
#define OPC_E_DUPLICATENAME             ((HRESULT)0xC004000CL)
#define OPC_S_UNSUPPORTEDRATE           ((HRESULT)0x0004000DL)
#define OPC_S_CLAMP                     ((HRESULT)0x0004000EL)
#define OPC_S_INUSE                     ((HRESULT)0x0004000FL)
#define OPC_E_INVALIDCONFIGFILE         ((HRESULT)0xC0040010L)
#define OPC_E_NOTFOUND                  ((HRESULT)0xC0040011L)
#define OPC_E_INVALID_PID               ((HRESULT)0xC0040203L)
#define OPC_E_DEADBANDNOTSET            ((HRESULT)0xC0040400L)
#define OPC_E_DEADBANDNOTSUPPORTED      ((HRESULT)0xC0040401L)
#define OPC_E_NOBUFFERING               ((HRESULT)0xC0040402L)
#define OPC_E_INVALIDCONTINUATIONPOINT  ((HRESULT)0xC0040403L)
#define OPC_S_DATAQUEUEOVERFLOW         ((HRESULT)0x00040404L)
#define OPC_E_RATENOTSET                ((HRESULT)0xC0040405L)
#define OPC_E_NOTSUPPORTED              ((HRESULT)0xC0040406L)

/* Complex data */
#define OPCCPX_E_TYPE_CHANGED           ((HRESULT)0xC0040407L)
#define OPCCPX_E_FILTER_DUPLICATE       ((HRESULT)0xC0040408L)
#define OPCCPX_E_FILTER_INVALID         ((HRESULT)0xC0040409L)
#define OPCCPX_E_FILTER_ERROR           ((HRESULT)0xC004040AL)
#define OPCCPX_S_FILTER_NO_DATA         ((HRESULT)0x0004040BL)

#endif
