// What the packer learns from a Windows Installer database: the fields of
// its manifest entry and the cabinets that must travel beside it. The same
// questions are asked of either system's MSI library (packer/msi_database.h).
#pragma once

#include <string>
#include <vector>

struct MsiFacts {
  std::string architecture;          // "Intel" or "x64", from the Template's platform
  std::string lcids;                 // "1031;1033", from the Template's languages
  std::string productCode;           // Property table ProductCode
  std::string productName;           // Property table ProductName
  std::vector<std::string> cabinets; // Media table cabinets stored outside the database
  std::string productNameProblem;    // why productName is empty though the table has one
};

// Opens `msiPath` read-only (the packer's own reader on Linux, msi.dll on
// Windows) and reads the Summary Information Template ("x64;1031,1033"; an
// empty platform is Intel), the Property table's ProductCode and
// ProductName, and the Media table's Cabinet column (entries that start with
// "#" are streams inside the database and are left out).
// Fields that are absent stay empty: the caller decides whether an override
// makes up for them. So do ProductCode and ProductName when their text
// cannot be converted to UTF-8 (productNameProblem says why for the name).
// False with *error set when the file is not a readable database, or when
// its platform is one the launcher cannot select.
bool ReadMsiFacts(const std::string& msiPath, MsiFacts* facts, std::string* error);

// The Template property's two halves in the manifest's terms. False with
// *error set for a platform other than "", "Intel", "x64" or "AMD64".
bool ParseMsiTemplate(const std::string& templateText, std::string* architecture, std::string* lcids,
                      std::string* error);
