; The setup program: the server of the machine's architecture, the proxy/stub of both architectures,
; the command-line client and, for commissioning and training, the runtime simulator with its sample
; plant (off by default; /SIMULATOR selects it in a silent install), and the launch and access
; permissions remote clients need (off by default; /REMOTE selects it in a silent install).
; makensis -DVERSION=x.y.z -DBIN64=build/x86_64/bin -DBIN32=build/i686/bin -DOUTFILE=setup.exe
Unicode true
!include LogicLib.nsh
!include x64.nsh
!include Sections.nsh
!include FileFunc.nsh
!include MUI2.nsh
!include WordFunc.nsh

!macro Require NAME
    !ifndef ${NAME}
        !error "${NAME} must be defined (see make installer)"
    !endif
!macroend
!insertmacro Require VERSION
!insertmacro Require BIN64
!insertmacro Require BIN32
!insertmacro Require OUTFILE

; What the server writes when it registers itself (app/registration.cpp), and what it does not write.
!define CLSID "{B445967B-4C3E-4E38-9C91-6A8DDD94430C}"
!define PROGID "Korvex.OPCServer.2"
!define SERVER_NAME "KorvexOPCServer"
!define CLASSES "Software\Classes"
!define CAT_DA30 "{CC603642-66D7-48F1-B69A-B625E73652D7}"
!define CAT_DA20 "{63D5F432-CFE4-11D1-B2C8-0060083BA1FB}"
!define CAT_DA10 "{63D5F430-CFE4-11D1-B2C8-0060083BA1FB}"
; Our proxy/stub's class and every interface it serves (the OPC DA 1.0 to 3.0, Common and server-list
; interfaces, as its DllRegisterServer writes them).
!define PROXY_CLSID "{52D0DA83-4E5C-4386-9F48-AA69C5A56260}"
!define PROXY_IIDS "{39C13A4D-011E-11D0-9675-0020AFD8ADB3} {39C13A4E-011E-11D0-9675-0020AFD8ADB3} \
    {39C13A4F-011E-11D0-9675-0020AFD8ADB3} {39C13A50-011E-11D0-9675-0020AFD8ADB3} \
    {8E368666-D72E-4F78-87ED-647611C61C9F} {39C13A51-011E-11D0-9675-0020AFD8ADB3} \
    {39C13A52-011E-11D0-9675-0020AFD8ADB3} {730F5F0F-55B1-4C81-9E18-FF8A0904E1FA} \
    {39C13A53-011E-11D0-9675-0020AFD8ADB3} {39C13A71-011E-11D0-9675-0020AFD8ADB3} \
    {0967B97B-36EF-423E-B6F8-6BFF1E40D39D} {39C13A54-011E-11D0-9675-0020AFD8ADB3} \
    {39C13A55-011E-11D0-9675-0020AFD8ADB3} {39C13A70-011E-11D0-9675-0020AFD8ADB3} \
    {39C13A72-011E-11D0-9675-0020AFD8ADB3} {39227004-A18F-4B57-8B0A-5235670F4468} \
    {85C0B427-2893-4CBC-BD78-E5FC5146F08F} {5946DA93-8B39-4EC8-AB3D-AA73DF5BC86F} \
    {3E22D313-F08B-41A5-86C8-95E95CB49FFC} {F31DFDE1-07B6-11D2-B2D8-0060083BA1FB} \
    {F31DFDE2-07B6-11D2-B2D8-0060083BA1FB} {13486D50-4821-11D2-A494-3CB306C10000} \
    {55C382C8-21C7-4E88-96C1-BECFB1E3F483} {9DD0B56C-AD9E-43EE-8305-487F3188BF7A}"
