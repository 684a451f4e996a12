; The setup's texts, in English and Simplified Chinese (the language of the plant's operators). The
; setup speaks the language of the user's Windows, English where it is neither.
LangString SEC_SERVER ${LANG_ENGLISH} "Korvex OPC Server (with the proxy/stub of both architectures)"
LangString SEC_SERVER ${LANG_SIMPCHINESE} "Korvex OPC Server（含两种架构的代理/存根）"
LangString SEC_CLIENT ${LANG_ENGLISH} "Command-line client (korvex-opc)"
LangString SEC_CLIENT ${LANG_SIMPCHINESE} "命令行客户端 (korvex-opc)"
LangString SEC_SIMULATOR ${LANG_ENGLISH} "Runtime simulator with the sample plant"
LangString SEC_SIMULATOR ${LANG_SIMPCHINESE} "运行系统模拟器及示例工厂"
LangString SEC_REMOTE ${LANG_ENGLISH} "Allow remote OPC clients"
LangString SEC_REMOTE ${LANG_SIMPCHINESE} "允许远程 OPC 客户端"

LangString DESC_SERVER ${LANG_ENGLISH} "The OPC DA server, registered for COM; the proxy/stub of both architectures where \
    no other product has registered proxies for the OPC interfaces; the OPC server list, where no other product \
    has registered one."
LangString DESC_SERVER ${LANG_SIMPCHINESE} "OPC DA 服务器（注册到 COM）；两种架构的代理/存根（其他产品未注册 OPC 接口代理时）；OPC 服务器列表（其他产品未注册时）。"
LangString DESC_CLIENT ${LANG_ENGLISH} "korvex-opc, a command-line client to read, write, watch and browse."
LangString DESC_CLIENT ${LANG_SIMPCHINESE} "korvex-opc：读、写、监视和浏览的命令行客户端。"
LangString DESC_SIMULATOR ${LANG_ENGLISH} "A stand-in for the SCADA runtime with a sample plant, for commissioning and \
    training. Not for a machine where the SCADA runtime runs."
LangString DESC_SIMULATOR ${LANG_SIMPCHINESE} "SCADA 运行系统的模拟器及示例工厂，用于调试和培训。不要安装在运行 SCADA 运行系统的计算机上。"
LangString DESC_REMOTE ${LANG_ENGLISH} "Lets OPC clients on other machines start and call the server: writes the \
    server's DCOM launch and access permissions for SYSTEM, Administrators, the interactive user and the group \
    $\"Distributed COM Users$\". Add the remote clients' accounts to that group."
LangString DESC_REMOTE ${LANG_SIMPCHINESE} "允许其他计算机上的 OPC 客户端启动和调用服务器：为 SYSTEM、Administrators、交互式用户和 \
    $\"Distributed COM Users$\" 组写入服务器的 DCOM 启动和访问权限。请把远程客户端的账户加入该组。"

; $R6: the architecture or the permission's name; $R7: the error code.
LangString MSG_PROXY_FAILED ${LANG_ENGLISH} "Registering the $R6 proxy/stub failed (regsvr32 exit code $R7)."
LangString MSG_PROXY_FAILED ${LANG_SIMPCHINESE} "注册 $R6 代理/存根失败（regsvr32 退出码 $R7）。"
LangString MSG_PERMISSION_FAILED ${LANG_ENGLISH} "Writing the $R6 for remote clients failed (error $R7)."
LangString MSG_PERMISSION_FAILED ${LANG_SIMPCHINESE} "写入远程客户端的 $R6 失败（错误 $R7）。"
LangString MSG_SERVER_LIST_FAILED ${LANG_ENGLISH} "Registering the OPC server list failed ($R6: exit code $R7)."
LangString MSG_SERVER_LIST_FAILED ${LANG_SIMPCHINESE} "注册 OPC 服务器列表失败（$R6：退出码 $R7）。"
LangString MSG_STILL_RUNNING ${LANG_ENGLISH} "Korvex OPC Server is still running. Close it, then try again."
LangString MSG_STILL_RUNNING ${LANG_SIMPCHINESE} "Korvex OPC Server 仍在运行。请关闭它，然后重试。"
