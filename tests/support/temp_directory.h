// A fresh folder under %TEMP% for one test, removed with its content at the end.
#pragma once

#include <string>

namespace korvex::test {

class TempDirectory {
public:
    explicit TempDirectory(const std::string& tag);
    ~TempDirectory();
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    const std::string& path() const { return path_; }
    // Writes `content` into the file `name` in the folder; returns its path.
    std::string file(const std::string& name, const std::string& content) const;

private:
    std::string path_;
};

}  // namespace korvex::test