; The OPC server list, which clients browse for servers with; another product's is kept.
!define SERVER_LIST_CLSID "{13486D51-4821-11D2-A494-3CB306C10000}"
!define PRODUCT_KEY "Software\Korvex\OPC Server"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\KorvexOPCServer"
!define PUBLISHER "Korvex"
!define MENU "$SMPROGRAMS\Korvex OPC Server"
!define DEFAULT_DIR "$PROGRAMFILES64\Korvex OPC Server"
; The server's main window (app/main_frame.h), which closes the server as its own Exit does.
!define SERVER_WINDOW_CLASS "KorvexOPCServerFrame"
!define SERVER_EXIT_WAIT_MS 20000
; Who may start the server from another machine and call it: SYSTEM, Administrators, the
; interactive user and the "Distributed COM Users" group (S-1-5-32-562), the group Windows keeps for
; remote COM users. Launch: local and remote launch and activation; access: local and remote calls.
!define SDDL_LAUNCH "O:BAG:BAD:(A;;CCDCLCSWRP;;;SY)(A;;CCDCLCSWRP;;;BA)(A;;CCDCLCSWRP;;;IU)(A;;CCDCLCSWRP;;;S-1-5-32-562)"
!define SDDL_ACCESS "O:BAG:BAD:(A;;CCDCLC;;;PS)(A;;CCDCLC;;;SY)(A;;CCDCLC;;;BA)(A;;CCDCLC;;;IU)(A;;CCDCLC;;;S-1-5-32-562)"

Name "Korvex OPC Server ${VERSION}"
OutFile "${OUTFILE}"
RequestExecutionLevel admin
; $PROGRAMFILES64 is the ordinary Program Files on 32-bit Windows.
InstallDir "${DEFAULT_DIR}"
SetCompressor /SOLID lzma
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "Korvex OPC Server"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "Korvex OPC Server setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${PUBLISHER}"

!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "SimpChinese"
!include "texts.nsh"

; The installer is a 32-bit program: on 64-bit Windows it writes the 64-bit registry view, where the
; 64-bit server and a 64-bit regsvr32 look.
!macro UseNativeView
    ${If} ${RunningX64}
        SetRegView 64
    ${EndIf}
!macroend

; regsvr32 of one architecture; $0 is its exit code. System32 is the 64-bit one only when the
; installer's own file-system redirection is off.
!macro Regsvr32 ARCH ARGS DLL
    ${If} "${ARCH}" == "x64"
        ${DisableX64FSRedirection}
        ExecWait '"$WINDIR\System32\regsvr32.exe" ${ARGS} "${DLL}"' $0
        ${EnableX64FSRedirection}
    ${ElseIf} ${RunningX64}
        ExecWait '"$WINDIR\SysWOW64\regsvr32.exe" ${ARGS} "${DLL}"' $0
    ${Else}
        ExecWait '"$WINDIR\System32\regsvr32.exe" ${ARGS} "${DLL}"' $0
    ${EndIf}
!macroend

; Of the interfaces our proxy/stub serves, counts in the registry view VIEW (64 or 32) those whose
; proxy another product registered ($R1) and those without any proxy ($R2).
!macro CountOtherProxies VIEW
    SetRegView ${VIEW}
    StrCpy $R1 0
    StrCpy $R2 0
    StrCpy $R3 1
    ${Do}
        ${WordFind} "${PROXY_IIDS}" " " "E+$R3" $R4
        ${If} ${Errors}
            ${Break}
        ${EndIf}
        ReadRegStr $R5 HKCR "Interface\$R4\ProxyStubClsid32" ""
        ${If} $R5 == ""
            IntOp $R2 $R2 + 1
        ${ElseIf} $R5 != "${PROXY_CLSID}"
            IntOp $R1 $R1 + 1
        ${EndIf}
        IntOp $R3 $R3 + 1
    ${Loop}
    !insertmacro UseNativeView
!macroend

; Registers the proxy/stub of one architecture in its own registry view, unless another product
; registered proxies there for any of the interfaces it serves; the product key remembers whether
; we did (a reinstall over our own registration keeps it ours).
!macro RegisterProxy ARCH VIEW FLAG
    ReadRegDWORD $1 HKLM "${PRODUCT_KEY}" "${FLAG}"
    !insertmacro CountOtherProxies ${VIEW}
    ${If} $1 == 1
    ${OrIf} $R1 == 0
        !insertmacro Regsvr32 ${ARCH} "/s" "$INSTDIR\${ARCH}\korvexps.dll"
        ${If} $0 != 0
            StrCpy $R6 ${ARCH}
            StrCpy $R7 $0
            MessageBox MB_ICONSTOP "$(MSG_PROXY_FAILED)" /SD IDOK
            Abort
        ${EndIf}
        WriteRegDWORD HKLM "${PRODUCT_KEY}" "${FLAG}" 1
    ${Else}
        DetailPrint "Proxies for $R1 OPC interfaces (${ARCH}) are registered by another product: kept."
        ${If} $R2 != 0
            DetailPrint "$R2 OPC interfaces (${ARCH}) have no proxy: clients in other processes cannot use them."
        ${EndIf}
        WriteRegDWORD HKLM "${PRODUCT_KEY}" "${FLAG}" 0
    ${EndIf}
