#include "temp_directory.h"

#include <windows.h>
#include <shellapi.h>

#include <fstream>
#include <stdexcept>

namespace korvex::test {

TempDirectory::TempDirectory(const std::string& tag) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    path_ = std::string(temp) + "korvex-" + tag + "-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(GetTickCount64());
    if (!CreateDirectoryA(path_.c_str(), nullptr)) throw std::runtime_error("cannot create " + path_);
}

TempDirectory::~TempDirectory() {
    // SHFileOperation wants a double-NUL-terminated list.
    std::string from = path_ + '\0';
    SHFILEOPSTRUCTA op{};
    op.wFunc = FO_DELETE;
    op.pFrom = from.c_str();
    op.fFlags = FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
    SHFileOperationA(&op);
}

std::string TempDirectory::file(const std::string& name, const std::string& content) const {
    const std::string path = path_ + "\\" + name;
    std::ofstream out(path, std::ios::binary);
    out << content;
    if (!out) throw std::runtime_error("cannot write " + path);
    return path;
}

}  // namespace korvex::test
