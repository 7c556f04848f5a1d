// Where the diagnostic log lives.
#pragma once

#include <string>

#include <boost/filesystem/path.hpp>

// Name of the log file.
extern const char kLogFileName[];
// The vendor folder inside the machine-wide application-data folder.
extern const char kVendorFolderName[];

// The machine-wide application-data folder joined with the vendor folder.
// Looked up once per process; throws QUILL::Exception when the lookup fails,
// and then tries again on the next call.
boost::filesystem::path SharedDataFolder();

// The narrow path of `fileName` in the folder "log" of SharedDataFolder().
std::string LogFilePath(const std::string& fileName);