!macroend

!macro UnregisterProxy ARCH FLAG
    ReadRegDWORD $1 HKLM "${PRODUCT_KEY}" "${FLAG}"
    ${If} $1 == 1
        !insertmacro Regsvr32 ${ARCH} "/s /u" "$INSTDIR\${ARCH}\korvexps.dll"
    ${EndIf}
    Delete "$INSTDIR\${ARCH}\korvexps.dll"
    RMDir "$INSTDIR\${ARCH}"
!macroend

; Ends a running server before its files are replaced or removed. It is asked to close as its own
; Exit does: with clients connected it asks its user first, and it tells its clients it closes. When
; it is still running after the wait (its user said no), the setup offers to try again or gives up.
!macro StopServerFunction UN
Function ${UN}StopServer
    retry:
    FindWindow $0 "${SERVER_WINDOW_CLASS}"
    ${If} $0 == 0
        Return
    ${EndIf}
    DetailPrint "Closing the running Korvex OPC Server"
    System::Call 'user32::GetWindowThreadProcessId(p r0, *i 0 r1)'
    System::Call 'kernel32::OpenProcess(i 0x100000, i 0, i r1) p .r2'  ; SYNCHRONIZE
    System::Call 'user32::PostMessageW(p r0, i 0x10, p 0, p 0)'        ; WM_CLOSE
    System::Call 'kernel32::WaitForSingleObject(p r2, i ${SERVER_EXIT_WAIT_MS}) i .r3'
    System::Call 'kernel32::CloseHandle(p r2)'
    ${If} $3 == 0  ; WAIT_OBJECT_0: the process has ended, its files are free
        Return
    ${EndIf}
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(MSG_STILL_RUNNING)" /SD IDCANCEL IDRETRY retry
    Abort
FunctionEnd
!macroend
!insertmacro StopServerFunction ""
!insertmacro StopServerFunction "un."

; Writes a security descriptor, given in SDDL, as the binary value NAME of the server's AppID key.
!macro WriteAppIdPermission NAME SDDL
    System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w "${SDDL}", i 1, *p .r0, *i .r1) i .r2'
    ${If} $2 == 0
        StrCpy $4 -1
    ${Else}
        ; HKEY_LOCAL_MACHINE, KEY_SET_VALUE in the 64-bit view (ignored on 32-bit Windows), REG_BINARY
        System::Call 'advapi32::RegOpenKeyExW(p 0x80000002, w "${CLASSES}\AppID\${CLSID}", i 0, i 0x102, *p .r3) i .r4'
        ${If} $4 == 0
            System::Call 'advapi32::RegSetValueExW(p r3, w "${NAME}", i 0, i 3, p r0, i r1) i .r4'
            System::Call 'advapi32::RegCloseKey(p r3)'
        ${EndIf}
        System::Call 'kernel32::LocalFree(p r0)'
    ${EndIf}
    ${If} $4 != 0
        StrCpy $R6 "${NAME}"
        StrCpy $R7 $4
        MessageBox MB_ICONSTOP "$(MSG_PERMISSION_FAILED)" /SD IDOK
        Abort
    ${EndIf}
!macroend

; Installs and registers our server list program where no other product registered a server list
; (in either view); the product key remembers whether it is ours. The program registers itself in
; its own view and refuses (exit code 3) when it finds another's.
!macro InstallServerList
    ReadRegDWORD $1 HKLM "${PRODUCT_KEY}" "ServerListRegistered"
    ReadRegStr $2 HKCR64 "CLSID\${SERVER_LIST_CLSID}\LocalServer32" ""
    ReadRegStr $3 HKCR32 "CLSID\${SERVER_LIST_CLSID}\LocalServer32" ""
    ${If} $1 == 1
    ${OrIf} "$2$3" == ""
        SetOutPath "$INSTDIR"
        ${If} ${RunningX64}
            File "${BIN64}\KorvexServerList.exe"
        ${Else}
            File "${BIN32}\KorvexServerList.exe"
        ${EndIf}
        ExecWait '"$INSTDIR\KorvexServerList.exe" /RegServer' $0
        ${If} $0 == 0
            WriteRegDWORD HKLM "${PRODUCT_KEY}" "ServerListRegistered" 1
        ${ElseIf} $0 == 3
            DetailPrint "An OPC server list of another product is registered: kept."
            Delete "$INSTDIR\KorvexServerList.exe"
            WriteRegDWORD HKLM "${PRODUCT_KEY}" "ServerListRegistered" 0
        ${Else}
            StrCpy $R6 "KorvexServerList.exe /RegServer"
            StrCpy $R7 $0
            MessageBox MB_ICONSTOP "$(MSG_SERVER_LIST_FAILED)" /SD IDOK
            Abort
        ${EndIf}
    ${Else}
        DetailPrint "An OPC server list of another product is registered: kept."
        WriteRegDWORD HKLM "${PRODUCT_KEY}" "ServerListRegistered" 0
    ${EndIf}
