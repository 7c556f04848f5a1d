// A fresh folder under /tmp, removed with everything in it at the end.
#pragma once

#include <string>

class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return path; }
    // `relative` below the folder.
    std::string operator/(const std::string& relative) const { return path + "/" + relative; }

  private:
    std::string path;
};

// Whole-file helpers for checking what the code under test wrote.
std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);
void MakeFolders(const std::string& path);