!macroend

; A key without values, as RegCreateKeyEx leaves it.
!macro WriteEmptyKey KEY
    WriteRegStr HKLM "${KEY}" "" ""
    DeleteRegValue HKLM "${KEY}" ""
!macroend

Section "$(SEC_SERVER)" SecServer
    SectionIn RO
    Call StopServer
    SetOutPath "$INSTDIR"
    ${If} ${RunningX64}
        File "${BIN64}\KorvexOPCServer.exe"
        SetOutPath "$INSTDIR\x64"
        File "${BIN64}\korvexps.dll"
    ${Else}
        File "${BIN32}\KorvexOPCServer.exe"
    ${EndIf}
    SetOutPath "$INSTDIR\x86"
    File "${BIN32}\korvexps.dll"

    WriteUninstaller "$INSTDIR\uninstall.exe"
    WriteRegStr HKLM "${PRODUCT_KEY}" "InstallDir" "$INSTDIR"
    WriteRegStr HKLM "${PRODUCT_KEY}" "Version" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Korvex OPC Server"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\KorvexOPCServer.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

    ${If} ${RunningX64}
        !insertmacro RegisterProxy x64 64 "ProxyStub64Registered"
    ${EndIf}
    !insertmacro RegisterProxy x86 32 "ProxyStub32Registered"
    !insertmacro InstallServerList

    ; The server's own registration, so that clients can start it before anyone has run it by hand:
    ; the server rewrites the same keys whenever it starts.
    WriteRegStr HKLM "${CLASSES}\${PROGID}" "" "${SERVER_NAME}"
    WriteRegStr HKLM "${CLASSES}\${PROGID}\CLSID" "" "${CLSID}"
    !insertmacro WriteEmptyKey "${CLASSES}\${PROGID}\OPC"
    WriteRegStr HKLM "${CLASSES}\CLSID\${CLSID}" "" "${SERVER_NAME}"
    WriteRegStr HKLM "${CLASSES}\CLSID\${CLSID}\ProgID" "" "${PROGID}"
    WriteRegStr HKLM "${CLASSES}\CLSID\${CLSID}\LocalServer32" "" '"$INSTDIR\KorvexOPCServer.exe"'
    !insertmacro WriteEmptyKey "${CLASSES}\CLSID\${CLSID}\Implemented Categories\${CAT_DA30}"
    !insertmacro WriteEmptyKey "${CLASSES}\CLSID\${CLSID}\Implemented Categories\${CAT_DA20}"
    !insertmacro WriteEmptyKey "${CLASSES}\CLSID\${CLSID}\Implemented Categories\${CAT_DA10}"
    ; What the server does not write: its AppID, with packet integrity for the calls into clients,
    ; which machines hardened against weaker DCOM authentication refuse below that level.
    WriteRegStr HKLM "${CLASSES}\CLSID\${CLSID}" "AppID" "${CLSID}"
    WriteRegStr HKLM "${CLASSES}\AppID\${CLSID}" "" "${SERVER_NAME}"
    WriteRegDWORD HKLM "${CLASSES}\AppID\${CLSID}" "AuthenticationLevel" 5
    WriteRegStr HKLM "${CLASSES}\AppID\KorvexOPCServer.exe" "AppID" "${CLSID}"

    SetShellVarContext all
    CreateDirectory "${MENU}"
    CreateShortcut "${MENU}\Korvex OPC Server.lnk" "$INSTDIR\KorvexOPCServer.exe"
    CreateShortcut "${MENU}\Uninstall Korvex OPC Server.lnk" "$INSTDIR\uninstall.exe"
SectionEnd

Section "$(SEC_CLIENT)" SecClient
    SetOutPath "$INSTDIR"
    ${If} ${RunningX64}
        File "${BIN64}\korvex-opc.exe"
    ${Else}
        File "${BIN32}\korvex-opc.exe"
    ${EndIf}
    SetShellVarContext all
    CreateShortcut "${MENU}\Command-line client help.lnk" "$SYSDIR\cmd.exe" '/k "$INSTDIR\korvex-opc.exe" --help'
SectionEnd

Section /o "$(SEC_SIMULATOR)" SecSimulator
    SetOutPath "$INSTDIR\Simulator"
    ${If} ${RunningX64}
        File "${BIN64}\scadasim.exe"
    ${Else}
        File "${BIN32}\scadasim.exe"
    ${EndIf}
    File "${BIN64}\sample-plant.toml"
    SetShellVarContext all
    CreateShortcut "${MENU}\Runtime simulator (sample plant).lnk" "$INSTDIR\Simulator\scadasim.exe" "--registry"
SectionEnd

Section /o "$(SEC_REMOTE)" SecRemote
    !insertmacro WriteAppIdPermission "LaunchPermission" "${SDDL_LAUNCH}"
    !insertmacro WriteAppIdPermission "AccessPermission" "${SDDL_ACCESS}"
SectionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
    !insertmacro MUI_DESCRIPTION_TEXT ${SecServer} "$(DESC_SERVER)"
    !insertmacro MUI_DESCRIPTION_TEXT ${SecClient} "$(DESC_CLIENT)"
    !insertmacro MUI_DESCRIPTION_TEXT ${SecSimulator} "$(DESC_SIMULATOR)"
    !insertmacro MUI_DESCRIPTION_TEXT ${SecRemote} "$(DESC_REMOTE)"
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Function .onInit
    !insertmacro UseNativeView
    ; A new version goes where the last one is, unless /D= names another folder.
    ReadRegStr $0 HKLM "${PRODUCT_KEY}" "InstallDir"
    ${If} $0 != ""
    ${AndIf} $INSTDIR == "${DEFAULT_DIR}"
        StrCpy $INSTDIR $0
    ${EndIf}
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/SIMULATOR" $1
    ${IfNot} ${Errors}
        !insertmacro SelectSection ${SecSimulator}
    ${EndIf}
    ClearErrors
    ${GetOptions} $0 "/REMOTE" $1
    ${IfNot} ${Errors}
        !insertmacro SelectSection ${SecRemote}
    ${EndIf}
FunctionEnd

Function un.onInit
    !insertmacro UseNativeView
FunctionEnd

; Removes what the setup wrote, and nothing another product registered.
Section "Uninstall"
    Call un.StopServer
    ${If} ${RunningX64}
        !insertmacro UnregisterProxy x64 "ProxyStub64Registered"
    ${EndIf}
    !insertmacro UnregisterProxy x86 "ProxyStub32Registered"
    ReadRegDWORD $1 HKLM "${PRODUCT_KEY}" "ServerListRegistered"
    ${If} $1 == 1
        ExecWait '"$INSTDIR\KorvexServerList.exe" /UnregServer'
    ${EndIf}
    Delete "$INSTDIR\KorvexServerList.exe"

    DeleteRegKey HKLM "${CLASSES}\${PROGID}"
    DeleteRegKey HKLM "${CLASSES}\CLSID\${CLSID}"
    DeleteRegKey HKLM "${CLASSES}\AppID\${CLSID}"
    DeleteRegKey HKLM "${CLASSES}\AppID\KorvexOPCServer.exe"

    SetShellVarContext all
    Delete "${MENU}\Korvex OPC Server.lnk"
    Delete "${MENU}\Uninstall Korvex OPC Server.lnk"
    Delete "${MENU}\Command-line client help.lnk"
    Delete "${MENU}\Runtime simulator (sample plant).lnk"
    RMDir "${MENU}"

    Delete "$INSTDIR\Simulator\scadasim.exe"
    Delete "$INSTDIR\Simulator\sample-plant.toml"
    RMDir "$INSTDIR\Simulator"
    Delete "$INSTDIR\korvex-opc.exe"
    Delete "$INSTDIR\KorvexOPCServer.exe"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"

    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    DeleteRegKey HKLM "${PRODUCT_KEY}"
    DeleteRegKey /ifempty HKLM "Software\Korvex"
SectionEnd
